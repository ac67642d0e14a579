#!/usr/bin/env bash
# Records the headless 1920x1080x24 screen with korvid-rec and with ffmpeg's x11grab,
# the same settings side by side, and prints one Markdown table.
#
#   bench/x11grab-compare.sh [--seconds S] [--only REGEX] [--recorder PATH] [S]
#   bench/x11grab-compare.sh --memory [MINUTES] [--codec DESCRIPTION] [--fps N] [--speedup]
#
# Two scenes: "full motion" (a full-screen window repainted at twice the frame rate,
# every pixel changing with each repaint) and "desktop work" (text typed into a
# terminal window at about 10 characters a second, a clock ticking each second, the
# pointer moving now and then). For each: uncompressed, Ut Video, x264 and FFV1, at 30 and
# 60 fps, each for S seconds (default 12), plus korvid-rec in Speedup Mode for desktop
# work when its --help offers --speedup. --only keeps the rows whose
# "scene/codec/fps" (e.g. "motion/utvideo/30", "desktop/x264/60") matches REGEX.
# --recorder runs another korvid-rec build (default: build/bin/korvid-rec).
#
# --memory records desktop work with korvid-rec for MINUTES (default 10; x264 at
# 30 fps unless told otherwise, --speedup for Speedup Mode) and samples its
# resident size every 10 s.
#
# Run from the source tree after building korvid-rec and scene_painter. Inside a
# desktop session already (tests/desktop-session.sh) it runs there; otherwise it
# starts one.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
all_args=("$@")

seconds=12
only=""
memory_minutes=""
memory_codec="libx264 H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10"
memory_fps=30
memory_args=()
rec="$here/build/bin/korvid-rec"
usage() { awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$0" >&2; exit 2; }
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) [ $# -ge 2 ] || usage; seconds=$2; shift 2 ;;
    --only) [ $# -ge 2 ] || usage; only=$2; shift 2 ;;
    --memory)
      memory_minutes=10; shift
      if [ $# -gt 0 ] && [[ $1 =~ ^[0-9]+$ ]]; then memory_minutes=$1; shift; fi ;;
    --codec) [ $# -ge 2 ] || usage; memory_codec=$2; shift 2 ;;
    --fps) [ $# -ge 2 ] || usage; memory_fps=$2; shift 2 ;;
    --speedup) memory_args=(--speedup); shift ;;
    --recorder) [ $# -ge 2 ] || usage; rec=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift 2 ;;
    -h|--help) usage ;;
    *) [[ $1 =~ ^[0-9]+$ ]] || usage; seconds=$1; shift ;;
  esac
done
[[ $seconds =~ ^[0-9]+$ ]] && [ "$seconds" -ge 1 ] || usage

if [ -z "${TAVREC_SESSION_DIR:-}" ]; then
  TAVREC_SCREEN=1920x1080x24 exec "$here/tests/desktop-session.sh" "$0" "${all_args[@]}"
fi

painter="$here/build/bin/scene_painter"
for b in "$rec" "$painter"; do
  [ -x "$b" ] || { echo "build first (cmake --build build --target korvid-rec scene_painter): $b is missing" >&2; exit 1; }
done
geometry=$(xdpyinfo | awk '/dimensions:/ && !g { g = $2 } END { print g }')
[ "$geometry" = 1920x1080 ] || echo "note: the screen is $geometry, not 1920x1080" >&2
work=$(mktemp -d "${TMPDIR:-/tmp}/tavrec-bench.XXXXXX")
scene_pids=()
stop_scene() {
  local p
  for p in "${scene_pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${scene_pids[@]}"; do wait "$p" 2>/dev/null || true; done
  scene_pids=()
}
trap 'stop_scene; rm -rf "$work"' EXIT

hz=$(getconf CLK_TCK)
cores=$(nproc)
speedup=no
help=$("$rec" --help 2>&1 || true)
if [[ $help == *--speedup* ]]; then speedup=yes; fi

