#!/usr/bin/env bash
# wayland-session.sh CMD [ARGS...]
#
# Runs CMD inside a private headless Wayland desktop: sway with its headless back
# end and software renderer (one output, HEADLESS-1), PipeWire with WirePlumber,
# xdg-desktop-portal with its wlroots back end set to share HEADLESS-1 without
# asking, KDE's portal back end for the global shortcuts (over the KDE shortcut
# daemon, which grabs its keys on sway's XWayland), and a
# PulseAudio server with a null sink, all on a private D-Bus session
# bus that activates nothing (every daemon is started here and has a known process
# id). Everything started here is stopped again by process id, whatever CMD does,
# and CMD's exit code is returned.
#
# CMD runs as the calling user with WAYLAND_DISPLAY (an absolute socket path),
# SWAYSOCK, DBUS_SESSION_BUS_ADDRESS, XDG_RUNTIME_DIR, XDG_SESSION_TYPE=wayland and
# XDG_CURRENT_DESKTOP=sway set and DISPLAY unset; TAVREC_XWAYLAND_DISPLAY names the
# display of sway's XWayland, for programs run under it. sway refuses to run as root: when
# called as root, sway alone runs as TAVREC_WAYLAND_USER and everything else as
# root, which reaches sway's socket like any other. So CMD may live in a folder
# that user cannot enter.
#
#   TAVREC_WAYLAND_SIZE     the output's size, default 640x480
#   TAVREC_WAYLAND_USER     the user sway runs as when called as root, default nobody
#   TAVREC_SCREENCOPY_SHIM  the test build's tavrec-screencopy-shim.so (default: the
#                           one in build/lib of this source tree). The portal's wlroots
#                           back end refuses to share a screen of a renderer without
#                           DMA-BUF (no GPU); the shim lets it share shared memory.
#                           TAVREC_SCREENCOPY_SHIM=none starts it without: a portal
#                           that refuses every screen cast.
#   TAVREC_WAYLAND_PORTAL=0 start no portal at all (nothing on the bus answers)
#   TAVREC_WAYLAND_SHORTCUTS=0 start no global-shortcuts back end: a portal without
#                           GlobalShortcuts, as on sway itself
#
# With the global shortcuts, TAVREC_SESSION_X_DISPLAY names the X display the
# shortcut daemon grabs its keys on (XWayland's): a program run there gets the
# portal's shortcuts for the keys pressed there.
#   TAVREC_SESSION_KEEP=1   keep the session folder (logs) even on success
set -u

