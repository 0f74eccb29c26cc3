#!/usr/bin/env bash
# A short key-store session from Java over libKeyShelfJx.
#   scripts/demo.sh            against a simulated Java token through the PC/SC stack
#                              (a private pcscd with the vpcd driver, the card simulator)
#   scripts/demo.sh --card KIND [--fips]
#                              the same against a simulated token of that kind: java,
#                              heron, kite16, kite32, kite42, kite42b, gost, gost2,
#                              datastore or tessel (--fips: a Java, Heron or Kite token
#                              in FIPS mode)
#   scripts/demo.sh --reader [NAME]
#                              against the first reader with a card (or the one named)
# The PIN of the login step: against the simulator its user PIN (1234; Gost
# 123456, Gost2 12345678) unless
# KEYSHELF_DEMO_PIN=... says otherwise; against a reader KEYSHELF_DEMO_PIN, and
# without one the login is skipped.
set -Eeuo pipefail
trap 'rc=$?; [ "$BASH_SUBSHELL" -gt 0 ] || echo "demo.sh: line $LINENO: exit $rc from: $BASH_COMMAND" >&2' ERR
card=java
sim_opts=()
if [ "${1:-}" = "--card" ]; then
  card=${2:-}
  case "$card" in
    java|heron|kite16|kite32|kite42|kite42b|gost|gost2|datastore|tessel) ;;
    *) echo "demo.sh: --card takes java, heron, kite16, kite32, kite42, kite42b, gost, gost2, datastore or tessel" >&2
       exit 2 ;;
  esac
  shift 2
  if [ "${1:-}" = "--fips" ]; then
    sim_opts+=(--fips)
    shift
  fi
fi
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"
bash scripts/setup.sh
export JAVA_HOME=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}

# An existing build tree keeps its own build type.
[ -f build/CMakeCache.txt ] || cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j4 --target KeyShelfJx cardsim_server >/dev/null

lib=$(dirname "$(find build -name libKeyShelfJx.so -print -quit)")
classes=build/demo-classes
rm -rf "$classes"
javac --release 17 -d "$classes" tests/java/src/io/keyshelf/pellar/zudezozud/zid/z6ez/KeyShelfJx.java demo/KeyStoreDemo.java
# The whole cache first: awk leaving at its match would fail the pipe (SIGPIPE).
libcache=$(ldconfig -p)
pcsclib=$(awk '/libpcsclite.so.1 /{print $NF; exit}' <<<"$libcache")
jvm=(java -Djava.library.path="$lib" -cp "$classes")
[ -n "$pcsclib" ] && jvm+=(-Dsun.security.smartcardio.library="$pcsclib")

# A DataStore token stores only the FIDs of its key table: its container is CC00.
[ "$card" = datastore ] && export KEYSHELF_DEMO_DIR=${KEYSHELF_DEMO_DIR:-cc00}
if [ "${1:-}" = "--reader" ]; then
  exec "${jvm[@]}" KeyStoreDemo "${2:-}" "${KEYSHELF_DEMO_PIN:-}"
fi

rigdir=$(mktemp -d /tmp/keyshelf-demo.XXXXXX)
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
  bash tests/java/pcsc/pcscd-rig.sh stop "$rigdir" >/dev/null 2>&1 || true
  rm -rf "$rigdir"
}
trap cleanup EXIT
sim_pin=1234
case "$card" in
  gost) sim_pin=123456 ;;
  gost2) sim_pin=12345678 ;;
esac
if [ -n "${KEYSHELF_DEMO_PIN:-}" ]; then
  pin=$KEYSHELF_DEMO_PIN pin_source="from KEYSHELF_DEMO_PIN; the simulator's is $sim_pin"
else
  pin=$sim_pin pin_source="the simulator's user PIN"
fi
bash tests/java/pcsc/pcscd-rig.sh start "$rigdir" "$port" >/dev/null
build/tests/cardsim_server --card "$card" "${sim_opts[@]}" --pin "$sim_pin" --vpcd "127.0.0.1:$port" >/dev/null &
sim_pid=$!
PCSCLITE_CSOCK_NAME="$rigdir/pcscd.comm" "${jvm[@]}" KeyStoreDemo "KeyShelf Test PCD 00 00" "$pin" "$pin_source"
