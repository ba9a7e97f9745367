#!/usr/bin/env bash
# Builds and runs every test twice: an optimised Release build, and a Debug build with
# AddressSanitizer and UndefinedBehaviorSanitizer that stops at the first report.
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

run_suite "$root/build/release" -DCMAKE_BUILD_TYPE=Release

"$root/build/release/bench/oskra_bench" --benchmark_min_time=0.001 >/dev/null

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite "$root/build/asan" -DCMAKE_BUILD_TYPE=Debug -DOSKRA_SANITIZE=ON -DOSKRA_BUILD_BENCH=OFF

echo "All tests passed."