if [ $# -eq 0 ]; then
  echo "usage: $0 CMD [ARGS...]" >&2
  exit 2
fi

here=$(cd "$(dirname "$0")" && pwd)
size=${TAVREC_WAYLAND_SIZE:-640x480}
shim=${TAVREC_SCREENCOPY_SHIM:-$here/../build/lib/tavrec-screencopy-shim.so}
pids=()
cmd_pid=
sway_sid=

log() { [ -n "${TAVREC_SESSION_QUIET:-}" ] || echo "wayland-session: $*" >&2; }

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

# Processes of sway's own session (swaybg and whatever it started) that still run.
sway_leftovers() {
  [ -n "$sway_sid" ] || return 0
  ps -o pid=,stat= -s "$sway_sid" 2>/dev/null | awk '$2 !~ /^Z/ {print $1}'
}

cleanup() {
  local rc=$1
  trap - EXIT INT TERM HUP
  if [ -n "$cmd_pid" ]; then
    kill -TERM -- "-$cmd_pid" 2>/dev/null
    sleep 0.2
    kill -KILL -- "-$cmd_pid" 2>/dev/null
  fi
  local i p
  for ((i=${#pids[@]}-1; i>=0; i--)); do stop_pid "${pids[$i]}"; done
  for p in $(sway_leftovers); do stop_pid "$p"; done
  if [ "$rc" -ne 0 ] || [ -n "${TAVREC_SESSION_KEEP:-}" ]; then
    log "session logs kept in $session"
  else
    rm -rf "$session"
  fi
  exit "$rc"
}

fail() { echo "wayland-session: $*" >&2; for f in "$session"/*.log; do [ -s "$f" ] && { echo "--- $f" >&2; tail -n 20 "$f" >&2; }; done; cleanup 125; }

# Waits (up to 10 s) until the command succeeds.
wait_for() {
  for _ in $(seq 1 200); do "$@" >/dev/null 2>&1 && return 0; sleep 0.05; done
  return 1
}

# --- who runs sway, and a session folder that user can reach.
as_sway=()
if [ "$(id -u)" -eq 0 ]; then
  sway_user=${TAVREC_WAYLAND_USER:-nobody}
  sway_uid=$(id -u "$sway_user") && sway_gid=$(id -g "$sway_user") || { echo "wayland-session: no user $sway_user" >&2; exit 125; }
  as_sway=(setpriv --reuid="$sway_uid" --regid="$sway_gid" --clear-groups)
fi
# The shim goes into LD_PRELOAD, which splits at spaces and colons: the session
# folder's path must have neither, and sway's user must be able to enter it.
session=$(mktemp -d "${TMPDIR:-/tmp}/tavrec-wayland.XXXXXX")
chmod 711 "$session"
case $session in *[\ :]*) unsafe=1 ;; *) unsafe= ;; esac
if [ -n "$unsafe" ] || { [ ${#as_sway[@]} -gt 0 ] && ! "${as_sway[@]}" test -x "$session"; }; then
  rm -rf "$session"
  session=$(mktemp -d /tmp/tavrec-wayland.XXXXXX)
  chmod 711 "$session"
fi
trap 'cleanup 130' INT
trap 'cleanup 143' TERM HUP
mkdir -p "$session/run" "$session/home" "$session/config" "$session/sway/run" "$session/sway/home"
chmod 700 "$session/run" "$session/sway/run"
[ ${#as_sway[@]} -gt 0 ] && chown -R "$sway_uid:$sway_gid" "$session/sway"

# --- the compositor.
cat >"$session/sway/sway.conf" <<EOF
output HEADLESS-1 mode $size bg #202020 solid_color
xwayland force
exec sh -c 'printf %s "\$DISPLAY" >"$session/sway/run/x-display.new" && mv "$session/sway/run/x-display.new" "$session/sway/run/x-display"'
default_border none
default_floating_border none
for_window [app_id=".*"] fullscreen enable
EOF
setsid "${as_sway[@]}" env -i PATH=/usr/bin:/bin LANG=C.UTF-8 HOME="$session/sway/home" \
  XDG_RUNTIME_DIR="$session/sway/run" XDG_CONFIG_HOME="$session/sway/home/.config" \
  XDG_SESSION_TYPE=wayland WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
  sway -c "$session/sway/sway.conf" >"$session/sway.log" 2>&1 &
pids+=($!)
sway_sid=$!
export SWAYSOCK="$session/sway/run/sway-ipc.${sway_uid:-$(id -u)}.$sway_sid.sock"
wait_for swaymsg -t get_outputs || fail "sway did not start"
socket=
for s in "$session"/sway/run/wayland-*; do
  case $s in *.lock) ;; *) [ -S "$s" ] && socket=$s && break ;; esac
done
[ -n "$socket" ] || fail "sway made no Wayland socket"
export WAYLAND_DISPLAY="$socket"
# XWayland, which sway starts at once: its display, for tests of a program running
# under it (TAVREC_XWAYLAND_DISPLAY; DISPLAY stays unset). It lets in only its own
# user, sway's: the user running the tests is let in too.
wait_for test -s "$session/sway/run/x-display" || fail "sway started no XWayland"
xwayland_display=$(cat "$session/sway/run/x-display")
if [ ${#as_sway[@]} -gt 0 ]; then
  wait_for "${as_sway[@]}" env -i DISPLAY="$xwayland_display" xhost "+si:localuser:$(id -un)" ||
    fail "XWayland on $xwayland_display does not let $(id -un) in"
fi
export TAVREC_XWAYLAND_DISPLAY="$xwayland_display"

# --- the session bus: no service folders, so nothing starts behind our back.
bus_path=$session/run/bus
escaped=$(printf '%s' "$bus_path" | od -An -tx1 -v | tr -d ' \n' | sed 's/../%&/g')
cat >"$session/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$escaped</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
fifo="$session/bus-address"
mkfifo "$fifo"
dbus-daemon --nofork --nopidfile --config-file="$session/bus.conf" --print-address=3 3>"$fifo" \
  >"$session/dbus.log" 2>&1 &
pids+=($!)
address=
read -r -t 10 address <"$fifo" || fail "dbus-daemon did not start"
export DBUS_SESSION_BUS_ADDRESS="$address"

export XDG_RUNTIME_DIR="$session/run" HOME="$session/home" XDG_CONFIG_HOME="$session/config"
export XDG_STATE_HOME="$session/home/state" XDG_DATA_HOME="$session/home/data"
export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=sway
unset DISPLAY

has_name() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}

# --- PipeWire, and WirePlumber, which links the portal's stream to its reader.
pipewire >"$session/pipewire.log" 2>&1 &
pids+=($!)
wait_for test -S "$XDG_RUNTIME_DIR/pipewire-0" || fail "PipeWire did not start"
wireplumber >"$session/wireplumber.log" 2>&1 &
pids+=($!)
wait_for sh -c 'pw-cli ls Client | grep -q "application.name = \"WirePlumber\""' || fail "WirePlumber did not start"

# --- the portal: the back end must own its name before the front end starts.
if [ "${TAVREC_WAYLAND_PORTAL:-1}" != 0 ]; then
  /usr/libexec/xdg-permission-store >"$session/permission-store.log" 2>&1 &
  pids+=($!)
  wait_for has_name org.freedesktop.impl.portal.PermissionStore || fail "xdg-permission-store did not start"
  cat >"$session/xdpw.conf" <<'EOF'
[screencast]
output_name=HEADLESS-1
chooser_type=none
max_fps=30
EOF
  preload=
  if [ "$shim" != none ]; then
    [ -f "$shim" ] || fail "no screencopy shim at $shim (build the tests, or set TAVREC_SCREENCOPY_SHIM)"
    cp "$shim" "$session/screencopy-shim.so"
    preload=$session/screencopy-shim.so
  fi
  env ${preload:+LD_PRELOAD="$preload"} /usr/libexec/xdg-desktop-portal-wlr -l DEBUG -c "$session/xdpw.conf" \
    >"$session/xdpw.log" 2>&1 &
  pids+=($!)
  wait_for has_name org.freedesktop.impl.portal.desktop.wlr || fail "xdg-desktop-portal-wlr did not start"
  # The portal picks back ends when it starts: the shortcut back end must be there
  # first. The frontend chooses the wlroots one for the screen cast (it names sway)
  # and falls back to KDE's for the global shortcuts, which KDE's back end offers
  # only when it believes it runs on KDE.
  if [ "${TAVREC_WAYLAND_SHORTCUTS:-1}" != 0 ]; then
    kde_portal=
    for f in /usr/libexec/xdg-desktop-portal-kde /usr/lib/*/libexec/xdg-desktop-portal-kde; do
      [ -x "$f" ] && kde_portal=$f && break
    done
    [ -n "$kde_portal" ] || fail "no xdg-desktop-portal-kde (install xdg-desktop-portal-kde, or set TAVREC_WAYLAND_SHORTCUTS=0)"
    x_display=$xwayland_display
    DISPLAY=$x_display QT_QPA_PLATFORM=xcb kglobalaccel5 >"$session/kglobalaccel.log" 2>&1 &
    pids+=($!)
    wait_for has_name org.kde.kglobalaccel || fail "kglobalaccel5 did not start"
    DISPLAY=$x_display QT_QPA_PLATFORM=xcb XDG_CURRENT_DESKTOP=KDE "$kde_portal" >"$session/portal-kde.log" 2>&1 &
    pids+=($!)
    wait_for has_name org.freedesktop.impl.portal.desktop.kde || fail "xdg-desktop-portal-kde did not start"
    export TAVREC_SESSION_X_DISPLAY=$x_display
  fi
  /usr/libexec/xdg-desktop-portal -v >"$session/portal.log" 2>&1 &
  pids+=($!)
  wait_for has_name org.freedesktop.portal.Desktop || fail "xdg-desktop-portal did not start"
fi

# --- sound: a user-mode PulseAudio with a null sink as default sink.
export PULSE_RUNTIME_PATH="$session/run/pulse" PULSE_COOKIE="$session/run/pulse-cookie"
export PULSE_SERVER="unix:$session/run/pulse/native"
mkdir -p "$PULSE_RUNTIME_PATH"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --realtime=no --high-priority=no \
  --log-target=stderr \
  --load="module-native-protocol-unix socket=$session/run/pulse/native auth-anonymous=1" \
  --load="module-null-sink sink_name=session_sink sink_properties=device.description=Session_Null_Output" \
  --load="module-always-sink" \
  >"$session/pulseaudio.log" 2>&1 &
pids+=($!)
wait_for pactl info || fail "PulseAudio did not start"
pactl set-default-sink session_sink >/dev/null
pactl set-default-source session_sink.monitor >/dev/null

export TAVREC_SESSION_DIR="$session"
log "WAYLAND_DISPLAY=$WAYLAND_DISPLAY output HEADLESS-1 $size, running: $*"

# --- the command, in its own process group.
setsid "$@" &
cmd_pid=$!
wait "$cmd_pid"
rc=$?
cleanup "$rc"
