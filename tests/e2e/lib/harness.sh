# Shared helpers for the end-to-end tests: a private X server, a window manager, a run
# folder with the pictures, the instrument started there, and polling with deadlines.
# Source it from a test script; everything started is ended by PID on exit.

set -uo pipefail
source "${KORVA_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)}/scripts/lib/display.sh"

: "${KORVA_BUILD_DIR:?}"
: "${KORVA_RUN_DIR:=$KORVA_BUILD_DIR/run}"
export LP_NUM_THREADS=${LP_NUM_THREADS:-1}
KORVA_APP="$KORVA_BUILD_DIR/KORVAVorAdf"
TITLE_FSUIPC='TAVRO VOR/ADF v1.2 - Freeware  [FSUIPC]'
TITLE_NETWORK='TAVRO VOR/ADF v1.2 - Freeware [NETWORK]'

_pids=()
_failures=0
WORK=$(mktemp -d /tmp/korva-e2e-XXXXXX)
# A link folder of this test's own, so that no other simulator stand-in can answer here.
export KORVA_LINK_DIR="$WORK/link"
mkdir -m 0700 "$KORVA_LINK_DIR"

cleanup() {
  end_processes "${_pids[@]}"
  rm -rf "$WORK"
}
trap cleanup EXIT

log() { echo "[$(date +%T.%N | cut -c1-12)] $*"; }
fail() { log "FAIL: $*"; _failures=$((_failures+1)); }
pass() { log "ok: $*"; }
finish() {
  if [ "$_failures" -eq 0 ]; then log "all checks passed"; exit 0; fi
  log "$_failures check(s) failed"; exit 1
}

# The private X server (with a quick key repeat) and window manager, ended on exit.
start_xvfb() {
  start_virtual_display -noreset -ardelay 250 -arinterval 50
  local started=$?
  _pids+=("$XVFB_PID")
  [ "$started" -eq 0 ] || { fail "Xvfb did not start"; finish; }
}
start_openbox() {
  start_window_manager
  local started=$?
  _pids+=("$OPENBOX_PID")
  [ "$started" -eq 0 ] || { fail "openbox did not come up"; finish; }
}

# A run folder holding the pictures and the icon; an optional INI text as argument.
make_run_dir() {
  RUN="$WORK/run$((++_runs))"
  mkdir -p "$RUN"
  cp "$KORVA_RUN_DIR"/*.txr "$KORVA_RUN_DIR"/font.bmp "$KORVA_RUN_DIR"/plane2.ico "$RUN"/
  if [ $# -gt 0 ]; then printf '%s' "$1" > "$RUN/KORVAVorAdf.INI"; fi
}
_runs=0

# Starts the instrument in $RUN; APP_PID, APP_ERR (its standard error) and STATUS are set.
start_app() {
  APP_ERR="$RUN/stderr.txt"
  STATUS="$RUN/status.txt"
  (cd "$RUN" && KORVA_STATUS_FILE="$STATUS" exec "$KORVA_APP" 2>"$APP_ERR" >/dev/null) &
  APP_PID=$!
  _pids+=($APP_PID)
}

# The instrument's window id (the first visible window whose name starts with TAVRO).
find_window() { xdotool search --onlyvisible --name '^TAVRO' 2>/dev/null | head -1; }
wait_window() {
  wait_for "${1:-10}" bash -c '[ -n "$(xdotool search --onlyvisible --name "^TAVRO" 2>/dev/null | head -1)" ]' || return 1
  WIN=$(find_window)
}

window_name() { xdotool getwindowname "$WIN" 2>/dev/null; }

# Client geometry of the window: sets GX GY GW GH (absolute client position and size).
geometry() {
  local info; info=$(xwininfo -id "$1" 2>/dev/null) || return 1
  GX=$(awk '/Absolute upper-left X/ {print $4}' <<<"$info")
  GY=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$info")
  GW=$(awk '/Width:/ {print $2}' <<<"$info")
  GH=$(awk '/Height:/ {print $2}' <<<"$info")
}

# _NET_FRAME_EXTENTS of a window: sets FL FR FT FB (0 when the window has none).
frame_extents() {
  local v; v=$(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= //p')
  if [ -z "$v" ]; then FL=0; FR=0; FT=0; FB=0; return; fi
  IFS=', ' read -r FL FR FT FB <<<"$v"
}

# One entry of the run folder's configuration file (first match, case-insensitive).
ini_get() {
  local section=$1 key=$2
  awk -v s="$section" -v k="$key" '
    BEGIN { IGNORECASE=1 }
    /^\[/ { gsub(/[\[\]\r ]/,""); insec = (toupper($0)==toupper(s)); next }
    insec { line=$0; sub(/\r$/,"",line); split(line, kv, "="); gsub(/ /,"",kv[1]);
            if (toupper(kv[1])==toupper(k)) { v=substr(line, index(line,"=")+1); gsub(/^ +| +$/,"",v); print v; exit } }
  ' "$RUN/KORVAVorAdf.INI" 2>/dev/null
}

status_get() { sed -n "s/^$1=//p" "$STATUS" 2>/dev/null; }
frames() { status_get frames; }

# Every move or resize step makes a new window, so look the window up again before a key.
focus_app() {
  wait_window 10 || return 1
  xdotool windowactivate --sync "$WIN" >/dev/null 2>&1 || xdotool windowfocus --sync "$WIN" >/dev/null 2>&1
  wait_for 2 bash -c "[ \"\$(xdotool getactivewindow 2>/dev/null)\" = '$WIN' ]"
}
press() { local k; for k in "$@"; do focus_app; xdotool key "$k"; sleep 0.15; done; }

# Waits for the instrument to exit; sets APP_RC.
wait_exit() {
  local deadline=${1:-10}
  wait_for "$deadline" bash -c "! kill -0 $APP_PID 2>/dev/null" || { APP_RC=timeout; return 1; }
  wait "$APP_PID" 2>/dev/null; APP_RC=$?
}

# The window gets re-created by moves and resizes; waits until a window with the title
# stands at client position x,y (and optionally size w,h).
wait_client_at() {
  local x=$1 y=$2 w=${3:-} h=${4:-}
  local end=$(( $(date +%s%N) + 10 * 1000000000 ))
  while [ "$(date +%s%N)" -lt "$end" ]; do
    WIN=$(find_window)
    if [ -n "$WIN" ] && geometry "$WIN"; then
      if [ "$GX" = "$x" ] && [ "$GY" = "$y" ] && { [ -z "$w" ] || { [ "$GW" = "$w" ] && [ "$GH" = "$h" ]; }; }; then
        return 0
      fi
    fi
    sleep 0.05
  done
  return 1
}
