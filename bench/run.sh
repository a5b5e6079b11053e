#!/bin/bash
# Benchmark of the instrument, printed as one table. Measures, in one run on this machine:
#  - frames per second of the real instrument in FSUIPC mode against the simulator stand-in
#    (frames counted by the stand-in: one link exchange per frame) and in network mode against
#    the stand-in's data server (six requests per frame), each beside the bound of its loop
#    (one exchange, or six round trips, plus the 1 ms pause) timed in-process by korva_bench,
#    and beside the instrument's CPU time (user + system, /proc/PID/stat) per frame and per
#    second over the same count;
#  - in both modes, the latency from a heading change in the stand-in to the first frame that
#    shows it: the stand-in changes the heading and notes the read that carried the new value
#    out and the read after it (the next frame's), and korva_bench's pixel probe notes when the
#    window's pixels on the X server changed; median and 99th percentile;
#  - one window re-creation (an arrow-key step) at 400 by 400, in-process, and the steps per
#    second a held arrow key drives in the real instrument under a fast X key repeat;
#  - open handles and resident memory after 10 and 1,000 re-creations and after 10,000
#    refused reconnection attempts.
# It prints figures only; nothing here passes or fails on them.
#
# Usage: bash bench/run.sh
# Environment: KORVA_BUILD_DIR (build folder, default build/), BENCH_SECONDS (length of each
# frame count, default 10), BENCH_HOLD_SECONDS (arrow key held, default 5), BENCH_RECREATIONS
# (default 1000), BENCH_ATTEMPTS (default 10000), BENCH_LATENCY_SAMPLES (heading changes per
# mode, default 300), BENCH_LATENCY_INTERVAL_MS (pause between them, default 50, spread to
# 1.5 times), BENCH_RAW=1 (also print every raw figure).
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/lib/display.sh"
build="${KORVA_BUILD_DIR:-$root/build}"
SECONDS_PER_COUNT=${BENCH_SECONDS:-10}
HOLD_SECONDS=${BENCH_HOLD_SECONDS:-5}
RECREATIONS=${BENCH_RECREATIONS:-1000}
ATTEMPTS=${BENCH_ATTEMPTS:-10000}
LATENCY_SAMPLES=${BENCH_LATENCY_SAMPLES:-300}
LATENCY_INTERVAL_MS=${BENCH_LATENCY_INTERVAL_MS:-50}
REPEAT_DELAY_MS=150
REPEAT_RATE_HZ=100

# Mesa on one rendering thread, as the tests run it: an uncapped loop would otherwise take
# both cores of a small machine and the stand-in would be starved.
export LP_NUM_THREADS=1

APP="$build/KORVAVorAdf"
STANDIN="$build/tools/simstandin/simstandin"
BENCH="$build/bench/korva_bench"
PICTURES="$build/run"

say() { echo "[bench $(date +%T)] $*" >&2; }
die() { say "error: $*"; exit 1; }

# --- processes of this run, ended by PID ------------------------------------------------
WORK=$(mktemp -d /tmp/korva-bench-XXXXXX)
_pids=()
cleanup() {
  end_processes "${_pids[@]}"
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- build if needed ---------------------------------------------------------------------
for tool in Xvfb openbox xdotool xprop xset glxinfo; do
  command -v "$tool" >/dev/null || { say "installing what is missing"; bash "$root/scripts/setup.sh"; break; }
done
if [ ! -x "$APP" ] || [ ! -x "$STANDIN" ] || [ ! -x "$BENCH" ] || [ ! -f "$PICTURES/VOR_ADF.txr" ]; then
  say "building into $build"
  bash "$root/scripts/build.sh" "$build" >&2 || die "build failed"
else
  cmake --build "$build" --target KORVAVorAdf simstandin korva_bench pictures -j"$(nproc)" \
    >"$WORK/build.log" 2>&1 || { tail -n 30 "$WORK/build.log" >&2; die "build failed"; }
fi
[ -x "$BENCH" ] || die "no korva_bench in $build/bench"

now() { echo "$EPOCHREALTIME"; }
calc() { awk "BEGIN { printf \"$1\", $2 }"; }

# CPU time (user + system) of a process so far, in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
TICKS=$(getconf CLK_TCK)
cpu_percent() {  # ticks before, ticks after, seconds
  calc "%.0f" "($2 - $1) * 100 / $TICKS / $3"
}
# CPU time the whole machine spent busy so far (all cores), in clock ticks.
machine_busy_ticks() { awk '/^cpu / { print $2 + $3 + $4 + $7 + $8 + $9; exit }' /proc/stat; }
handles_of() { ls "/proc/$1/fd" 2>/dev/null | wc -l; }
rss_of() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null; }

