#!/usr/bin/env bash
# The main job: builds the runtime and starts the bundled demo (examples/demo) in zentu-vm.
#
# With a display (DISPLAY set) the demo opens its full-screen window there and runs until it
# is ended (Q). Without one, it runs for a few seconds on an X server of its own (Xvfb),
# where it is sent a few keys and a tap, and a screenshot of the screen is saved: the last
# line says where (default build/demo-screenshot.png, or the path given as the argument).
# A private system bus is started when the machine has none: the runtime needs one
# (scripts/start-demo.sh does all but the build).
#
# Usage: scripts/run.sh [SCREENSHOT.png]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" build -DCMAKE_BUILD_TYPE=Release -DZENTU_TESTS=OFF -DZENTU_BENCH=OFF
exec "$root/scripts/start-demo.sh" "$root/build/src/zentu-vm" "$root/build/examples/demo" \
  "${1:-$root/build/demo-screenshot.png}"

