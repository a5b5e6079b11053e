#!/bin/bash
# Builds the instrument and starts it in a run folder (build/run) with its pictures.
# Where there is no display, it runs on a virtual one.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/build.sh" "$root/build"
run="$root/build/run"
cd "$run"
if [ -z "${DISPLAY:-}" ]; then
  fifo=$(mktemp -u); mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  read -r -t 10 n <"$fifo"; rm -f "$fifo"
  export DISPLAY=":$n"
  echo "No display: running on the virtual display $DISPLAY"
fi
exec "$root/build/KORVAVorAdf"
