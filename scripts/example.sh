#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the example scenario through icdhost.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
exec build/bin/icdhost "$@"