LOAD_START=$(cut -d' ' -f1-3 /proc/loadavg)

# --- X server and window manager --------------------------------------------------------
start_virtual_display -noreset; started=$?
_pids+=("$XVFB_PID")
[ "$started" -eq 0 ] || die "Xvfb did not start"
start_window_manager; started=$?
_pids+=("$OPENBOX_PID")
[ "$started" -eq 0 ] || die "openbox did not come up"

# --- the stand-in: the link, and the data server on a port of its choosing ---------------
export KORVA_LINK_DIR="$WORK/link"
mkdir -m 700 "$KORVA_LINK_DIR"
coproc SIM { exec "$STANDIN" --serve 0 --stay 2>"$WORK/standin.err"; }
SIM_PID=$SIM_PID; _pids+=($SIM_PID)
SIM_OUT=${SIM[0]}; SIM_IN=${SIM[1]}
PORT=""
while IFS= read -r -t 10 line <&"$SIM_OUT"; do
  case $line in
    "data server listening on port "*) PORT=${line##* } ;;
    ready) break ;;
  esac
done
[ -n "$PORT" ] || die "the stand-in did not start: $(cat "$WORK/standin.err")"
# One command, one reply line; sim_slow waits up to its first argument (seconds) for it.
sim_slow() {
  local wait=$1; shift
  echo "$*" >&"$SIM_IN"; local reply; IFS= read -r -t "$wait" reply <&"$SIM_OUT" || return 1; echo "$reply"
}
sim() { sim_slow 5 "$@"; }
# (The replies are taken into a variable first: the coprocess's pipes are not there for the
# subshells of a pipeline.)
exchanges() { local l; l=$(sim stats); sed -n 's/^exchanges \([0-9]*\).*/\1/p' <<<"$l"; }
net_field() { local l; l=$(sim net stats); sed -n "s/.*$1 \([0-9]*\).*/\1/p" <<<"$l"; }

# Values that make the instrument draw a turned card and needles, as in flight.
sim set 0x0580 4 0x40000000 >/dev/null
sim set 0x02A0 2 -1000 >/dev/null
sim set 0x0C56 2 40 >/dev/null
sim set 0x0C5C 2 300 >/dev/null
sim set 0x0C6A 2 -8192 >/dev/null
sim set 0x02D8 2 16384 >/dev/null

# --- the real instrument ----------------------------------------------------------------
# A run folder with the pictures and the icon, and an optional configuration text.
make_run_dir() {
  RUN="$WORK/$1"; mkdir -p "$RUN"
  cp "$PICTURES"/*.txr "$PICTURES"/font.bmp "$PICTURES"/plane2.ico "$RUN"/
  if [ $# -gt 1 ]; then printf '%s' "$2" >"$RUN/KORVAVorAdf.INI"; fi
}
# Starts the instrument in $RUN, as shipped (no status file unless asked for with $1).
start_app() {
  if [ -n "${1:-}" ]; then
    (cd "$RUN" && KORVA_STATUS_FILE="$1" exec "$APP" 2>"$RUN/stderr.txt" >/dev/null) &
  else
    (cd "$RUN" && exec "$APP" 2>"$RUN/stderr.txt" >/dev/null) &
  fi
  APP_PID=$!; _pids+=($APP_PID)
  wait_for 15 bash -c '[ -n "$(xdotool search --onlyvisible --name "^TAVRO" 2>/dev/null)" ]' \
    || die "no instrument window: $(cat "$RUN/stderr.txt")"
}
find_window() { xdotool search --onlyvisible --name '^TAVRO' 2>/dev/null | head -1; }
focus_app() {
  local w; w=$(find_window); [ -n "$w" ] || return 1
  xdotool windowactivate --sync "$w" >/dev/null 2>&1 || xdotool windowfocus --sync "$w" >/dev/null 2>&1
}
stop_app() {
  focus_app && xdotool key Escape
  wait_for 5 bash -c "! kill -0 $APP_PID 2>/dev/null" || kill "$APP_PID" 2>/dev/null
  wait "$APP_PID" 2>/dev/null
}
ini_x() {
  awk 'BEGIN { IGNORECASE=1 } /^\[/ { s = (toupper($0) ~ /^\[WINDOW\]/); next }
       s && /^ *X *=/ { sub(/^[^=]*= */, ""); sub(/\r$/, ""); print; exit }' "$RUN/KORVAVorAdf.INI" 2>/dev/null
}

