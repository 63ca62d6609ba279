#!/usr/bin/env bash
# Runs ui-driver beside a notification service that records every call it is
# sent (python3-dbusmock's notification template), on the session bus the
# caller started (dbus-run-session). The log's path is in $NOTIFY_LOG.
#   with_notification_service.sh UI_DRIVER SCRIPT
set -euo pipefail
dir=$(mktemp -d)
export NOTIFY_LOG="$dir/notifications.log"
/usr/bin/python3 -m dbusmock --template notification_daemon -l "$NOTIFY_LOG" &
mock=$!
trap 'kill "$mock" 2>/dev/null; wait "$mock" 2>/dev/null; rm -rf "$dir"' EXIT
for _ in $(seq 200); do
  gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.NameHasOwner org.freedesktop.Notifications 2>/dev/null | grep -q true && break
  sleep 0.05
done
# The window is to be looked at as one that is not in front: the X focus is
# kept on no window at all, as when the engineer is busy in another program
# (on the root window, X would give it to the window under the pointer).
/usr/bin/python3 - <<'PY' &
import ctypes, time
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XSetInputFocus.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_ulong]
x.XFlush.argtypes = [ctypes.c_void_p]
display = x.XOpenDisplay(None)
while True:
    x.XSetInputFocus(display, 0, 0, 0)   # None, RevertToNone, CurrentTime
    x.XFlush(display)
    time.sleep(0.1)
PY
thief=$!
trap 'kill "$mock" "$thief" 2>/dev/null; wait 2>/dev/null; rm -rf "$dir"' EXIT
"$1" --script "$2"
