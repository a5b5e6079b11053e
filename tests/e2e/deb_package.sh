#!/bin/bash
# The Debian package as a user gets it: built by CPack from this build, its contents, then
# installed with dpkg, started from its launcher in a fresh home (the instrument runs in the
# user's own folder, writes its configuration there and finds the installed pictures), ended
# with Escape, and removed again. Installing needs root; elsewhere only the contents are
# checked.
source "$(dirname "$0")/lib/harness.sh"

PKG="$WORK/pkg"
mkdir -p "$PKG"
(cd "$PKG" && cpack -G DEB --config "$KORVA_BUILD_DIR/CPackConfig.cmake" >"$WORK/cpack.txt" 2>&1) \
  || { fail "cpack failed: $(tail -5 "$WORK/cpack.txt")"; finish; }
DEB=$(ls "$PKG"/KORVAVorAdf_*_*.deb 2>/dev/null | head -1)
[ -n "$DEB" ] && pass "package built: $(basename "$DEB")" || { fail "no KORVAVorAdf_<version>_<arch>.deb in $PKG"; finish; }

listing=$(dpkg-deb -c "$DEB" | awk '{print $6}')
for f in ./usr/bin/korva-voradf ./usr/lib/korva-voradf/KORVAVorAdf ./usr/share/applications/korva-voradf.desktop \
         ./usr/share/icons/hicolor/128x128/apps/korva-voradf.png ./usr/bin/korva-bridge \
         ./usr/share/korva-voradf/korva.xml; do
  grep -qx "$f" <<<"$listing" && pass "holds $f" || fail "missing $f"
done
pictures=$(grep -c '^./usr/share/korva-voradf/pictures/.' <<<"$listing")
[ "$pictures" = 13 ] && pass "holds the 13 pictures, font and icon" || fail "$pictures files in pictures/, want 13"
[ "$(dpkg-deb -f "$DEB" Package)" = korva-voradf ] && pass "package name korva-voradf" || fail "package name"
grep -q 'libglfw3' <<<"$(dpkg-deb -f "$DEB" Depends)" && pass "depends on GLFW" || fail "Depends: $(dpkg-deb -f "$DEB" Depends)"

if [ "$(id -u)" != 0 ]; then log "not root: installing skipped"; finish; fi
if dpkg -s korva-voradf >/dev/null 2>&1; then log "korva-voradf is installed already: left alone"; finish; fi

dpkg -i "$DEB" >"$WORK/dpkg.txt" 2>&1 && pass "dpkg -i" || { fail "dpkg -i: $(tail -3 "$WORK/dpkg.txt")"; finish; }
remove_package() { dpkg -r korva-voradf >/dev/null 2>&1; }
trap 'remove_package; cleanup' EXIT

start_xvfb
start_openbox
export HOME="$WORK/home"
mkdir -p "$HOME"
unset XDG_DATA_HOME KORVA_HOME
RUN="$HOME/.local/share/korva-voradf"
STATUS="$WORK/status.txt"
APP_ERR="$WORK/stderr.txt"
(cd / && KORVA_STATUS_FILE="$STATUS" exec korva-voradf 2>"$APP_ERR" >/dev/null) &
APP_PID=$!
_pids+=($APP_PID)
wait_window 15 && pass "the launcher starts the instrument" || { fail "no window: $(cat "$APP_ERR")"; finish; }
[ "$(window_name)" = "$TITLE_FSUIPC" ] && pass "title: $(window_name)" || fail "title: $(window_name)"
wait_for 10 bash -c "[ \"\$(sed -n 's/^frames=//p' '$STATUS' 2>/dev/null)\" -gt 0 ]" \
  && pass "frames drawn with the installed pictures" || fail "no frames"
[ -L "$RUN/VOR_ADF.txr" ] && pass "pictures linked into $RUN" || fail "no picture links in $RUN"

press F11 Right
wait_for 10 grep -q '^X=1' "$RUN/KORVAVorAdf.INI" \
  && pass "the configuration is written in the user's folder" || fail "no X=1 in $RUN/KORVAVorAdf.INI"
press Escape
wait_exit 10
[ "$APP_RC" = 0 ] && pass "Escape exits 0" || fail "exit code $APP_RC"

korva-bridge --help >"$WORK/bridge-help.txt" 2>&1 && grep -q -- '--from' "$WORK/bridge-help.txt" \
  && pass "korva-bridge is on the path" || fail "korva-bridge --help: $(head -3 "$WORK/bridge-help.txt")"

remove_package && [ ! -e /usr/bin/korva-voradf ] && pass "dpkg -r removes it" || fail "removal"
[ -f "$RUN/KORVAVorAdf.INI" ] && pass "the user's configuration stays" || fail "configuration gone"
finish