# Counts over SECONDS_PER_COUNT seconds with a counter function; sets COUNT, SPAN, the
# instrument's CPU ticks (APP_TICKS) and the CPU shares of the instrument, the stand-in and
# the X server.
count_over() {
  local counter=$1 c0 c1 t0 t1 a0 a1 s0 s1 x0 x1 m0 m1
  a0=$(cpu_ticks "$APP_PID"); s0=$(cpu_ticks "$SIM_PID"); x0=$(cpu_ticks "$XVFB_PID")
  m0=$(machine_busy_ticks)
  c0=$($counter); t0=$(now)
  sleep "$SECONDS_PER_COUNT"
  c1=$($counter); t1=$(now)
  a1=$(cpu_ticks "$APP_PID"); s1=$(cpu_ticks "$SIM_PID"); x1=$(cpu_ticks "$XVFB_PID")
  m1=$(machine_busy_ticks)
  COUNT=$((c1 - c0)); SPAN=$(calc "%.3f" "$t1 - $t0"); APP_TICKS=$((a1 - a0))
  CPU_APP=$(cpu_percent "$a0" "$a1" "$SPAN"); CPU_SIM=$(cpu_percent "$s0" "$s1" "$SPAN")
  CPU_X=$(cpu_percent "$x0" "$x1" "$SPAN")
  # Whatever else kept the machine busy meanwhile (other people's builds and tests).
  CPU_OTHER=$(calc "%.0f" "(($m1 - $m0) - ($a1 - $a0) - ($s1 - $s0) - ($x1 - $x0)) * 100 / $TICKS / $SPAN")
  [ "${CPU_OTHER#-}" = "$CPU_OTHER" ] || CPU_OTHER=0
}

# The instrument's CPU time in ms: per frame (ticks, frames) and per second (ticks, seconds).
cpu_ms_per_frame() { calc "%.2f" "$1 * 1000 / $TICKS / ($2 > 0 ? $2 : 1)"; }
cpu_ms_per_second() { calc "%.0f" "$1 * 1000 / $TICKS / $2"; }

# Latency of the running instrument (prefix of the files in $WORK: fsuipc or network): the
# pixel probe watches the window while the stand-in turns the heading LATENCY_SAMPLES times.
measure_latency() {
  local tag=$1 window probe reply
  window=$(find_window); [ -n "$window" ] || die "no instrument window to probe"
  "$BENCH" probe --window "$window" --out "$WORK/$tag-changes.txt" >"$WORK/$tag-probe.txt" &
  probe=$!; _pids+=($probe)
  sleep 0.5
  reply=$(sim_slow $((LATENCY_SAMPLES * (LATENCY_INTERVAL_MS * 3 / 2 + 2100) / 1000 + 10)) \
    latency "$LATENCY_SAMPLES" "$LATENCY_INTERVAL_MS" "$WORK/$tag-samples.txt") || die "no reply to latency"
  case $reply in latency*) ;; *) die "latency: $reply" ;; esac
  kill "$probe" 2>/dev/null; wait "$probe" || die "the pixel probe failed"
  "$BENCH" latency --samples "$WORK/$tag-samples.txt" --changes "$WORK/$tag-changes.txt" \
    >"$WORK/$tag-latency.txt" || die "korva_bench latency failed"
  cat "$WORK/$tag-probe.txt" >>"$WORK/$tag-latency.txt"
  echo "lost=$(sed -n 's/.* lost \([0-9]*\).*/\1/p' <<<"$reply")" >>"$WORK/$tag-latency.txt"
}

