# A simulator stand-in driven by its command language from a test script (sourced after
# tests/e2e/lib/harness.sh): start_simulator COMMAND..., sim COMMAND (prints the reply line),
# stop_simulator.

# A stand-in (the command given) reading commands from descriptor 8; replies in $SIM_OUT.
start_simulator() {
  SIM_IN="$WORK/sim-in.$RANDOM"; SIM_OUT="$WORK/sim-out.$RANDOM"
  mkfifo "$SIM_IN"
  "$@" <"$SIM_IN" >"$SIM_OUT" 2>&1 &
  SIM_PID=$!
  _pids+=($SIM_PID)
  exec 8>"$SIM_IN"
  wait_for 30 grep -q '^ready' "$SIM_OUT" || { fail "stand-in did not start: $(cat "$SIM_OUT")"; finish; }
}
sim() {
  local lines; lines=$(wc -l <"$SIM_OUT")
  echo "$*" >&8
  wait_for 5 bash -c "[ \$(wc -l <'$SIM_OUT') -gt $lines ]"
  tail -n 1 "$SIM_OUT" | tr -d '\r'
}
stop_simulator() {
  sim quit >/dev/null
  exec 8>&-
  wait_for 10 bash -c "! kill -0 $SIM_PID 2>/dev/null" || kill "$SIM_PID" 2>/dev/null
}
