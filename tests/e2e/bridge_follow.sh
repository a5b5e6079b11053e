#!/bin/bash
# korva-bridge between simulator doubles and the instrument, through both doors: X-Plane's
# RREF answers reach an instrument in network mode through the data server, FlightGear's
# korva.xml lines reach one in FSUIPC mode through the link. The data server's replies are
# checked number by number; a silent simulator is reported while the last values stay, and
# its return is noticed; a restarted X-Plane is picked up; the bridge unsubscribes and frees
# the link when told to stop; ports in use and bad arguments end it with code 2.
source "$(dirname "$0")/lib/harness.sh"

TOOLS="$KORVA_BUILD_DIR/tools/bridge"
BRIDGE="$TOOLS/korva-bridge"
XPLANE="$TOOLS/xplane-double"
FLIGHTGEAR="$TOOLS/flightgear-double"
PROTOCOL="${KORVA_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}/tools/bridge/korva.xml"
for program in "$BRIDGE" "$XPLANE" "$FLIGHTGEAR"; do
  [ -x "$program" ] || { fail "not built: $program"; finish; }
done

NAV=sim/cockpit2/radios/indicators
FG_NAV0='/instrumentation/nav[0]/heading-deg'
FG_NAV1='/instrumentation/nav[1]/heading-deg'
FG_ADF0='/instrumentation/adf[0]/indicated-bearing-deg'
FG_ADF1='/instrumentation/adf[1]/indicated-bearing-deg'

# --- helpers --------------------------------------------------------------------------

# Sends a command to a double on descriptor $1 whose replies go to file $2; prints the reply.
command_to() {
  local fd=$1 out=$2; shift 2
  local lines; lines=$(grep -cv '^subscribe ' "$out")
  echo "$*" >&"$fd"
  wait_for 5 bash -c "[ \$(grep -cv '^subscribe ' '$out') -gt $lines ]"
  grep -v '^subscribe ' "$out" | tail -n 1
}

# The X-Plane double on port $1 (0: any); commands through descriptor 7.
start_xplane() {
  XP_IN="$WORK/xp-in.$RANDOM"; XP_OUT="$WORK/xp-out.$RANDOM"
  mkfifo "$XP_IN"
  "$XPLANE" --port "$1" <"$XP_IN" >"$XP_OUT" 2>&1 &
  XP_PID=$!; _pids+=($XP_PID)
  exec 7>"$XP_IN"
  wait_for 5 grep -q '^listening on port' "$XP_OUT" || { fail "X-Plane double: $(cat "$XP_OUT")"; finish; }
  XP_PORT=$(sed -n 's/^listening on port //p' "$XP_OUT")
}
xp() { command_to 7 "$XP_OUT" "$@"; }

# The FlightGear double sending to port $1; commands through descriptor 8.
start_flightgear() {
  FG_IN="$WORK/fg-in.$RANDOM"; FG_OUT="$WORK/fg-out.$RANDOM"
  mkfifo "$FG_IN"
  "$FLIGHTGEAR" --protocol "$PROTOCOL" --port "$1" --hz 20 <"$FG_IN" >"$FG_OUT" 2>&1 &
  FG_PID=$!; _pids+=($FG_PID)
  exec 8>"$FG_IN"
  wait_for 5 grep -q '^sending to' "$FG_OUT" || { fail "FlightGear double: $(cat "$FG_OUT")"; finish; }
}
fg() { command_to 8 "$FG_OUT" "$@"; }

