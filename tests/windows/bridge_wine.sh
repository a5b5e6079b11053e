#!/bin/bash
# korva-bridge.exe (x86_64) under wine64 on a private Xvfb:
#   --from fsuipc --serve: reads the Windows stand-in (a real window of class FS98MAIN) through
#   the link client and answers data-server requests sent from Linux with the stand-in's
#   numbers; follows a change; a stand-in that goes is reported and its last values stay
#   served; one that comes back is found again; a second bridge on the same port and
#   --from fsuipc with --link end with code 2;
#   --from xplane --link: fed by the Linux X-Plane double over UDP, it serves the window class
#   itself, and the x86_64 instrument in FSUIPC mode shows the angles (status file).
# Needs WINEPREFIX (a prefix of this run's own), KORVA_WIN_BUILD (the x86_64 build folder)
# and KORVA_BUILD_DIR (the Linux build, for the X-Plane double).
source "$(dirname "$0")/../e2e/lib/harness.sh"

: "${WINEPREFIX:?}" "${KORVA_WIN_BUILD:?}"
WINE=/usr/lib/wine/wine64
export WINEARCH=win64 WINEDEBUG=-all KORVA_MESSAGEBOX=stderr
KORVA_RUN_DIR="$KORVA_WIN_BUILD/run"
WIN_APP="$KORVA_WIN_BUILD/KORVAVorAdf.exe"
WIN_STANDIN="$KORVA_WIN_BUILD/tools/simstandin/simstandin.exe"
WIN_BRIDGE="$KORVA_WIN_BUILD/tools/bridge/korva-bridge.exe"
XPLANE="$KORVA_BUILD_DIR/tools/bridge/xplane-double"
NAV=sim/cockpit2/radios/indicators

for f in "$WIN_APP" "$WIN_STANDIN" "$WIN_BRIDGE" "$XPLANE"; do [ -f "$f" ] || { fail "missing $f"; finish; }; done

source "$(dirname "$0")/lib/standin.sh"

# heading, variation, VOR 1, VOR 2, ADF 1, ADF 2 as the simulator stores them.
set_values() {
  local offsets=(0x0580 0x02A0 0x0C56 0x0C5C 0x0C6A 0x02D8) sizes=(4 2 2 2 2 2) i=0 value
  for value in "$@"; do sim set "${offsets[$i]}" "${sizes[$i]}" "$value" >/dev/null; i=$((i+1)); done
}

# korva-bridge.exe with the arguments given; its output in $BR_OUT (CR LF lines).
start_bridge() {
  BR_OUT="$WORK/bridge-out.$RANDOM"; BR_ERR="$WORK/bridge-err.$RANDOM"
  "$WINE" "$WIN_BRIDGE" "$@" >"$BR_OUT" 2>"$BR_ERR" </dev/null &
  BR_PID=$!; _pids+=($BR_PID)
  wait_for 30 grep -q 'reading from' "$BR_OUT" || { fail "bridge did not start: $(cat "$BR_OUT" "$BR_ERR")"; finish; }
  SERVE_PORT=$(tr -d '\r' <"$BR_OUT" | sed -n 's/.*data server listening on .* port \([0-9]*\)$/\1/p')
}
bridge_says() { tr -d '\r' <"$BR_OUT" | grep -q "$1"; }
export BR_OUT; export -f bridge_says
# Ends the bridge as Ctrl-C would; sets BR_RC.
stop_bridge() {
  kill -INT "$BR_PID" 2>/dev/null
  wait_for 10 bash -c "! kill -0 $BR_PID 2>/dev/null" || { kill "$BR_PID" 2>/dev/null; BR_RC=timeout; return; }
  wait "$BR_PID"; BR_RC=$?
}