# 1. FSUIPC mode: the stand-in counts one exchange per frame.
say "FSUIPC mode: counting frames for $SECONDS_PER_COUNT s"
make_run_dir fsuipc
start_app
link_in_use() { local e; e=$(exchanges); [ "${e:-0}" -gt 50 ]; }
wait_for 10 link_in_use || die "the instrument did not open the link"
sleep 1
count_over exchanges
FS_FRAMES=$COUNT; FS_SPAN=$SPAN; FS_CPU_APP=$CPU_APP; FS_CPU_SIM=$CPU_SIM; FS_CPU_X=$CPU_X; FS_CPU_OTHER=$CPU_OTHER
FS_FPS=$(calc "%.1f" "$FS_FRAMES / $FS_SPAN")
FS_CPU_FRAME=$(cpu_ms_per_frame "$APP_TICKS" "$FS_FRAMES"); FS_CPU_SECOND=$(cpu_ms_per_second "$APP_TICKS" "$FS_SPAN")
say "FSUIPC mode: latency, $LATENCY_SAMPLES heading changes"
measure_latency fsuipc
stop_app

# 2. Network mode: the data server counts six requests per frame.
say "network mode: counting frames for $SECONDS_PER_COUNT s"
make_run_dir network $'[LAN]\nUSELAN=Y\nKORVASERVER=127.0.0.1\nKORVAPORT='"$PORT"$'\n'
start_app
requests() { net_field requests; }
server_in_use() { local n; n=$(requests); [ "${n:-0}" -gt 300 ]; }
wait_for 10 server_in_use || die "the instrument did not reach the data server"
sleep 1
acc0=$(net_field accepted)
count_over requests
acc1=$(net_field accepted)
NET_REQUESTS=$COUNT; NET_SPAN=$SPAN; NET_CPU_APP=$CPU_APP; NET_CPU_SIM=$CPU_SIM; NET_CPU_X=$CPU_X; NET_CPU_OTHER=$CPU_OTHER
NET_FPS=$(calc "%.1f" "$NET_REQUESTS / 6 / $NET_SPAN")
NET_RECONNECTS=$((acc1 - acc0))
NET_CPU_FRAME=$(cpu_ms_per_frame "$APP_TICKS" "$NET_REQUESTS / 6"); NET_CPU_SECOND=$(cpu_ms_per_second "$APP_TICKS" "$NET_SPAN")
say "network mode: latency, $LATENCY_SAMPLES heading changes"
measure_latency network
stop_app

# 3. A held arrow key in position mode, under a fast X key repeat.
say "held arrow key: $HOLD_SECONDS s at repeat delay $REPEAT_DELAY_MS ms, $REPEAT_RATE_HZ per second"
make_run_dir held
STATUS="$RUN/status.txt"
start_app "$STATUS"
sleep 1
focus_app; xdotool key F11
wait_for 5 grep -qx 'position=1' "$STATUS" || die "position mode did not come on"
xset r rate "$REPEAT_DELAY_MS" "$REPEAT_RATE_HZ"
REPEAT_SET=$(xset q | sed -n 's/.*auto repeat delay: *\([0-9]*\) *repeat rate: *\([0-9]*\).*/delay \1 ms, \2 per second/p')
HELD_HANDLES_BEFORE=$(handles_of "$APP_PID"); HELD_RSS_BEFORE=$(rss_of "$APP_PID")
f0=$(sed -n 's/^frames=//p' "$STATUS")
focus_app
x0=$(ini_x); x0=${x0:-0}
t0=$(now)
xdotool keydown Right
sleep "$HOLD_SECONDS"
xdotool keyup Right
t1=$(now)
x1=$(ini_x)
f1=$(sed -n 's/^frames=//p' "$STATUS")
# Steps still queued when the key came up are counted apart.
last=$x1
for _ in $(seq 40); do sleep 0.25; x2=$(ini_x); [ "$x2" = "$last" ] && break; last=$x2; done
HELD_SPAN=$(calc "%.3f" "$t1 - $t0")
HELD_STEPS=$((x1 - x0)); HELD_LATE=$((x2 - x1))
HELD_RATE=$(calc "%.1f" "$HELD_STEPS / $HELD_SPAN")
HELD_OFFERED=$(calc "%d" "1 + int(($HELD_SPAN * 1000 - $REPEAT_DELAY_MS) * $REPEAT_RATE_HZ / 1000)")
HELD_FRAMES=$(( ${f1:-0} - ${f0:-0} ))
HELD_HANDLES_AFTER=$(handles_of "$APP_PID"); HELD_RSS_AFTER=$(rss_of "$APP_PID")
kill -0 "$APP_PID" 2>/dev/null && HELD_ALIVE=yes || HELD_ALIVE=no
stop_app

