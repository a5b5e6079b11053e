#!/bin/bash
# The main job: installs what is missing, builds, and starts the simulator stand-in flying
# the demo circuit together with the instrument in the run folder build/run, so that the
# card and the needles move at once.
#   bash scripts/run.sh              FSUIPC mode (the stand-in is the local simulator)
#   bash scripts/run.sh --network    network mode (the stand-in's data server on 127.0.0.1)
#   --speed N                        demo flight N times faster than real time
#   --port P                         data server port in network mode (default 8888)
# Without a display it runs on a virtual one and saves a screenshot every few seconds into
# build/screenshots/ (latest.png is always the newest).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/lib/display.sh"

mode=fsuipc
speed=1
port=8888
while [ $# -gt 0 ]; do
  case "$1" in
    --network) mode=network ;;
    --fsuipc) mode=fsuipc ;;
    --speed) speed="$2"; shift ;;
    --port) port="$2"; shift ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown option $1 (try --help)" >&2; exit 2 ;;
  esac
  shift
done

KORVA_TARGETS="KORVAVorAdf simstandin pictures" bash "$root/scripts/build.sh" "$root/build"
build="$root/build"
run="$build/run"
app="$build/KORVAVorAdf"
standin="$build/tools/simstandin/simstandin"

# Sets one entry of the run folder's configuration file, keeping every other line.
ini_set() {
  local file="$run/KORVAVorAdf.INI" section=$1 key=$2 value=$3
  touch "$file"
  awk -v s="$section" -v k="$key" -v v="$value" '
    BEGIN { done = 0 }
    /^[ \t]*\[/ { if (insec && !done) { print k "=" v; done = 1 }
                  name = $0; gsub(/[][ \t\r]/, "", name); insec = (toupper(name) == toupper(s)) }
    insec && !done { split($0, kv, "="); key = kv[1]; gsub(/[ \t]/, "", key)
                     if (toupper(key) == toupper(k)) { print k "=" v; done = 1; next } }
    { print }
    END { if (!done) { if (!insec) print "[" s "]"; print k "=" v } }
  ' "$file" > "$file.new" && mv "$file.new" "$file"
}

if [ "$mode" = network ]; then
  ini_set LAN USELAN Y
  ini_set LAN KORVASERVER 127.0.0.1
  ini_set LAN KORVAPORT "$port"
else
  ini_set LAN USELAN N
fi

pids=()
cleanup() {
  for ((i=${#pids[@]}-1; i>=0; i--)); do kill "${pids[$i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM

headless=0
if [ -z "${DISPLAY:-}" ]; then
  headless=1
  start_virtual_display || { pids+=("$XVFB_PID"); exit 1; }
  pids+=("$XVFB_PID")
  export LP_NUM_THREADS=${LP_NUM_THREADS:-1}
  echo "run.sh: no display, so the instrument runs on the virtual display $DISPLAY"
fi

# The stand-in: the local simulator (and in network mode its data server), flying the demo.
standin_args=(--demo --speed "$speed")
[ "$mode" = network ] && standin_args+=(--no-link --serve "$port")
standin_out=$(mktemp)
"$standin" "${standin_args[@]}" </dev/null >"$standin_out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^ready' "$standin_out" && break; kill -0 "${pids[-1]}" 2>/dev/null || break; sleep 0.05; done
if ! grep -q '^ready' "$standin_out"; then
  echo "run.sh: the simulator stand-in did not start:" >&2
  cat "$standin_out" >&2
  exit 1
fi
echo "run.sh: simulator stand-in flying the demo circuit ($mode mode, speed $speed)"

cd "$run"
"$app" &
app_pid=$!
pids+=($app_pid)
echo "run.sh: instrument started in $run (Escape in its window ends it)"

if [ "$headless" = 1 ]; then
  shots="$build/screenshots"
  mkdir -p "$shots"
  echo "run.sh: saving a screenshot every 5 seconds into $shots (latest.png is the newest)"
  count=0
  while kill -0 "$app_pid" 2>/dev/null; do
    sleep 5
    win=$(xdotool search --onlyvisible --name '^TAVRO' 2>/dev/null | head -1 || true)
    [ -n "$win" ] || continue
    count=$((count + 1))
    file=$(printf '%s/instrument-%04d.png' "$shots" "$count")
    import -window "$win" "$file" 2>/dev/null && cp "$file" "$shots/latest.png"
    # Keep the newest hundred.
    ls -1 "$shots"/instrument-*.png 2>/dev/null | head -n -100 | xargs -r rm -f
  done
fi
wait "$app_pid" || true
