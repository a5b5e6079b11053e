#!/bin/bash
# The real instrument, fed by the simulator stand-in flying a fixed attitude, photographed
# from the X server: the picture that the README shows. Checks that the frame holds the
# instrument (both needles in their colours, the white aircraft symbol in the middle, the
# card's graduations) rather than a blank or untextured window.
source "$(dirname "$0")/lib/harness.sh"

STANDIN="$KORVA_BUILD_DIR/tools/simstandin/simstandin"
SHOTS="$KORVA_BUILD_DIR/screenshots"
mkdir -p "$SHOTS"

start_xvfb
script="$WORK/attitude.txt"
cat >"$script" <<'SCRIPT'
set 0x0580 4 0x2AAAAAAA
set 0x02A0 2 1092
set 0x0C56 2 40
set 0x0C5C 2 300
set 0x0C6A 2 -12000
set 0x02D8 2 9000
SCRIPT
"$STANDIN" --stay --script "$script" </dev/null >"$WORK/standin.txt" 2>&1 &
_pids+=($!)
wait_for 10 grep -q '^ready' "$WORK/standin.txt" || { fail "stand-in did not start"; finish; }

make_run_dir
start_app
wait_window 15 || { fail "no window: $(cat "$APP_ERR")"; finish; }
wait_for 10 grep -q '^card=54.00' "$STATUS" && pass "following the stand-in: $(tr '\n' ' ' <"$STATUS")" \
  || fail "not following: $(tr '\n' ' ' <"$STATUS" 2>/dev/null)"
sleep 0.5
import -window "$WIN" "$SHOTS/instrument.png" 2>/dev/null
[ -s "$SHOTS/instrument.png" ] && pass "screenshot saved in $SHOTS/instrument.png" || fail "no screenshot"

# Pixel census of the picture: amber (needle 1), cyan (needle 2), white (symbol, marks).
census=$(convert "$SHOTS/instrument.png" -depth 8 txt:- |
  sed -n 's/^[^(]*(\([0-9]*\),\([0-9]*\),\([0-9]*\)).*/\1 \2 \3/p' | awk '
  { r=$1; g=$2; b=$3
    if (r > 200 && g > 120 && g < 220 && b < 80) amber++
    if (b > 200 && g > 180 && r < 120) cyan++
    if (r > 230 && g > 230 && b > 230) white++ }
  END { printf "%d %d %d", amber, cyan, white }')
read -r amber cyan white <<<"$census"
[ "$amber" -gt 200 ] && pass "needle 1 drawn ($amber amber pixels)" || fail "needle 1 missing ($amber)"
[ "$cyan" -gt 200 ] && pass "needle 2 drawn ($cyan cyan pixels)" || fail "needle 2 missing ($cyan)"
[ "$white" -gt 1000 ] && pass "graduations and symbol drawn ($white white pixels)" || fail "too little white ($white)"
centre=$(convert "$SHOTS/instrument.png" -gravity center -crop 6x6+0+0 -depth 8 -format '%[fx:int(255*mean)]' info:)
[ "$centre" -gt 150 ] && pass "aircraft symbol in the middle" || fail "middle is dark ($centre)"

press Escape
wait_exit 10
[ "$APP_RC" = 0 ] && pass "Escape exits 0" || fail "exit code $APP_RC"
finish
