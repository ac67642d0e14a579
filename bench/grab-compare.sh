#!/usr/bin/env bash
# grab-compare.sh [GRAB_BENCH] [SECONDS]
#
# CPU cost of full-screen grabs at 30 fps, ours (ScreenGrabber over MIT-SHM) against
# ffmpeg's x11grab, in one headless 1920x1080x24 session with moving content. Prints
# milliseconds of CPU per frame for the grabbing process and for the X server, which
# does the copy into shared memory in both cases.
#
#   GRAB_BENCH  the grab_bench program (default: build/bin/grab_bench beside this folder)
#   SECONDS     length of each run, default 10
set -u

here=$(cd "$(dirname "$0")" && pwd)
bench=${1:-$here/../build/bin/grab_bench}
seconds=${2:-10}
bench=$(cd "$(dirname "$bench")" && pwd)/$(basename "$bench")
[ -x "$bench" ] || { echo "grab-compare: no grab_bench at $bench (build the grab_bench target)" >&2; exit 2; }
command -v ffmpeg >/dev/null || { echo "grab-compare: ffmpeg is not installed" >&2; exit 2; }

# Outside a session: run this script again inside one of its own.
if [ -z "${TAVREC_SESSION_DIR:-}" ]; then
  TAVREC_SCREEN=1920x1080x24 TAVREC_SESSION_QUIET=1 exec "$here/../tests/desktop-session.sh" "$0" "$bench" "$seconds"
fi

frames=$((seconds * 30))
size=$(xdpyinfo | sed -n 's/.*dimensions: *\([0-9]*x[0-9]*\).*/\1/p')

# The X server is the session script's child, as this script is.
xserver=$(pgrep -P "$PPID" -x Xvfb | head -n 1)
server_ticks() {
  [ -n "$xserver" ] || { echo 0; return; }
  awk '{print $14 + $15}' "/proc/$xserver/stat"
}
hz=$(getconf CLK_TCK)

"$bench" animate &
animator=$!
trap 'kill -TERM "$animator" 2>/dev/null; wait "$animator" 2>/dev/null' EXIT
sleep 0.5

printf '%-34s %7s %16s %16s\n' "screen $size, $seconds s at 30 fps" frames "client ms/frame" "server ms/frame"

report() {  # name frames client_cpu_ms server_ticks
  awk -v n="$1" -v f="$2" -v c="$3" -v t="$4" -v hz="$hz" 'BEGIN {
    if (f <= 0) { printf "%-34s %7s\n", n, "failed"; exit }
    printf "%-34s %7d %16.3f %16.3f\n", n, f, c / f, t * 1000 / hz / f }'
}

ours() {  # name extra-args...
  local name=$1; shift
  local t0 t1 out
  t0=$(server_ticks)
  out=$("$bench" grab "$frames" 30 "$@") || { report "$name" 0 0 0; return; }
  t1=$(server_ticks)
  report "$name" "$(awk '{print $2}' <<<"$out")" "$(awk '{print $4}' <<<"$out")" $((t1 - t0))
}

theirs() {  # name ffmpeg-input-options...
  local name=$1; shift
  local t0 t1 out log
  log=$(mktemp)
  t0=$(server_ticks)
  out=$("$bench" run ffmpeg -hide_banner -loglevel error -stats -f x11grab "$@" -framerate 30 \
        -video_size "$size" -i "$DISPLAY" -t "$seconds" -f null - 2>"$log")
  t1=$(server_ticks)
  local n
  n=$(tr '\r' '\n' <"$log" | sed -n 's/^frame= *\([0-9]*\).*/\1/p' | tail -n 1)
  rm -f "$log"
  report "$name" "${n:-0}" "$(awk '{print $2}' <<<"$out")" $((t1 - t0))
}

ours   "tavrec grab, copy to own frame"
ours   "tavrec grab into FrameBuffer()" --direct
theirs "ffmpeg x11grab -draw_mouse 0" -draw_mouse 0
ours   "tavrec grab + cursor" --direct --cursor
theirs "ffmpeg x11grab (draws the mouse)"
TAVREC_NO_SHM=1 ours "tavrec without MIT-SHM (GetImage)" --direct