# One request to the data server, as the instrument sends it; prints the reply.
ask() {
  local reply=""
  exec 9<>"/dev/tcp/127.0.0.1/$SERVE_PORT" || return 1
  printf '%s\0' "$1" >&9
  IFS= read -r -d '' -t 5 reply <&9
  exec 9>&-
  printf '%s' "$reply"
}
# The six replies in the instrument's order, on one line.
replies() {
  local request out=()
  for request in 1408,4,5 672,2,4 3158,2,6 3164,2,6 3178,2,6 728,2,6; do out+=("$(ask "$request")"); done
  echo "${out[*]}"
}
export SERVE_PORT; export -f ask replies
answers() { [ "$(replies)" = "$*" ]; }
export -f answers

start_xvfb

# === --from fsuipc --serve against the Windows stand-in ==================================
start_simulator "$WINE" "$WIN_STANDIN" --class FS98MAIN --stay
set_values 0x40000000 -512 400 90 -8192 16384
start_bridge --from fsuipc --serve 0
[ -n "$SERVE_PORT" ] || { fail "no data server port: $(cat "$BR_OUT")"; finish; }
export SERVE_PORT
wait_for 10 bridge_says 'FSUIPC link open' && pass "the bridge opened the FSUIPC link" \
  || fail "link not opened: $(tr -d '\r' <"$BR_OUT")"
expected="1073741824 -512 400 90 -8192 16384"
wait_for 10 answers $expected && pass "the data server answers the stand-in's six values ($expected)" \
  || fail "replies '$(replies)', not '$expected'"
e1=$(sim stats | sed -n 's/^exchanges \([0-9]*\).*/\1/p'); sleep 1
e2=$(sim stats | sed -n 's/^exchanges \([0-9]*\).*/\1/p')
[ -n "$e1" ] && [ -n "$e2" ] && [ $((e2 - e1)) -ge 10 ] && pass "the bridge reads the link often ($e1 -> $e2 in 1 s)" \
  || fail "exchanges '$e1' '$e2' in 1 s"

set_values 0xFFFFFFFF -32768 359 0 32767 -32768
expected="4294967295 -32768 359 0 32767 -32768"
wait_for 5 answers $expected && pass "follows the stand-in to the ends of every field ($expected)" \
  || fail "after the change: '$(replies)'"

# A second bridge on the same port; the link served and read at once.
"$WINE" "$WIN_BRIDGE" --from demo --serve "$SERVE_PORT" >/dev/null 2>"$WORK/second.err" </dev/null; rc=$?
[ "$rc" = 2 ] && grep -q "port $SERVE_PORT is in use" "$WORK/second.err" \
  && pass "a second bridge on port $SERVE_PORT: code 2, \"$(tr -d '\r' <"$WORK/second.err")\"" \
  || fail "second bridge: code $rc, $(cat "$WORK/second.err")"
"$WINE" "$WIN_BRIDGE" --from fsuipc --link >/dev/null 2>"$WORK/second.err" </dev/null; rc=$?
[ "$rc" = 2 ] && grep -q -- "--link" "$WORK/second.err" && pass "--from fsuipc with --link: code 2" \
  || fail "--from fsuipc --link: code $rc, $(cat "$WORK/second.err")"

# The simulator goes: reported, the last values still served.
stop_simulator
wait_for 15 bridge_says 'FSUIPC link lost' && pass "the lost link is reported" \
  || fail "not reported: $(tr -d '\r' <"$BR_OUT")"
answers $expected && pass "the last values stay served without the simulator" || fail "without the simulator: '$(replies)'"

# It comes back with other values: the bridge opens the link again by itself.
start_simulator "$WINE" "$WIN_STANDIN" --class FS98MAIN --stay
set_values 0x80000000 256 180 270 4096 -16384
expected="2147483648 256 180 270 4096 -16384"
wait_for 20 answers $expected && bridge_says 'FSUIPC link open again' \
  && pass "the simulator's return is found: $expected" || fail "after the return: '$(replies)', $(tr -d '\r' <"$BR_OUT")"
