#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12 (when run as root) and
# checks that it is there.
set -euo pipefail

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
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
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
