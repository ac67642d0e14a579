#!/usr/bin/env bash
# Installs what is missing, builds, and records 10 seconds of the screen with
# korvid-rec into ~/Videos/tavrec-<date>-<time>.avi. Without an X display the
# recording is made of a moving demo window inside a headless desktop session.
# Options are passed to korvid-rec (see build/bin/korvid-rec --help), e.g.
#   ./run.sh --fps 30 --codec "Ut Video"
set -euo pipefail
cd "$(dirname "$0")"
jobs=$(nproc 2>/dev/null || echo 2)

echo "== run.sh: checking packages"
./scripts/install-deps.sh
echo "== run.sh: building (build/)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs" --target korvid-rec tavrec-ctl

if [ ! -x build/bin/korvid-rec ]; then
  echo "run.sh: korvid-rec was not built; nothing to run" >&2
  exit 1
fi

out_dir="$HOME/Videos"
mkdir -p "$out_dir"
file="$out_dir/tavrec-$(date +%Y%m%d-%H%M%S).avi"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "== run.sh: recording 10 s of $DISPLAY"
  build/bin/korvid-rec --seconds 10 "$@" "$file"
else
  echo "== run.sh: no X display; recording a demo window in a headless session"
  tests/desktop-session.sh scripts/demo-recording.sh build/bin/korvid-rec --seconds 10 "$@" "$file"
fi

echo "== run.sh: recorded $file"
ffprobe -v error -show_entries format=duration,size:stream=codec_type,codec_tag_string,width,height,avg_frame_rate,nb_frames \
  -of compact=p=0:nk=0 "$file" | paste -sd ' ' -
