#!/usr/bin/env bash
# Runs the JUnit console launcher under -Xcheck:jni and fails when the JVM printed
# any JNI check warning or error, even if every test passed: -Xcheck:jni only
# warns about a JNI call made with an exception pending or a native frame that
# outgrew its local capacity, and those are the faults we run it for.
#
# usage: run-junit.sh JAVA LOGFILE [JVM and launcher arguments...]
set -u
java=$1
log=$2
shift 2

"$java" -Xcheck:jni "$@" 2>&1 | tee "$log"
rc=${PIPESTATUS[0]}

# Messages of the JVM's JNI checker, and a crash report of the JVM itself.
pattern='WARNING in native method|FATAL ERROR in native method|WARNING: JNI local refs|JNI (call|function).*(exception|pending)|A fatal error has been detected by the Java Runtime'
problems=$(grep -E "$pattern" "$log" || true)
if [ -n "$problems" ]; then
  echo
  echo "run-junit: -Xcheck:jni reported problems (treated as a failure):"
  echo "$problems"
  exit 1
fi
if [ "$rc" -ne 0 ]; then
  echo "run-junit: the JUnit launcher exited with $rc"
fi
exit "$rc"
