#!/bin/bash
# Our profile functions beside the platform's own: the same probe program, built natively
# against platform/posix and cross-built against Windows' kernel32 (run under wine64 in a
# fresh prefix), lists every corpus file and replays seeded random write sequences; the two
# outputs must agree byte for byte. The one known difference (docs/user-guide.md, "INI files
# on Linux and Windows") is checked to be just that.
source "$(dirname "$0")/lib/harness.sh"

SRC="${KORVA_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}"
WINE64=/usr/lib/wine/wine64
CXX_WIN=x86_64-w64-mingw32-g++-posix
for tool in "$WINE64" "$(command -v $CXX_WIN)"; do
  [ -x "$tool" ] || { fail "missing ${tool:-$CXX_WIN} (scripts/setup.sh installs it)"; finish; }
done

probe_sources=("$SRC/tests/sidebyside/profile_probe.cpp")
g++ -std=c++17 -O1 -I"$SRC" "${probe_sources[@]}" "$SRC/platform/posix/posix_profile.cpp" \
  "$SRC/platform/posix/posix_common.cpp" "$SRC/platform/posix/posix_system.cpp" -o "$WORK/probe" 2>"$WORK/cc.txt" \
  || { fail "native probe: $(head -5 "$WORK/cc.txt")"; finish; }
$CXX_WIN -std=c++17 -O1 -static -I"$SRC" "${probe_sources[@]}" -o "$WORK/probe.exe" 2>"$WORK/cc.txt" \
  || { fail "Windows probe: $(head -5 "$WORK/cc.txt")"; finish; }

export WINEPREFIX="$WORK/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="winedbg.exe=d;mscoree,mshtml="
"$WINE64" wineboot -i >/dev/null 2>&1
/usr/lib/wine/wineserver -w

run_both() {  # run_both NAME ARGS...: the probe in two copies of one folder
  local name=$1; shift
  (cd "$WORK/linux" && "$WORK/probe" "$@") >"$WORK/$name.linux" 2>&1
  (cd "$WORK/wine" && "$WINE64" "$WORK/probe.exe" "$@") >"$WORK/$name.wine" 2>/dev/null
}
fresh_folders() {
  rm -rf "$WORK/linux" "$WORK/wine"; mkdir -p "$WORK/linux" "$WORK/wine"
  cp "$SRC"/tests/data/ini/*.ini "$WORK/linux/"; cp "$SRC"/tests/data/ini/*.ini "$WORK/wine/"
}

# Every corpus file read whole. duplicates.ini is the known difference: our enumeration names a
# repeated section or key once, Wine's repeats it (under each one's own spelling); every
# value read is the same.
fresh_folders
corpus=$(cd "$WORK/linux" && ls *.ini | grep -vx duplicates.ini)
run_both corpus list $corpus
if cmp -s "$WORK/corpus.linux" "$WORK/corpus.wine"; then
  pass "$(wc -w <<<"$corpus") corpus files list the same"
else
  fail "corpus listings differ: $(diff "$WORK/corpus.linux" "$WORK/corpus.wine" | head -10)"
fi
run_both dup list duplicates.ini
names_and_values() { grep -v '^==' "$1" | tr a-z A-Z | sort -u; }
if [ "$(names_and_values "$WORK/dup.wine")" = "$(names_and_values "$WORK/dup.linux")" ]; then
  pass "duplicates.ini: the same names and values, Wine repeating the repeated ones"
else
  fail "duplicates.ini differs beyond repeated names: $(diff "$WORK/dup.linux" "$WORK/dup.wine" | head -10)"
fi

# Seeded random writes (keys and sections added, replaced, deleted; names differing in case;
# values with blanks, quotes, '=' and ';'), from an empty file and from corpus files.
for start in - plain crlf comments bom quotes case-and-blanks keys-before-section no-final-newline mixed-line-ends; do
  for seed in 1 2; do
    fresh_folders
    file=edited.ini label="an empty file"
    [ "$start" = - ] || { file="$start.ini"; label=$file; }
    run_both edits edits "$file" "$seed$((${#start}))" 120
    if cmp -s "$WORK/edits.linux" "$WORK/edits.wine"; then
      pass "120 writes from $label (seed $seed): the same after every write"
    else
      fail "writes from $label (seed $seed) differ: $(diff "$WORK/edits.linux" "$WORK/edits.wine" | head -10)"
    fi
  done
done
/usr/lib/wine/wineserver -k 2>/dev/null
finish
