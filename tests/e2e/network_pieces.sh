#!/bin/bash
# Network mode against a data server whose replies come in pieces: in two parts, one byte at
# a time, with the zero byte alone, and without any zero byte. For each, values set in the
# stand-in must show on the card and the needles (the status file), frame after frame, on the
# one connection, and the instrument must keep running; Escape then ends it in order.
source "$(dirname "$0")/lib/harness.sh"

STANDIN="$KORVA_BUILD_DIR/tools/simstandin/simstandin"
[ -x "$STANDIN" ] || { fail "no stand-in at $STANDIN"; finish; }

# The stand-in's data server on any free port; commands go in through descriptor 7.
SERVER_IN="$WORK/server-in"; SERVER_OUT="$WORK/server-out"
mkfifo "$SERVER_IN"
"$STANDIN" --no-link --serve 0 --stay <"$SERVER_IN" >"$SERVER_OUT" 2>&1 &
SERVER_PID=$!
_pids+=($SERVER_PID)
exec 7>"$SERVER_IN"
wait_for 10 grep -q '^ready' "$SERVER_OUT" || { fail "stand-in did not start: $(cat "$SERVER_OUT")"; finish; }
PORT=$(sed -n 's/^data server listening on port //p' "$SERVER_OUT")

# Sends one command and prints its reply line.
server_command() {
  local lines; lines=$(wc -l <"$SERVER_OUT")
  echo "$*" >&7
  wait_for 5 bash -c "[ \$(wc -l <'$SERVER_OUT') -gt $lines ]"
  tail -n 1 "$SERVER_OUT"
}
accepted() { server_command net stats | sed -n 's/.* accepted \([0-9]*\).*/\1/p'; }

# Whether the status file shows exactly these card and needle angles.
shows() { grep -qx "card=$1" "$STATUS" && grep -qx "needle1=$2" "$STATUS" && grep -qx "needle2=$3" "$STATUS"; }
status_line() { tr '\n' ' ' <"$STATUS" 2>/dev/null; }

start_xvfb
make_run_dir $'[LAN]\nUSELAN=Y\nKORVASERVER=127.0.0.1\nKORVAPORT='"$PORT"$'\n'
start_app
wait_window 15 || { fail "no window: $(cat "$APP_ERR")"; finish; }
wait_for 10 test -s "$STATUS" || { fail "no status file: $(cat "$APP_ERR")"; finish; }

# Each round sets six different values, so a reply taken for another request shows.
# Heading k * 45 degrees, variation k * 5.625 degrees east: card k * 39.375.
round=0
for mode in "split 40" "bytes 4" "zeroapart 40" "nozero" "normal"; do
  round=$((round + 1))
  card=$(awk -v k=$round 'BEGIN { printf "%g", k * 39.375 }')
  vor1=$((100 + round)); vor2=$((200 + round))
  server_command set 0x0580 4 $((round * 0x20000000)) >/dev/null
  server_command set 0x02A0 2 $((round * 0x0400)) >/dev/null
  server_command set 0x0C56 2 $vor1 >/dev/null
  server_command set 0x0C5C 2 $vor2 >/dev/null
  server_command set 0x0C6A 2 $((round * 0x1000)) >/dev/null
  server_command set 0x02D8 2 -$((round * 0x1000)) >/dev/null
  reply=$(server_command net $mode)
  case "$reply" in ok*) ;; *) fail "net $mode: $reply"; continue ;; esac

  if wait_for 15 shows "$card" $vor1 $vor2; then
    # Stays right over several further frames (a reply out of step would soon show).
    f0=$(frames); steady=true
    for _ in $(seq 100); do
      shows "$card" $vor1 $vor2 || { steady=false; break; }
      f=$(frames); [ -n "$f" ] && [ "$f" -ge $((f0 + 3)) ] && break
      sleep 0.1
    done
    f=$(frames)
    if $steady && [ "$f" -ge $((f0 + 3)) ]; then
      pass "net $mode: card $card, needles $vor1 and $vor2, frames $f0 -> $f"
    else
      fail "net $mode: not steady (frames $f0 -> $f): $(status_line)"
    fi
  else
    fail "net $mode: status $(status_line) (wanted card $card, needles $vor1 $vor2); $(cat "$APP_ERR")"
  fi
  kill -0 "$APP_PID" 2>/dev/null && pass "net $mode: still running" \
    || { fail "net $mode: the instrument ended: $(cat "$APP_ERR")"; finish; }
done

# Gathering never gave up a connection: the first is still the only one.
n=$(accepted)
[ "$n" = 1 ] && pass "one connection throughout" || fail "connections accepted: $n"
title=$(window_name)
[ "${title% \[NETWORK\]}" != "$title" ] && pass "title \"$title\"" || fail "title \"$title\""

press Escape
wait_exit 10
[ "$APP_RC" = 0 ] && [ ! -s "$APP_ERR" ] && pass "Escape exits 0" || fail "exit code $APP_RC: $(cat "$APP_ERR")"
finish
