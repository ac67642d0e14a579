// links: tavrec_support_MediaProbe tavrec_support_PulseModule tavrec_support_RiffReader tavrec_support_PrivateXServer tavrec_support_NoFutexWaitv tavrec_platform_sync
// korvid-rec and tavrec-ctl as a user runs them.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <sstream>
#include <thread>

#include <dirent.h>

#include "platform/sync/NamedEvent.h"
#include "tests/support/MediaProbe.h"
#include "tests/support/NoFutexWaitv.h"
#include "tests/support/PrivateXServer.h"
#include "tests/support/PulseModule.h"
#include "tests/support/RiffReader.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

const std::string kRec = TAVREC_BINARY_DIR "/bin/korvid-rec";
const std::string kCtl = TAVREC_BINARY_DIR "/bin/tavrec-ctl";

// A program started in the background with extra environment variables.
class Child {
public:
    // oldKernel: run it as on a kernel without futex_waitv.
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {}, bool oldKernel = false)
    {
        std::vector<char*> args, env;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (char** e = environ; *e; ++e)
            env.push_back(*e);
        for (const auto& e : extraEnv)
            env.push_back(const_cast<char*>(e.c_str()));
        env.push_back(nullptr);
        if (oldKernel) {
            pid_ = fork();
            if (pid_ == 0) {
                if (testkit::DenyFutexWaitv())
                    execve(args[0], args.data(), env.data());
                _exit(127);
            }
            return;
        }
        if (posix_spawnp(&pid_, args[0], nullptr, nullptr, args.data(), env.data()) != 0)
            pid_ = -1;
    }
    pid_t Pid() const { return pid_; }
    ~Child()
    {
        if (pid_ > 0 && !done_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool Running() const { return pid_ > 0; }
    void Signal(int signal) { kill(pid_, signal); }
    // Exit code, or -1 when it did not end in time or was killed.
    int Wait(std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                done_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(20ms);
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
    bool done_ = false;
};

std::string Ctl(const std::string& command, int* code)
{
    return testkit::RunCapture({kCtl, command}, code);
}

// Waits until tavrec-ctl sees a recording.
bool WaitForRecording()
{
    for (int i = 0; i < 100; ++i) {
        int code = -1;
        if (Ctl("status", &code) == "recording\n")
            return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

TEST(KorvidRec, HelpAndBadArguments)
{
    int code = -1;
    const std::string help = testkit::RunCapture({kRec, "--help"}, &code);
    EXPECT_EQ(code, 0);
    for (const char* option : {"--window", "--fps", "--codec", "--seconds", "--list-codecs", "--help"})
        EXPECT_NE(help.find(option), std::string::npos) << option;

    std::string errors;
    testkit::RunCapture({kRec, "--fps", "0", "x.avi"}, &code, &errors);
    EXPECT_EQ(code, 2);
    EXPECT_NE(errors.find("--fps"), std::string::npos);
    testkit::RunCapture({kRec, "--bogus"}, &code, &errors);
    EXPECT_EQ(code, 2);
    testkit::RunCapture({kRec}, &code, &errors);
    EXPECT_EQ(code, 2);
    EXPECT_NE(errors.find("no output file"), std::string::npos);
    testkit::RunCapture({kRec, "--window", "0x7fffffff", "x.avi"}, &code, &errors);
    EXPECT_EQ(code, 2);
    EXPECT_NE(errors.find("no such window"), std::string::npos);

    const std::string codecs = testkit::RunCapture({kRec, "--list-codecs"}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_NE(codecs.find("\n"), std::string::npos) << "at least one codec";
}

TEST(KorvidRec, RecordsForTheGivenSecondsAndStopsOnSigterm)
{
    testkit::TempDir dir;
    int code = -1;
    std::string errors;
    testkit::RunCapture({kRec, "--fps", "10", "--seconds", "1.5", dir.File("timed.avi")}, &code, &errors);
    ASSERT_EQ(code, 0) << errors;
    EXPECT_NEAR(testkit::ProbeDuration(dir.File("timed.avi")), 1.5, 0.35);

    Child rec({kRec, "--fps", "10", dir.File("term.avi")});
    ASSERT_TRUE(WaitForRecording());
    std::this_thread::sleep_for(800ms);
    rec.Signal(SIGTERM);
    EXPECT_EQ(rec.Wait(10s), 0);
    EXPECT_GE(testkit::ProbePackets(dir.File("term.avi"), 0).size(), 5u);

    // A file that cannot be created is reported with the library's text.
    testkit::RunCapture({kRec, "--seconds", "1", dir.File("missing/x.avi")}, &code, &errors);
    EXPECT_EQ(code, 1);
    EXPECT_NE(errors.find("Failed to create video file"), std::string::npos) << errors;
}

TEST(TavrecCtl, PausesResumesAndStopsARunningRecorder)
{
    int code = -1;
    EXPECT_EQ(Ctl("status", &code), "no recording\n");
    EXPECT_EQ(code, 1);
    Ctl("stop", &code);
    EXPECT_EQ(code, 1) << "nothing to stop";
    Ctl("bogus", &code);
    EXPECT_EQ(code, 2);

    testkit::TempDir dir;
    Child rec({kRec, "--fps", "10", dir.File("ctl.avi")});
    ASSERT_TRUE(WaitForRecording());
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(1s);
    Ctl("pause", &code);
    EXPECT_EQ(code, 0);
    const auto t1 = std::chrono::steady_clock::now();
    EXPECT_EQ(Ctl("status", &code), "paused\n");
    std::this_thread::sleep_for(1500ms);
    Ctl("resume", &code);
    EXPECT_EQ(code, 0);
    const auto t2 = std::chrono::steady_clock::now();
    EXPECT_EQ(Ctl("status", &code), "recording\n");
    std::this_thread::sleep_for(1s);
    Ctl("stop", &code);
    EXPECT_EQ(code, 0);
    const auto t3 = std::chrono::steady_clock::now();
    EXPECT_EQ(rec.Wait(10s), 0) << "stopped from outside: a normal end";
    const double recorded = std::chrono::duration<double>((t1 - t0) + (t3 - t2)).count();
    EXPECT_NEAR(testkit::ProbeDuration(dir.File("ctl.avi")), recorded, 0.25);
    EXPECT_EQ(Ctl("status", &code), "no recording\n");
}

TEST(KorvidRec, ARecordingGoesOnAcrossTheTickCountersWrap)
{
    // Start the library's tick count one second before it wraps at 2^32 ms.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    const uint32_t offset = static_cast<uint32_t>(0x100000000ull - (ms & 0xFFFFFFFFull) - 1000);
    testkit::TempDir dir;
    Child rec({kRec, "--fps", "10", "--seconds", "3", dir.File("wrap.avi")},
              {"TAVREC_TICK_OFFSET_MS=" + std::to_string(offset)});
    EXPECT_EQ(rec.Wait(20s), 0);
    const auto packets = testkit::ProbePackets(dir.File("wrap.avi"), 0);
    EXPECT_GE(packets.size(), 25u) << "the recording must not end at the wrap";
}

TEST(KorvidRec, AWriteFailureEndsTheRecorderWithTheLibrarysMessage)
{
    testkit::TempDir dir;
    int code = -1;
    std::string errors;
    testkit::RunCapture({"prlimit", "--fsize=3000000", kRec, "--fps", "10", "--seconds", "20", dir.File("full.avi")},
                        &code, &errors);
    EXPECT_EQ(code, 1);
    EXPECT_NE(errors.find("Write video data error"), std::string::npos) << errors;
    EXPECT_FALSE(testkit::ProbeStreams(dir.File("full.avi")).empty()) << "the file stays readable";
}

// Two recorders of one user would share the control events: the second is refused
// with the library's text and makes no file, whether both start at the same moment
// or one starts beside a running one, and the recording that runs is not disturbed.
TEST(KorvidRec, ASecondRecorderIsRefusedAndTheFirstRecordsOn)
{
    {
        SCOPED_TRACE("started at once");
        testkit::TempDir dir;
        const std::string files[2] = {dir.File("a.avi"), dir.File("b.avi")};
        int codes[2] = {-1, -1};
        std::string errors[2];
        std::thread other([&] {
            testkit::RunCapture({kRec, "--fps", "5", "--seconds", "2", files[1]}, &codes[1], &errors[1]);
        });
        testkit::RunCapture({kRec, "--fps", "5", "--seconds", "2", files[0]}, &codes[0], &errors[0]);
        other.join();
        const int winner = codes[0] == 0 ? 0 : 1, loser = 1 - winner;
        ASSERT_EQ(codes[winner], 0) << errors[0] << errors[1];
        EXPECT_EQ(codes[loser], 1) << errors[loser];
        EXPECT_NE(errors[loser].find("Another recording is running"), std::string::npos) << errors[loser];
        EXPECT_NE(access(files[loser].c_str(), F_OK), 0) << "the refused recorder made a file";
        EXPECT_NEAR(testkit::ProbeDuration(files[winner]), 2.0, 0.35);
    }
    {
        SCOPED_TRACE("one beside a running one");
        testkit::TempDir dir;
        Child first({kRec, "--fps", "5", dir.File("first.avi")});
        ASSERT_TRUE(WaitForRecording());
        const auto t0 = std::chrono::steady_clock::now();
        int code = -1;
        std::string errors;
        testkit::RunCapture({kRec, "--fps", "5", "--seconds", "1", dir.File("second.avi")}, &code, &errors);
        EXPECT_EQ(code, 1) << errors;
        EXPECT_NE(errors.find("Another recording is running"), std::string::npos) << errors;
        EXPECT_NE(access(dir.File("second.avi").c_str(), F_OK), 0);
        std::this_thread::sleep_for(1500ms);
        EXPECT_EQ(Ctl("status", &code), "recording\n") << "the first recording goes on";
        first.Signal(SIGTERM);
        const auto t1 = std::chrono::steady_clock::now();
        EXPECT_EQ(first.Wait(10s), 0);
        const double recorded = std::chrono::duration<double>(t1 - t0).count();
        EXPECT_NEAR(testkit::ProbeDuration(dir.File("first.avi")), recorded, 0.4);
    }
}

// A recorder killed while another process has the control events open (tavrec-ctl,
// the program's window following a recording) leaves them set: its run state, and a
// stop request that came after it died. The next recording starts from reset events
// and records its whole length.
TEST(KorvidRec, EventsLeftSetByAKilledRecorderDoNotEndTheNext)
{
    testkit::TempDir dir;
    std::unique_ptr<platform::NamedEvent> run, stop;
    {
        Child killed({kRec, "--fps", "5", dir.File("killed.avi")});
        ASSERT_TRUE(WaitForRecording());
        run = platform::NamedEvent::OpenExisting("MM2_REC_RUN");
        stop = platform::NamedEvent::OpenExisting("MM2_REC_STOP");
        ASSERT_TRUE(run && stop);
        std::this_thread::sleep_for(500ms);
        killed.Signal(SIGKILL);
        killed.Wait(10s);
    }
    stop->Set();
    ASSERT_EQ(run->State(), 1);
    int code = -1;
    std::string errors;
    testkit::RunCapture({kRec, "--fps", "5", "--seconds", "2", dir.File("next.avi")}, &code, &errors);
    EXPECT_EQ(code, 0) << errors;
    EXPECT_NEAR(testkit::ProbeDuration(dir.File("next.avi")), 2.0, 0.35) << "ended at once by the stale stop";
}

// The signals korvid-rec finishes the file on, as a SigBlk mask of /proc.
constexpr uint64_t kStopSignals = 1ull << (SIGHUP - 1) | 1ull << (SIGINT - 1) | 1ull << (SIGTERM - 1);

// The blocked-signal masks of every thread of the process but its main thread.
std::vector<uint64_t> OtherThreadsBlocked(pid_t pid)
{
    std::vector<uint64_t> masks;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir)
        return masks;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.' || std::to_string(pid) == entry->d_name)
            continue;
        std::ifstream status(tasks + "/" + entry->d_name + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("SigBlk:", 0) == 0)
                masks.push_back(std::stoull(line.substr(7), nullptr, 16));
    }
    closedir(dir);
    return masks;
}

TEST(KorvidRec, SighupFinishesTheFileAndTheLibrarysThreadsBlockTheStopSignals)
{
    testkit::TempDir dir;
    Child rec({kRec, "--fps", "10", dir.File("hup.avi")});
    ASSERT_TRUE(WaitForRecording());
    const std::vector<uint64_t> masks = OtherThreadsBlocked(rec.Pid());
    EXPECT_GE(masks.size(), 2u) << "the control and the video thread";
    for (uint64_t mask : masks)
        EXPECT_EQ(mask & kStopSignals, kStopSignals) << std::hex << mask;
    std::this_thread::sleep_for(800ms);
    rec.Signal(SIGHUP);
    EXPECT_EQ(rec.Wait(10s), 0);
    EXPECT_GE(testkit::ProbePackets(dir.File("hup.avi"), 0).size(), 5u);
}

TEST(KorvidRec, ARecordingThatEndsByItselfWithoutATextExitsWith1)
{
    testkit::TempDir dir;
    Child rec({kRec, "--fps", "10", dir.File("reserve.avi")});
    ASSERT_TRUE(WaitForRecording());
    auto reserve = platform::NamedEvent::OpenExisting("MM2_REC_RESERVE");
    ASSERT_TRUE(reserve);
    reserve->Set();  // the video thread ends with 1 and says nothing
    reserve.reset();
    EXPECT_EQ(rec.Wait(10s), 1);
}

// Sound and video together where the kernel has no futex_waitv (before Linux 5.16),
// really (a seccomp filter) and as forced by the environment.
TEST(KorvidRec, RecordsSoundAndVideoWithoutFutexWaitv)
{
    for (const bool oldKernel : {true, false}) {
        SCOPED_TRACE(oldKernel ? "futex_waitv missing" : "TAVREC_NO_FUTEX_WAITV=1");
        testkit::TempDir dir;
        const std::string file = dir.File("av.avi");
        Child rec({kRec, "--fps", "10", "--audio", "", file},
                  oldKernel ? std::vector<std::string>{} : std::vector<std::string>{"TAVREC_NO_FUTEX_WAITV=1"},
                  oldKernel);
        ASSERT_TRUE(WaitForRecording());
        std::this_thread::sleep_for(2500ms);
        rec.Signal(SIGINT);
        EXPECT_EQ(rec.Wait(10s), 0);
        EXPECT_GE(testkit::ProbePackets(file, 0).size(), 20u);
        int channels = 0, rate = 0;
        const auto samples = testkit::DecodeAudio(file, &channels, &rate);
        ASSERT_GT(channels * rate, 0);
        EXPECT_GT(static_cast<double>(samples.size()) / (channels * rate), 1.5) << "seconds of sound";
    }
}

// The recorded sound source goes away (a microphone unplugged): korvid-rec ends with
// the source's reason and exit status 1, and what was recorded until then plays.
TEST(KorvidRec, ASoundSourceThatGoesAwayEndsTheRecorderWithItsReason)
{
    testkit::PulseModule sine({"module-sine-source", "source_name=rec_vanishing", "frequency=440",
                               "source_properties=device.description=Rec_vanishing"});
    ASSERT_TRUE(sine.Loaded());
    testkit::TempDir dir;
    const std::string file = dir.File("gone.avi");
    std::thread unplug([&] {
        if (testkit::WaitUntilSourceIsRecorded("rec_vanishing")) {
            std::this_thread::sleep_for(2500ms);
            sine.Unload();
        }
    });
    int code = -1;
    std::string errors;
    testkit::RunCapture({kRec, "--fps", "10", "--seconds", "20", "--audio", "Rec_vanishing", file}, &code, &errors);
    unplug.join();
    EXPECT_EQ(code, 1) << errors;
    EXPECT_NE(errors.find("rec_vanishing"), std::string::npos) << errors;
    int channels = 0, rate = 0;
    const auto samples = testkit::DecodeAudio(file, &channels, &rate);
    ASSERT_GT(channels * rate, 0);
    EXPECT_GT(static_cast<double>(samples.size()) / (channels * rate), 1.0) << "seconds of sound before it went";
}

// Amplitude of hz in the mono mix of s[from, to) (Goertzel), for a sine of amplitude
// a about a.
double ToneAmplitude(const std::vector<int16_t>& s, int channels, int rate, size_t from, size_t to, double hz)
{
    const double w = 2 * M_PI * hz / rate, c = 2 * std::cos(w);
    double p = 0, q = 0;
    for (size_t i = from; i < to; ++i) {
        double sample = 0;
        for (int k = 0; k < channels; ++k)
            sample += s[i * channels + k];
        const double next = sample / channels / 32768.0 + c * p - q;
        q = p;
        p = next;
    }
    return 2 * std::sqrt(std::max(p * p + q * q - c * p * q, 0.0)) / static_cast<double>(to - from);
}

// Two --audio: both sources in the one track.
TEST(KorvidRec, TwoSoundSourcesAreMixedIntoTheOneTrack)
{
    testkit::PulseModule low({"module-sine-source", "source_name=rec_low", "frequency=440",
                              "source_properties=device.description=Rec_low"});
    testkit::PulseModule high({"module-sine-source", "source_name=rec_high", "frequency=1000",
                               "source_properties=device.description=Rec_high"});
    ASSERT_TRUE(low.Loaded() && high.Loaded());
    testkit::TempDir dir;
    const std::string file = dir.File("mixed.avi");
    int code = -1;
    std::string errors;
    testkit::RunCapture({kRec, "--fps", "10", "--seconds", "4", "--audio", "Rec_low", "--audio", "Rec_high", file},
                        &code, &errors);
    ASSERT_EQ(code, 0) << errors;
    int channels = 0, rate = 0;
    const auto samples = testkit::DecodeAudio(file, &channels, &rate);
    ASSERT_GT(channels * rate, 0);
    const size_t frames = samples.size() / channels;
    ASSERT_GT(frames, static_cast<size_t>(rate) * 3) << "seconds of sound: " << double(frames) / rate;
    // The second second, away from the start and the stop.
    const size_t from = static_cast<size_t>(rate), to = static_cast<size_t>(rate) * 2;
    const double a440 = ToneAmplitude(samples, channels, rate, from, to, 440);
    const double a1000 = ToneAmplitude(samples, channels, rate, from, to, 1000);
    const double a700 = ToneAmplitude(samples, channels, rate, from, to, 700);
    EXPECT_GT(a440, 0.1) << "the first source is missing";
    EXPECT_GT(a1000, 0.1) << "the second source is missing";
    EXPECT_LT(a700, 0.02) << "noise where no tone is";
}

// Lossy encoders are fed 4:2:0, which every player decodes; the lossless and RGB ones
// keep their exact format. Encoders print nothing unless asked, and the report says
// how long the start took.
TEST(KorvidRec, LossyEncodersGetFourTwoZeroAndARecordingOpensOnlyItsEncoderQuietly)
{
    struct Case {
        const char* codec;
        const char* pixelFormat;
    };
    for (const Case& c : {Case{"libx264 H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10", "yuv420p"},
                          Case{"MPEG-4 part 2", "yuv420p"}, Case{"MJPEG (Motion JPEG)", "yuvj420p"},
                          Case{"libx264 H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10 RGB", "gbrp"}}) {
        SCOPED_TRACE(c.codec);
        testkit::TempDir dir;
        const std::string file = dir.File("lossy.avi");
        int code = -1;
        std::string errors;
        testkit::RunCapture({kRec, "--fps", "10", "--seconds", "1", "--codec", c.codec, file}, &code, &errors);
        ASSERT_EQ(code, 0) << errors;
        const auto streams = testkit::ProbeStreams(file);
        ASSERT_FALSE(streams.empty());
        EXPECT_EQ(streams[0].at("pix_fmt"), c.pixelFormat);
        const int width = std::stoi(streams[0].at("width")), height = std::stoi(streams[0].at("height"));
        EXPECT_GE(testkit::DecodeVideo(file, "bgr0", width, height, 4).size(), 5u) << "the frames decode";

        std::istringstream lines(errors);
        for (std::string line; std::getline(lines, line);)
            EXPECT_EQ(line.rfind("korvid-rec: ", 0), 0u) << "printed unasked: " << line;
        EXPECT_NE(errors.find("korvid-rec: start took "), std::string::npos) << errors;
    }
    std::string errors;
    int code = -1;
    testkit::RunCapture({kRec, "--list-codecs"}, &code, &errors);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(errors, "") << "the trial opens of every encoder print nothing";

    // Asked for, the encoders' messages come: the listing tries every encoder, x264's
    // and SVT-AV1's among them, while a recording opens only the encoder it uses.
    testkit::RunCapture({"env", "TAVREC_CODEC_LOG=info", kRec, "--list-codecs"}, &code, &errors);
    EXPECT_EQ(code, 0);
    EXPECT_NE(errors.find("x264"), std::string::npos) << "TAVREC_CODEC_LOG=info printed no encoder's message";
    testkit::TempDir dir;
    testkit::RunCapture({"env", "TAVREC_CODEC_LOG=info", kRec, "--fps", "10", "--seconds", "0.5", "--codec",
                         "MJPEG (Motion JPEG)", dir.File("mjpeg.avi")},
                        &code, &errors);
    EXPECT_EQ(code, 0) << errors;
    EXPECT_EQ(errors.find("x264"), std::string::npos) << "the recording tried other encoders: " << errors;
    EXPECT_EQ(errors.find("Svt"), std::string::npos) << "the recording tried other encoders: " << errors;
}

TEST(KorvidRec, AnXServerThatGoesAwayEndsTheRecordingWithAMessage)
{
    testkit::PrivateXServer server("320x240x24");
    ASSERT_TRUE(server.Running());
    testkit::TempDir dir;
    const std::string file = dir.File("gone.avi");
    std::thread killer([&] {
        std::this_thread::sleep_for(2s);
        server.Kill();
    });
    int code = -1;
    std::string errors;
    const auto start = std::chrono::steady_clock::now();
    testkit::RunCapture({"env", "DISPLAY=" + server.Display(), kRec, "--fps", "10", "--seconds", "30", file}, &code,
                        &errors);
    killer.join();
    EXPECT_EQ(code, 1) << errors;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s) << "no frozen frames until the time is up";
    EXPECT_NE(errors.find("Failed to grab the screen"), std::string::npos) << errors;
    EXPECT_FALSE(testkit::ProbeStreams(file).empty()) << "the frames before stay readable";
}

TEST(KorvidRec, TheCursorIsDrawnAtEveryDepth)
{
    for (const int depth : {8, 15, 16, 24, 30}) {
        SCOPED_TRACE("depth " + std::to_string(depth));
        testkit::PrivateXServer server("320x240x" + std::to_string(depth));
        ASSERT_TRUE(server.Running());
        testkit::TempDir dir;
        const std::string file = dir.File("cursor.avi");
        int code = -1;
        std::string errors;
        testkit::RunCapture({"env", "DISPLAY=" + server.Display(), kRec, "--fps", "5", "--seconds", "0.5", file},
                            &code, &errors);
        ASSERT_EQ(code, 0) << errors;
        // The root is black and nothing else is on the screen: whatever is not zero in
        // the first frame is the cursor.
        testsupport::RiffReader reader;
        ASSERT_TRUE(reader.Open(file)) << reader.LastError();
        std::vector<uint8_t> frame;
        for (const auto& chunk : reader.ChunksOf(0))
            if (chunk.size > 0) {
                ASSERT_TRUE(reader.ReadData(chunk, &frame));
                break;
            }
        ASSERT_FALSE(frame.empty());
        EXPECT_GT(std::count_if(frame.begin(), frame.end(), [](uint8_t b) { return b != 0; }), 10);
    }
}

}  // namespace