# 4. In-process figures.
say "in-process: link exchange and pause"
"$BENCH" link --exchanges 5000 --sleeps 1000 >"$WORK/link.txt" || die "korva_bench link failed"
say "in-process: value requests"
"$BENCH" net --port "$PORT" --frames 1000 --sleeps 1000 >"$WORK/net.txt" || die "korva_bench net failed"
say "in-process: $ATTEMPTS refused reconnection attempts"
"$BENCH" reconnect --attempts "$ATTEMPTS" >"$WORK/reconnect.txt" || die "korva_bench reconnect failed"
say "in-process: $RECREATIONS window re-creations (about $((RECREATIONS / 9)) s)"
"$BENCH" window --pictures "$PICTURES" --recreations "$RECREATIONS" --frames 150 >"$WORK/window.txt" \
  || die "korva_bench window failed"

# r FILE NAME: one raw figure.
r() { sed -n "s/^$2=//p" "$WORK/$1.txt"; }
ms() { calc "%.3f" "$(r "$1" "$2")"; }

EX=$(r link exchange_mean_ms); EX_MED=$(r link exchange_median_ms)
SL=$(r link sleep1_mean_ms); SL_MED=$(r link sleep1_median_ms)
FS_BOUND=$(calc "%.0f" "1000 / ($EX + $SL)")
FS_RATIO=$(calc "%.3f" "$FS_FPS / $FS_BOUND")
SIX=$(r net six_requests_mean_ms); SIX_MED=$(r net six_requests_median_ms)
RTT=$(r net request_mean_ms); RTT_MED=$(r net request_median_ms)
NSL=$(r net sleep1_mean_ms)
NET_BOUND=$(calc "%.0f" "1000 / ($SIX + $NSL)")
NET_RATIO=$(calc "%.3f" "$NET_FPS / $NET_BOUND")
DRAW=$(r window draw_swap_mean_ms)
FS_PARTS=$(calc "%.3f" "$EX + $SL + $DRAW")
NET_PARTS=$(calc "%.3f" "$SIX + $NSL + $DRAW")
REC=$(r window recreate_mean_ms)
REC_CEIL=$(calc "%.1f" "1000 / $REC")

# --- the machine ------------------------------------------------------------------------
CPU_MODEL=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
CORES=$(nproc)
MEM_GB=$(awk '/^MemTotal:/ { printf "%.1f", $2 / 1048576 }' /proc/meminfo)
RENDERER=$(glxinfo -B 2>/dev/null | sed -n 's/^OpenGL renderer string: //p')
GL_VERSION=$(glxinfo -B 2>/dev/null | sed -n 's/^OpenGL version string: //p')
COMMIT=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)

row() { printf '  %-46s %s\n' "$1" "$2"; }
cat <<EOF

KORVAVorAdf benchmark, $(date '+%Y-%m-%d %H:%M'), commit $COMMIT
Machine: ${CPU_MODEL:-unknown CPU}, $CORES cores, $MEM_GB GB, Linux $(uname -r)
Load average at start / end: $LOAD_START / $(cut -d' ' -f1-3 /proc/loadavg) (CPU shares below: % of one core)
Display: Xvfb 1280x1024x24 with openbox; renderer ${RENDERER:-unknown} (OpenGL ${GL_VERSION:-?})
LP_NUM_THREADS=$LP_NUM_THREADS (Mesa draws on one thread, as the tests run it)

