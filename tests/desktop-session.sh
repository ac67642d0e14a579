#!/usr/bin/env bash
# desktop-session.sh CMD [ARGS...]
#
# Runs CMD inside a private headless desktop: Xvfb on a free display, openbox,
# a trayer system tray and a PulseAudio server whose default sink is a null sink
# (its monitor is the default source). Everything started here is stopped again
# by process id, whatever CMD does, and CMD's exit code is returned.
#
#   TAVREC_SCREEN   screen geometry and depth, default 1920x1080x24
#   TAVREC_SESSION_KEEP=1  keep the session folder (logs) even on success
set -u

if [ $# -eq 0 ]; then
  echo "usage: $0 CMD [ARGS...]" >&2
  exit 2
fi

screen=${TAVREC_SCREEN:-1920x1080x24}
session=$(mktemp -d "${TMPDIR:-/tmp}/tavrec-session.XXXXXX")
chmod 700 "$session"
mkdir -p "$session/run" "$session/home" "$session/config/openbox" "$session/data"
chmod 700 "$session/run"
pids=()
cmd_pid=

log() { [ -n "${TAVREC_SESSION_QUIET:-}" ] || echo "desktop-session: $*" >&2; }

stop_pid() {
  local pid=$1
  kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null
  for _ in $(seq 1 30); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null
}

cleanup() {
  local rc=$1
  trap - EXIT INT TERM HUP
  # The command runs in its own process group: stop whatever it left behind.
  if [ -n "$cmd_pid" ]; then
    kill -TERM -- "-$cmd_pid" 2>/dev/null
    sleep 0.2
    kill -KILL -- "-$cmd_pid" 2>/dev/null
  fi
  local i
  for ((i=${#pids[@]}-1; i>=0; i--)); do stop_pid "${pids[$i]}"; done
  if [ "$rc" -ne 0 ] || [ -n "${TAVREC_SESSION_KEEP:-}" ]; then
    log "session logs kept in $session"
  else
    rm -rf "$session"
  fi
  exit "$rc"
}
trap 'cleanup 130' INT
trap 'cleanup 143' TERM HUP

fail() { echo "desktop-session: $*" >&2; for f in "$session"/*.log; do [ -s "$f" ] && { echo "--- $f" >&2; tail -n 20 "$f" >&2; }; done; cleanup 125; }

# --- X server: -displayfd lets Xvfb pick a free display itself.
fifo="$session/displayfd"
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset -dpi 96 3>"$fifo" >"$session/xvfb.log" 2>&1 &
pids+=($!)
display_num=
if ! read -r -t 10 display_num <"$fifo" || [ -z "$display_num" ]; then
  fail "Xvfb did not start (screen $screen)"
fi
export DISPLAY=":$display_num"
for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || fail "X server $DISPLAY does not answer"
# Ctrl+Alt+Fn would otherwise switch consoles inside the server instead of reaching
# grabs; the hotkey tests rely on it, so say so when the option does not take.
setxkbmap -option srvrkeys:none >/dev/null 2>&1 || log "setxkbmap -option srvrkeys:none failed: Ctrl+Alt+Fn will not reach key grabs"
xset +fp /usr/share/fonts/X11/misc >/dev/null 2>&1 || true
xset fp rehash >/dev/null 2>&1 || true

# --- window manager: openbox with no key bindings and an empty menu.
cat >"$session/config/openbox/rc.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <placement><policy>Smart</policy></placement>
  <desktops><number>1</number></desktops>
  <keyboard></keyboard>
  <mouse></mouse>
  <menu><file>menu.xml</file></menu>
</openbox_config>
XML
cat >"$session/config/openbox/menu.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_menu xmlns="http://openbox.org/3.4/menu"><menu id="root-menu" label="Menu"></menu></openbox_menu>
XML
export XDG_CONFIG_HOME="$session/config" XDG_DATA_HOME="$session/data"
export XDG_CONFIG_DIRS="$session/config" XDG_DATA_DIRS="$session/data:/usr/share"
export XDG_RUNTIME_DIR="$session/run"
openbox --config-file "$session/config/openbox/rc.xml" >"$session/openbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 50); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' || fail "openbox did not start"

# --- system tray host.
trayer --edge bottom --align right --widthtype request --height 24 --SetDockType true \
  --SetPartialStrut true --transparent false --expand false >"$session/trayer.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 50); do
  xprop -root _NET_CLIENT_LIST 2>/dev/null | grep -q 'window id' && \
    xwininfo -root -tree 2>/dev/null | grep -q '("panel" "trayer")' && break
  sleep 0.1
done

# --- sound: a user-mode PulseAudio with a null sink as default sink.
export PULSE_RUNTIME_PATH="$session/run/pulse" PULSE_COOKIE="$session/run/pulse-cookie"
export PULSE_SERVER="unix:$session/run/pulse/native"
mkdir -p "$PULSE_RUNTIME_PATH"
env -u DISPLAY HOME="$session/home" pulseaudio -n --daemonize=no --exit-idle-time=-1 \
  --use-pid-file=no --realtime=no --high-priority=no --log-target=stderr \
  --load="module-native-protocol-unix socket=$session/run/pulse/native auth-anonymous=1" \
  --load="module-null-sink sink_name=session_sink sink_properties=device.description=Session_Null_Output" \
  --load="module-always-sink" \
  >"$session/pulseaudio.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl info >/dev/null 2>&1 || fail "PulseAudio did not start"
pactl list short sinks 2>/dev/null | grep -q session_sink || fail "PulseAudio has no null sink"
pactl set-default-sink session_sink >/dev/null
pactl set-default-source session_sink.monitor >/dev/null

export TAVREC_SESSION_DIR="$session"
log "DISPLAY=$DISPLAY screen=$screen, running: $*"

# --- the command, in its own process group.
setsid "$@" &
cmd_pid=$!
wait "$cmd_pid"
rc=$?
cleanup "$rc"
