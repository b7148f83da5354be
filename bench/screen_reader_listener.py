#!/usr/bin/python3
"""Listens to accessibility events as a screen reader does, so that a benchmark of the window pays what a
screen-reader user's session pays: Qt sends an event over D-Bus only when someone has registered for it.
Counts what arrives and prints the count when stopped (SIGTERM or SIGINT)."""
import signal
import sys

import pyatspi

received = 0


def on_event(event):
    global received
    received += 1


def stop(*_):
    pyatspi.Registry.stop()


signal.signal(signal.SIGTERM, stop)
signal.signal(signal.SIGINT, stop)
# The events a screen reader follows in a list and a status bar.
for kind in ("object:state-changed", "object:children-changed", "object:text-changed", "object:property-change",
             "object:visible-data-changed", "object:active-descendant-changed", "object:row-inserted",
             "object:row-deleted", "object:model-changed", "focus:"):
    pyatspi.Registry.registerEventListener(on_event, kind)
print("listening", flush=True)
pyatspi.Registry.start()
print(f"accessibility events received: {received}", flush=True)
sys.exit(0)
