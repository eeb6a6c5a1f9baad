#!/usr/bin/env bash
# Configures and builds the default build (Debian's python3) in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
