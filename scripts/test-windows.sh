#!/bin/bash
# The Windows side of the tests (called by scripts/test.sh, or alone after setup):
#   1. builds both Windows targets and the release zip (scripts/build-windows.sh);
#   2. checks the zip: its files, a 32-bit GUI program, imports of Windows' own DLLs only;
#   3. runs the x86_64 twin's unit tests under wine64 in a fresh prefix, on a private Xvfb;
#      the i686 build's too where this machine can run 32-bit programs;
#   4. runs the end-to-end checks of tests/windows/ (which need the Linux build in build/
#      for the stand-in of network mode and the X-Plane double).
# Usage: scripts/test-windows.sh [--no-build]
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/lib/display.sh"
WINE64=/usr/lib/wine/wine64
status=0
say() { echo "[windows] $*"; }
bad() { say "FAIL: $*"; status=1; }

if [ "${1:-}" != "--no-build" ]; then
  zip=$(bash "$root/scripts/build-windows.sh" --no-setup | tail -n 1) || { say "FAIL: the Windows build failed"; exit 1; }
else
  zip=$(ls "$root"/build-win32/KORVAVorAdf-*-win32.zip | head -n 1)
fi
[ -f "$zip" ] || { say "FAIL: no zip"; exit 1; }
say "release zip: $zip"

# --- the zip --------------------------------------------------------------------------
work=$(mktemp -d /tmp/korva-windows-XXXXXX)
xvfb_pid=""
cleanup() {
  [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] && WINEPREFIX="$WINEPREFIX" /usr/lib/wine/wineserver -k 2>/dev/null
  [ -n "$xvfb_pid" ] && end_processes "$xvfb_pid"
  rm -rf "$work"
}
trap cleanup EXIT

top=$(basename "$zip" .zip)
expected=$(printf '%s\n' KORVAVorAdf.exe KORVAVorAdf.INI LICENCES.txt user-guide.md plane2.ico font.bmp \
  VOR_ADF.txr VOR_ADF_ind_mask.txr VOR_ADF_ind.txr VOR1_mask.txr VOR1_ago.txr VOR2_mask.txr VOR2_ago.txr \
  setpos.txr setsize.txr VOR1ADF.txr VOR2ADF.txr tools/simstandin.exe tools/korva-bridge.exe tools/korva.xml | sed "s|^|$top/|" | sort)
listed=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
[ "$listed" = "$expected" ] && say "ok: the zip holds exactly the expected files under $top/" \
  || bad "zip contents differ: $(diff <(echo "$expected") <(echo "$listed") | grep '^[<>]' | tr '\n' ' ')"
unzip -q "$zip" -d "$work/unpacked"
exe="$work/unpacked/$top/KORVAVorAdf.exe"
kind=$(file -b "$exe")
[[ "$kind" == "PE32 executable (GUI)"* && "$kind" == *"Intel 80386"* ]] && say "ok: $kind" \
  || bad "the instrument is '$kind', not a 32-bit GUI program"
for tool in simstandin korva-bridge; do
  kind=$(file -b "$work/unpacked/$top/tools/$tool.exe")
  [[ "$kind" == "PE32 executable (console)"* && "$kind" == *"Intel 80386"* ]] && say "ok: tools/$tool.exe: $kind" \
    || bad "tools/$tool.exe is '$kind', not a 32-bit console program"
done
grep -q '<generic>' "$work/unpacked/$top/tools/korva.xml" && say "ok: tools/korva.xml is FlightGear's protocol file" \
  || bad "tools/korva.xml is not the protocol file"
