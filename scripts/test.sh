#!/bin/bash
# Runs every test: installs what is missing, builds, runs the unit and end-to-end tests,
# then runs the unit tests again in a build with AddressSanitizer and UndefinedBehaviorSanitizer.
# The unit tests that draw with OpenGL share one virtual X server started here; the
# end-to-end tests start their own.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"

bash "$root/scripts/build.sh" "$root/build"
bash "$root/scripts/build.sh" "$root/build-asan" -DKORVA_SANITIZE=ON

fifo=$(mktemp -u); mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
read -r -t 10 display_number <"$fifo"; rm -f "$fifo"
export DISPLAY=":$display_number"
export LP_NUM_THREADS=1

status=0
(cd "$root/build" && ctest --output-on-failure -j2) || status=1
export ASAN_OPTIONS=detect_leaks=0
(cd "$root/build-asan" && ctest --output-on-failure -j2 -E '^e2e_') || status=1
exit $status
