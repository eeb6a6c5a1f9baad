#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those missing. Run as root on Debian 12.
set -euo pipefail
packages=(build-essential cmake python3 python3-dev libgtest-dev libgmock-dev libbenchmark-dev
          libpugixml-dev libexpat1-dev libcli11-dev libedit-dev pybind11-dev pkg-config clang
          libclang-rt-14-dev python3-mypy python3-pytest python3-setuptools python3-pip)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
