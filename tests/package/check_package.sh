#!/usr/bin/env bash
# Installs the build into a fresh prefix, then configures, builds and runs a
# small consumer that finds the package with find_package(KeyShelf).
#   check_package.sh <build dir> <work dir>
set -Eeuo pipefail
trap 'rc=$?; [ "$BASH_SUBSHELL" -gt 0 ] || echo "check_package.sh: line $LINENO: exit $rc from: $BASH_COMMAND" >&2' ERR
build=$1
work=$2
src="$(cd "$(dirname "$0")" && pwd)"
rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
test -f "$work/prefix/include/keyshelf/libapdu.h"
cmake -S "$src/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
# The installed libraries, not the build tree's, are the ones loaded.
for consumer in consumer consumer_ocf; do
  libs=$(ldd "$work/consumer/$consumer")
  grep -q "$work/prefix/" <<<"$libs" || { echo "$consumer does not load the installed library" >&2; exit 1; }
  "$work/consumer/$consumer"
done
