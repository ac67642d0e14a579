#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite inside the
# headless desktop session. The exit code is the suite's.
set -euo pipefail
cd "$(dirname "$0")"
jobs=$(nproc 2>/dev/null || echo 2)

echo "== test.sh: checking packages"
./scripts/install-deps.sh

echo "== test.sh: building (build/)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"

echo "== test.sh: running the tests in a headless desktop session"
rc=0
tests/desktop-session.sh ctest --test-dir build --output-on-failure "$@" || rc=$?

# The capture library's own tests once more under ThreadSanitizer: the engine is
# where threads meet, so that is where races would hide.
if [ "$rc" -eq 0 ] && [ -z "${TAVREC_SKIP_SANITIZERS:-}" ] && [ $# -eq 0 ]; then
  echo "== test.sh: engine tests under ThreadSanitizer (build-tsan/)"
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVREC_SANITIZE=thread >/dev/null
  cmake --build build-tsan -j "$jobs" --target test_capture_interface test_audio_thread test_video_recording
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    tests/desktop-session.sh ctest --test-dir build-tsan --output-on-failure \
      -R '^(CaptureInterface|AudioThreadTest|VideoRecording\.(Uncompressed|Lossless|FollowsAMoved))' || rc=$?
fi
exit "$rc"
