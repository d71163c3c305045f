#!/usr/bin/env bash
# Builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs the whole test suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTU_SANITIZE=ON -DZENTU_BENCH=OFF
cd "$root/build-sanitize"
ctest --output-on-failure -j "$(nproc)" --timeout 600
