#!/bin/bash
# The x86_64 Windows instrument under wine64 on a private Xvfb (no window manager, so that
# no one else places the window):
#   FSUIPC mode against the Windows stand-in (a real window of class FS98MAIN): the title,
#   the card and needles in the status file, F1/F2, F11 + Right rewriting the INI file
#   through the real WritePrivateProfileStringA, F12 taking the frame away, Escape exiting 0;
#   a first start without any simulator shows zeros and keeps running;
#   network mode against the Linux stand-in's data server, and the title without a server;
#   a start-up error shown on standard error (KORVA_MESSAGEBOX=stderr) rather than in a box.
# Needs WINEPREFIX (a prefix of this run's own), KORVA_WIN_BUILD (the x86_64 build folder)
# and KORVA_BUILD_DIR (the Linux build, for its stand-in).
source "$(dirname "$0")/../e2e/lib/harness.sh"

: "${WINEPREFIX:?}" "${KORVA_WIN_BUILD:?}"
WINE=/usr/lib/wine/wine64
export WINEARCH=win64 WINEDEBUG=-all KORVA_MESSAGEBOX=stderr
KORVA_RUN_DIR="$KORVA_WIN_BUILD/run"
WIN_APP="$KORVA_WIN_BUILD/KORVAVorAdf.exe"
WIN_STANDIN="$KORVA_WIN_BUILD/tools/simstandin/simstandin.exe"
LINUX_STANDIN="$KORVA_BUILD_DIR/tools/simstandin/simstandin"

start_app() {  # the Windows instrument under wine, in $RUN
  APP_ERR="$RUN/stderr.txt"
  STATUS="$RUN/status.txt"
  (cd "$RUN" && KORVA_STATUS_FILE="$STATUS" exec "$WINE" "$WIN_APP" 2>"$APP_ERR" >/dev/null) &
  APP_PID=$!
  _pids+=($APP_PID)
}

source "$(dirname "$0")/lib/standin.sh"

# The status file is a Windows text file here: its lines end in CR LF.
shows() {
  local pair text; text=$(tr -d '\r' <"$STATUS" 2>/dev/null) || return 1
  for pair in "$@"; do grep -qx "$pair" <<<"$text" || return 1; done
}
export -f shows
status_get() { tr -d '\r' <"$STATUS" 2>/dev/null | sed -n "s/^$1=//p"; }
status_line() { tr '\r\n' '  ' <"$STATUS" 2>/dev/null; }
set_flight() {  # heading 90, no variation; VOR 1 400, VOR 2 90, ADF 1 -45, ADF 2 90
  sim set 0x0580 4 0x40000000 >/dev/null
  sim set 0x02A0 2 0 >/dev/null
  sim set 0x0C56 2 400 >/dev/null
  sim set 0x0C5C 2 90 >/dev/null
  sim set 0x0C6A 2 -8192 >/dev/null
  sim set 0x02D8 2 16384 >/dev/null
}
# The window is the client area only (no window manager): its width tells the frame apart.
client_width() { WIN=$(find_window); [ -n "$WIN" ] && geometry "$WIN" && echo "$GW"; }
# Keys go to the focused window; without a window manager focus it directly.
focus_app() {
  wait_window 15 || return 1
  xdotool windowfocus --sync "$WIN" >/dev/null 2>&1
}

for f in "$WIN_APP" "$WIN_STANDIN"; do [ -f "$f" ] || { fail "missing $f"; finish; }; done
start_xvfb

# --- a missing icon: the error box goes to standard error (KORVA_MESSAGEBOX), exit 1 ----
make_run_dir
rm "$RUN/plane2.ico"
start_app
wait_exit 30
grep -q '^Application Error: Cannot open file ".*plane2.ico"' "$APP_ERR" && [ "$APP_RC" = 1 ] \
  && pass "missing icon: 'Application Error' on standard error instead of a box, exit code 1" \
  || fail "missing icon: exit $APP_RC, standard error: $(cat "$APP_ERR")"

# --- no simulator at all: the FSUIPC title, zeros, still drawing ---------------------
make_run_dir $'[WINDOW]\r\nX=100\r\nY=100\r\n'
start_app
wait_window 30 || { fail "no window: $(cat "$APP_ERR")"; finish; }
[ "$(window_name)" = "$TITLE_FSUIPC" ] && pass "FSUIPC title" || fail "title '$(window_name)'"
wait_for 15 bash -c "STATUS='$STATUS'; shows card=0 needle1=0 needle2=0" \
  && pass "no simulator: card and needles at 0" || fail "no simulator: $(status_line)"
f1=$(frames); sleep 0.5; f2=$(frames)
[ -n "$f1" ] && [ -n "$f2" ] && [ "$f2" -gt "$f1" ] && pass "keeps drawing without a simulator ($f1 -> $f2)" \
  || fail "frames '$f1' '$f2' without a simulator"
press Escape
wait_exit 20 && [ "$APP_RC" = 0 ] && pass "Escape ends it with code 0" || fail "exit code $APP_RC"

# --- FSUIPC mode against the Windows stand-in -------------------------------------------
start_simulator "$WINE" "$WIN_STANDIN" --class FS98MAIN --stay
set_flight
make_run_dir $'[WINDOW]\r\nX=100\r\nY=100\r\n'
start_app
wait_window 30 || { fail "no window: $(cat "$APP_ERR")"; finish; }
[ "$(window_name)" = "$TITLE_FSUIPC" ] && pass "FSUIPC title with the simulator" || fail "title '$(window_name)'"
wait_for 15 bash -c "STATUS='$STATUS'; shows card=90 needle1=400 needle2=90 needle1vor=1 needle2vor=1" \
  && pass "follows the Windows stand-in: card 90, needles 400 and 90" || fail "angles: $(status_line)"
