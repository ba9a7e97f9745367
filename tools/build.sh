#!/usr/bin/env bash
# Builds everything in Release: libraries, plug-in bundle, tests, benchmarks and tools.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
jobs=$(nproc)
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release
cmake --build "$root/build/release" -j "$jobs"
echo "Built in $root/build/release"
