#!/bin/bash
# Runs a Windows program of a cross build under wine: CMake's cross-compiling emulator for
# the Windows tests. wine64 and WINEARCH=win64 unless KORVA_WINE and WINEARCH say otherwise
# (the i686 tests). Uses $WINEPREFIX (scripts/test-windows.sh makes a fresh one per run);
# without one, a prefix of this user under /tmp is made once.
set -euo pipefail
wine="${KORVA_WINE:-/usr/lib/wine/wine64}"
[ -x "$wine" ] || wine="$(command -v wine64 || command -v wine)"
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX="${TMPDIR:-/tmp}/korva-${WINEARCH:-win64}-$(id -u)"
fi
export WINEARCH="${WINEARCH:-win64}" WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$wine" wineboot -i >/dev/null 2>&1 || true
  "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true
fi
exec "$wine" "$@"
