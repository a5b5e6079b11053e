#!/bin/bash
# Cross-builds the Windows programs with mingw-w64 and makes the release zip:
#   build-host/   the picture generator for this machine (the pictures are drawn here)
#   build-win32/  the i686 release (the zip is made from it)
#   build-win64/  its x86_64 twin with the unit tests, which run under wine64
# The last line printed is the zip's path.
# Usage: scripts/build-windows.sh [--no-setup]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
[ "${1:-}" = "--no-setup" ] || bash "$root/scripts/setup.sh" >&2
jobs="${KORVA_JOBS:-2}"

# The pictures are drawn by a program of this machine, fed into both cross builds.
cmake -S "$root" -B "$root/build-host" -DCMAKE_BUILD_TYPE=Release -DKORVA_TESTS=OFF >/dev/null
nice cmake --build "$root/build-host" -j"$jobs" --target picturegen >&2
picturegen="$root/build-host/tools/picturegen/picturegen"

cmake -S "$root" -B "$root/build-win32" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DKORVA_TESTS=OFF -DKORVA_HOST_PICTUREGEN="$picturegen" >/dev/null
nice cmake --build "$root/build-win32" -j"$jobs" >&2

# The twin runs its tests through wine64 (scripts/lib/wine-run.sh chooses the prefix).
cmake -S "$root" -B "$root/build-win64" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DKORVA_TESTS=ON -DKORVA_HOST_PICTUREGEN="$picturegen" \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$root/scripts/lib/wine-run.sh" >/dev/null
nice cmake --build "$root/build-win64" -j"$jobs" >&2

(cd "$root/build-win32" && cpack -G ZIP >&2)
ls "$root"/build-win32/KORVAVorAdf-*-win32.zip | head -n1
