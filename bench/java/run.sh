#!/usr/bin/env bash
# Builds the Java road benchmark in a Release tree (default build-bench/ at the top of
# the repository) and runs it: the library's key-store calls against the bare
# CardChannel.transmit of the same APDUs, on a card that answers at once.
#
# usage: bench/java/run.sh [--no-build] [BUILD_DIR] [-Dbench.rounds=N -Dbench.warmup=N -Dbench.batch=N ...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=1
if [ "${1:-}" = "--no-build" ]; then build=0; shift; fi
dir="$top/build-bench"
if [ $# -gt 0 ] && [ "${1#-D}" = "$1" ]; then dir=$1; shift; fi

if [ "$build" = 1 ]; then
  cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DKEYSHELF_BENCH=ON >/dev/null
  cmake --build "$dir" --target java_bench -j4 >/dev/null
fi
args="$dir/bench/java/java_bench.args"
[ -f "$args" ] || { echo "run.sh: $args missing: configure with -DKEYSHELF_BENCH=ON" >&2; exit 1; }
mapfile -t cmd < "$args"
java=${cmd[0]}
exec "$java" "${cmd[@]:1}" "$@" io.keyshelf.bench.JavaRoadBench