Frame rate of the real instrument, frames counted by the stand-in
  mode      frames/s   loop bound/s   ratio   counted                       CPU: instrument / stand-in / Xvfb / others
EOF
printf '  %-9s %8s   %12s   %5s   %-29s %s\n' FSUIPC "$FS_FPS" "$FS_BOUND" "$FS_RATIO" \
  "$FS_FRAMES exchanges in $FS_SPAN s" "$FS_CPU_APP% / $FS_CPU_SIM% / $FS_CPU_X% / $FS_CPU_OTHER%"
printf '  %-9s %8s   %12s   %5s   %-29s %s\n' network "$NET_FPS" "$NET_BOUND" "$NET_RATIO" \
  "$NET_REQUESTS requests/6 in $NET_SPAN s" "$NET_CPU_APP% / $NET_CPU_SIM% / $NET_CPU_X% / $NET_CPU_OTHER%"
cat <<EOF
  FSUIPC bound  = 1 / (one exchange $(calc "%.3f" "$EX") ms + Sleep(1) $(calc "%.3f" "$SL") ms), means
  network bound = 1 / (six round trips $(calc "%.3f" "$SIX") ms + Sleep(1) $(calc "%.3f" "$NSL") ms), means
  network connections made while counting: $NET_RECONNECTS

Load of the instrument while counting (CPU time, user + system, from /proc/PID/stat)
  mode      frames/s   CPU ms per frame   CPU ms per second
EOF
printf '  %-9s %8s   %16s   %17s\n' FSUIPC "$FS_FPS" "$FS_CPU_FRAME" "$FS_CPU_SECOND"
printf '  %-9s %8s   %16s   %17s\n' network "$NET_FPS" "$NET_CPU_FRAME" "$NET_CPU_SECOND"
cat <<EOF

Latency from a heading change in the stand-in to the first frame showing it, ms (median / p99)
  mode      to the pixels on the X server   to the next frame's read   to the carrying read   frame period   changes
EOF
latency_row() {  # mode, file prefix
  local f=$2-latency
  printf '  %-9s %29s   %24s   %20s   %12s   %s\n' "$1" \
    "$(ms "$f" screen_median_ms) / $(ms "$f" screen_p99_ms)" "$(ms "$f" next_median_ms) / $(ms "$f" next_p99_ms)" \
    "$(ms "$f" carried_median_ms) / $(ms "$f" carried_p99_ms)" "$(ms "$f" period_median_ms)" \
    "$(r "$f" screen_samples) seen, $(r "$f" screen_unseen) unseen, $(r "$f" lost) lost"
}
latency_row FSUIPC fsuipc
latency_row network network
cat <<EOF
  pixels: the probe's first change of a band across the window after the carrying read,
  polling every $(ms fsuipc-latency probe_poll_interval_ms) / $(ms network-latency probe_poll_interval_ms) ms; the frame's swap returned between the carrying read and
  the next frame's read (frame period: median of that span); changes whose pixels came only
  after that read: $(r fsuipc-latency screen_after_next) / $(r network-latency screen_after_next)

In-process timings (korva_bench, mean / median)
EOF
row "one exchange, six reads (5000)" "$(ms link exchange_mean_ms) / $(ms link exchange_median_ms) ms"
row "Sleep(1), real length (1000)" "$(ms link sleep1_mean_ms) / $(ms link sleep1_median_ms) ms"
row "exchange + Sleep(1) in a loop" "$(ms link exchange_and_sleep_loop_mean_ms) ms"
row "one RequestValue round trip (6000)" "$(ms net request_mean_ms) / $(ms net request_median_ms) ms"
row "six requests of a network frame (1000)" "$(ms net six_requests_mean_ms) / $(ms net six_requests_median_ms) ms"
row "drawing + SwapBuffers, 400x400 (150)" "$(ms window draw_swap_mean_ms) / $(ms window draw_swap_median_ms) ms"
row "  drawing to glFinish / SwapBuffers alone" "$(ms window draw_finish_mean_ms) / $(ms window swap_mean_ms) ms (means)"
row "  drawing: card and face / needles / overlays" "$(ms window draw_dial_mean_ms) / $(ms window draw_needles_mean_ms) / $(ms window draw_overlays_mean_ms) ms (means)"
row "whole FSUIPC frame with swap (150)" "$(ms window frame_fsuipc_mean_ms) / $(ms window frame_fsuipc_median_ms) ms"
row "parts added: FSUIPC / network frame" "$FS_PARTS / $NET_PARTS ms = $(calc "%.0f" "1000 / $FS_PARTS") / $(calc "%.0f" "1000 / $NET_PARTS") frames/s"
cat <<EOF

