#!/usr/bin/env bash
# Installs every Debian package the project needs to build and test.
# Idempotent: packages already present are skipped; apt-get update runs only
# when something is missing. Works as root, uses sudo otherwise.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  g++-multilib qemu-user
  libsqlite3-dev sqlite3
  python3 python3-dev swig php-dev php-cli libperl-dev perl
  default-jdk-headless mono-devel
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
echo "install-deps: installing ${missing[*]}"
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
