#!/usr/bin/env bash
# Starts the demo in zentu-vm; scripts/run.sh calls it after the build.
#
# With a display (DISPLAY set) the demo opens its window there and runs until it is ended
# (Q). Without one, it runs on an X server of its own (Xvfb) for a few seconds, is sent the
# keys Right, Right, Up, a tap at (250, 330) and "A" held down, and a screenshot of the
# screen is saved to SCREENSHOT.png; the last line says where. A private system bus is
# started when the machine has none: the runtime needs one.
#
# Usage: scripts/start-demo.sh ZENTU_VM DEMO_APPDIR SCREENSHOT.png
set -euo pipefail
vm=$(realpath "$1")
app=$(realpath "$2")
screenshot=$(realpath -m "$3")

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

# Waits up to five seconds for a file to appear.
await() {
  for _ in $(seq 100); do
    [ -s "$1" ] || [ -S "$1" ] && return 0
    sleep 0.05
  done
  echo "start-demo.sh: $2 did not start" >&2
  exit 1
}

if [ -z "${DBUS_SYSTEM_BUS_ADDRESS:-}" ] && [ ! -S /run/dbus/system_bus_socket ]; then
  cat >"$work/bus.conf" <<EOF
<busconfig><type>system</type><listen>unix:path=$work/system_bus</listen>
<auth>EXTERNAL</auth><policy context="default"><allow send_destination="*"/>
<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>
EOF
  dbus-daemon --nofork --config-file="$work/bus.conf" 2>/dev/null &
  pids+=($!)
  await "$work/system_bus" "the system bus"
  export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/system_bus
fi

if [ -n "${DISPLAY:-}" ]; then
  cd "$app"
  "$vm"
  exit
fi

# Keys do not repeat for a minute: a repeat is a release and a press, and the screenshot of
# "A" held down must not fall between them.
Xvfb -displayfd 3 -screen 0 800x480x24 -nolisten tcp -ardelay 60000 3>"$work/display" 2>/dev/null &
pids+=($!)
await "$work/display" "Xvfb"
export DISPLAY=:$(cat "$work/display")
# A runtime directory of its own spares Qt its warning about a missing one.
(cd "$app" && XDG_RUNTIME_DIR=$work QT_QPA_PLATFORM=xcb exec "$vm") &
demo=$!
pids+=("$demo")
sleep 1.5
# The ball two steps right and one up, a tap that marks the spot, and "A" held down.
xdotool key Right Right Up
xdotool mousemove 250 330 click 1
xdotool keydown a
sleep 1
kill -0 "$demo" 2>/dev/null || { echo "start-demo.sh: the demo ended early" >&2; exit 1; }
/usr/bin/python3 -c 'import sys; from PIL import ImageGrab
ImageGrab.grab(xdisplay=sys.argv[1]).save(sys.argv[2])' "$DISPLAY" "$screenshot"
xdotool keyup a key q
for _ in $(seq 50); do kill -0 "$demo" 2>/dev/null || break; sleep 0.1; done
echo "The demo ran under Xvfb (no DISPLAY was set); its screenshot is $screenshot"
