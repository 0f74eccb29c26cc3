#!/usr/bin/env bash
# The shared library carries the hardening of a library loaded into other
# people's processes: full RELRO (read-only relocations, bound at load), the
# stack protector, and (in optimised builds) fortified C library calls.
#   check_hardening.sh <library> <fortified: 0 or 1>
set -Eeuo pipefail
trap 'rc=$?; [ "$BASH_SUBSHELL" -gt 0 ] || echo "check_hardening.sh: line $LINENO: exit $rc from: $BASH_COMMAND" >&2' ERR
lib=$1
fortified=$2
fail() { echo "$lib: $*" >&2; exit 1; }
# Read whole before matching: grep -q leaving early would fail the pipe.
segments=$(readelf -lW "$lib")
dynamic=$(readelf -dW "$lib")
undefined=$(nm -D --undefined-only "$lib")
grep -q GNU_RELRO <<<"$segments" || fail "no RELRO segment"
grep -Eq 'BIND_NOW|FLAGS.*NOW' <<<"$dynamic" || fail "not bound at load (-z now)"
grep -q __stack_chk_fail <<<"$undefined" || fail "no stack protector"
if [ "$fortified" = 1 ]; then
  grep -q '_chk@' <<<"$undefined" || fail "no fortified C library calls"
fi
echo ok
