#!/usr/bin/env bash
# The main job: builds the runtime, prints the tables of the bundled sample application and
# runs it in the runtime without a window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" build -DCMAKE_BUILD_TYPE=Release -DZENTU_TESTS=OFF -DZENTU_BENCH=OFF
"$root/build/tools/zentu-info" "$root/build/examples/hello/index.mcb"
"$root/build/tools/zentu-run/zentu-run" "$root/build/examples/hello"