# The bridge with the given arguments; BR_PID, BR_OUT, BR_ERR; SERVE_PORT and FG_PORT when
# it serves data or listens for FlightGear.
start_bridge() {
  BR_OUT="$WORK/bridge-out.$RANDOM"; BR_ERR="$WORK/bridge-err.$RANDOM"
  "$BRIDGE" "$@" >"$BR_OUT" 2>"$BR_ERR" &
  BR_PID=$!; _pids+=($BR_PID)
  wait_for 5 grep -q 'reading from' "$BR_OUT" || { fail "bridge did not start: $(cat "$BR_ERR")"; finish; }
  SERVE_PORT=$(sed -n 's/.*data server listening on .* port \([0-9]*\)$/\1/p' "$BR_OUT")
  FG_PORT=$(sed -n 's/.*reading from FlightGear on UDP port \([0-9]*\)$/\1/p' "$BR_OUT")
}
# Stops the bridge with signal $1; sets BR_RC.
stop_bridge() {
  kill -"$1" "$BR_PID"
  wait_for 10 bash -c "! kill -0 $BR_PID 2>/dev/null" || { BR_RC=timeout; return; }
  wait "$BR_PID"; BR_RC=$?
}
bridge_says() { grep -q "$1" "$BR_OUT"; }

# One request to the data server, as the instrument sends it; prints the reply.
ask() {
  local reply=""
  exec 9<>"/dev/tcp/127.0.0.1/$SERVE_PORT" || return 1
  printf '%s\0' "$1" >&9
  IFS= read -r -d '' -t 5 reply <&9
  exec 9>&-
  printf '%s' "$reply"
}
# Checks the six replies against the expected numbers, in the instrument's order. The first
# sample may carry only some of the values (X-Plane answers the subscriptions it has so far),
# so each is given up to 3 s to arrive.
check_replies() {
  local what=$1; shift
  local request expected got end all=true
  for request in 1408,4,5 672,2,4 3158,2,6 3164,2,6 3178,2,6 728,2,6; do
    expected=$1; shift
    end=$((SECONDS + 3))
    got=$(ask "$request")
    while [ "$got" != "$expected" ] && [ $SECONDS -lt $end ]; do sleep 0.1; got=$(ask "$request"); done
    if [ "$got" = "$expected" ]; then log "  $request -> $got"; else fail "$what: $request -> '$got', not $expected"; all=false; fi
  done
  $all && pass "$what: the data server answers all six as expected"
}

# Whole numbers for the fields, from degrees: rounding to nearest (never at a half here).
circle32() { awk -v d="$1" 'BEGIN { printf "%.0f", d / 360 * 4294967296 }'; }
circle16() { awk -v d="$1" 'BEGIN { printf "%.0f", d / 360 * 65536 }'; }
# The angles the instrument shows for those fields.
card_for() { awk -v h="$1" -v v="$2" 'BEGIN { printf "%.6f", h * 360 / 4294967296 - v * 360 / 65536 }'; }
adf_for() { awk -v a="$1" 'BEGIN { printf "%.6f", a * 360 / 65536 }'; }

# The status file shows key=value within 0.001 for each pair given.
shows_near() {
  local pair key want got
  for pair in "$@"; do
    key=${pair%%=*}; want=${pair#*=}
    got=$(sed -n "s/^$key=//p" "$STATUS" 2>/dev/null)
    [ -n "$got" ] || return 1
    awk -v a="$got" -v b="$want" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= 0.001) }' || return 1
  done
}
export -f shows_near
wait_shows() { wait_for "$1" bash -c "STATUS='$STATUS'; shows_near ${*:2}"; }
status_line() { tr '\n' ' ' <"$STATUS" 2>/dev/null; }

start_xvfb
start_openbox

# === X-Plane, network mode ============================================================
start_xplane 0
PSI=$(xp set sim/flightmodel/position/psi 123.4 | sed 's/^ok //')
MAG=$(xp set sim/flightmodel/position/mag_psi 128.4 | sed 's/^ok //')
xp set $NAV/nav1_relative_bearing_deg 45 >/dev/null
xp set $NAV/nav2_relative_bearing_deg 200 >/dev/null
xp set $NAV/adf1_relative_bearing_deg -90 >/dev/null
xp set $NAV/adf2_relative_bearing_deg 170.5 >/dev/null
log "X-Plane double on port $XP_PORT sends psi $PSI, mag_psi $MAG (float32)"

