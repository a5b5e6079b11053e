#!/bin/bash
# FSUIPC mode against the simulator stand-in: with no simulator the instrument shows 0 and
# keeps drawing; once the simulator runs, the next window creation opens the link and the card
# and needles follow the simulator's values, one exchange per frame; F1 switches needle 1 from
# its VOR to its ADF value; when the simulator goes away the instrument shows 0 again and
# still answers Escape.
source "$(dirname "$0")/lib/harness.sh"

STANDIN="$KORVA_BUILD_DIR/tools/simstandin/simstandin"
[ -x "$STANDIN" ] || { fail "no stand-in at $STANDIN"; finish; }


# Starts the stand-in; commands go in through descriptor 8, replies come out in $SIM_OUT.
start_simulator() {
  SIM_IN="$WORK/sim-in.$RANDOM"; SIM_OUT="$WORK/sim-out.$RANDOM"
  mkfifo "$SIM_IN"
  "$STANDIN" --stay <"$SIM_IN" >"$SIM_OUT" 2>&1 &
  SIM_PID=$!
  _pids+=($SIM_PID)
  exec 8>"$SIM_IN"
  wait_for 10 grep -q '^ready' "$SIM_OUT" || { fail "stand-in did not start: $(cat "$SIM_OUT")"; finish; }
}
sim() {
  local lines; lines=$(wc -l <"$SIM_OUT")
  echo "$*" >&8
  wait_for 5 bash -c "[ \$(wc -l <'$SIM_OUT') -gt $lines ]"
  tail -n 1 "$SIM_OUT"
}
exchanges() { sim stats | sed -n 's/^exchanges \([0-9]*\).*/\1/p'; }
shows() {  # key=value pairs that must all stand in the status file
  local pair; for pair in "$@"; do grep -qx "$pair" "$STATUS" 2>/dev/null || return 1; done
}
export -f shows
status_line() { tr '\n' ' ' <"$STATUS" 2>/dev/null; }

start_xvfb
start_openbox

# --- no simulator: zeros, and frames keep coming --------------------------------------
make_run_dir
start_app
wait_window 15 || { fail "no window: $(cat "$APP_ERR")"; finish; }
wait_for 10 bash -c "STATUS='$STATUS'; shows card=0 needle1=0 needle2=0" \
  && pass "no simulator: card and needles at 0" || fail "no simulator: $(status_line)"
f1=$(frames); sleep 0.5; f2=$(frames)
[ -n "$f1" ] && [ -n "$f2" ] && [ "$f2" -gt "$f1" ] && pass "keeps drawing without a simulator ($f1 -> $f2)" \
  || fail "frames '$f1' '$f2' without a simulator"

# --- the simulator starts; the next window creation (F12) opens the link --------------
start_simulator
sim set 0x0580 4 0x40000000 >/dev/null   # true heading 90
sim set 0x02A0 2 0 >/dev/null            # no variation
sim set 0x0C56 2 400 >/dev/null          # VOR 1: 400, not reduced
sim set 0x0C5C 2 90 >/dev/null           # VOR 2
sim set 0x0C6A 2 -8192 >/dev/null        # ADF 1: -45
sim set 0x02D8 2 16384 >/dev/null        # ADF 2: 90
sleep 0.3
shows card=0 && pass "a simulator started later is not used before the next window creation" \
  || fail "followed without a new window: $(status_line)"
press F12
wait_for 10 bash -c "STATUS='$STATUS'; shows card=90 needle1=400 needle2=90 needle1vor=1" \
  && pass "follows the simulator: card 90, needles 400 and 90" || fail "after F12: $(status_line)"

# One exchange per frame, counted from both ends.
e1=$(exchanges); f1=$(frames); sleep 2; e2=$(exchanges); f2=$(frames)
if [ -n "$e1" ] && [ -n "$e2" ] && [ -n "$f1" ] && [ -n "$f2" ] && [ "$e2" -gt "$e1" ]; then
  de=$((e2 - e1)); df=$((f2 - f1))
  log "in 2 s: $de exchanges, $df frames (about $((de / 2)) frames per second in FSUIPC mode)"
  # The status file is read at moments of its own, so allow some slack between the counts.
  [ $((de - df)) -le $((df / 5 + 20)) ] && [ $((df - de)) -le $((df / 5 + 20)) ] \
    && pass "one exchange per frame" || fail "exchanges $de vs frames $df"
else
  fail "exchanges not counting: '$e1' '$e2', frames '$f1' '$f2'"
fi

# --- values change in the simulator --------------------------------------------------
sim set 0x0580 4 0xFFFFFFFF >/dev/null
sim set 0x02A0 2 -32768 >/dev/null     # variation -180: card 540, not reduced
wait_for 5 bash -c "STATUS='$STATUS'; shows card=540" && pass "card 540 for heading 2^32-1 and variation -180" \
  || fail "card: $(status_line)"
sim set 0x0580 4 0x40000000 >/dev/null
sim set 0x02A0 2 0 >/dev/null
wait_for 5 bash -c "STATUS='$STATUS'; shows card=90" || fail "card back to 90: $(status_line)"

# --- F1: needle 1 from VOR to ADF; needle 2 stays ------------------------------------
press F1
wait_for 5 bash -c "STATUS='$STATUS'; shows needle1vor=0" || fail "F1 not taken: $(status_line)"
# The status of a frame holds its flag and its angles together: the frame that first saw the
# flag already shows the ADF value.
ok=true
for _ in $(seq 10); do
  if shows needle1vor=0 && ! shows needle1=-45; then ok=false; fi
  sleep 0.1
done
$ok && shows needle1=-45 needle2=90 needle2vor=1 && pass "F1: needle 1 shows ADF 1 (-45), needle 2 still VOR 2 (90)" \
  || fail "after F1: $(status_line)"
press F1
wait_for 5 bash -c "STATUS='$STATUS'; shows needle1vor=1 needle1=400" && pass "F1 again: back to VOR 1 (400)" \
  || fail "after second F1: $(status_line)"

# --- the simulator goes away: zeros, still running, Escape still works ---------------
sim quit >/dev/null
exec 8>&-
wait_for 10 bash -c "STATUS='$STATUS'; shows card=0 needle1=0 needle2=0" \
  && pass "simulator gone: card and needles at 0" || fail "after the simulator quit: $(status_line)"
kill -0 "$APP_PID" 2>/dev/null && pass "still running" || fail "the instrument ended"
f1=$(frames); sleep 2.5; f2=$(frames)
[ -n "$f1" ] && [ -n "$f2" ] && [ "$f2" -gt "$f1" ] && pass "still drawing, slowly ($f1 -> $f2 in 2.5 s)" \
  || fail "frames '$f1' '$f2' after the simulator quit"
press Escape
wait_exit 15 && [ "$APP_RC" = 0 ] && pass "Escape ends it with code 0" || fail "exit code $APP_RC"
[ -z "$(ls "$KORVA_LINK_DIR" | grep -v -e '\.lock$' -e '^atoms$' -e '^link.lock$')" ] \
  && pass "nothing left in the link folder" || fail "left behind: $(ls "$KORVA_LINK_DIR")"

finish