# The X server of this session: the Xvfb started by the session script, a child of
# one of this script's ancestors.
xvfb_pid() {
  local p=$$ c
  while [ "$p" -gt 1 ]; do
    for c in $(ps -o pid= --ppid "$p"); do
      [ "$(cat "/proc/$c/comm" 2>/dev/null)" = Xvfb ] && { echo "$c"; return 0; }
    done
    p=$(awk '{ print $4 }' "/proc/$p/stat")
  done
  return 1
}
xpid=$(xvfb_pid) || { echo "cannot find the session's Xvfb" >&2; exit 1; }
# CPU ticks (user + system) the X server has used so far.
xticks() { awk '{ print $14 + $15 }' "/proc/$xpid/stat"; }
now() { echo "$EPOCHREALTIME"; }

# --- scenes -------------------------------------------------------------------------
start_motion() {  # FPS: repaints at twice the frame rate, so every grab sees a new picture
  "$painter" motion $(($1 * 2)) >"$work/painter.id" &
  scene_pids+=($!)
  for _ in $(seq 1 100); do [ -s "$work/painter.id" ] && break; sleep 0.05; done
  [ -s "$work/painter.id" ] || { echo "scene_painter did not start" >&2; exit 1; }
}

start_desktop() {
  xclock -update 1 -geometry 200x200+1660+40 >/dev/null 2>&1 &
  scene_pids+=($!)
  "$painter" terminal 1000x640+60+60 >"$work/terminal.id" &
  scene_pids+=($!)
  for _ in $(seq 1 100); do [ -s "$work/terminal.id" ] && break; sleep 0.05; done
  [ -s "$work/terminal.id" ] || { echo "scene_painter terminal did not start" >&2; exit 1; }
  local terminal
  terminal=$(cat "$work/terminal.id")
  xdotool search --sync --onlyvisible --class xclock >/dev/null
  xdotool windowactivate --sync "$terminal" >/dev/null 2>&1 || xdotool windowfocus --sync "$terminal"
  # Typing: one word per xdotool call, 100 ms a keystroke (xdotool's --delay 200:
  # it waits half the delay after pressing a key, half after releasing). On TERM the loop
  # ends the xdotool it waits for before leaving.
  (
    child=
    trap '[ -n "$child" ] && kill "$child" 2>/dev/null; exit 0' TERM
    words=(the quick brown fox jumps over the lazy dog while make builds the tree and
           the tests run once more in a private session ls cat notes.txt git status)
    n=0
    while :; do
      for w in "${words[@]}"; do
        n=$((n + 1))
        if [ $((n % 11)) -eq 0 ]; then keys=("$w"$'\n'); else keys=("$w "); fi
        xdotool type --delay 200 "${keys[0]}" &
        child=$!
        wait "$child" || true
        child=
      done
    done
  ) >/dev/null 2>&1 &
  scene_pids+=($!)
  # The pointer: a short glide to another place every 3 s.
  (
    x=900 y=700 i=0
    while :; do
      sleep 3
      i=$((i + 1))
      tx=$(( (i * 613) % 1700 + 100 )) ty=$(( (i * 379) % 900 + 80 ))
      for s in 1 2 3 4 5 6 7 8 9 10; do
        xdotool mousemove $((x + (tx - x) * s / 10)) $((y + (ty - y) * s / 10))
        sleep 0.03
      done
      x=$tx y=$ty
    done
  ) >/dev/null 2>&1 &
  scene_pids+=($!)
  sleep 1  # the first words are on the screen
}