start_bridge --from "xplane=127.0.0.1:$XP_PORT" --serve 0
[ -n "$SERVE_PORT" ] || { fail "no data server port: $(cat "$BR_OUT")"; finish; }
wait_for 5 bridge_says 'receiving from X-Plane' && pass "bridge receives from X-Plane" \
  || fail "bridge: $(cat "$BR_OUT" "$BR_ERR")"
subs=$(xp subs)
[ "$(awk '{print $2}' <<<"$subs")" = 6 ] && [ "$(awk '{print $4}' <<<"$subs")" -ge 20 ] \
  && pass "six subscriptions at 20 a second or more ($subs)" || fail "subscriptions: $subs"

HEADING=$(circle32 "$PSI")
VARIATION=$(circle16 "$(awk -v t="$PSI" -v m="$MAG" 'BEGIN { print t - m }')")
ADF2=$(circle16 170.5)
check_replies "X-Plane" "$HEADING" "$VARIATION" 45 200 "$(circle16 -90)" "$ADF2"

make_run_dir $'[LAN]\nUSELAN=Y\nKORVASERVER=127.0.0.1\nKORVAPORT='"$SERVE_PORT"$'\n'
start_app
wait_window 15 || { fail "no window: $(cat "$APP_ERR")"; finish; }
CARD=$(card_for "$HEADING" "$VARIATION")
wait_shows 10 card="$CARD" needle1=45 needle2=200 \
  && pass "network mode: card $CARD (the magnetic heading), VOR needles 45 and 200" || fail "network mode: $(status_line)"
press F1 F2
wait_shows 5 needle1=-90 needle2="$(adf_for "$ADF2")" \
  && pass "network mode: ADF needles -90 and $(adf_for "$ADF2")" || fail "ADF needles: $(status_line)"
wait_for 5 bridge_says 'data server: 1 instrument connected' && pass "the bridge counts the instrument" \
  || fail "instrument not counted: $(cat "$BR_OUT")"

# The simulator turns: the instrument follows.
xp set sim/flightmodel/position/psi 10 >/dev/null
xp set sim/flightmodel/position/mag_psi 5 >/dev/null
xp set $NAV/adf1_relative_bearing_deg 179.99 >/dev/null
wait_shows 5 card="$(card_for "$(circle32 10)" "$(circle16 5)")" needle1="$(adf_for "$(circle16 179.99)")" \
  && pass "follows a turn: east variation, ADF just short of +180" || fail "after the turn: $(status_line)"

# A second instrument beside the first.
RUN_FIRST=$RUN STATUS_FIRST=$STATUS PID_FIRST=$APP_PID
make_run_dir $'[LAN]\nUSELAN=Y\nKORVASERVER=127.0.0.1\nKORVAPORT='"$SERVE_PORT"$'\n'
start_app
wait_shows 15 card="$(card_for "$(circle32 10)" "$(circle16 5)")" && bridge_says 'data server: 2 instruments connected' \
  && pass "a second instrument follows too" || fail "second instrument: $(status_line)"
kill "$APP_PID"; wait_for 10 bridge_says 'data server: 1 instrument connected'
RUN=$RUN_FIRST STATUS=$STATUS_FIRST APP_PID=$PID_FIRST

# X-Plane goes away and comes back on the same port: the renewed subscriptions find it.
xp quit >/dev/null
exec 7>&-
wait_for 10 bash -c "! kill -0 $XP_PID 2>/dev/null"
wait_for 5 bridge_says 'no sample from X-Plane.*for 2 s; serving the last values' \
  && pass "silent X-Plane reported" || fail "silence not reported: $(cat "$BR_OUT")"
sleep 0.5
shows_near card="$(card_for "$(circle32 10)" "$(circle16 5)")" && pass "last values kept while X-Plane is away" \
  || fail "values while away: $(status_line)"
[ "$(grep -c 'no sample from X-Plane' "$BR_OUT")" = 1 ] && pass "silence said once" \
  || fail "silence said $(grep -c 'no sample from X-Plane' "$BR_OUT") times"
