#!/bin/bash
# The instrument window under a window manager: a user move, drag and resize are stored so
# that the window comes back at the same place and size; minimising stores nothing and stops
# the frames; closing ends the program; a re-creation that fails ends it in order.
source "$(dirname "$0")/lib/harness.sh"

start_xvfb
start_openbox

make_run_dir $'[WINDOW]\nX=40\nY=50\n[WINSIZE]\nWIDTH=420\nHEIGHT=380\n'
start_app
wait_window 15 || { fail "no window"; finish; }
frame_extents "$WIN"
CAPTION=$((FT - FL))
wait_client_at $((40 + FL)) $((50 + FT)) $((420 - 2*FL)) $((380 - 2*FL - CAPTION)) \
  && pass "created at the stored placement" || fail "created at $GX,$GY ${GW}x$GH"

# --- a move by the window manager ----------------------------------------------------
xdotool windowmove "$WIN" 300 200
wait_for 5 bash -c "grep -q '^X=$((300 - FL))' '$RUN/KORVAVorAdf.INI' && grep -q '^Y=$((200 - FT))' '$RUN/KORVAVorAdf.INI'" \
  && pass "move stored as the outer corner" || fail "after move: $(tr '\n' ' ' < "$RUN/KORVAVorAdf.INI")"

# --- a drag of the title bar ---------------------------------------------------------
geometry "$WIN"
xdotool mousemove $((GX + 60)) $((GY - FT / 2)) mousedown 1
for step in 1 2 3 4 5; do xdotool mousemove $((GX + 60 + step * 10)) $((GY - FT / 2 + step * 6)); sleep 0.05; done
xdotool mouseup 1
sleep 0.5
geometry "$WIN"
wait_for 5 bash -c "grep -q '^X=$((GX - FL))' '$RUN/KORVAVorAdf.INI' && grep -q '^Y=$((GY - FT))' '$RUN/KORVAVorAdf.INI'" \
  && pass "drag stored ($GX,$GY)" || fail "after drag to $GX,$GY: $(tr '\n' ' ' < "$RUN/KORVAVorAdf.INI")"

# --- a resize ----------------------------------------------------------------------
xdotool windowsize "$WIN" 500 350
wait_for 5 bash -c "grep -q '^WIDTH=$((500 + 2*FL))' '$RUN/KORVAVorAdf.INI' && grep -q '^HEIGHT=$((350 + 2*FL + CAPTION))' '$RUN/KORVAVorAdf.INI'" \
  && pass "resize stored" || fail "after resize: $(tr '\n' ' ' < "$RUN/KORVAVorAdf.INI")"
geometry "$WIN"
PX=$GX; PY=$GY

# --- minimise: nothing stored, no frames; restore: frames again, placement kept -------
before=$(cat "$RUN/KORVAVorAdf.INI")
xdotool windowminimize "$WIN"
wait_for 5 bash -c "xprop -id $WIN WM_STATE | grep -q Iconic" || fail "not minimised"
sleep 0.5
f1=$(frames); sleep 0.5; f2=$(frames)
[ "$f1" = "$f2" ] && pass "no frames while minimised" || fail "frames went on while minimised ($f1 -> $f2)"
[ "$(cat "$RUN/KORVAVorAdf.INI")" = "$before" ] && pass "minimising stores nothing" \
  || fail "minimising changed the file: $(tr '\n' ' ' < "$RUN/KORVAVorAdf.INI")"
xdotool windowactivate --sync "$WIN" >/dev/null 2>&1
sleep 0.5
f1=$(frames); sleep 0.5; f2=$(frames)
[ "$f2" -gt "$f1" ] && pass "frames again after restore" || fail "no frames after restore ($f1 -> $f2)"
[ "$(cat "$RUN/KORVAVorAdf.INI")" = "$before" ] && pass "restore keeps the placement" \
  || fail "restore changed the file: $(tr '\n' ' ' < "$RUN/KORVAVorAdf.INI")"

# --- another window takes the focus: the instrument keeps moving -----------------------
xterm_like() { xmessage -geometry +600+600 focus-taker >/dev/null 2>&1 & _pids+=($!); }
if command -v xmessage >/dev/null; then
  xterm_like
  sleep 0.5
  f1=$(frames); sleep 0.5; f2=$(frames)
  [ "$f2" -gt "$f1" ] && pass "frames go on while deactivated" || fail "frames stopped when deactivated"
fi

# --- the close command ends the program in order ---------------------------------------
wmctrl -i -c "$WIN"
wait_exit 10
[ "$APP_RC" = 0 ] && pass "close exits 0" || fail "close gave $APP_RC"

# --- after a restart: same client place and size --------------------------------------
start_app
wait_window 15 || fail "no window after restart"
wait_client_at "$PX" "$PY" 500 350 && pass "back at the same place and size" \
  || fail "after restart: $GX,$GY ${GW}x$GH (wanted $PX,$PY 500x350)"

# --- a re-creation that fails ends the program in order --------------------------------
rm "$RUN/VOR_ADF.txr"
press F11
sleep 0.3
press Right
wait_exit 15
[ "$APP_RC" = 0 ] && pass "failed re-creation exits 0" || fail "failed re-creation gave $APP_RC"
grep -qF "Error: initialization failed." "$APP_ERR" && pass "initialisation failure shown" \
  || fail "stderr: $(cat "$APP_ERR")"

finish
