#!/bin/bash
# Builds the instrument, its tools and tests into build/ (or the folder given), after setup.
# Usage: scripts/build.sh [build-folder] [extra cmake options...]
# KORVA_TARGETS="a b" builds only those targets (the main job needs no tests).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
build="${1:-$root/build}"
shift || true
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
if [ -n "${KORVA_TARGETS:-}" ]; then
  # shellcheck disable=SC2086
  cmake --build "$build" -j"$(nproc)" --target $KORVA_TARGETS
else
  cmake --build "$build" -j"$(nproc)"
fi
