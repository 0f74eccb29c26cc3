#!/usr/bin/env bash
# Builds the Java road benchmark in a Release tree (default build-bench/ at the top of
# the repository) and runs it: the library's key-store calls against the bare
# CardChannel.transmit of the same APDUs, on a card that answers at once. With
# --soak, the soak instead: eight threads on eight simulated tokens, a million
# native calls mixing all thirteen, calls per second and resident memory.
#
# usage: bench/java/run.sh [--soak] [--no-build] [BUILD_DIR] [-Dbench.rounds=N -Dbench.warmup=N -Dbench.batch=N ...]
#        bench/java/run.sh --soak [--no-build] [BUILD_DIR] [-Dbench.threads=N -Dbench.calls=N]
set -Eeuo pipefail
trap 'rc=$?; [ "$BASH_SUBSHELL" -gt 0 ] || echo "run.sh: line $LINENO: exit $rc from: $BASH_COMMAND" >&2' ERR
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
target=java_bench
main=io.keyshelf.bench.JavaRoadBench
if [ "${1:-}" = "--soak" ]; then target=java_soak; main=io.keyshelf.jtest.KeyShelfSoak; shift; fi
build=1
if [ "${1:-}" = "--no-build" ]; then build=0; shift; fi
dir="$top/build-bench"
if [ $# -gt 0 ] && [ "${1#-D}" = "$1" ]; then dir=$1; shift; fi

if [ "$build" = 1 ]; then
  cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DKEYSHELF_BENCH=ON >/dev/null
  cmake --build "$dir" --target "$target" -j4 >/dev/null
fi
args="$dir/bench/java/$target.args"
[ -f "$args" ] || { echo "run.sh: $args missing: configure with -DKEYSHELF_BENCH=ON" >&2; exit 1; }
mapfile -t cmd < "$args"
java=${cmd[0]}
exec "$java" "${cmd[@]:1}" "$@" "$main"
