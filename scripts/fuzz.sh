#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer)
# into build-fuzz and runs one of them for SECONDS seconds; see README.md, "Fuzzing".
# Usage: scripts/fuzz.sh TARGET SECONDS [LIBFUZZER-OPTION...]
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 TARGET SECONDS [LIBFUZZER-OPTION...]" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
target=$1
"$root/scripts/install-deps.sh"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DZENTU_FUZZ=ON -DZENTU_TESTS=OFF -DZENTU_BENCH=OFF \
    "${launcher[@]}" >/dev/null
cmake --build "$root/build-fuzz" --target "fuzz-$target" fuzz-seeds -j "$(nproc)"
exec "$root/fuzz/run.sh" "$root/build-fuzz" "$@"
