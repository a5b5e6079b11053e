#!/bin/bash
# Builds the libFuzzer targets (clang-14, ASan + UBSan) into build-fuzz/, replays the saved
# findings of tests/data/fuzz-regressions/<target>/, then fuzzes each target for a while.
# Usage: scripts/fuzz.sh [target...]   (profile bitmap icon reply link atoms; default all)
#   FUZZ_SECONDS  time per target, default 60; 0 only builds and replays
#   FUZZ_BUILD    build folder, default build-fuzz
# A finding fails the script; its input is copied to tests/data/fuzz-regressions/<target>/
# so that it is replayed from then on. The corpus grown so far stays in FUZZ_BUILD/corpus/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${FUZZ_SECONDS:-60}"
build="${FUZZ_BUILD:-$root/build-fuzz}"
all=(profile bitmap icon reply link atoms)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")

for t in "${targets[@]}"; do
  [[ " ${all[*]} " == *" $t "* ]] || { echo "fuzz: unknown target '$t' (${all[*]})" >&2; exit 2; }
done

bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DKORVA_FUZZ=ON -DKORVA_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_C_COMPILER=clang-14 >/dev/null
nice cmake --build "$build" -j2 --target $(printf 'fuzz_%s ' "${targets[@]}")

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
data="$root/tests/data"

# Seed files of a target: the project's own test data where it has some, and hand-made ones.
seed_sources() {
  case "$1" in
    profile) find "$data/ini" -name '*.ini' ;;
    bitmap) find "$data/bmpsuite" -name '*.bmp' ;;
    icon) find "$data/bmpsuite/g" -name '*.bmp' ;;
  esac
  [ -d "$root/tests/fuzz/seeds/$1" ] && find "$root/tests/fuzz/seeds/$1" -type f
  return 0
}

# Largest input each target is given; pictures need room for their pixels.
max_len() {
  case "$1" in
    bitmap|icon) echo 65536 ;;
    link) echo 2048 ;;
    *) echo 4096 ;;
  esac
}

# The targets' scratch files, in memory where possible; a crashed target cannot clean up.
scratch="$(mktemp -d "$( [ -w /dev/shm ] && echo /dev/shm || echo /tmp)/korva-fuzz-run-XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
export KORVA_FUZZ_SCRATCH="$scratch"

status=0
for t in "${targets[@]}"; do
  bin="$build/tests/fuzz/fuzz_$t"
  regressions="$data/fuzz-regressions/$t"

  if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions" 2>/dev/null)" ]; then
    echo "fuzz: $t: replaying $(ls "$regressions" | wc -l) saved finding(s)"
    if ! nice "$bin" -runs=0 "$regressions"/* >"$build/replay-$t.log" 2>&1; then
      echo "fuzz: $t: a saved finding fails again; see $build/replay-$t.log" >&2
      tail -n 30 "$build/replay-$t.log" >&2
      status=1
      continue
    fi
  fi
  [ "$seconds" -gt 0 ] || continue

  seeds="$build/seeds/$t"
  corpus="$build/corpus/$t"
  artifacts="$build/artifacts/$t"
  rm -rf "$seeds" "$artifacts"
  mkdir -p "$seeds" "$corpus" "$artifacts"
  seed_sources "$t" | while read -r f; do cp "$f" "$seeds/$(basename "$(dirname "$f")")-$(basename "$f")"; done

  echo "fuzz: $t: running for ${seconds}s"
  log="$build/fuzz-$t.log"
  if nice "$bin" -max_total_time="$seconds" -max_len="$(max_len "$t")" -timeout=30 -print_final_stats=1 \
       -artifact_prefix="$artifacts/" "$corpus" "$seeds" >"$log" 2>&1; then
    grep -E '^#[0-9]+.*DONE|stat::number_of_executed_units|cov:' "$log" | tail -n 2 | sed "s/^/fuzz: $t: /"
  else
    status=1
    mkdir -p "$regressions"
    found=0
    for f in "$artifacts"/*; do
      [ -f "$f" ] || continue
      cp "$f" "$regressions/"
      found=1
      echo "fuzz: $t: FINDING, input kept as tests/data/fuzz-regressions/$t/$(basename "$f")" >&2
    done
    [ "$found" = 1 ] || echo "fuzz: $t: the fuzzer failed without leaving an input" >&2
    grep -E 'ERROR|finding|SUMMARY|runtime error' "$log" | head -n 5 >&2 || true
    echo "fuzz: $t: full report in $log" >&2
  fi
done
exit $status
