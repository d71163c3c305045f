#!/usr/bin/env bash
# Builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs the whole test suite, then
# builds the fuzz targets with clang and runs each for 20 seconds on its corpus.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTU_SANITIZE=ON -DZENTU_BENCH=OFF
cd "$root/build-sanitize"
ctest --output-on-failure -j "$(nproc)" --timeout 600
cd "$root"
"$root/scripts/build.sh" build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DZENTU_FUZZ=ON -DZENTU_TESTS=OFF -DZENTU_BENCH=OFF
cd "$root/build-fuzz"
ctest --output-on-failure -L fuzz --timeout 600