system_dlls='^(kernel32|user32|gdi32|opengl32|glu32|ws2_32|wsock32|msvcrt|advapi32|shell32|comdlg32|winmm)\.dll$'
for program in "$exe" "$work/unpacked/$top/tools/simstandin.exe" "$work/unpacked/$top/tools/korva-bridge.exe"; do
  imports=$(i686-w64-mingw32-objdump -p "$program" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
  others=$(grep -Ev "$system_dlls" <<<"$imports" | tr '\n' ' ')
  [ -z "$others" ] && say "ok: $(basename "$program") imports only $(tr '\n' ' ' <<<"$imports")" \
    || bad "$(basename "$program") imports $others"
done
# (whole outputs first: grep -q ending a pipe early would fail it under pipefail)
headers=$(i686-w64-mingw32-objdump -p "$exe")
grep -q 'Subsystem.*Windows GUI' <<<"$headers" && say "ok: subsystem Windows GUI" || bad "the subsystem is not Windows GUI"
sections=$(i686-w64-mingw32-objdump -h "$exe")
grep -q '\.rsrc' <<<"$sections" && say "ok: a resource section (icon, version)" || bad "no resource section"
version=$(strings -el "$exe" | grep -A1 -x 'ProductVersion' | tail -n 1)
[ "$top" = "KORVAVorAdf-$version-win32" ] && say "ok: version resource $version matches the zip's name" \
  || bad "version resource '$version' against $top"
grep -q '^;' "$work/unpacked/$top/KORVAVorAdf.INI" && ! grep -Eq '^[^;[].*;' "$work/unpacked/$top/KORVAVorAdf.INI" \
  && say "ok: the sample INI has its comments on lines of their own" || bad "sample INI comments"

# --- a fresh wine prefix and a display -------------------------------------------------
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
say "making a fresh wine64 prefix"
"$WINE64" wineboot -i >/dev/null 2>&1
"$WINE64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
start_virtual_display -noreset || { bad "Xvfb did not start"; exit 1; }
xvfb_pid=$XVFB_PID
export LP_NUM_THREADS=1 KORVA_MESSAGEBOX=stderr

# --- unit tests ------------------------------------------------------------------------
(cd "$root/build-win64" && ctest --output-on-failure --timeout 300) && say "ok: x86_64 unit tests under wine64" \
  || bad "x86_64 unit tests"

# 32-bit programs run only with a 32-bit wine loader on a kernel that runs 32-bit code;
# then the i686 build's unit tests run too, from a build of their own with the tests.
if [ -x /usr/lib/wine/wine ] && timeout 120 env WINEPREFIX="$work/prefix32" WINEARCH=win32 /usr/lib/wine/wine \
     "$root/build-win32/tools/simstandin/simstandin.exe" --help 2>/dev/null | grep -q usage; then
  say "32-bit programs run here: the i686 unit tests too"
  cmake -S "$root" -B "$root/build-win32-tests" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-w64-mingw32.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DKORVA_TESTS=ON -DKORVA_HOST_PICTUREGEN="$root/build-host/tools/picturegen/picturegen" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$root/scripts/lib/wine-run.sh" >/dev/null &&
  nice cmake --build "$root/build-win32-tests" -j2 >/dev/null &&
  (cd "$root/build-win32-tests" && KORVA_WINE=/usr/lib/wine/wine WINEARCH=win32 WINEPREFIX="$work/prefix32" \
     ctest --output-on-failure --timeout 300) && say "ok: i686 unit tests under 32-bit wine" || bad "i686 unit tests"
else
  say "skipped: this machine cannot run 32-bit Windows programs (no 32-bit wine or kernel support)"
fi

# --- end to end ------------------------------------------------------------------------
if [ -x "$root/build/tools/simstandin/simstandin" ]; then
  KORVA_BUILD_DIR="$root/build" KORVA_WIN_BUILD="$root/build-win64" KORVA_SOURCE_DIR="$root" \
    bash "$root/tests/windows/instrument_wine.sh" && say "ok: end-to-end checks under wine64" \
    || bad "end-to-end checks under wine64"
  KORVA_BUILD_DIR="$root/build" KORVA_WIN_BUILD="$root/build-win64" KORVA_SOURCE_DIR="$root" \
    bash "$root/tests/windows/bridge_wine.sh" && say "ok: korva-bridge.exe under wine64" \
    || bad "korva-bridge.exe under wine64"
else
  bad "no Linux build in build/ (scripts/build.sh) for the network-mode stand-in"
fi

[ $status -eq 0 ] && say "all Windows checks passed" || say "some Windows checks failed"
exit $status