# --- one file ---------------------------------------------------------------------
# probe FILE: "data positions": video packets with data, and stream positions (the
# stream header's length; an empty chunk, a position without a picture, has no data)
probe() {
  local data positions
  data=$(ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$1" | awk '$1 > 0' | wc -l)
  positions=$(ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames -of csv=p=0 "$1")
  [[ $positions =~ ^[0-9]+$ ]] || positions=$data
  echo "$data $positions"
}

rows="$work/rows"
: >"$rows"
# One result, tab-separated for the table:
# scene fps codec recorder recCPU xCPU stored expected empty lost size firstms
result() { local IFS=$'\t'; echo "$*" >>"$rows"; }

baseline_rate=0
measure_baseline() {  # SCENE FPS: X server CPU per second with the scene alone
  local x0 t0 x1 t1
  x0=$(xticks); t0=$(now)
  sleep "$seconds"
  x1=$(xticks); t1=$(now)
  baseline_rate=$(awk -v a="$x0" -v b="$x1" -v s="$t0" -v e="$t1" -v hz="$hz" 'BEGIN { printf "%.4f", (b - a) / hz / (e - s) }')
  result "$1" "$2" "-" "scene alone" "-" "$baseline_rate" - - - - - -
}

# x_net X0 X1 T0 T1: the X server's CPU per second of recording beyond the scene's own
x_net() {
  awk -v a="$1" -v b="$2" -v s="$3" -v e="$4" -v hz="$hz" -v base="$baseline_rate" -v n="$seconds" \
    'BEGIN { printf "%.4f", ((b - a) / hz - base * (e - s)) / n }'
}

cpu_per_second() {  # TIMEFILE: user + system of the timed process, per second of recording
  awk -v n="$seconds" 'END { printf "%.4f", ($1 + $2) / n }' "$1"
}

run_ours() {  # SCENE FPS LABEL CODEC [--speedup]
  local scene=$1 fps=$2 label=$3 codec=$4 mode=${5:-}
  local name="korvid-rec" args=()
  if [ "$mode" = --speedup ]; then
    name="korvid-rec --speedup"
    if [ "$speedup" != yes ]; then
      result "$scene" "$fps" "$label" "$name" n/a n/a n/a n/a n/a n/a n/a n/a
      return
    fi
    args=(--speedup)
  fi
  local x0 t0 x1 t1 file="$work/ours.avi"
  x0=$(xticks); t0=$(now)
  /usr/bin/time -f '%U %S' -o "$work/time" "$rec" "${args[@]}" --fps "$fps" --seconds "$seconds" \
    --codec "$codec" "$file" >/dev/null 2>"$work/ours.log" || { echo "korvid-rec failed:" >&2; cat "$work/ours.log" >&2; }
  x1=$(xticks); t1=$(now)
  local data positions expected=$((seconds * fps)) empty lost first reported
  read -r data positions < <(probe "$file")
  empty=$((positions - data))
  if [ "$mode" = --speedup ]; then
    # Empty positions are the unchanged frames as well as the dropped ones, which
    # the file cannot tell apart: the lost ones are the slots the recorder itself
    # reports dropped (its estimate from the gaps between frames), and any positions
    # short of those expected.
    reported=$(sed -n 's/.* frames stored, \([0-9]*\) dropped.*/\1/p' "$work/ours.log" | tail -n 1)
    lost="~$(( ${reported:-0} + (expected > positions ? expected - positions : 0) ))"
  else
    lost=$(( expected > data ? expected - data : 0 ))
  fi
  first=$(sed -n 's/.*start took \([0-9]*\) ms.*/\1/p' "$work/ours.log" | tail -n 1)
  result "$scene" "$fps" "$label" "$name" "$(cpu_per_second "$work/time")" "$(x_net "$x0" "$x1" "$t0" "$t1")" \
    "$data" "$expected" "$empty" "$lost" "$(stat -c %s "$file")" "${first:--}"
  rm -f "$file"
}

run_ffmpeg() {  # SCENE FPS LABEL FFMPEG-OUTPUT-ARGS...
  local scene=$1 fps=$2 label=$3; shift 3
  local x0 t0 x1 t1 file="$work/ffmpeg.avi" fifo="$work/progress.fifo"
  rm -f "$fifo" "$work/progress" "$work/first"
  mkfifo "$fifo"
  # The first progress report that counts a frame, stamped as it arrives (reports
  # every 20 ms); the rest of the reports only copied.
  (
    while IFS= read -r line; do
      echo "$line" >>"$work/progress"
      if [[ $line =~ ^frame=([0-9]+) ]] && [ "${BASH_REMATCH[1]}" -ge 1 ]; then
        now >"$work/first"
        break
      fi
    done
    cat >>"$work/progress"
  ) <"$fifo" &
  local reader=$!
  x0=$(xticks); t0=$(now)
  /usr/bin/time -f '%U %S' -o "$work/time" ffmpeg -y -nostdin -hide_banner -loglevel error \
    -progress "$fifo" -stats_period 0.02 \
    -f x11grab -framerate "$fps" -video_size "$geometry" -i "$DISPLAY" -t "$seconds" "$@" "$file" \
    2>"$work/ffmpeg.log" || { echo "ffmpeg failed:" >&2; cat "$work/ffmpeg.log" >&2; }
  x1=$(xticks); t1=$(now)
  wait "$reader" || true
  local data positions expected=$((seconds * fps)) dup stored lost first=-
  read -r data positions < <(probe "$file")
  # A grab that came too late leaves a gap in the time stamps: the AVI muxer fills
  # it with empty positions, or ffmpeg duplicates the frame before (stored twice,
  # counted once here).
  dup=$(sed -n 's/^dup_frames=//p' "$work/progress" | tail -n 1)
  dup=${dup:-0}
  stored=$((data - dup))
  lost=$(( expected > stored ? expected - stored : 0 ))
  if [ -s "$work/first" ]; then
    first=$(awk -v s="$t0" -v e="$(cat "$work/first")" 'BEGIN { printf "%d", (e - s) * 1000 }')
  fi
  result "$scene" "$fps" "$label" "ffmpeg x11grab" "$(cpu_per_second "$work/time")" "$(x_net "$x0" "$x1" "$t0" "$t1")" \
    "$stored" "$expected" "$((positions - data))" "$lost" "$(stat -c %s "$file")" "$first"
  rm -f "$file"
}

# --- codecs -----------------------------------------------------------------------
# label | korvid-rec --codec | ffmpeg output options giving the same encoder settings
x264_ours="libx264 H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10"
threads=$((cores < 8 ? cores : 8))
codec_labels=(uncompressed utvideo x264 ffv1)
declare -A ours_codec=(
  [uncompressed]=Uncompress
  [utvideo]="Ut Video"
  [x264]=$x264_ours
  [ffv1]="FFmpeg video codec #1"
)
# uncompressed: bgra, the same 32-bit frames as ours. x264: what korvid-rec sets
# (platform/codec/CodecEncoderSetup.cpp, CodecPixelFormat.cpp, CodecSession.cpp):
# preset veryfast, tune zerolatency, CRF 13 (its default quality 7500 of 10000),
# key frame every 100, no B-frames, one slice thread per core up to 8, yuv420p
# converted by libswscale with the same flags. FFV1: bgr0 as grabbed, one slice thread
# per core up to 8.
declare -A ffmpeg_args=(
  [uncompressed]="-c:v rawvideo -pix_fmt bgra"
  [utvideo]="-c:v utvideo"
  [ffv1]="-c:v ffv1 -threads $threads"
  [x264]="-c:v libx264 -preset veryfast -tune zerolatency -crf 13 -g 100 -bf 0 -threads $threads -pix_fmt yuv420p -sws_flags bicubic+accurate_rnd+full_chroma_int+full_chroma_inp"
)

# --- memory check -------------------------------------------------------------------
if [ -n "$memory_minutes" ]; then
  if [ ${#memory_args[@]} -gt 0 ] && [ "$speedup" != yes ]; then
    echo "korvid-rec has no --speedup" >&2
    exit 2
  fi
  start_desktop
  total=$((memory_minutes * 60))
  echo "Memory of korvid-rec${memory_args[*]:+ ${memory_args[*]}} recording desktop work: $memory_codec, $memory_fps fps, $memory_minutes min," \
    "$(date -u +%Y-%m-%d), $(awk -F': *' '/^model name/ && !m { m = $2 } END { print m }' /proc/cpuinfo), $cores cores"
  "$rec" "${memory_args[@]}" --fps "$memory_fps" --seconds "$total" --codec "$memory_codec" "$work/memory.avi" \
    >/dev/null 2>"$work/memory.log" &
  recpid=$!
  : >"$work/rss"
  t=0
  while kill -0 "$recpid" 2>/dev/null; do
    sleep 10
    t=$((t + 10))
    kb=$(awk '/^VmRSS:/ { print $2 }' "/proc/$recpid/status" 2>/dev/null || true)
    [ -n "$kb" ] && [ "$t" -le "$total" ] && echo "$t $kb" >>"$work/rss"
  done
  wait "$recpid" || { echo "korvid-rec failed:" >&2; cat "$work/memory.log" >&2; }
  stop_scene
  # Sampled every 10 s; printed each minute, and the first and last samples.
  echo "RSS (s: MB): $(awk '{ t[NR] = $1; v[NR] = $2 }
    END { for (i = 1; i <= NR; i++) if (i == 1 || i == NR || t[i] % 60 == 0)
            printf "%s%d: %.1f", (i > 1 ? ", " : ""), t[i], v[i] / 1024 }' "$work/rss")"
  awk '$1 >= 60 && !one { one = $2 } { last = $2; lastt = $1; if ($2 > max) max = $2 }
       END { if (!one) { print "recording shorter than a minute"; exit }
             printf "RSS at 1 min %.1f MB, at the end (%d s) %.1f MB, growth %+.1f MB, peak %.1f MB\n",
               one / 1024, lastt, last / 1024, (last - one) / 1024, max / 1024 }' "$work/rss"
  echo "file $(awk -v s="$(stat -c %s "$work/memory.avi")" 'BEGIN { printf "%.1f MB", s / 1e6 }');" \
    "$(grep -E 'frames stored|start took' "$work/memory.log" | sed 's/^korvid-rec: //; s/^[^:]*avi: //' | paste -sd ';' - | sed 's/;/; /g')"
  exit 0
fi

# --- the table ----------------------------------------------------------------------
selected() { [ -z "$only" ] || [[ "$1" =~ $only ]]; }
for scene in motion desktop; do
  for fps in 30 60; do
    any=no
    for label in "${codec_labels[@]}"; do selected "$scene/$label/$fps" && any=yes; done
    [ "$any" = yes ] || continue
    if [ "$scene" = motion ]; then start_motion "$fps"; else start_desktop; fi
    measure_baseline "$scene" "$fps"
    for label in "${codec_labels[@]}"; do
      selected "$scene/$label/$fps" || continue
      run_ours "$scene" "$fps" "$label" "${ours_codec[$label]}"
      # shellcheck disable=SC2086  # the options are words
      run_ffmpeg "$scene" "$fps" "$label" ${ffmpeg_args[$label]}
      [ "$scene" = desktop ] && run_ours "$scene" "$fps" "$label" "${ours_codec[$label]}" --speedup
    done
    stop_scene
  done
done

cpu=$(awk -F': *' '/^model name/ && !m { m = $2 } END { print m }' /proc/cpuinfo)
echo "Measured $(date -u +%Y-%m-%d) on $cpu, $cores cores, $(ffmpeg -version | awk 'NR == 1 { v = $3 } END { print "FFmpeg " v }'):" \
  "1920×1080×24 Xvfb, ${seconds} s a row (\`bench/x11grab-compare.sh\`)."
echo
echo "| scene | fps | codec | recorder | recorder CPU s/s | X server CPU s/s | recorder ms/frame | stored/expected | empty | lost | file MB | first frame ms |"
echo "|---|---:|---|---|---:|---:|---:|---:|---:|---:|---:|---:|"
awk -F'\t' '
  function num(v, f) { return (v == "-" || v == "n/a") ? v : sprintf(f, v) }
  {
    scene = $1 == "motion" ? "full motion" : "desktop work"
    if ($4 == "scene alone") {
      printf "| %s | %s | – | (scene alone) | – | %.2f | – | – | – | – | – | – |\n", scene, $2, $6
      next
    }
    if ($5 == "n/a") {
      printf "| %s | %s | %s | %s | n/a | n/a | n/a | n/a | n/a | n/a | n/a | n/a |\n", scene, $2, $3, $4
      next
    }
    perframe = $7 > 0 ? sprintf("%.2f", $5 * '"$seconds"' * 1000 / $7) : "-"
    printf "| %s | %s | %s | %s | %.3f | %.3f | %s | %d/%d | %d | %s | %.2f | %s |\n",
      scene, $2, $3, $4, $5, $6, perframe, $7, $8, $9, $10, $11 / 1e6, $12
  }' "$rows"
echo
echo "CPU s/s: user + system CPU seconds per second of recording (start and stop included)." \
  "X server: the Xvfb's CPU over the run less what the scene alone costs it over the same time." \
  "recorder ms/frame: the recorder's CPU per stored frame." \
  "Lost: expected less stored (empty positions and, for ffmpeg, duplicated frames are lost frames)." \
  "korvid-rec --speedup: empty positions are" \
  "unchanged frames or dropped ones; lost (~) is korvid-rec's own estimate of the dropped ones." \
  "First frame: korvid-rec's own report (from its start call to its first frame callback); ffmpeg:" \
  "from launching the process to the first -progress report (every 20 ms) that counts a frame."
echo
# The goals, as ratios of this run's rows.
awk -F'\t' '
  $4 != "scene alone" && $5 != "n/a" && $5 != "-" {
    k = $1 "/" $3 "/" $2 "/" $4
    cpu[k] = $5; x[k] = $6; st[k] = $7; lost[k] = $10; size[k] = $11
    sub(/^~/, "", lost[k])
  }
  function have(k) { return k in cpu }
  END {
    split("uncompressed utvideo ffv1", motion, " ")
    for (c = 1; c <= 3; c++) {
      codec = motion[c]
      o = "motion/" codec "/30/korvid-rec"; f = "motion/" codec "/30/ffmpeg x11grab"
      if (have(o) && have(f) && st[o] > 0 && st[f] > 0)
        printf "- full motion 30 fps, %s: CPU per stored frame %.2f × ffmpeg'"'"'s (recorder alone), %.2f × (recorder + X server)\n",
          codec, (cpu[o] / st[o]) / (cpu[f] / st[f]), ((cpu[o] + x[o]) / st[o]) / ((cpu[f] + x[f]) / st[f])
      o = "motion/" codec "/60/korvid-rec"; f = "motion/" codec "/60/ffmpeg x11grab"
      if (have(o) && have(f))
        printf "- full motion 60 fps, %s: lost %d (ours) against %d (ffmpeg)\n", codec, lost[o], lost[f]
    }
    split("uncompressed utvideo x264", codecs, " ")
    for (c = 1; c <= 3; c++) {
      o = "desktop/" codecs[c] "/30/korvid-rec --speedup"; f = "desktop/" codecs[c] "/30/ffmpeg x11grab"
      if (have(o) && have(f) && cpu[f] + x[f] > 0 && size[f] > 0)
        printf "- desktop work 30 fps, %s, Speedup Mode: CPU (recorder + X server) %.2f × ffmpeg'"'"'s, file %.2f × ffmpeg'"'"'s\n",
          codecs[c], (cpu[o] + x[o]) / (cpu[f] + x[f]), size[o] / size[f]
    }
  }' "$rows"