stop_bridge
[ "$BR_RC" = 0 ] && pass "Ctrl-C ends the bridge with code 0" || log "note: the bridge ended with '$BR_RC' on SIGINT under wine"
stop_simulator

# === --from xplane --link, the Windows instrument in FSUIPC mode ========================
XP_IN="$WORK/xp-in"; XP_OUT="$WORK/xp-out"
mkfifo "$XP_IN"
"$XPLANE" --port 0 <"$XP_IN" >"$XP_OUT" 2>&1 &
XP_PID=$!; _pids+=($XP_PID)
exec 7>"$XP_IN"
wait_for 5 grep -q '^listening on port' "$XP_OUT" || { fail "X-Plane double: $(cat "$XP_OUT")"; finish; }
XP_PORT=$(sed -n 's/^listening on port //p' "$XP_OUT")
xp() {
  local lines; lines=$(grep -cv '^subscribe ' "$XP_OUT")
  echo "$*" >&7
  wait_for 5 bash -c "[ \$(grep -cv '^subscribe ' '$XP_OUT') -gt $lines ]"
}
xp set sim/flightmodel/position/psi 90
xp set sim/flightmodel/position/mag_psi 90
xp set $NAV/nav1_relative_bearing_deg 45
xp set $NAV/nav2_relative_bearing_deg 200
xp set $NAV/adf1_relative_bearing_deg -90
xp set $NAV/adf2_relative_bearing_deg 135

start_bridge --from "xplane=127.0.0.1:$XP_PORT" --link
wait_for 10 bridge_says 'receiving from X-Plane' && pass "the Windows bridge receives from the Linux X-Plane double over UDP" \
  || fail "no samples: $(tr -d '\r' <"$BR_OUT" "$BR_ERR")"
bridge_says 'serving the FSUIPC link (FS98MAIN)' && pass "it serves the link's window class" \
  || fail "link: $(tr -d '\r' <"$BR_OUT")"

make_run_dir $'[WINDOW]\r\nX=100\r\nY=100\r\n'
APP_ERR="$RUN/stderr.txt"; STATUS="$RUN/status.txt"
(cd "$RUN" && KORVA_STATUS_FILE="$STATUS" exec "$WINE" "$WIN_APP" 2>"$APP_ERR" >/dev/null) &
APP_PID=$!; _pids+=($APP_PID)
wait_window 30 || { fail "no window: $(cat "$APP_ERR")"; finish; }
[ "$(window_name)" = "$TITLE_FSUIPC" ] && pass "the instrument is in FSUIPC mode" || fail "title '$(window_name)'"
# The status file is a Windows text file: lines end in CR LF.
shows() {
  local pair text; text=$(tr -d '\r' <"$STATUS" 2>/dev/null) || return 1
  for pair in "$@"; do grep -qx "$pair" <<<"$text" || return 1; done
}
export STATUS; export -f shows
status_line() { tr '\r\n' '  ' <"$STATUS" 2>/dev/null; }
# No variation: the card shows the heading, 90.
wait_for 15 shows card=90 needle1=45 needle2=200 needle1vor=1 needle2vor=1 \
  && pass "the instrument follows X-Plane through the Windows bridge: card 90, VOR needles 45 and 200" \
  || fail "angles: $(status_line)"
press F1 F2
wait_for 5 shows needle1vor=0 needle2vor=0 needle1=-90 needle2=135 \
  && pass "ADF needles -90 and 135" || fail "ADF needles: $(status_line)"
xp set sim/flightmodel/position/psi 270
xp set sim/flightmodel/position/mag_psi 270
wait_for 5 shows card=270 && pass "the card follows X-Plane's turn to 270" || fail "after the turn: $(status_line)"
press Escape
wait_exit 20 && [ "$APP_RC" = 0 ] && pass "Escape ends the instrument with code 0" || fail "exit code $APP_RC"
stop_bridge
echo quit >&7

finish
