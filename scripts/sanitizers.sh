#!/usr/bin/env bash
# The test suite under the sanitizers, with Debian's python3 (whose libpython is not instrumented):
#  1. preset asan (AddressSanitizer + UndefinedBehaviorSanitizer, LeakSanitizer at exit): builds
#     everything but the benchmarks and runs the whole suite;
#  2. preset tsan (ThreadSanitizer): builds the suites that test concurrency and runs their
#     concurrency tests (selected by name, see CONCURRENCY below);
#  3. the libFuzzer target of the ICD loader and the field conversions (tests/fuzz/, built with
#     clang, AddressSanitizer and UndefinedBehaviorSanitizer) for PPP_FUZZ_SECONDS (60) seconds,
#     from its seed corpus; an input that crashes it or breaks an invariant fails the script and is
#     kept as build-fuzz/crash-*. tests/fuzz/README.md tells how to run it longer.
# Reports go to files (tests capture standard error, which would hide them): any report, of a test
# program or of a program a test started, fails the script and is printed. Suppressions, each
# explained and limited to CPython's own code, are in tests/sanitizers/.
#
#  4. with one interpreter lock per plug-in, on the CPythons 3.12+ installed under pyenv: the
#     whole suite of the newest under (1) in both isolation modes, the concurrency tests of the
#     oldest under (2) in the own-gil mode; PPP_ISOLATION_SANITIZERS=all runs both sanitizers in
#     both modes on each (see below). A version not installed is skipped.
# Failing tests or fuzzing do not stop the later parts (a failing build does); the exit status
# is 1 when any part failed.
#
# Build folders: build-asan, build-tsan (the presets') and build-fuzz, or PPP_ASAN_BUILD_DIR,
# PPP_TSAN_BUILD_DIR and PPP_FUZZ_BUILD_DIR; build-asan-py3N and build-tsan-py3N for part 4.
# Run as root on Debian 12 after scripts/deps.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)
asan_dir=${PPP_ASAN_BUILD_DIR:-build-asan}
tsan_dir=${PPP_TSAN_BUILD_DIR:-build-tsan}
fuzz_dir=${PPP_FUZZ_BUILD_DIR:-build-fuzz}
fuzz_seconds=${PPP_FUZZ_SECONDS:-60}
suppressions=$root/tests/sanitizers

# Sanitized builds make CPython allocate with malloc (internal/PyCompat.h); this says the same to any
# Python process a test starts.
export PYTHONMALLOC=malloc
unset PYTHONUNBUFFERED

# The installed-package test builds a program of its own with the plain toolchain against the
# installed libraries: a program without the sanitizer runtime cannot load sanitized libraries.
# It runs in the default build.
NOT_SANITIZED='^icdhost\.InstalledPackage'

# The test programs of the concurrency tests, and the tests themselves by their group names:
# event delivery, reservations and trace lines from several threads in the host library; session
# entry from many threads; the registry's lock order; bridges; concurrent transcoding; the stress
# test; scripts' own threads; locks taken in opposite orders; conversions of one field finishing
# out of order; with one interpreter lock per plug-in, busy plug-ins and script threads, encoders
# of two plug-ins at once, and script objects used only in their own interpreter.
TSAN_TARGETS=(test_host test_interpreter test_pymodule test_bridge test_transcoders test_stress
              test_hostile)
CONCURRENCY='^(EventDelivery|Reservations|ConversionsFinishingOutOfOrder|ValueAndRawWordUnderRacingCommits|Trace\.LinesFromSeveralThreadsNeverMix|TranscoderOwnership|SessionEntry|InterfaceLockOrder|ConcurrentTranscoding|PluginsUnderLoad|ScriptThreads|OppositeLockOrders|BusyPluginsWithOwnLocks|BusyScriptThreads|TranscodersWithOwnLocks|ScriptObjectsInTheirOwnInterpreter)\.'

