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
# Build folders: build-asan, build-tsan (the presets') and build-fuzz, or PPP_ASAN_BUILD_DIR,
# PPP_TSAN_BUILD_DIR and PPP_FUZZ_BUILD_DIR. Run as root on Debian 12 after scripts/deps.sh.
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
# out of order.
TSAN_TARGETS=(test_host test_interpreter test_pymodule test_bridge test_transcoders test_stress
              test_hostile)
CONCURRENCY='^(EventDelivery|Reservations|ConversionsFinishingOutOfOrder|ValueAndRawWordUnderRacingCommits|Trace\.LinesFromSeveralThreadsNeverMix|TranscoderOwnership|SessionEntry|InterfaceLockOrder|ConcurrentTranscoding|PluginsUnderLoad|ScriptThreads|OppositeLockOrders)\.'

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

echo "== AddressSanitizer + UndefinedBehaviorSanitizer ($asan_dir)"
cmake --preset asan -B "$asan_dir" >/dev/null
cmake --build "$asan_dir" -j "$jobs"
reports=$root/$asan_dir/sanitizer-reports
# detect_stack_use_after_return stays off: its fake stacks make every call through our code into
# Python much slower. halt_on_error ends a test program at its first report.
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:strict_string_checks=1:check_initialization_order=1:detect_stack_use_after_return=0:log_path=$reports/asan:suppressions=$suppressions/asan.supp"
export LSAN_OPTIONS="suppressions=$suppressions/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan:suppressions=$suppressions/ubsan.supp"
run_tests "$reports" --test-dir "$asan_dir" -j "$jobs" --output-on-failure --timeout 600 \
    -E "$NOT_SANITIZED"
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS

echo "== ThreadSanitizer ($tsan_dir)"
cmake --preset tsan -B "$tsan_dir" >/dev/null
cmake --build "$tsan_dir" -j "$jobs" --target "${TSAN_TARGETS[@]}"
reports=$root/$tsan_dir/sanitizer-reports
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:log_path=$reports/tsan:suppressions=$suppressions/tsan.supp"
run_tests "$reports" --test-dir "$tsan_dir" -j "$jobs" --output-on-failure --timeout 600 \
    -R "$CONCURRENCY" --no-tests=error
unset TSAN_OPTIONS

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
    "$fuzz_dir/corpus" tests/fuzz/corpus
