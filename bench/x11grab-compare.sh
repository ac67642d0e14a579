#!/usr/bin/env bash
# Records the same headless 1920x1080 screen with moving content for 20 s at 30 fps
# with korvid-rec and with ffmpeg's x11grab, uncompressed and with one lossless
# codec both offer, and prints one table side by side.
#   bench/x11grab-compare.sh [SECONDS]      (run from the source tree after a build)
# Inside a desktop session already (DISPLAY set by tests/desktop-session.sh) it runs
# directly; otherwise it starts one.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
fps=30

if [ -z "${TAVREC_SESSION_DIR:-}" ]; then
  TAVREC_SCREEN=1920x1080x24 exec "$here/tests/desktop-session.sh" "$0" "$@"
fi

rec="$here/build/bin/korvid-rec"
[ -x "$rec" ] || { echo "build first: $rec is missing" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/tavrec-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Moving content: a clock wandering over a changing background, pointer moving.
xclock -update 1 -geometry 400x400+100+100 >/dev/null 2>&1 &
clock=$!
win=$(xdotool search --sync --onlyvisible --class xclock | head -n 1)
( x=0; while kill -0 "$clock" 2>/dev/null; do
    x=$(( (x + 23) % 1400 )); xdotool windowmove "$win" "$x" $(( 100 + x % 500 )) mousemove $((x + 200)) 700
    xsetroot -solid "#$(printf '%02x%02x%02x' $((x % 256)) $(( (x / 3) % 256)) 128)"
    sleep 0.05
  done ) >/dev/null 2>&1 &
mover=$!
trap 'kill "$mover" "$clock" 2>/dev/null; rm -rf "$work"' EXIT

# cpu_of CMD...: runs CMD and prints the CPU seconds it used: user and system.
cpu_of() {
  bash -c '"$@" >/dev/null 2>"$LOGFILE"; times' _ "$@" | tail -n 1 |
    awk '{ split($1, u, /[ms]/); split($2, s, /[ms]/); print u[1] * 60 + u[2], s[1] * 60 + s[2] }'
}

# packets FILE: "stored positions": frames with data, and stream positions (from the
# stream header; ffprobe lists no packet for an empty chunk, i.e. a dropped frame)
packets() {
  local stored positions
  stored=$(ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$1" | awk '$1 > 0' | wc -l)
  positions=$(ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames -of csv=p=0 "$1")
  echo "$stored ${positions:-$stored}"
}

row() {  # name tool "user system" file dropped
  local name=$1 tool=$2 file=$4 dropped=$5 user sys
  read -r user sys <<<"$3"
  read -r stored _ < <(packets "$file")
  local expected=$((seconds * fps)) size
  size=$(stat -c %s "$file")
  local ms
  ms=$(awk -v u="$user" -v s="$sys" -v n="$stored" \
    'BEGIN { if (n > 0) printf "%.2f %.2f %.2f", (u + s) * 1000 / n, u * 1000 / n, s * 1000 / n; else print "- - -" }')
  read -r all usr syst <<<"$ms"
  printf '%-12s %-10s %10s %8s %8s %14s %8s %12s\n' "$name" "$tool" "$all" "$usr" "$syst" "$stored/$expected" \
    "$dropped" "$(awk -v s="$size" 'BEGIN { printf "%.1f MB", s / 1e6 }')"
  echo "$name $tool $all" >>"$work/ms"
}

lossless=""
if "$rec" --list-codecs | grep -qx "Ut Video"; then lossless="Ut Video:utvideo"; fi
[ -n "$lossless" ] || { "$rec" --list-codecs | grep -qx "Huffyuv / HuffYUV" && lossless="Huffyuv / HuffYUV:huffyuv"; }

echo "x11grab comparison: 1920x1080x24, ${fps} fps, ${seconds} s, $(nproc) cores, $(date -u +%Y-%m-%d)"
printf '%-12s %-10s %10s %8s %8s %14s %8s %12s\n' codec tool "CPU ms/fr" user system "stored/expect" dropped "file size"

run_pair() {  # label ourCodec ffmpegArgs...
  local label=$1 ours=$2; shift 2
  local cpu
  LOGFILE="$work/ours.log" cpu=$(LOGFILE="$work/ours.log" cpu_of "$rec" --fps "$fps" --seconds "$seconds" --codec "$ours" "$work/ours.avi")
  read -r stored positions < <(packets "$work/ours.avi")
  row "$label" korvid-rec "$cpu" "$work/ours.avi" $((positions - stored))
  cpu=$(LOGFILE="$work/ffmpeg.log" cpu_of ffmpeg -y -nostdin -f x11grab -framerate "$fps" -video_size 1920x1080 \
        -i "$DISPLAY" -t "$seconds" "$@" "$work/ffmpeg.avi")
  local dup
  dup=$(grep -o 'dup=[0-9]*' "$work/ffmpeg.log" | tail -n 1 | cut -d= -f2 || true)
  row "$label" ffmpeg "$cpu" "$work/ffmpeg.avi" "${dup:-0}"
  rm -f "$work/ours.avi" "$work/ffmpeg.avi"
}

export LOGFILE
# bgra: the same 32-bit frames as ours (with bgr0 ffmpeg converts to 24 bits and writes less)
run_pair uncompressed Uncompress -c:v rawvideo -pix_fmt bgra
if [ -n "$lossless" ]; then
  run_pair "${lossless##*:}" "${lossless%%:*}" -c:v "${lossless##*:}"
fi
echo
awk '{ v[$1 " " $2] = $3; n[$1] = 1 } END { for (k in n) if (v[k " ffmpeg"] > 0) printf "%-12s ours / ffmpeg CPU per frame: %.2f\n", k, v[k " korvid-rec"] / v[k " ffmpeg"] }' "$work/ms"
