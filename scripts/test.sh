#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds, runs ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
ctest --preset default -j "$(nproc)"