start_xplane "$XP_PORT"
xp set sim/flightmodel/position/psi 300 >/dev/null
xp set sim/flightmodel/position/mag_psi 300 >/dev/null
wait_for 10 bridge_says 'samples from X-Plane.* again' && pass "restarted X-Plane picked up" \
  || fail "restart not noticed: $(cat "$BR_OUT")"
wait_shows 5 card=300 && pass "instrument follows the restarted X-Plane (card 300)" || fail "after restart: $(status_line)"

# Ctrl-C: the subscriptions are ended, the bridge exits 0.
stop_bridge INT
[ "$BR_RC" = 0 ] && pass "Ctrl-C ends the bridge with code 0" || fail "exit code $BR_RC: $(cat "$BR_ERR")"
wait_for 3 bash -c "[ \$(grep -c '^subscribe 0 [0-5] ' '$XP_OUT') -ge 6 ]" \
  && [ "$(grep '^subscribe 0 ' "$XP_OUT" | awk '{print $3}' | sort -u | wc -l)" = 6 ] \
  && pass "all six subscriptions ended with frequency 0" || fail "unsubscribed: $(grep '^subscribe 0' "$XP_OUT")"
press Escape
wait_exit 15 || fail "instrument did not end"
xp quit >/dev/null
exec 7>&-

# === FlightGear, FSUIPC mode (and the data server beside it) ==========================
start_bridge --from flightgear=0 --link --serve 0
[ -n "$FG_PORT" ] && [ -n "$SERVE_PORT" ] || { fail "ports: $(cat "$BR_OUT")"; finish; }
start_flightgear "$FG_PORT"
fg set /orientation/heading-deg 123.4 >/dev/null
fg set /orientation/heading-magnetic-deg 128.4 >/dev/null
fg set "$FG_NAV0" 168.4 >/dev/null    # true bearings: 45 and 200 right of the nose
fg set "$FG_NAV1" 323.4 >/dev/null
fg set "$FG_ADF0" -90 >/dev/null
fg set "$FG_ADF1" 170.5 >/dev/null
wait_for 5 bridge_says 'receiving from FlightGear' && pass "bridge receives from FlightGear" \
  || fail "bridge: $(cat "$BR_OUT" "$BR_ERR")"
sleep 0.3
HEADING=$(circle32 123.4)
check_replies "FlightGear" "$HEADING" "$(circle16 -5)" 45 200 "$(circle16 -90)" "$ADF2"

make_run_dir
start_app
wait_window 15 || { fail "no window: $(cat "$APP_ERR")"; finish; }
CARD=$(card_for "$HEADING" "$(circle16 -5)")
wait_shows 10 card="$CARD" needle1=45 needle2=200 \
  && pass "FSUIPC mode: card $CARD, VOR needles 45 and 200" || fail "FSUIPC mode: $(status_line)"
press F1 F2
wait_shows 5 needle1=-90 needle2="$(adf_for "$ADF2")" \
  && pass "FSUIPC mode: ADF needles -90 and $(adf_for "$ADF2")" || fail "ADF needles: $(status_line)"

# FlightGear pauses its output: reported once, last values kept; then it comes back.
fg silent >/dev/null
wait_for 5 bridge_says 'no sample from FlightGear.*for 2 s; serving the last values' \
  && pass "silent FlightGear reported" || fail "silence not reported: $(cat "$BR_OUT")"
shows_near card="$CARD" needle1=-90 && pass "last values kept while FlightGear is silent" \
  || fail "values while silent: $(status_line)"
fg set /orientation/heading-deg 350 >/dev/null
fg set /orientation/heading-magnetic-deg 355 >/dev/null
fg set "$FG_ADF0" 45 >/dev/null
fg talk >/dev/null
wait_for 5 bridge_says 'samples from FlightGear.* again' && pass "FlightGear's return noticed" \
  || fail "return not noticed: $(cat "$BR_OUT")"
wait_shows 5 card="$(card_for "$(circle32 350)" "$(circle16 -5)")" needle1=45 \
  && pass "instrument follows FlightGear again" || fail "after the return: $(status_line)"
