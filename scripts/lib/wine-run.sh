#!/bin/bash
# Runs a Windows program of the x86_64 build under wine64: CMake's cross-compiling emulator
# for the Windows tests. Uses $WINEPREFIX (scripts/test-windows.sh makes a fresh one per
# run); without one, a prefix under the build folder's parent is made once.
set -euo pipefail
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine="$(command -v wine64 || command -v wine)"
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX="${TMPDIR:-/tmp}/korva-wine64-$(id -u)"
fi
export WINEARCH=win64 WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$wine" wineboot -i >/dev/null 2>&1 || true
  "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true
fi
exec "$wine" "$@"
