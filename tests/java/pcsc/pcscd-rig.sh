#!/usr/bin/env bash
# A private PC/SC stack for the Java tests: pcscd with the vpcd virtual reader
# driver listening on a port of our own, its client socket in a directory of our
# own, so the tests neither need nor disturb a system pcscd.
#
#   pcscd-rig.sh start DIR PORT   start pcscd; vpcd waits for a virtual card on
#                                 PORT (and PORT+1 for its second slot); prints
#                                 PCSCLITE_CSOCK_NAME=DIR/pcscd.comm on success
#   pcscd-rig.sh stop DIR         stop the pcscd that "start DIR" started
#
# A client (libpcsclite, so Java's SunPCSC too) reaches this daemon when its
# environment has PCSCLITE_CSOCK_NAME=DIR/pcscd.comm. pcscd 1.9 itself ignores
# that variable and always serves /run/pcscd/pcscd.comm, so it runs in a mount
# namespace of its own where DIR is bound over /run/pcscd. Where namespaces are
# not allowed and no system pcscd is running, it serves the system path and DIR
# holds a link to that socket instead.
#
# Needs: pcscd, vsmartcard-vpcd (driver), util-linux (unshare, setsid).
set -u

die() {
  echo "pcscd-rig: $*" >&2
  exit 1
}

usage() {
  die "usage: $0 start DIR PORT | stop DIR"
}

PCSCD=${PCSCD:-$(command -v pcscd || echo /usr/sbin/pcscd)}
VPCD_DRIVER=${VPCD_DRIVER:-}
SYSTEM_SOCKET=/run/pcscd/pcscd.comm
READER_NAME="KeyShelf Test PCD"

find_driver() {
  if [ -n "$VPCD_DRIVER" ]; then echo "$VPCD_DRIVER"; return; fi
  for f in /usr/lib/pcsc/drivers/serial/libifdvpcd.so.0.8 /usr/lib/pcsc/drivers/serial/libifdvpcd.so; do
    [ -e "$f" ] && { echo "$f"; return; }
  done
}

# The pid file holds pcscd's own pid (the launcher execs into it); only signal it
# while that pid still is a pcscd, so a recycled pid is never hit.
rig_pid() {
  local dir=$1 pid
  [ -f "$dir/rig.pid" ] || return 1
  pid=$(cat "$dir/rig.pid")
  [ -n "$pid" ] && [ -r "/proc/$pid/comm" ] && [ "$(cat "/proc/$pid/comm")" = pcscd ] || return 1
  echo "$pid"
}

stop_rig() {
  local dir=$1 pid i
  if pid=$(rig_pid "$dir"); then
    kill -TERM "$pid" 2>/dev/null
    # pcscd takes a moment while vpcd's threads give up their listening sockets.
    for i in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
      kill -KILL "$pid" 2>/dev/null
      sleep 0.2
    fi
  fi
  rm -f "$dir/rig.pid"
  # A link to the system socket means pcscd served /run/pcscd; its own exit cleans that.
  [ -L "$dir/pcscd.comm" ] && rm -f "$dir/pcscd.comm"
  # In the namespace pcscd cleans DIR itself; after a KILL it cannot.
  [ -S "$dir/pcscd.comm" ] && rm -f "$dir/pcscd.comm" "$dir/pcscd.pid"
  return 0
}

namespaces_work() {
  unshare --mount --propagation private true 2>/dev/null
}

start_rig() {
  local dir=$1 port=$2 driver mode i
  case "$port" in
    '' | *[!0-9]*) die "port must be a number: $port" ;;
  esac
  [ "$port" -ge 1024 ] && [ "$port" -le 65534 ] || die "port out of range: $port"
  [ -x "$PCSCD" ] || die "pcscd not found (install the pcscd package)"
  driver=$(find_driver)
  [ -n "$driver" ] || die "vpcd driver not found (install the vsmartcard-vpcd package)"
  command -v setsid >/dev/null || die "setsid not found (util-linux)"

  mkdir -p "$dir" || die "cannot create $dir"
  dir=$(cd "$dir" && pwd)
  stop_rig "$dir"
  rm -f "$dir/pcscd.log"

  cat >"$dir/reader.conf" <<CONF
FRIENDLYNAME "$READER_NAME"
DEVICENAME   /dev/null:$port
LIBPATH      $driver
CHANNELID    $port
CONF

  # -f keeps pcscd in the foreground of its own session, its log in DIR; it must
  # not hold the caller's output open, or a caller reading to the end would hang.
  if [ "$(id -u)" -eq 0 ] && namespaces_work; then
    mode=namespace
    mkdir -p /run/pcscd || die "cannot create /run/pcscd"
    setsid unshare --mount --propagation private sh -c '
      mount --bind "$1" /run/pcscd || exit 97
      echo $$ > "$1/rig.pid"
      exec "$2" -f -i -c "$1/reader.conf"' rig "$dir" "$PCSCD" \
      </dev/null >"$dir/pcscd.log" 2>&1 &
  elif [ ! -e "$SYSTEM_SOCKET" ]; then
    mode=system
    ln -sfn "$SYSTEM_SOCKET" "$dir/pcscd.comm"
    setsid sh -c 'echo $$ > "$1/rig.pid"; exec "$2" -f -i -c "$1/reader.conf"' rig "$dir" "$PCSCD" \
      </dev/null >"$dir/pcscd.log" 2>&1 &
  else
    die "no mount namespace here and a system pcscd already serves $SYSTEM_SOCKET"
  fi

  for i in $(seq 1 100); do
    if [ -S "$dir/pcscd.comm" ] && grep -q "daemon ready" "$dir/pcscd.log" 2>/dev/null; then
      echo "PCSCLITE_CSOCK_NAME=$dir/pcscd.comm"
      echo "VPCD_PORT=$port"
      echo "MODE=$mode"
      return 0
    fi
    if [ $i -gt 5 ] && ! rig_pid "$dir" >/dev/null; then break; fi
    sleep 0.1
  done
  echo "pcscd-rig: pcscd did not come up ($mode mode); its log:" >&2
  cat "$dir/pcscd.log" >&2 2>/dev/null
  stop_rig "$dir"
  exit 1
}

case "${1:-}" in
  start) [ $# -eq 3 ] || usage; start_rig "$2" "$3" ;;
  stop) [ $# -eq 2 ] || usage; [ -d "$2" ] && stop_rig "$(cd "$2" && pwd)"; exit 0 ;;
  *) usage ;;
esac
