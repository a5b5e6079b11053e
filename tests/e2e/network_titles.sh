#!/bin/bash
# Network mode against the stand-in's data server: the title says "NOT CONNECTED" or
# "CONNECTING..." while no server listens, "NETWORK" once one starts on the configured port,
# and "CONNECTING..." again when it goes away; frames run at six requests each while connected,
# and the instrument survives servers coming and going, and one that hangs up mid-frame.
source "$(dirname "$0")/lib/harness.sh"

STANDIN="$KORVA_BUILD_DIR/tools/simstandin/simstandin"
[ -x "$STANDIN" ] || { fail "no stand-in at $STANDIN"; finish; }
TITLE_NOT_CONNECTED='TAVRO VOR/ADF v1.2 - Freeware [NOT CONNECTED]'
TITLE_CONNECTING='TAVRO VOR/ADF v1.2- Freeware [CONNECTING...]'
TITLE_RECONNECTED='TAVRO VOR/ADF v1.2- Freeware [NETWORK]'

# Starts the stand-in's data server on port $1 (0: any); sets SERVER_PID and SERVER_PORT.
# Commands go in through a pipe kept open on descriptor 7, replies come out in $SERVER_OUT.
start_server() {
  SERVER_IN="$WORK/server-in.$$.$RANDOM"; SERVER_OUT="$WORK/server-out.$RANDOM"
  mkfifo "$SERVER_IN"
  "$STANDIN" --no-link --serve "$1" --stay <"$SERVER_IN" >"$SERVER_OUT" 2>&1 &
  SERVER_PID=$!
  _pids+=($SERVER_PID)
  exec 7>"$SERVER_IN"
  wait_for 10 grep -q '^ready' "$SERVER_OUT" || { fail "stand-in did not start: $(cat "$SERVER_OUT")"; finish; }
  SERVER_PORT=$(sed -n 's/^data server listening on port //p' "$SERVER_OUT")
}
stop_server() {
  kill "$SERVER_PID" 2>/dev/null
  wait_for 10 bash -c "! kill -0 $SERVER_PID 2>/dev/null"
  exec 7>&-
}
# Sends one command and prints its reply line.
server_command() {
  local lines; lines=$(wc -l <"$SERVER_OUT")
  echo "$*" >&7
  wait_for 5 bash -c "[ \$(wc -l <'$SERVER_OUT') -gt $lines ]"
  tail -n 1 "$SERVER_OUT"
}
requests_served() { server_command net stats | sed -n 's/^requests \([0-9]*\).*/\1/p'; }
title_is() { [ "$(window_name)" = "$1" ]; }

start_xvfb

# A free port: let the stand-in pick one, then let it go again.
start_server 0
PORT=$SERVER_PORT
stop_server
[ -n "$PORT" ] || { fail "no free port found"; finish; }

make_run_dir $'[LAN]\nUSELAN=Y\nKORVASERVER=127.0.0.1\nKORVAPORT='"$PORT"$'\n'
start_app
wait_window 15 || { fail "no window: $(cat "$APP_ERR")"; finish; }
# The window opens under the mode's title; the first connection attempt then names its failure.
wait_for 10 bash -c "t=\$(xdotool getwindowname $WIN); [ \"\$t\" = '$TITLE_NOT_CONNECTED' ] || [ \"\$t\" = '$TITLE_CONNECTING' ]" \
  && pass "no server: \"$(window_name)\"" || fail "no server, title \"$(window_name)\""
sleep 1
title_is "$TITLE_CONNECTING" && pass "keeps trying to connect" || fail "while trying: \"$(window_name)\""

# --- a server comes up on the port ---------------------------------------------------
start_server "$PORT"
wait_for 10 title_is "$TITLE_RECONNECTED" && pass "connected: \"$TITLE_RECONNECTED\"" \
  || fail "after the server started: \"$(window_name)\""
a=$(requests_served); f1=$(frames); sleep 1; b=$(requests_served); f2=$(frames)
[ -n "$a" ] && [ -n "$b" ] && [ "$b" -gt "$a" ] && pass "requests served: $a, a second later $b" \
  || fail "requests not counting: '$a' '$b'"
[ -n "$f1" ] && [ -n "$f2" ] && [ "$f2" -gt "$f1" ] && pass "frames drawn: $f1 -> $f2" || fail "frames '$f1' '$f2'"
log "about $(( (b - a) / 6 )) frames per second over the network"

# --- the simulator's values reach the instrument -------------------------------------
server_command set 0x0580 4 0x40000000 >/dev/null   # true heading 90
server_command set 0x02A0 2 0 >/dev/null
server_command set 0x0C56 2 400 >/dev/null           # VOR 1, not reduced to 40
server_command set 0x0C5C 2 90 >/dev/null
wait_for 5 bash -c "grep -qx 'card=90' '$STATUS' && grep -qx 'needle1=400' '$STATUS' && grep -qx 'needle2=90' '$STATUS'" \
  && pass "served values shown: card 90, needles 400 and 90" || fail "status: $(tr '\n' ' ' <"$STATUS")"

# --- the server hangs up in the middle of a frame: connecting again, then back ---------
accepted() { server_command net stats | sed -n 's/.* accepted \([0-9]*\).*/\1/p'; }
before=$(accepted)
server_command net close >/dev/null
reconnected=false
for _ in $(seq 100); do
  now=$(accepted)
  if [ -n "$now" ] && [ "$now" -gt "$before" ] && title_is "$TITLE_RECONNECTED"; then reconnected=true; break; fi
  sleep 0.1
done
$reconnected && kill -0 "$APP_PID" 2>/dev/null && pass "reconnected after a hang-up (connections $before -> $now)" \
  || fail "after a hang-up: \"$(window_name)\", connections $before -> $(accepted)"

# --- the server goes away and comes back --------------------------------------------
for round in 1 2; do
  stop_server
  wait_for 10 title_is "$TITLE_CONNECTING" && pass "round $round: server gone, \"$TITLE_CONNECTING\"" \
    || fail "round $round: server gone, title \"$(window_name)\""
  sleep 1
  kill -0 "$APP_PID" 2>/dev/null && pass "round $round: still running while refused" || fail "ended: $(cat "$APP_ERR")"
  start_server "$PORT"
  wait_for 10 title_is "$TITLE_RECONNECTED" && pass "round $round: server back, connected" \
    || fail "round $round: server back, title \"$(window_name)\""
done

# The refused attempts must not have used up descriptors: few are open.
open_fds=$(ls /proc/"$APP_PID"/fd 2>/dev/null | wc -l)
[ "$open_fds" -lt 100 ] && pass "$open_fds descriptors open after the refused attempts" \
  || fail "$open_fds descriptors open"

# --- Escape still ends it in order -------------------------------------------------------
press Escape
wait_exit 10
[ "$APP_RC" = 0 ] && pass "Escape exits 0" || fail "exit code $APP_RC: $(cat "$APP_ERR")"
stop_server
finish
