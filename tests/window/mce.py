"""Plays the device's mode-control service on the system bus: owns "com.nokia.mce" and sends
"display_status_ind" with each line read from standard input as its text. Prints "ready" once
the name is owned. Usage: mce.py (with DBUS_SYSTEM_BUS_ADDRESS set)."""
import sys

import dbus
import dbus.lowlevel

bus = dbus.SystemBus()
if bus.request_name("com.nokia.mce", dbus.bus.NAME_FLAG_DO_NOT_QUEUE) != dbus.bus.REQUEST_NAME_REPLY_PRIMARY_OWNER:
    sys.exit("com.nokia.mce is taken")
print("ready", flush=True)
for line in sys.stdin:
    signal = dbus.lowlevel.SignalMessage("/com/nokia/mce/signal", "com.nokia.mce.signal", "display_status_ind")
    signal.append(line.rstrip("\n"), signature="s")
    bus.send_message(signal)
    bus.flush()
    print("sent", flush=True)
