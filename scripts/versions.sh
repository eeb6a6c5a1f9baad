#!/usr/bin/env bash
# Builds and runs the whole suite against every CPython from 3.7 to 3.13 installed under pyenv
# (a version that is not installed is skipped, not failed), then prints a table of version
# against result. Exit status 1 when any installed version fails.
set -uo pipefail
cd "$(dirname "$0")/.."
root=${PYENV_ROOT:-/root/.pyenv}/versions
declare -A result
failed=0
for minor in 7 8 9 10 11 12 13; do
    dir=$(ls -d "$root"/3."$minor".* 2>/dev/null | sort -V | tail -n 1)
    if [ -z "$dir" ] || ! ls "$dir"/lib/libpython3."$minor"*.so >/dev/null 2>&1; then
        result[3.$minor]="skipped (not installed)"
        continue
    fi
    build=build-py3$minor
    log=$build.log
    echo "== CPython $(basename "$dir") in $build"
    if cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython3_ROOT_DIR="$dir" \
            -DPPP_BUILD_BENCH=OFF >"$log" 2>&1 &&
        cmake --build "$build" -j "$(nproc)" >>"$log" 2>&1 &&
        ctest --test-dir "$build" -j "$(nproc)" --output-on-failure >>"$log" 2>&1; then
        result[3.$minor]="passed ($(basename "$dir"), $(grep -Eo '[0-9]+ tests passed|[0-9]+% tests passed.*' "$log" | tail -n 1))"
    else
        result[3.$minor]="FAILED ($(basename "$dir")): see $log"
        failed=1
        tail -n 60 "$log"
    fi
done
echo
echo "| CPython | result |"
echo "|---|---|"
for minor in 7 8 9 10 11 12 13; do
    echo "| 3.$minor | ${result[3.$minor]} |"
done
exit $failed
