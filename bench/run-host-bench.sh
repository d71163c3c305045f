#!/usr/bin/env bash
# Times the windowed runtime on the demo under an X server of its own (Xvfb) with a private
# system bus: start-up to the first frame on the screen, and key press (and release) to the
# repaint that shows it, both observed from outside by bench/host/host_bench.cpp. Prints the
# figures (best, median, 95th percentile, worst).
#
# Usage: bench/run-host-bench.sh [STARTS] [PRESSES] [BUILD_DIR]   (default: 10 starts, 50
# presses, build-bench, a Release build)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
starts=${1:-10}
presses=${2:-50}
build=${3:-$root/build-bench}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZENTU_TESTS=OFF -DZENTU_BENCH=ON >/dev/null
cmake --build "$build" --target zentu-vm demo host_bench -j2 >/dev/null

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

cat >"$work/bus.conf" <<EOF
<busconfig><type>system</type><listen>unix:path=$work/system_bus</listen>
<auth>EXTERNAL</auth><policy context="default"><allow send_destination="*"/>
<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>
EOF
dbus-daemon --nofork --config-file="$work/bus.conf" 2>/dev/null &
pids+=($!)
Xvfb -displayfd 3 -screen 0 800x480x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do
  [ -S "$work/system_bus" ] && [ -s "$work/display" ] && break
  sleep 0.05
done
export DISPLAY=:$(cat "$work/display")
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/system_bus
# Qt's one-time warning about a missing runtime directory is not what is timed.
export XDG_RUNTIME_DIR=$work

echo "zentu-vm on examples/demo under Xvfb, $(nproc) cores; $starts starts, $presses presses"
"$build/bench/host_bench" "$build/src/zentu-vm" "$build/examples/demo" \
  "$(cat "$root/examples/demo/first-frame")" "$starts" "$presses"
