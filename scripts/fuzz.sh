#!/usr/bin/env bash
# Runs the libFuzzer targets in parallel over the cores, each from a fresh copy
# of its seed corpus (tests/fuzz/corpus/<target>), and prints one table.
#   scripts/fuzz.sh [SECONDS] [TARGET...]     (default: 60 seconds, every target)
# Exit 1 when a target crashes (or leaks, times out, runs out of memory): its
# reproducer is kept under build-fuzz/fuzz-run/<target>/artifacts and the
# command that replays it is printed.
set -Eeuo pipefail
trap 'rc=$?; [ "$BASH_SUBSHELL" -gt 0 ] || echo "fuzz.sh: line $LINENO: exit $rc from: $BASH_COMMAND" >&2' ERR
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"

seconds=60
if [ $# -gt 0 ] && [[ $1 =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for f in tests/fuzz/fuzz_*.cpp; do
    n=$(basename "$f" .cpp)
    targets+=("${n#fuzz_}")
  done
fi

build=${KEYSHELF_FUZZ_BUILD:-build-fuzz}
jobs=$(nproc)
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DKEYSHELF_FUZZ=ON -DKEYSHELF_TESTS=ON \
  -DKEYSHELF_JAVA_TESTS=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target $(printf 'fuzz_%s ' "${targets[@]}") >/dev/null

run="$build/fuzz-run"
for t in "${targets[@]}"; do
  rm -rf "$run/$t"
  mkdir -p "$run/$t/corpus" "$run/$t/artifacts"
  if [ -d "tests/fuzz/corpus/$t" ]; then cp -r "tests/fuzz/corpus/$t/." "$run/$t/corpus/"; fi
done

# One fuzzer per core; each writes its log and exit code next to its corpus.
export run seconds build
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c '
  t={}; d="$run/$t"
  set +e
  "$build/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$d/artifacts/" "$d/corpus" >"$d/log" 2>&1
  echo $? >"$d/rc"'

crashed=0
printf '%-20s %12s %10s %7s %9s %8s %8s\n' target inputs inputs/s edges features corpus crashes
for t in "${targets[@]}"; do
  d="$run/$t"
  stat() { sed -n "s/^stat::$1: *//p" "$d/log" | tail -1; }
  last=$(grep -E ' cov: [0-9]+' "$d/log" | tail -1 || true)
  field() { sed -nE "s/.* $1: ([0-9]+).*/\\1/p" <<<"$last"; }
  crashes=$(find "$d/artifacts" -type f | wc -l)
  rc=$(cat "$d/rc" 2>/dev/null || echo 1)
  if [ "$rc" != 0 ] && [ "$crashes" = 0 ]; then crashes=1; fi
  printf '%-20s %12s %10s %7s %9s %8s %8s\n' "$t" "$(stat number_of_executed_units)" \
    "$(stat average_exec_per_sec)" "$(field cov)" "$(field ft)" "$(find "$d/corpus" -type f | wc -l)" "$crashes"
  [ "$crashes" = 0 ] || crashed=1
done

if [ "$crashed" = 1 ]; then
  echo
  for t in "${targets[@]}"; do
    d="$run/$t"
    [ "$(cat "$d/rc")" = 0 ] && continue
    echo "== $t failed; log: $d/log"
    grep -m5 -E 'ERROR|runtime error|SUMMARY|deadly signal|Test unit written' "$d/log" || true
    for a in "$d"/artifacts/*; do
      [ -f "$a" ] && echo "replay: $build/tests/fuzz/fuzz_$t $a"
    done
  done
  exit 1
fi
