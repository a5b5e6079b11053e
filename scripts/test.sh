#!/bin/bash
# Runs every test: installs what is missing, builds, runs the unit and end-to-end tests,
# then runs the unit tests again in a build with AddressSanitizer and UndefinedBehaviorSanitizer,
# and last the fuzz targets for FUZZ_SECONDS (60) each (scripts/fuzz.sh).
# The unit tests that draw with OpenGL share one virtual X server started here; the
# end-to-end tests start their own.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/lib/display.sh"
bash "$root/scripts/setup.sh"

bash "$root/scripts/build.sh" "$root/build"
bash "$root/scripts/build.sh" "$root/build-asan" -DKORVA_SANITIZE=ON

start_virtual_display -noreset || { kill "$XVFB_PID" 2>/dev/null; exit 1; }
trap 'kill $XVFB_PID 2>/dev/null || true' EXIT
export LP_NUM_THREADS=1

status=0
(cd "$root/build" && ctest --output-on-failure -j2) || status=1
export ASAN_OPTIONS=detect_leaks=0
(cd "$root/build-asan" && ctest --output-on-failure -j2 -E '^e2e_') || status=1

# The Windows build, its zip and its tests under wine64 (KORVA_SKIP_WINDOWS=1 leaves them out).
if [ "${KORVA_SKIP_WINDOWS:-0}" != 1 ]; then
  bash "$root/scripts/test-windows.sh" || status=1
fi

unset ASAN_OPTIONS
bash "$root/scripts/fuzz.sh" || status=1
exit $status