fg raw not,a,sample >/dev/null
sleep 0.3
kill -0 "$BR_PID" 2>/dev/null && shows_near needle1=45 && pass "a bad line changes nothing" \
  || fail "after a bad line: $(status_line)"

# A second bridge: the data server's port and the link are taken.
"$BRIDGE" --from demo --serve "$SERVE_PORT" >/dev/null 2>"$WORK/second.err"; rc=$?
[ "$rc" = 2 ] && grep -q "port $SERVE_PORT" "$WORK/second.err" \
  && pass "port in use: code 2, \"$(cat "$WORK/second.err")\"" || fail "port in use: code $rc, $(cat "$WORK/second.err")"
"$BRIDGE" --from demo --link >/dev/null 2>"$WORK/second.err"; rc=$?
[ "$rc" = 2 ] && grep -q "FS98MAIN" "$WORK/second.err" \
  && pass "link taken: code 2, \"$(cat "$WORK/second.err")\"" || fail "link taken: code $rc, $(cat "$WORK/second.err")"
"$BRIDGE" --from "flightgear=$FG_PORT" --serve 0 >/dev/null 2>"$WORK/second.err"; rc=$?
[ "$rc" = 2 ] && grep -q "$FG_PORT.*in use" "$WORK/second.err" \
  && pass "FlightGear port in use: code 2" || fail "FlightGear port in use: code $rc, $(cat "$WORK/second.err")"

# SIGTERM: the link is given up; the instrument falls back to zeros.
stop_bridge TERM
[ "$BR_RC" = 0 ] && pass "SIGTERM ends the bridge with code 0" || fail "exit code $BR_RC: $(cat "$BR_ERR")"
[ -z "$(ls "$KORVA_LINK_DIR" | grep -v -e '\.lock$' -e '^atoms$' -e '^link.lock$')" ] \
  && pass "link released" || fail "left in the link folder: $(ls "$KORVA_LINK_DIR")"
wait_shows 10 card=0 needle1=0 needle2=0 && pass "instrument shows 0 once the bridge is gone" \
  || fail "after the bridge: $(status_line)"
press Escape
wait_exit 15 || fail "instrument did not end"
fg quit >/dev/null
exec 8>&-

# === the demo flight, and what the command line refuses ===============================
start_bridge --from demo --speed 20 --serve 0
wait_for 5 bridge_says 'receiving from the demo flight' || fail "demo: $(cat "$BR_OUT")"
h1=$(ask 1408,4,5); sleep 0.5; h2=$(ask 1408,4,5)
[ -n "$h1" ] && [ -n "$h2" ] && [ "$h1" != "$h2" ] && pass "the demo flight moves ($h1 -> $h2)" \
  || fail "demo heading '$h1' '$h2'"
stop_bridge INT

for args in "--from xplane" "--from demo --serve 70000" "--from demo --serve 0 --bind 999.1.1.1" \
            "--from xplane=:1 --link" "--from flightgear --speed 2 --link" "--from fsuipc --link" "--unknown"; do
  # shellcheck disable=SC2086
  "$BRIDGE" $args >/dev/null 2>"$WORK/bad.err"; rc=$?
  [ "$rc" = 2 ] && [ -s "$WORK/bad.err" ] || fail "\"$args\": code $rc, \"$(cat "$WORK/bad.err")\""
done
pass "bad arguments end with code 2 and a message"
"$BRIDGE" --from fsuipc --serve 0 >/dev/null 2>"$WORK/bad.err"; rc=$?
[ "$rc" = 2 ] && grep -q Windows "$WORK/bad.err" && pass "fsuipc refused here: \"$(cat "$WORK/bad.err")\"" \
  || fail "fsuipc: code $rc, $(cat "$WORK/bad.err")"
"$BRIDGE" --help >"$WORK/help.txt"; rc=$?
[ "$rc" = 0 ] && grep -q 127.0.0.1 "$WORK/help.txt" && grep -q 0.0.0.0 "$WORK/help.txt" \
  && pass "--help names the default address and how to serve other machines" || fail "help: code $rc"

finish
