#!/bin/bash
# The real instrument under a window manager, driven by real key presses: default
# placement and title, the move and resize steps with their file writes, a held arrow key,
# the frame switch that is not stored, Escape, and configuration entries that are not numbers.
source "$(dirname "$0")/lib/harness.sh"

start_xvfb
start_openbox

# --- no configuration file: FSUIPC title, framed, 400 by 400 outer at 0,0 -------------
make_run_dir
start_app
wait_window 15 || { fail "no window"; finish; }
[ "$(window_name)" = "$TITLE_FSUIPC" ] && pass "FSUIPC title" || fail "title is '$(window_name)'"
frame_extents "$WIN"
[ "$FT" -gt 0 ] && pass "framed by default ($FL,$FR,$FT,$FB)" || fail "no frame by default"
CAPTION=$((FT - FL))
wait_client_at "$FL" "$FT" $((400 - 2*FL)) $((400 - 2*FL - CAPTION)) \
  && pass "default placement" || fail "default placement: client $GX,$GY ${GW}x$GH"
sleep 0.5
[ ! -e "$RUN/KORVAVorAdf.INI" ] && pass "starting writes no file" || fail "file written at start"

# --- position mode: Right writes X=1 in [WINDOW] and moves the window ----------------
press F11
sleep 0.3
press Right
wait_for 5 bash -c "[ \"\$(awk -F= '/^X=/{print \$2}' '$RUN/KORVAVorAdf.INI' 2>/dev/null)\" = 1 ]" \
  && pass "X=1 stored" || fail "X not stored: $(cat "$RUN/KORVAVorAdf.INI" 2>/dev/null)"
grep -q '^\[WINDOW\]' "$RUN/KORVAVorAdf.INI" && pass "section WINDOW" || fail "no [WINDOW] section"
wait_client_at $((1 + FL)) "$FT" && pass "window one pixel right" || fail "window at $GX,$GY"
press Down
wait_client_at $((1 + FL)) $((1 + FT)) && pass "Down moves one pixel down" || fail "after Down: $GX,$GY"
[ "$(ini_get WINDOW Y)" = 1 ] && pass "Y=1 stored" || fail "Y is '$(ini_get WINDOW Y)'"
press Up
wait_client_at $((1 + FL)) "$FT" && pass "Up moves one pixel up" || fail "after Up: $GX,$GY"

# --- a held arrow key moves one pixel per automatic repeat -------------------------
focus_app
xdotool keydown Right; sleep 1.2; xdotool keyup Right
sleep 1
x=$(ini_get WINDOW X)
[ "$x" -ge 5 ] && pass "held Right stepped to X=$x" || fail "held Right gave X=$x"
wait_client_at $((x + FL)) "$FT" && pass "window follows the held key" || fail "window at $GX, X=$x"

# --- size mode: F9 leaves position mode; Up is one pixel lower, Down one taller ---------
press F9
sleep 0.3
press Down
wait_for 5 bash -c "grep -q '^HEIGHT=401' '$RUN/KORVAVorAdf.INI'" && pass "HEIGHT=401" || fail "HEIGHT not 401"
wait_client_at $((x + FL)) "$FT" $((400 - 2*FL)) $((401 - 2*FL - CAPTION)) && pass "one pixel taller" \
  || fail "after Down: ${GW}x$GH"
press Up
wait_for 5 bash -c "grep -q '^HEIGHT=400' '$RUN/KORVAVorAdf.INI'"
press Up
wait_for 5 bash -c "grep -q '^HEIGHT=399' '$RUN/KORVAVorAdf.INI'" && pass "HEIGHT=399" || fail "HEIGHT not 399"
press Right
wait_for 5 bash -c "grep -q '^WIDTH=401' '$RUN/KORVAVorAdf.INI'" && pass "WIDTH=401" || fail "WIDTH not 401"
[ "$(ini_get WINDOW X)" = "$x" ] && pass "size mode leaves X alone" || fail "X changed in size mode"
press F9
sleep 0.3
press Right
sleep 0.5
[ "$(ini_get WINSIZE WIDTH)" = 401 ] && [ "$(ini_get WINDOW X)" = "$x" ] && pass "arrows with no mode do nothing" \
  || fail "arrows with no mode changed the file"

# --- F12: no frame, full stored size as client area; not stored ------------------------
press F12
wait_for 5 bash -c "w=\$(xdotool search --onlyvisible --name '^TAVRO' | head -1); [ -n \"\$w\" ] && \
  [ \"\$(xprop -id \$w _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= //p')\" = '0, 0, 0, 0' ]" \
  && pass "F12 removes the frame" || fail "F12 left a frame"
WIN=$(find_window)
wait_client_at "$x" 0 401 399 && pass "frameless window at X,Y with the stored size" || fail "frameless at $GX,$GY ${GW}x$GH"
! grep -qi 'ACTIVE' "$RUN/KORVAVorAdf.INI" && pass "frame switch not stored" || fail "frame switch stored"

# --- Escape ends the program with exit code 0 -----------------------------------------
press Escape
wait_exit 10
[ "$APP_RC" = 0 ] && pass "Escape exits 0" || fail "Escape gave $APP_RC"

# --- after a restart the frame is back and the window stands where it was left ------
start_app
wait_window 15 || fail "no window after restart"
frame_extents "$WIN"
[ "$FT" -gt 0 ] && pass "frame back after restart" || fail "no frame after restart"
wait_client_at $((x + FL)) "$FT" $((401 - 2*FL)) $((399 - 2*FL - CAPTION)) && pass "placement kept" \
  || fail "placement after restart: $GX,$GY ${GW}x$GH"
press Escape
wait_exit 10

# --- entries that are not numbers end the program with the runtime's report -------------
make_run_dir $'[WINSIZE]\nWIDTH=abc\n'
start_app
wait_exit 10
[ "$APP_RC" = 1 ] && pass "WIDTH=abc exits 1" || fail "WIDTH=abc gave $APP_RC"
grep -qF "Application Error: 'abc' is not a valid integer value" "$APP_ERR" && pass "integer error shown" \
  || fail "stderr: $(cat "$APP_ERR")"

make_run_dir $'[WINDOW]\nX=abc\nY=0\n'
# X=abc fails already at start-up, so start from a good file and break it while running.
printf '[WINDOW]\nX=5\nY=6\n' > "$RUN/KORVAVorAdf.INI"
start_app
wait_window 15 || fail "no window"
printf '[WINDOW]\nX=abc\nY=6\n' > "$RUN/KORVAVorAdf.INI"
press F11
sleep 0.3
press Right
wait_exit 10
[ "$APP_RC" = 1 ] && pass "X=abc at a move step exits 1" || fail "X=abc at a step gave $APP_RC"
grep -qF "Application Error: 'abc' is not a valid integer value" "$APP_ERR" && pass "step error shown" \
  || fail "stderr: $(cat "$APP_ERR")"

finish
