#!/usr/bin/env bash
# Builds and runs the isolation benchmark (bench/isolation/) on every installed CPython from 3.12
# (the only ones with a lock per interpreter), once with the shared lock and once with one lock
# per plug-in, and prints the README's table. About a minute per CPython plus the builds.
#
#   scripts/bench_isolation.sh            CPython 3.12 and 3.13 under pyenv, build-py312/-py313
set -euo pipefail
cd "$(dirname "$0")/.."
root=${PYENV_ROOT:-/root/.pyenv}/versions
unset PYTHONUNBUFFERED
declare -A value
versions=()
for minor in 12 13; do
    dir=$(ls -d "$root"/3."$minor".* 2>/dev/null | sort -V | tail -n 1)
    if [ -z "$dir" ]; then
        continue
    fi
    build=build-py3$minor
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython3_ROOT_DIR="$dir" \
        -DPPP_BUILD_BENCH=ON >/dev/null
    cmake --build "$build" -j "$(nproc)" --target ppp_isolation_bench >/dev/null
    version=$(basename "$dir")
    versions+=("$version")
    # The own-lock run's event callables loop as many times as the shared-lock run calibrated:
    # both modes do the same work, whatever the calibration met.
    loops=
    for mode in shared own-gil; do
        while read -r _ name number; do
            value[$version,$mode,$name]=$number
        done < <(PROXYPLUGIN_ISOLATION=$mode PPP_BENCH_EVENT_LOOPS=$loops \
                 "$build/bin/ppp_isolation_bench" 2>&1 >/dev/null | grep '^RESULT ')
        loops=$(printf '%.0f' "${value[$version,shared,event_loops]}")
    done
done
row() {  # label, result name, format
    local version=$1 label=$2 name=$3
    local shared=${value[$version,shared,$name]} own=${value[$version,own-gil,$name]}
    printf '| %s | %s | %s | %s | %s |\n' "$version" "$label" "$shared" "$own" \
        "$(python3 -c "print('%.2fx' % ($own / $shared if $shared else 0))")"
}
echo
echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores."
echo
echo "| CPython | measure | shared lock | own lock | own / shared |"
echo "|---|---|---|---|---|"
for version in "${versions[@]}"; do
    row "$version" "B's encode p50 (us), A idle" encode_idle_p50_us
    row "$version" "B's encode p99 (us), A idle" encode_idle_p99_us
    row "$version" "B's encode p50 (us), A spinning" encode_busy_p50_us
    row "$version" "B's encode p99 (us), A spinning" encode_busy_p99_us
    row "$version" "B's encode max (us), A spinning" encode_busy_max_us
    row "$version" "events/s, two plug-ins, 20 us each" events_per_s
    row "$version" "cores busy meanwhile (CPU time / wall time)" events_cores
    row "$version" "encodes/s, two host threads, two plug-ins" parallel_encodes_per_s
    row "$version" "creation per plug-in (ms)" create_ms
    row "$version" "resident memory per plug-in (MiB)" resident_mib
done
