#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite inside the
# headless desktop session. The exit code is the suite's.
set -euo pipefail
cd "$(dirname "$0")"
jobs=$(nproc 2>/dev/null || echo 2)

echo "== test.sh: checking packages"
./scripts/install-deps.sh

echo "== test.sh: building (build/)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON >/dev/null
cmake --build build -j "$jobs"

echo "== test.sh: running the tests in a headless desktop session"
rc=0
tests/desktop-session.sh ctest --test-dir build --output-on-failure -LE wayland "$@" || rc=$?

# The screen on Wayland (the desktop portal's screen cast) in a headless Wayland
# session of its own.
echo "== test.sh: running the Wayland tests in a headless Wayland session"
TAVREC_SCREENCOPY_SHIM="$PWD/build/lib/tavrec-screencopy-shim.so" \
  tests/wayland-session.sh ctest --test-dir build --output-on-failure -L wayland "$@" || rc=$?

# The capture library's tests once more under ThreadSanitizer and under
# AddressSanitizer: the engine is where threads meet and buffers are filled, so
# that is where races and overruns would hide.
if [ "$rc" -eq 0 ] && [ -z "${TAVREC_SKIP_SANITIZERS:-}" ] && [ $# -eq 0 ]; then
  engine_tests=(test_capture_interface test_stream_setup test_audio_thread test_video_recording test_audio_recording test_overlay_frame)

  echo "== test.sh: engine tests under ThreadSanitizer (build-tsan/)"
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVREC_SANITIZE=thread >/dev/null
  cmake --build build-tsan -j "$jobs" --target "${engine_tests[@]}"
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions='$PWD/tests/tsan.supp'" \
    tests/desktop-session.sh ctest --test-dir build-tsan --output-on-failure \
      -R '^(CaptureInterface|StreamSetup|AudioThreadTest|AudioRecording\.RecordsTheTone|VideoRecording\.(Uncompressed|Lossless|FollowsAMoved|WriteFailure)|OverlayFrame\.ConcurrentStrokesAndFrames)' || rc=$?

  if [ "$rc" -eq 0 ]; then
    echo "== test.sh: engine tests under AddressSanitizer (build-asan/)"
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVREC_SANITIZE=address >/dev/null
    cmake --build build-asan -j "$jobs" --target "${engine_tests[@]}"
    ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1" \
      tests/desktop-session.sh ctest --test-dir build-asan --output-on-failure -L engine \
        -E 'SlotsKeepRealTime|ThreeIntervals|HalfMinute' || rc=$?
    # The drawing overlay writes raw frame memory: its clipping is checked here.
    ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1" \
      tests/desktop-session.sh ctest --test-dir build-asan --output-on-failure -R '^OverlayFrame\.' || rc=$?
  fi
fi
exit "$rc"
