#!/usr/bin/env bash
# Runs the given recorder command while a clock window wanders across the screen,
# so that a headless recording has something moving in it.
set -u
xsetroot -solid '#305070' 2>/dev/null || true
xclock -update 1 -geometry 300x300+100+100 >/dev/null 2>&1 &
clock=$!
trap 'kill "$clock" 2>/dev/null' EXIT
win=$(xdotool search --sync --onlyvisible --class xclock 2>/dev/null | head -n 1)
(
  x=100
  while kill -0 "$clock" 2>/dev/null; do
    x=$(( (x + 40) % 1400 ))
    [ -n "$win" ] && xdotool windowmove "$win" "$x" 200 2>/dev/null
    xdotool mousemove $((x + 150)) 600 2>/dev/null
    sleep 0.2
  done
) &
mover=$!
"$@"
rc=$?
kill "$mover" 2>/dev/null
wait "$mover" 2>/dev/null
exit "$rc"
