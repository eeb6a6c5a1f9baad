#!/usr/bin/env bash
# Builds and runs the test suites that embed Python against every CPython from 3.7 to 3.13
# installed under pyenv, then prints a table of version against result. A version that is not
# installed is skipped, not failed; Debian's python3 (the default build) is tested by
# scripts/test.sh. Exit status 1 when any installed version fails.
#
# Only what the tests need is built (no benchmarks); the host library's own suite (test_host)
# does not touch Python and runs once, in the default build. From CPython 3.12 the suites run a
# second time with one interpreter lock per plug-in (PROXYPLUGIN_ISOLATION=own-gil), the stress
# test with four busy plug-ins included. Build folders: build-py3N, logs beside them.
set -uo pipefail
cd "$(dirname "$0")/.."
root=${PYENV_ROOT:-/root/.pyenv}/versions
jobs=$(nproc)
unset PYTHONUNBUFFERED
TARGETS=(icdhost test_interpreter test_plugin test_pymodule test_bridge test_transcoders
         test_actions test_icdhost test_stress test_hostile test_hosting)
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
    started=$SECONDS
    echo "== CPython $(basename "$dir") in $build"
    if cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython3_ROOT_DIR="$dir" \
            -DPPP_BUILD_BENCH=OFF >"$log" 2>&1 &&
        cmake --build "$build" -j "$jobs" --target "${TARGETS[@]}" >>"$log" 2>&1 &&
        ctest --test-dir "$build" -j "$jobs" --output-on-failure -E '_NOT_BUILT$' >>"$log" 2>&1 &&
        { [ "$minor" -lt 12 ] ||
          { echo "== PROXYPLUGIN_ISOLATION=own-gil" >>"$log" &&
            PROXYPLUGIN_ISOLATION=own-gil ctest --test-dir "$build" -j "$jobs" \
                --output-on-failure -E '_NOT_BUILT$' >>"$log" 2>&1; }; }; then
        summary=$(grep -Eo '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" |
                  tail -n 1)
        [ "$minor" -lt 12 ] || summary="$summary, in both isolation modes"
        result[3.$minor]="passed ($(basename "$dir"): $summary, $((SECONDS - started)) s)"
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
