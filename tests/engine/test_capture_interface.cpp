// links: korvid tavrec_support_Recording tavrec_support_MediaProbe tavrec_platform_x11 tavrec_platform_sync
// The exported functions' parameter and state rules, the frame format, and the
// control events' protocol.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>
#include <unistd.h>

#include "platform/sync/NamedEvent.h"
#include "platform/x11/XDisplay.h"
#include "tests/support/MediaProbe.h"
#include "tests/support/Recording.h"

namespace {

using namespace std::chrono_literals;
using testkit::LastErrorText;
using testkit::Recording;

uint32_t Root()
{
    auto display = platform::XDisplay::Open();
    return display ? display->Root() : 0;
}

TEST(CaptureInterface, RefusesMissingOrBusyRecords)
{
    int32_t capacity = 0;
    GetMyLastError(&capacity);
    EXPECT_EQ(capacity, 256);

    EXPECT_FALSE(InitializeScreenCapture(nullptr));
    EXPECT_EQ(LastErrorText(), "Initialize param error");

    CaptureContext context{};
    EXPECT_FALSE(InitializeScreenCapture(&context));
    EXPECT_EQ(LastErrorText(), "Setting param error");

    testkit::TempDir dir;
    Recording busy(Root(), dir.File("busy.avi"), 10);
    busy.context.State = StateRecording;
    EXPECT_FALSE(busy.Initialize());
    EXPECT_EQ(LastErrorText(), "Setting param error");
    busy.context.State = StateIdle;

    // A frame rate of 0 would divide by zero in the video thread.
    Recording still(Root(), dir.File("still.avi"), 0);
    EXPECT_FALSE(still.Initialize());
    EXPECT_EQ(LastErrorText(), "Setting param error");
    Recording tooFast(Root(), dir.File("fast.avi"), 1001);
    EXPECT_FALSE(tooFast.Initialize());
    EXPECT_EQ(LastErrorText(), "Setting param error");
}

TEST(CaptureInterface, FailuresOfTheControlThreadLeaveTheRecordIdle)
{
    testkit::TempDir dir;
    Recording open(Root(), dir.File("open.avi"), 10);
    int dummy = 0;
    open.context.AviFile = &dummy;
    EXPECT_FALSE(open.Initialize());
    EXPECT_EQ(LastErrorText(), "Failed to create video file, file might not be closed");
    EXPECT_EQ(open.State(), static_cast<uint32_t>(StateIdle));
    EXPECT_EQ(open.context.ControlThread, nullptr);
    EXPECT_EQ(open.context.RunEvent, nullptr);
    EXPECT_EQ(open.context.StopEvent, nullptr);
    EXPECT_EQ(open.context.ReserveEvent, nullptr);
    EXPECT_EQ(open.context.AviFile, &dummy) << "a file the library did not open is left alone";
    open.context.AviFile = nullptr;

    Recording nowhere(Root(), dir.File("no/such/folder/x.avi"), 10);
    EXPECT_FALSE(nowhere.Initialize());
    EXPECT_EQ(LastErrorText(), "Failed to create video file");
    EXPECT_EQ(nowhere.State(), static_cast<uint32_t>(StateIdle));
    EXPECT_FALSE(platform::NamedEvent::OpenExisting("MM2_REC_RUN")) << "the events are closed again";

    // No thread enabled: the file is opened and closed again, nothing runs on.
    Recording nothing(Root(), dir.File("nothing.avi"), 10);
    nothing.options.VideoEnabled = 0;
    nothing.Initialize();
    ASSERT_TRUE(nothing.WaitUntilIdle(5s));
    EXPECT_TRUE(nothing.Stop());
}

TEST(CaptureInterface, StopOnAnIdleRecordReturnsTrue)
{
    CaptureOptions options{};
    CaptureContext context{};
    context.Options = &options;
    EXPECT_TRUE(StopRecording(&context));
    EXPECT_EQ(context.ControlThread, nullptr);
    EXPECT_FALSE(StartRecording(&context)) << "not recording";
    EXPECT_FALSE(PauseRecording(&context)) << "no event to toggle";
}

TEST(CaptureInterface, NothingIsCapturedBeforeStartAndPauseTogglesTheRunEvent)
{
    testkit::TempDir dir;
    {
        Recording idle(Root(), dir.File("idle.avi"), 10);
        ASSERT_TRUE(idle.Initialize()) << LastErrorText();
        EXPECT_EQ(idle.State(), static_cast<uint32_t>(StateRecording));
        EXPECT_NE(idle.context.ControlThreadId, 0u);
        std::this_thread::sleep_for(500ms);
        ASSERT_TRUE(idle.Stop());
        EXPECT_EQ(idle.context.ControlThread, nullptr);
    }
    auto packets = testkit::ProbePackets(dir.File("idle.avi"), 0);
    EXPECT_TRUE(packets.empty()) << packets.size() << " frames before StartRecording";

    Recording toggled(Root(), dir.File("toggled.avi"), 10);
    ASSERT_TRUE(toggled.Initialize()) << LastErrorText();
    auto run = platform::NamedEvent::OpenExisting("MM2_REC_RUN");
    ASSERT_TRUE(run);
    EXPECT_EQ(run->State(), 0);
    EXPECT_TRUE(toggled.Pause()) << "sets the reset event: capture starts";
    EXPECT_EQ(run->State(), 1);
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(toggled.Pause());
    EXPECT_EQ(run->State(), 0);
    EXPECT_TRUE(toggled.Pause());
    EXPECT_EQ(run->State(), 1);
    EXPECT_TRUE(toggled.Start());
    ASSERT_TRUE(toggled.Stop());
    run.reset();
    packets = testkit::ProbePackets(dir.File("toggled.avi"), 0);
    EXPECT_GE(packets.size(), 3u);
}

// Every file descriptor of the process is in use after the set-up (a leak elsewhere in
// the program, say): start, pause and stop still reach the recording, the stop does
// not wait for ever, and the frames are in the file.
TEST(CaptureInterface, StartPauseAndStopWorkWithNoFileDescriptorLeft)
{
    testkit::TempDir dir;
    Recording recording(Root(), dir.File("nofd.avi"), 10);
    ASSERT_TRUE(recording.Initialize()) << LastErrorText();
    std::vector<int> filler;
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        filler.push_back(fd);
    ASSERT_EQ(errno, EMFILE);
    const bool started = recording.Start();
    std::this_thread::sleep_for(600ms);
    const bool paused = recording.Pause();
    const bool resumed = recording.Pause();
    std::this_thread::sleep_for(400ms);
    const auto t0 = std::chrono::steady_clock::now();
    const bool stopped = recording.Stop();
    const auto stopTime = std::chrono::steady_clock::now() - t0;
    for (int fd : filler)
        close(fd);
    EXPECT_TRUE(started);
    EXPECT_TRUE(paused && resumed);
    EXPECT_TRUE(stopped) << LastErrorText();
    EXPECT_LT(stopTime, 5s);
    EXPECT_EQ(recording.State(), static_cast<uint32_t>(StateIdle));
    EXPECT_GE(testkit::ProbePackets(dir.File("nofd.avi"), 0).size(), 5u) << "the run event was set";
}

TEST(CaptureInterface, AnotherHoldersStopRequestEndsTheRecordingByItself)
{
    testkit::TempDir dir;
    Recording recording(Root(), dir.File("remote.avi"), 10);
    std::string error;
    ASSERT_TRUE(recording.Begin(&error)) << error;
    std::this_thread::sleep_for(300ms);
    auto stop = platform::NamedEvent::OpenExisting("MM2_REC_STOP");
    auto run = platform::NamedEvent::OpenExisting("MM2_REC_RUN");
    ASSERT_TRUE(stop && run);
    stop->Set();
    run->Set();
    ASSERT_TRUE(recording.WaitUntilIdle(5s));
    stop.reset();
    run.reset();
    EXPECT_TRUE(recording.Stop());
    EXPECT_GE(testkit::ProbePackets(dir.File("remote.avi"), 0).size(), 2u);
}

// One recording per user at a time: a second set-up, here on another record of the
// same process, is refused and leaves the running recording alone. The lock is given
// back by a set-up that fails and by the stop.
TEST(CaptureInterface, ASecondRecordingIsRefusedWhileOneRuns)
{
    testkit::TempDir dir;
    Recording nowhere(Root(), dir.File("no/such/folder/x.avi"), 5);
    EXPECT_FALSE(nowhere.Initialize());
    EXPECT_EQ(LastErrorText(), "Failed to create video file");

    Recording first(Root(), dir.File("first.avi"), 5);
    std::string error;
    ASSERT_TRUE(first.Begin(&error)) << error;
    const auto started = std::chrono::steady_clock::now();
    {
        Recording second(Root(), dir.File("second.avi"), 5);
        EXPECT_FALSE(second.Initialize());
        EXPECT_EQ(LastErrorText(), "Another recording is running");
        EXPECT_EQ(second.State(), static_cast<uint32_t>(StateIdle));
        EXPECT_EQ(second.context.ControlThread, nullptr);
        EXPECT_EQ(second.context.RunEvent, nullptr);
        EXPECT_NE(access(dir.File("second.avi").c_str(), F_OK), 0) << "no file for the refused recording";
        EXPECT_TRUE(second.Stop()) << "nothing to stop";
    }
    auto run = platform::NamedEvent::OpenExisting("MM2_REC_RUN");
    auto stop = platform::NamedEvent::OpenExisting("MM2_REC_STOP");
    ASSERT_TRUE(run && stop);
    EXPECT_EQ(run->State(), 1) << "the running recording still captures";
    EXPECT_EQ(stop->State(), 0);
    run.reset();
    stop.reset();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(first.State(), static_cast<uint32_t>(StateRecording));
    ASSERT_TRUE(first.Stop()) << LastErrorText();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_NEAR(testkit::ProbeDuration(dir.File("first.avi")), seconds, 0.5);
    EXPECT_GE(testkit::ProbePackets(dir.File("first.avi"), 0).size(), 6u);

    Recording next(Root(), dir.File("next.avi"), 5);
    ASSERT_TRUE(next.Begin(&error)) << "the stopped recording gave the lock back: " << error;
    EXPECT_TRUE(next.Stop());
}

TEST(CaptureInterface, ReserveEventEndsTheRecordingWithFailure)
{
    testkit::TempDir dir;
    Recording recording(Root(), dir.File("reserve.avi"), 10);
    std::string error;
    ASSERT_TRUE(recording.Begin(&error)) << error;
    auto reserve = platform::NamedEvent::OpenExisting("MM2_REC_RESERVE");
    ASSERT_TRUE(reserve);
    reserve->Set();
    ASSERT_TRUE(recording.WaitUntilIdle(5s));
    reserve.reset();
    EXPECT_TRUE(recording.Stop()) << "Idle already: true";
}

TEST(CaptureInterface, AFileNameFillingItsFieldIsReadWithinIt)
{
    testkit::TempDir dir;
    Recording recording(Root(), "", 10);
    const size_t size = sizeof recording.options.FileName;
    const std::string path = dir.Path() + "/" + std::string(size - dir.Path().size() - 1, 'f');
    ASSERT_EQ(path.size(), size);
    std::memcpy(recording.options.FileName, path.data(), size);  // no terminator
    std::strcpy(recording.options.AudioDeviceName, "zz");        // the field after it
    std::string error;
    ASSERT_TRUE(recording.Begin(&error)) << error;
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(recording.Stop()) << LastErrorText();
    EXPECT_EQ(access(path.c_str(), F_OK), 0) << "the file has the field's 256 bytes as its name";
}

TEST(CaptureInterface, StreamNameBufferTakesUpToSixtyFourCharacters)
{
    // Nothing reads the buffer back; the call must accept short, long and empty names.
    SetStreamName(reinterpret_cast<const uint16_t*>(u"Screen"));
    std::u16string longName(80, u'x');
    SetStreamName(reinterpret_cast<const uint16_t*>(longName.c_str()));
    SetStreamName(nullptr);
}

// The frame format at the session's depth; run at several depths by the test below.
TEST(BitmapInformationAtDepth, MatchesTheScreen)
{
    const char* expected = std::getenv("TAVREC_EXPECT_BPP");
    if (!expected)
        GTEST_SKIP() << "runs inside a session of a given depth";
    const int bits = std::atoi(expected);
    BitmapInfoHeader* info = nullptr;
    const int32_t result = GetBitmapInformation(Root(), &info);
    if (bits < 8) {
        EXPECT_EQ(result, -1);
        EXPECT_EQ(info, nullptr);
        return;
    }
    ASSERT_EQ(result, 1);
    ASSERT_NE(info, nullptr);
    auto display = platform::XDisplay::Open();
    const int width = display->ScreenWidth(), height = display->ScreenHeight();
    EXPECT_EQ(info->biSize, 40u);
    EXPECT_EQ(info->biWidth, width);
    EXPECT_EQ(info->biHeight, height);
    EXPECT_EQ(info->biPlanes, 1);
    EXPECT_EQ(info->biBitCount, bits);
    EXPECT_EQ(info->biCompression, 0u);
    EXPECT_EQ(info->biSizeImage, static_cast<uint32_t>(((width * bits + 31) & ~31) / 8 * height));
    EXPECT_EQ(info->biClrUsed, bits == 8 ? 256u : 0u);
    // A block passed in again is freed and replaced.
    BitmapInfoHeader* again = info;
    EXPECT_EQ(GetBitmapInformation(0, &again), 1);
    ReleaseBitmapInfo(again);
    ReleaseBitmapInfo(nullptr);
}

TEST(BitmapInformation, AtTwentyFourSixteenAndEightBitDepths)
{
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    for (const auto& [screen, bpp] : {std::pair{"640x480x24", "32"}, {"640x480x16", "16"}, {"640x480x8", "8"}}) {
        const std::string env = std::string("TAVREC_SCREEN=") + screen;
        const std::string expect = std::string("TAVREC_EXPECT_BPP=") + bpp;
        int code = -1;
        std::string errors;
        const std::string out = testkit::RunCapture(
            {"env", env, expect, "TAVREC_SESSION_QUIET=1", TAVREC_SOURCE_DIR "/tests/desktop-session.sh",
             self, "--gtest_filter=BitmapInformationAtDepth.*"},
            &code, &errors);
        EXPECT_EQ(code, 0) << screen << "\n" << out << errors;
        EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << screen << "\n" << out;
    }
}

}  // namespace
