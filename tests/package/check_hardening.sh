#!/usr/bin/env bash
# The shared library carries the hardening of a library loaded into other
# people's processes: full RELRO (read-only relocations, bound at load), the
# stack protector, and (in optimised builds) fortified C library calls.
#   check_hardening.sh <library> <fortified: 0 or 1>
set -euo pipefail
lib=$1
fortified=$2
fail() { echo "$lib: $*" >&2; exit 1; }
readelf -lW "$lib" | grep -q GNU_RELRO || fail "no RELRO segment"
readelf -dW "$lib" | grep -Eq 'BIND_NOW|FLAGS.*NOW' || fail "not bound at load (-z now)"
nm -D --undefined-only "$lib" | grep -q __stack_chk_fail || fail "no stack protector"
if [ "$fortified" = 1 ]; then
  nm -D --undefined-only "$lib" | grep -q '_chk@' || fail "no fortified C library calls"
fi
echo ok
