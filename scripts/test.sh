#!/usr/bin/env bash
# Builds everything and runs every test: the unit and simulator tests, the Java
# tests under -Xcheck:jni, the same C++ tests under ASan+UBSan, the token module's
# stress test under TSan, and the fuzzers for a short time each (scripts/fuzz.sh
# runs them longer).
set -Eeuo pipefail
trap 'rc=$?; [ "$BASH_SUBSHELL" -gt 0 ] || echo "test.sh: line $LINENO: exit $rc from: $BASH_COMMAND" >&2' ERR
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"
bash scripts/setup.sh

jobs=$(nproc)
export JAVA_HOME=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}

echo "== build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
echo "== tests"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== sanitizer build (ASan + UBSan)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKEYSHELF_SANITIZE=ON -DKEYSHELF_JAVA_TESTS=OFF >/dev/null
cmake --build build-asan -j"$jobs" --target unit_tests module_seeds
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" -L unit

echo "== thread sanitizer: the token module under threads"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEYSHELF_TSAN=ON -DKEYSHELF_JAVA_TESTS=OFF >/dev/null
cmake --build build-tsan -j"$jobs" --target module_stress
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/module_stress 100

if [ -f tests/fuzz/CMakeLists.txt ]; then
  echo "== fuzzing (every target, in parallel)"
  bash scripts/fuzz.sh 20
fi