Window re-creation (one arrow-key step) at $(r window window_outer_width) by $(r window window_outer_height), framed, link open: $( [ "$(r window link_open)" = 1 ] && echo yes || echo no )
EOF
row "first creation" "$(ms window first_creation_ms) ms"
row "re-creation, RecreateWindow ($RECREATIONS)" "$(ms window recreate_mean_ms) / $(ms window recreate_median_ms) ms (mean / median), p95 $(ms window recreate_p95_ms) ms"
row "first loop pass after it (messages, frame)" "$(ms window first_frame_mean_ms) ms"
row "re-creations per second, in-process ceiling" "$REC_CEIL (1 / re-creation time)"
row "  of which CreateWindowExA" "$(ms window call_create_mean_ms) ms"
row "  of which context (GetDC .. wglMakeCurrent)" "$(ms window call_context_mean_ms) ms"
row "  of which ShowWindow" "$(ms window call_show_mean_ms) ms"
row "  of which SetForegroundWindow, SetFocus" "$(ms window call_foreground_mean_ms) ms"
row "  of which twelve pictures + font" "$(ms window call_pictures_font_mean_ms) ms"
row "  of which icon file" "$(ms window call_icon_mean_ms) ms"
row "  of which teardown" "$(ms window call_destroy_mean_ms) ms"
row "held arrow key, real instrument" "$HELD_RATE steps/s ($HELD_STEPS steps in $HELD_SPAN s)"
row "  key repeat" "${REPEAT_SET:-?}: $HELD_OFFERED key-downs offered"
row "  steps after the key came up" "$HELD_LATE"
row "  frames drawn while held" "$HELD_FRAMES"
row "  instrument handles / RSS before, after" "$HELD_HANDLES_BEFORE / ${HELD_RSS_BEFORE} kB, $HELD_HANDLES_AFTER / ${HELD_RSS_AFTER} kB (alive: $HELD_ALIVE)"
cat <<EOF

Open handles and resident memory (korva_bench, /proc/self)
EOF
row "before the first window" "$(r window before_window_handles) handles, $(r window before_window_rss_kb) kB, $(r window before_window_threads) threads"
row "first window" "$(r window after_0_handles) handles, $(r window after_0_rss_kb) kB, $(r window after_0_threads) threads"
for n in $(printf '%s\n' 10 100 "$RECREATIONS" | sort -nu); do
  [ -n "$(r window after_${n}_handles)" ] || continue
  row "after $n re-creations" "$(r window after_${n}_handles) handles, $(r window after_${n}_rss_kb) kB, $(r window after_${n}_threads) threads"
done
row "before reconnection attempts" "$(r reconnect before_attempts_handles) handles, $(r reconnect before_attempts_rss_kb) kB"
for n in $(printf '%s\n' 10 1000 "$ATTEMPTS" | sort -nu); do
  [ -n "$(r reconnect after_attempts_${n}_handles)" ] || continue
  row "after $n refused attempts" "$(r reconnect after_attempts_${n}_handles) handles, $(r reconnect after_attempts_${n}_rss_kb) kB"
done
row "one refused attempt" "$(ms reconnect attempt_mean_ms) / $(ms reconnect attempt_median_ms) ms (mean / median), $(r reconnect attempts_connected) connected"

if [ "${BENCH_RAW:-0}" = 1 ]; then
  echo; echo "Raw figures"
  for f in link net reconnect window fsuipc-latency network-latency; do sed "s/^/  $f./" "$WORK/$f.txt"; done
fi
