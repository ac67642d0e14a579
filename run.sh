#!/usr/bin/env bash
# Installs what is missing, builds and starts the recorder program tavrec.
# With an X display its tool window opens there. Without one it runs inside a
# headless desktop session: a screenshot of the tool window is written to
# build/tavrec-window.png, its path printed, and the program closed again.
#
#   ./run.sh                  start tavrec
#   ./run.sh --record [OPTS]  the older demo: record 10 seconds with korvid-rec into
#                             ~/Videos/tavrec-<date>-<time>.avi; OPTS go to korvid-rec
#                             (see build/bin/korvid-rec --help), e.g.
#                             ./run.sh --record --fps 30 --codec "Ut Video"
set -euo pipefail
cd "$(dirname "$0")"
jobs=$(nproc 2>/dev/null || echo 2)

have_display() { [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; }

# Inside the headless session: start tavrec, photograph its window, close it.
if [ "${1:-}" = "--headless-window" ]; then
  shot=$2
  build/bin/tavrec &
  pid=$!
  window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Tavrec!$' | head -n 1 || true)
  if [ -z "$window" ]; then
    echo "run.sh: the tavrec window did not appear" >&2
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    exit 1
  fi
  sleep 0.5  # let the first paint finish
  # The window manager's frame holds the client: photograph title bar and toolbar.
  frame=$(xwininfo -tree -id "$window" | sed -n 's/.*Parent window id: \(0x[0-9a-f]*\).*/\1/p')
  [ -n "$frame" ] && [ "$frame" != "$(xwininfo -root | sed -n 's/.*Window id: \(0x[0-9a-f]*\).*/\1/p')" ] || frame=$window
  xwd -silent -id "$frame" >"$shot.xwd"
  ffmpeg -loglevel error -y -i "$shot.xwd" "$shot"
  rm -f "$shot.xwd"
  kill -TERM "$pid"
  wait "$pid"
  exit 0
fi

echo "== run.sh: checking packages"
./scripts/install-deps.sh
echo "== run.sh: building (build/)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

if [ "${1:-}" = "--record" ]; then
  shift
  cmake --build build -j "$jobs" --target korvid-rec tavrec-ctl
  out_dir="$HOME/Videos"
  mkdir -p "$out_dir"
  file="$out_dir/tavrec-$(date +%Y%m%d-%H%M%S).avi"
  if have_display; then
    echo "== run.sh: recording 10 s of $DISPLAY"
    build/bin/korvid-rec --seconds 10 "$@" "$file"
  else
    echo "== run.sh: no X display; recording a demo window in a headless session"
    tests/desktop-session.sh scripts/demo-recording.sh build/bin/korvid-rec --seconds 10 "$@" "$file"
  fi
  echo "== run.sh: recorded $file"
  ffprobe -v error -show_entries format=duration,size:stream=codec_type,codec_tag_string,width,height,avg_frame_rate,nb_frames \
    -of compact=p=0:nk=0 "$file" | paste -sd ' ' -
  exit 0
fi

cmake --build build -j "$jobs" --target tavrec
if have_display; then
  echo "== run.sh: starting tavrec on $DISPLAY"
  exec build/bin/tavrec
fi

echo "== run.sh: no X display; starting tavrec in a headless session"
shot="$PWD/build/tavrec-window.png"
rm -f "$shot"
TAVREC_SESSION_QUIET=1 tests/desktop-session.sh "$PWD/run.sh" --headless-window "$shot"
echo "== run.sh: screenshot of the tool window: $shot"
