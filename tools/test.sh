#!/usr/bin/env bash
# Builds and runs every test twice: an optimised Release build, and a Debug build with
# AddressSanitizer and UndefinedBehaviorSanitizer that stops at the first report. Then the
# concurrency tests (threads playing while others load and save) once more under
# ThreadSanitizer, building only what they need.
# The benchmarks run once, very briefly, only to prove that they still run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
jobs=$(nproc)

run_suite() {
  local dir=$1; shift
  cmake -S "$root" -B "$dir" "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure --timeout 900
}

run_concurrency_suite() {
  local dir=$1; shift
  cmake -S "$root" -B "$dir" "$@"
  cmake --build "$dir" -j "$jobs" --target oskra_concurrency_tests
  ctest --test-dir "$dir" -L concurrency --output-on-failure --timeout 900
}

run_suite "$root/build/release" -DCMAKE_BUILD_TYPE=Release

"$root/build/release/bench/oskra_bench" --benchmark_min_time=0.001 >/dev/null

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite "$root/build/asan" -DCMAKE_BUILD_TYPE=Debug -DOSKRA_SANITIZE=ON -DOSKRA_BUILD_BENCH=OFF
unset ASAN_OPTIONS UBSAN_OPTIONS

# Any report fails the run (ThreadSanitizer's exit code), and the first one stops it.
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
run_concurrency_suite "$root/build/tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSKRA_TSAN=ON \
  -DOSKRA_BUILD_BENCH=OFF -DOSKRA_BUILD_TOOLS=OFF

echo "All tests passed."
