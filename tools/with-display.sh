#!/usr/bin/env bash
# Runs a command with an X display. When none is set, starts Xvfb with Mesa's
# software renderer for the command's lifetime.
set -u
if [ -n "${DISPLAY:-}" ]; then
  exec "$@"
fi
export LIBGL_ALWAYS_SOFTWARE=1
for n in $(seq 99 140); do
  [ -e "/tmp/.X${n}-lock" ] || [ -e "/tmp/.X11-unix/X${n}" ] || break
done
Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null; wait $xvfb_pid 2>/dev/null' EXIT
for _ in $(seq 1 50); do
  [ -e "/tmp/.X11-unix/X${n}" ] && break
  sleep 0.1
done
DISPLAY=":$n" "$@"
