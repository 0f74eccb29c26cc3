#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12 (when run as root) and
# checks that it is there.
set -Eeuo pipefail
trap 'rc=$?; [ "$BASH_SUBSHELL" -gt 0 ] || echo "setup.sh: line $LINENO: exit $rc from: $BASH_COMMAND" >&2' ERR

PACKAGES=(
  cmake g++ make pkg-config
  libssl-dev libutfcpp-dev
  openjdk-17-jdk-headless
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  junit5
  pcscd vsmartcard-vpcd
  clang libclang-rt-14-dev
  python3 locales
)

missing=()
for p in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null) || status=""
  [[ $status == *"install ok installed"* ]] || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  else
    echo "setup: missing packages: ${missing[*]}" >&2
    echo "setup: run this script as root, or: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
fi