# Runs ctest with "$@"; then fails when ctest failed or any report was written to $1/.
run_tests() {
    local reports=$1
    shift
    rm -rf "$reports"
    mkdir -p "$reports"
    local status=0
    ctest "$@" || status=$?
    if compgen -G "$reports/*" >/dev/null; then
        echo "== sanitizer reports:"
        for report in "$reports"/*; do
            echo "-- $report"
            cat "$report"
        done
        status=1
    fi
    return $status
}

# The tests built in folder $1 (made with preset asan) under AddressSanitizer +
# UndefinedBehaviorSanitizer, in the isolation mode $2 (shared or own-gil).
asan_suite() {
    local dir=$1 mode=$2
    echo "== AddressSanitizer + UndefinedBehaviorSanitizer ($dir, isolation $mode)"
    local reports=$root/$dir/sanitizer-reports
    # detect_stack_use_after_return stays off: its fake stacks make every call through our code
    # into Python much slower. halt_on_error ends a test program at its first report.
    ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:strict_string_checks=1:check_initialization_order=1:detect_stack_use_after_return=0:log_path=$reports/asan:suppressions=$suppressions/asan.supp" \
    LSAN_OPTIONS="suppressions=$suppressions/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan:suppressions=$suppressions/ubsan.supp" \
    PROXYPLUGIN_ISOLATION=$mode \
        run_tests "$reports" --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 600 \
            -E "$NOT_SANITIZED|_NOT_BUILT\$"
}

# The concurrency tests of build folder $1 under ThreadSanitizer, in the isolation mode $2.
tsan_concurrency() {
    local dir=$1 mode=$2
    echo "== ThreadSanitizer ($dir, isolation $mode)"
    local reports=$root/$dir/sanitizer-reports
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:log_path=$reports/tsan:suppressions=$suppressions/tsan.supp" \
    PROXYPLUGIN_ISOLATION=$mode \
        run_tests "$reports" --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 600 \
            -R "$CONCURRENCY" --no-tests=error
}

# Configures build folder $1 with preset $2 against the CPython in $3 (empty: Debian's python3)
# and builds the targets that follow (all when none).
build_preset() {
    local dir=$1 preset=$2 python=$3
    shift 3
    cmake --preset "$preset" -B "$dir" ${python:+-DPython3_ROOT_DIR="$python"} >/dev/null
    if [ $# -gt 0 ]; then
        cmake --build "$dir" -j "$jobs" --target "$@"
    else
        cmake --build "$dir" -j "$jobs"
    fi
}

status=0
build_preset "$asan_dir" asan ""
asan_suite "$asan_dir" shared || status=1

build_preset "$tsan_dir" tsan "" "${TSAN_TARGETS[@]}"
tsan_concurrency "$tsan_dir" shared || status=1

echo "== libFuzzer: ICD loader and field conversions ($fuzz_dir, $fuzz_seconds s)"
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S tests/fuzz -B "$fuzz_dir" -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" >/dev/null
cmake --build "$fuzz_dir" -j "$jobs"
# New inputs go to a corpus of the build folder; the seeds in tests/fuzz/corpus stay as they are.
mkdir -p "$fuzz_dir/corpus"
"$fuzz_dir/icd_fuzzer" -max_total_time="$fuzz_seconds" -dict=tests/fuzz/icd.dict -max_len=4096 \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$fuzz_dir/" \
    "$fuzz_dir/corpus" tests/fuzz/corpus || status=1

# One interpreter lock per plug-in, on the CPythons 3.12+ installed under pyenv (none installed:
# skipped): the whole suite of the newest under ASan+UBSan in both isolation modes, the
# concurrency tests of the oldest under ThreadSanitizer in the own-gil mode.
# PPP_ISOLATION_SANITIZERS=all runs both sanitizers in both modes on every one of them (the
# check before a change of the isolation code lands; about 3 minutes more per version once
# built). Only what the tests need is built, against that CPython's shared libpython.
pyenv_root=${PYENV_ROOT:-/root/.pyenv}/versions
isolation_versions=()
for minor in 12 13; do
    dir=$(ls -d "$pyenv_root"/3."$minor".* 2>/dev/null | sort -V | tail -n 1)
    if [ -n "$dir" ] && ls "$dir"/lib/libpython3."$minor"*.so >/dev/null 2>&1; then
        isolation_versions+=("$dir")
    fi
done
PYTHON_TARGETS=(icdhost test_interpreter test_plugin test_pymodule test_bridge test_transcoders
                test_actions test_icdhost test_stress test_hostile test_hosting)
if [ ${#isolation_versions[@]} -eq 0 ]; then
    echo "== one interpreter lock per plug-in: no CPython 3.12+ under $pyenv_root, skipped"
fi
for index in "${!isolation_versions[@]}"; do
    python=${isolation_versions[$index]}
    tag=py$(basename "$python" | cut -d. -f1,2 | tr -d .)
    newest=$([ "$index" -eq $((${#isolation_versions[@]} - 1)) ] && echo 1 || echo 0)
    oldest=$([ "$index" -eq 0 ] && echo 1 || echo 0)
    if [ "${PPP_ISOLATION_SANITIZERS:-}" = all ] || [ "$newest" = 1 ]; then
        build_preset "build-asan-$tag" asan "$python" "${PYTHON_TARGETS[@]}"
        asan_suite "build-asan-$tag" shared || status=1
        asan_suite "build-asan-$tag" own-gil || status=1
    fi
    if [ "${PPP_ISOLATION_SANITIZERS:-}" = all ] || [ "$oldest" = 1 ]; then
        # The host library's own tests (test_host) do not touch Python: they ran above.
        build_preset "build-tsan-$tag" tsan "$python" "${TSAN_TARGETS[@]:1}"
        [ "${PPP_ISOLATION_SANITIZERS:-}" != all ] || tsan_concurrency "build-tsan-$tag" shared ||
            status=1
        tsan_concurrency "build-tsan-$tag" own-gil || status=1
    fi
done
exit $status