e1=$(sim stats | sed -n 's/^exchanges \([0-9]*\).*/\1/p'); sleep 1
e2=$(sim stats | sed -n 's/^exchanges \([0-9]*\).*/\1/p')
[ -n "$e1" ] && [ -n "$e2" ] && [ "$e2" -gt "$e1" ] && pass "link exchanges go on ($e1 -> $e2 in 1 s)" \
  || fail "exchanges '$e1' '$e2'"
[ "$(sim clientversion)" = 1004 ] && pass "the client announced itself at 0x330A" || fail "client version"
sim set 0x0580 4 0xFFFFFFFF >/dev/null
sim set 0x02A0 2 -32768 >/dev/null
wait_for 5 bash -c "STATUS='$STATUS'; shows card=540" && pass "card 540 for heading 2^32-1 and variation -180" \
  || fail "card: $(status_line)"

press F1
wait_for 5 bash -c "STATUS='$STATUS'; shows needle1vor=0 needle1=-45 needle2vor=1 needle2=90" \
  && pass "F1: needle 1 shows ADF 1 (-45), needle 2 still VOR 2" || fail "after F1: $(status_line)"
press F2
wait_for 5 bash -c "STATUS='$STATUS'; shows needle1vor=0 needle2vor=0 needle2=90" \
  && pass "F2: needle 2 shows ADF 2 (90)" || fail "after F2: $(status_line)"
press F1 F2
wait_for 5 bash -c "STATUS='$STATUS'; shows needle1vor=1 needle2vor=1 needle1=400" \
  && pass "F1, F2 again: back to the VORs" || fail "after F1 F2: $(status_line)"

press F11
wait_for 5 bash -c "STATUS='$STATUS'; shows position=1" || fail "F11 not taken: $(status_line)"
press Right
export RUN; export -f ini_get
wait_for 10 bash -c '[ "$(ini_get WINDOW X)" = 101 ]' \
  && pass "F11 + Right: X=101 written to KORVAVorAdf.INI" || fail "INI after Right: $(tr '\r\n' '  ' <"$RUN/KORVAVorAdf.INI")"
grep -q $'\r$' "$RUN/KORVAVorAdf.INI" && [ "$(ini_get WINDOW Y)" = 100 ] \
  && pass "the INI file is written the Windows way (CR LF), Y kept" || fail "INI: $(od -c "$RUN/KORVAVorAdf.INI" | head -3)"
press F11
wait_for 5 bash -c "STATUS='$STATUS'; shows position=0" || fail "F11 off: $(status_line)"

w1=$(client_width)
press F12
wait_for 10 bash -c "w=\$(xwininfo -id \$(xdotool search --onlyvisible --name '^TAVRO' | head -1) 2>/dev/null | awk '/Width:/ {print \$2}'); [ -n \"\$w\" ] && [ \"\$w\" != '$w1' ]"
w2=$(client_width)
[ -n "$w1" ] && [ -n "$w2" ] && [ "$w2" -gt "$w1" ] && pass "F12: frame off, the client grows from $w1 to $w2 pixels" \
  || fail "F12: width '$w1' -> '$w2'"
wait_for 10 bash -c "STATUS='$STATUS'; shows card=540" && pass "still following after F12" || fail "after F12: $(status_line)"

press Escape
wait_exit 20 && [ "$APP_RC" = 0 ] && pass "Escape ends it with code 0" || fail "exit code $APP_RC"
grep -q . "$APP_ERR" && log "instrument's standard error: $(cat "$APP_ERR")"
stop_simulator

# --- network mode ------------------------------------------------------------------------
if [ -x "$LINUX_STANDIN" ]; then
  # No server: the instrument says so in its title and keeps trying.
  make_run_dir $'[LAN]\r\nUSELAN=Y\r\nKORVASERVER=127.0.0.1\r\nKORVAPORT=1\r\n'
  start_app
  wait_window 30 || { fail "no window: $(cat "$APP_ERR")"; finish; }
  wait_for 10 bash -c "[[ \"\$(xdotool getwindowname $WIN)\" == *'[CONNECTING...]'* || \"\$(xdotool getwindowname $WIN)\" == *'[NOT CONNECTED]'* ]]" \
    && pass "network mode without a server: '$(window_name)'" || fail "title '$(window_name)'"
  press Escape
  wait_exit 20 && [ "$APP_RC" = 0 ] || fail "exit code $APP_RC"

  start_simulator "$LINUX_STANDIN" --no-link --serve 0 --stay
  port=$(sed -n 's/^data server listening on port \([0-9]*\)/\1/p' "$SIM_OUT")
  set_flight
  make_run_dir $'[LAN]\r\nUSELAN=Y\r\nKORVASERVER=127.0.0.1\r\nKORVAPORT='"$port"$'\r\n'
  start_app
  wait_window 30 || { fail "no window: $(cat "$APP_ERR")"; finish; }
  [ "$(window_name)" = "$TITLE_NETWORK" ] && pass "network title (server on port $port)" || fail "title '$(window_name)'"
  wait_for 15 bash -c "STATUS='$STATUS'; shows card=90 needle1=400 needle2=90" \
    && pass "network mode: card 90, needles 400 and 90 from the Linux data server" || fail "network: $(status_line)"
  press F2
  wait_for 5 bash -c "STATUS='$STATUS'; shows needle2vor=0 needle2=90" && pass "F2 in network mode" \
    || fail "F2: $(status_line)"
  press Escape
  wait_exit 20 && [ "$APP_RC" = 0 ] && pass "Escape ends network mode with code 0" || fail "exit code $APP_RC"
  stop_simulator
else
  fail "no Linux stand-in at $LINUX_STANDIN for the network checks"
fi

finish
