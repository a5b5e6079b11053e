# Virtual display helpers for the scripts, the benchmark and the end-to-end tests: an X server
# (Xvfb, which picks a free display itself), a window manager (openbox), polling with a
# deadline, and ending processes by PID. Source it; it starts nothing by itself.

# Polls a command every 50 ms until it succeeds or the deadline (whole seconds) passes.
wait_for() {
  local deadline=$1; shift
  local end=$(( $(date +%s%N) + deadline * 1000000000 ))
  while [ "$(date +%s%N)" -lt "$end" ]; do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  return 1
}

# Ends the given processes, the last given first: each is asked to stop and, if it has not
# stopped within 2.5 s, killed. PIDs that are gone already are passed over.
end_processes() {
  local i p pids=("$@")
  for ((i=${#pids[@]}-1; i>=0; i--)); do
    p=${pids[$i]}
    kill "$p" 2>/dev/null && { for _ in $(seq 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.05; done; kill -9 "$p" 2>/dev/null; }
  done
}

# Starts Xvfb (1280x1024x24, no TCP; extra Xvfb options as arguments) and exports DISPLAY once
# the server accepts connections. Sets XVFB_PID; fails when no display number came in 10 s.
start_virtual_display() {
  local fifo n=""
  fifo=$(mktemp -u); mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp "$@" 3>"$fifo" >/dev/null 2>&1 &
  XVFB_PID=$!
  read -r -t 10 n <"$fifo" || true
  rm -f "$fifo"
  [ -n "$n" ] || return 1
  export DISPLAY=":$n"
}

# Whether a window manager runs on DISPLAY (openbox publishes _NET_SUPPORTED when ready).
window_manager_ready() { xprop -root _NET_SUPPORTED 2>/dev/null | grep -q _NET_ACTIVE_WINDOW; }

# Starts openbox on DISPLAY and waits until it manages windows. Sets OPENBOX_PID; fails
# when it was not ready in 10 s.
start_window_manager() {
  openbox --sm-disable >/dev/null 2>&1 &
  OPENBOX_PID=$!
  wait_for 10 window_manager_ready
}
