#!/usr/bin/env bash
# Builds the benchmark program and runs the performance suite, then prints the table: each hot
# path measured for this project, against its limit (the same work written by hand, in the same
# program) and a peer where there is one. About 90 seconds of measuring on a 2-core machine, plus
# the build.
#
#   scripts/bench.sh                      default build folder build/ (the default preset)
#   BUILD_DIR=build-x scripts/bench.sh    another build folder, configured if needed
#   MIN_TIME=2 scripts/bench.sh           longer runs (seconds per benchmark), steadier figures
#   scripts/bench.sh --benchmark_filter=Event   extra options go to the benchmark program
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
min_time=${MIN_TIME:-1}
scripts/deps.sh
if [ "$build" = build ]; then
    cmake --preset default >/dev/null
else
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target ppp_bench
result=$build/bench-result.json
"$build/bin/ppp_bench" --benchmark_min_time="$min_time" --benchmark_out="$result" \
    --benchmark_out_format=json "$@"
echo
python3 bench/bench_table.py "$result"
