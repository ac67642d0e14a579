// links: korvid tavrec_support_Recording tavrec_support_ChildTest tavrec_support_PulseModule tavrec_support_RiffReader tavrec_support_MediaProbe tavrec_support_TestWindow tavrec_support_TonePlayer tavrec_platform_x11
// Recordings with sound from the session's PulseAudio server: a tone played into the
// null sink is recorded from its monitor (the default source).
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/x11/XDisplay.h"
#include "tests/support/ChildTest.h"
#include "tests/support/MediaProbe.h"
#include "tests/support/PulseModule.h"
#include "tests/support/Recording.h"
#include "tests/support/RiffReader.h"
#include "tests/support/TestWindow.h"
#include "tests/support/TonePlayer.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using testkit::PulseModule;
using testkit::Recording;

// A sine tone written by sox and played into the default sink by paplay.
class Tone {
public:
    Tone(const testkit::TempDir& dir, double seconds, int hz = 440)
    {
        file_ = dir.File("tone-" + std::to_string(hz) + ".wav");
        int code = -1;
        testkit::RunCapture({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", file_, "synth",
                             std::to_string(seconds), "sine", std::to_string(hz), "vol", "0.5"},
                            &code);
        EXPECT_EQ(code, 0) << "sox could not make the tone";
    }
    ~Tone() { Wait(); }
    // latencyMs 0: paplay's own buffering (two seconds ahead).
    void Play(int latencyMs = 0)
    {
        std::string latency = "--latency-msec=" + std::to_string(latencyMs);
        std::vector<char*> argv{const_cast<char*>("paplay")};
        if (latencyMs)
            argv.push_back(latency.data());
        argv.push_back(file_.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, "paplay", nullptr, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
    }
    // Waits until the default sink plays (paplay has connected and started), so the
    // tone is known to sound from then on; false after five seconds.
    static bool WaitUntilSinkPlays()
    {
        for (int i = 0; i < 100; ++i) {
            if (testkit::RunCapture({"pactl", "list", "short", "sinks"}).find("RUNNING") != std::string::npos)
                return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }
    void Wait()
    {
        if (pid_ > 0)
            waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    std::string file_;
    pid_t pid_ = -1;
};

uint32_t Root()
{
    auto display = platform::XDisplay::Open();
    return display ? display->Root() : 0;
}

// Mono mix of interleaved stereo samples, scaled to [-1, 1].
std::vector<double> Mono(const std::vector<int16_t>& samples, int channels)
{
    std::vector<double> mono(samples.size() / channels);
    for (size_t i = 0; i < mono.size(); ++i) {
        double sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += samples[i * channels + c];
        mono[i] = sum / channels / 32768.0;
    }
    return mono;
}

double Rms(const std::vector<double>& s, size_t from, size_t to)
{
    double sum = 0;
    for (size_t i = from; i < to; ++i)
        sum += s[i] * s[i];
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0;
}

// Frequency from the rising zero crossings between from and to.
double Frequency(const std::vector<double>& s, size_t from, size_t to, int rate)
{
    size_t first = 0, last = 0, crossings = 0;
    for (size_t i = from + 1; i < to; ++i)
        if (s[i - 1] < 0 && s[i] >= 0) {
            if (crossings == 0)
                first = i;
            last = i;
            ++crossings;
        }
    return crossings > 1 ? (crossings - 1) * static_cast<double>(rate) / static_cast<double>(last - first) : 0;
}

// Seconds from the start of the sound to its first sample louder than a quiet hum.
double Onset(const std::vector<double>& s, int rate)
{
    for (size_t i = 0; i < s.size(); ++i)
        if (std::fabs(s[i]) > 0.05)
            return static_cast<double>(i) / rate;
    return -1;
}

class AudioRecording : public ::testing::Test {
protected:
    // window 0: the whole screen.
    Recording& Make(const std::string& name, uint32_t fps = 15, uint32_t window = 0)
    {
        recording_ = std::make_unique<Recording>(window ? window : Root(), dir_.File(name), fps);
        recording_->options.AudioEnabled = 1;
        recording_->options.AudioFormat = WaveFormatEx{1, 2, 22050, 88200, 4, 16, 0};
        return *recording_;
    }

    testkit::TempDir dir_;
    std::unique_ptr<Recording> recording_;
};

TEST_F(AudioRecording, RecordsTheToneAsTheSecondStreamForAsLongAsTheVideo)
{
    Tone tone(dir_, 6);
    Recording& recording = Make("tone.avi");
    ASSERT_TRUE(recording.Initialize()) << testkit::LastErrorText();
    // The tone starts after the set-up, which can take seconds on a loaded machine,
    // so it still sounds for the whole recording.
    tone.Play();
    ASSERT_TRUE(Tone::WaitUntilSinkPlays());
    std::this_thread::sleep_for(500ms);
    const auto t0 = std::chrono::steady_clock::now();
    recording.Start();
    std::this_thread::sleep_for(3500ms);
    ASSERT_TRUE(recording.Stop()) << testkit::LastErrorText();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    testsupport::RiffReader reader;
    ASSERT_TRUE(reader.Open(recording.options.FileName)) << reader.LastError();
    ASSERT_EQ(reader.Streams().size(), 2u);
    EXPECT_EQ(reader.Streams()[0].header.type, TAVREC_FOURCC('v', 'i', 'd', 's'));
    const auto& audio = reader.Streams()[1];
    EXPECT_EQ(audio.header.type, TAVREC_FOURCC('a', 'u', 'd', 's'));
    EXPECT_EQ(audio.header.handler, 0u);
    EXPECT_EQ(audio.header.scale, 4u);
    EXPECT_EQ(audio.header.sampleSize, 4u);
    EXPECT_EQ(audio.header.rate, 88200u);
    EXPECT_EQ(audio.header.initialFrames, 11u);
    EXPECT_EQ(audio.header.quality, 0xFFFFFFFFu);
    ASSERT_EQ(audio.format.size(), 18u);
    EXPECT_EQ(std::memcmp(audio.format.data(), &recording.options.AudioFormat, 18), 0);

    int channels = 0, rate = 0;
    const auto samples = testkit::DecodeAudio(recording.options.FileName, &channels, &rate);
    ASSERT_EQ(channels, 2);
    ASSERT_EQ(rate, 22050);
    const auto mono = Mono(samples, channels);
    const double seconds = static_cast<double>(mono.size()) / rate;
    const double video = reader.Streams()[0].header.length / 15.0;
    EXPECT_NEAR(seconds, video, 0.2) << "the sound lasts as long as the video";
    EXPECT_LT(seconds, wall + 0.1);
    ASSERT_GT(mono.size(), static_cast<size_t>(rate * 2));
    const size_t from = rate / 2, to = mono.size() - rate / 2;
    EXPECT_NEAR(Frequency(mono, from, to, rate), 440.0, 440 * 0.02);
    const double level = Rms(mono, from, to);
    EXPECT_GT(level, 0.2);  // a 0.5 sine has an RMS of 0.35
    EXPECT_LT(level, 0.5);
}

TEST_F(AudioRecording, AToneDuringThePauseIsNotRecordedAndStopWhilePausedSucceeds)
{
    Tone tone(dir_, 1.0, 660);
    Recording& recording = Make("pause.avi");
    ASSERT_TRUE(recording.Initialize()) << testkit::LastErrorText();
    recording.Start();
    std::this_thread::sleep_for(1500ms);
    ASSERT_TRUE(recording.Pause());
    // The pause takes effect at the next notification, at most a second later.
    std::this_thread::sleep_for(1300ms);
    tone.Play();
    tone.Wait();  // the tone has been played by now
    ASSERT_TRUE(recording.Pause());  // resume
    std::this_thread::sleep_for(1500ms);
    ASSERT_TRUE(recording.Pause());  // pause again, then stop while paused
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(recording.Stop()) << "stopping while paused ends with success";

    int channels = 0, rate = 0;
    const auto mono = Mono(testkit::DecodeAudio(recording.options.FileName, &channels, &rate), 2);
    ASSERT_GT(mono.size(), static_cast<size_t>(rate));
    EXPECT_LT(Rms(mono, 0, mono.size()), 0.01) << "the tone played during the pause was recorded";
}

TEST_F(AudioRecording, ADeviceNameThatMatchesNothingRecordsTheDefaultSource)
{
    Tone tone(dir_, 5);
    tone.Play();
    std::this_thread::sleep_for(500ms);
    Recording& recording = Make("default.avi");
    std::strcpy(recording.options.AudioDeviceName, "No such microphone");
    std::string error;
    ASSERT_TRUE(recording.Begin(&error)) << error;
    std::this_thread::sleep_for(2500ms);
    ASSERT_TRUE(recording.Stop());
    int channels = 0, rate = 0;
    const auto mono = Mono(testkit::DecodeAudio(recording.options.FileName, &channels, &rate), 2);
    ASSERT_GT(mono.size(), static_cast<size_t>(rate));
    EXPECT_GT(Rms(mono, rate / 4, mono.size() - rate / 4), 0.2);
}

TEST_F(AudioRecording, VideoAndSoundOfAHalfMinuteRecordingLastTheSame)
{
    Recording& recording = Make("sync.avi", 15);
    std::string error;
    ASSERT_TRUE(recording.Begin(&error)) << error;
    std::this_thread::sleep_for(30s);
    ASSERT_TRUE(recording.Stop());
    testsupport::RiffReader reader;
    ASSERT_TRUE(reader.Open(recording.options.FileName)) << reader.LastError();
    ASSERT_EQ(reader.Streams().size(), 2u);
    const double video = reader.Streams()[0].header.length / 15.0;
    const double audio = reader.Streams()[1].header.length / 22050.0;
    EXPECT_GT(video, 29.0);
    // Both streams keep the same clock and end together.
    EXPECT_NEAR(audio, video, 0.1);
}

// Seconds of the longest stretch without the tone (samples below a quiet hum).
double LongestQuiet(const std::vector<double>& s, int rate)
{
    size_t longest = 0, run = 0;
    for (double v : s) {
        run = std::fabs(v) > 0.05 ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    return static_cast<double>(longest) / rate;
}

// Sound and picture of a recording last the same, and a tone that sounds from
// before the start begins at the very first sample. Returns the decoded sound.
std::vector<double> ExpectInStep(const std::string& file, uint32_t fps)
{
    testsupport::RiffReader reader;
    EXPECT_TRUE(reader.Open(file)) << reader.LastError();
    EXPECT_EQ(reader.Streams().size(), 2u);
    if (reader.Streams().size() != 2)
        return {};
    const double picture = reader.Streams()[0].header.length / static_cast<double>(fps);
    const double sound = reader.Streams()[1].header.length / 22050.0;
    EXPECT_GT(picture, 19.0);
    EXPECT_NEAR(sound, picture, 0.1) << "sound and picture last differently";
    int channels = 0, rate = 0;
    const auto mono = Mono(testkit::DecodeAudio(file, &channels, &rate), 2);
    EXPECT_EQ(rate, 22050);
    if (rate != 22050)
        return {};
    EXPECT_NEAR(static_cast<double>(mono.size()) / rate, sound, 0.01) << "ffmpeg reads another length";
    const double onset = Onset(mono, rate);
    EXPECT_GE(onset, 0.0) << "no tone recorded";
    EXPECT_LT(onset, 0.1) << "the tone starts late";
    std::printf("picture %.3f s, sound %.3f s, tone from %.3f s\n", picture, sound, onset);
    return mono;
}

// A source with seconds of latency (a stand-in for Bluetooth and network
// microphones): what it delivers at the start was captured before the recording
// began and is left out, the rest lies where it was captured.
TEST_F(AudioRecording, AHighLatencySourceKeepsInStepWithThePicture)
{
    PulseModule sine({"module-sine-source", "source_name=slow_sine", "frequency=440",
                      "source_properties=device.description=Slow_sine"});
    ASSERT_TRUE(sine.Loaded());
    // A small window keeps the picture cheap, so a loaded machine drops no frames.
    auto window = testsupport::TestWindow::Create();
    ASSERT_TRUE(window);
    Recording& recording = Make("slow-sine.avi", 15, window->Id());
    std::strcpy(recording.options.AudioDeviceName, "Slow_sine");
    std::string error;
    ASSERT_TRUE(recording.Begin(&error)) << error;
    std::this_thread::sleep_for(20s);
    ASSERT_TRUE(recording.Stop()) << testkit::LastErrorText();
    // The source never pauses: sound captured up to the stop is all there, with no
    // stretch of silence put in for sound that came late.
    const auto mono = ExpectInStep(recording.options.FileName, 15);
    EXPECT_LT(LongestQuiet(mono, 22050), 0.05) << "silence in a tone that never stops";
}

// The monitor of a sink that plays all the time, with a pause in the middle: the
// pause takes out as much sound as picture.
TEST_F(AudioRecording, APlayingMonitorKeepsInStepWithThePictureAcrossAPause)
{
    auto window = testsupport::TestWindow::Create();
    ASSERT_TRUE(window);
    Tone tone(dir_, 24);
    tone.Play(30);
    ASSERT_TRUE(Tone::WaitUntilSinkPlays());
    std::this_thread::sleep_for(300ms);
    Recording& recording = Make("playing.avi", 15, window->Id());
    ASSERT_TRUE(recording.Initialize()) << testkit::LastErrorText();
    // A record stream newly attached to a null sink's monitor gets its first sound
    // only about a second later (the server's doing, whatever the stream asks for);
    // what the monitor never delivered is silence, so start once it delivers.
    std::this_thread::sleep_for(1500ms);
    ASSERT_TRUE(recording.Start());
    std::this_thread::sleep_for(10500ms);  // between two of the audio thread's notifications
    ASSERT_TRUE(recording.Pause());
    std::this_thread::sleep_for(2s);
    ASSERT_TRUE(recording.Pause());  // resume
    std::this_thread::sleep_for(9500ms);
    ASSERT_TRUE(recording.Stop()) << testkit::LastErrorText();
    ExpectInStep(recording.options.FileName, 15);
}

// A source that goes away while it is recorded (a USB microphone pulled out): the
// recording ends with the source's own reason, the program is told, the stop reports
// the failure, and what was recorded until then plays.
TEST_F(AudioRecording, ASourceThatGoesAwayEndsTheRecordingWithItsReason)
{
    PulseModule sine({"module-sine-source", "source_name=vanishing_sine", "frequency=440",
                      "source_properties=device.description=Vanishing_sine"});
    ASSERT_TRUE(sine.Loaded());
    testsupport::TestWindowOptions windowOptions;
    windowOptions.overrideRedirect = true;
    auto window = testsupport::TestWindow::Create(windowOptions);
    ASSERT_TRUE(window);
    Recording& recording = Make("vanishing.avi", 15, window->Id());
    recording.options.NotifyWindow = window->Id();
    std::strcpy(recording.options.AudioDeviceName, "Vanishing_sine");
    std::string error;
    ASSERT_TRUE(recording.Begin(&error)) << error;
    ASSERT_TRUE(testkit::WaitUntilSourceIsRecorded("vanishing_sine"));
    std::this_thread::sleep_for(2500ms);
    ASSERT_TRUE(sine.Unload());

    const auto message = window->WaitForMessage(10s);
    ASSERT_TRUE(message.has_value()) << "no CaptureErrorMessage arrived";
    EXPECT_EQ(message->message, static_cast<uint32_t>(CaptureErrorMessage));
    ASSERT_TRUE(recording.WaitUntilIdle(10s)) << "the recording goes on without its sound";
    const std::string text = testkit::LastErrorText();
    EXPECT_NE(text.find("vanishing_sine"), std::string::npos) << "the device's reason names the source: " << text;
    EXPECT_TRUE(recording.Stop()) << "ended by itself: the failure was posted, the stop finds it Idle";

    const auto streams = testkit::ProbeStreams(recording.options.FileName);
    ASSERT_EQ(streams.size(), 2u);
    int channels = 0, rate = 0;
    const auto mono = Mono(testkit::DecodeAudio(recording.options.FileName, &channels, &rate), 2);
    ASSERT_EQ(rate, 22050);
    EXPECT_GT(static_cast<double>(mono.size()) / rate, 1.5) << "the sound before the source went away";
    EXPECT_GE(testkit::DecodeVideo(recording.options.FileName, "bgr0", window->Width(), window->Height(), 4).size(),
              20u);
}

// Run in a child process: sound only, into a file whose size is limited, so that an
// audio write fails. Reports through the window and the exit code.
TEST(AudioRecordingChild, FileSizeLimit)
{
    const char* window = std::getenv("TAVREC_TEST_CHILD_WINDOW");
    const char* file = std::getenv("TAVREC_TEST_CHILD_FILE");
    if (!window || !file)
        GTEST_SKIP() << "runs only as the child of AnAudioOnlyRecordingOverTheFileSizeLimitEndsWithTheWriteError";
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{200000, 200000};  // a little over two seconds of sound
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    Recording recording(static_cast<uint32_t>(std::strtoul(window, nullptr, 0)), file, 15);
    recording.options.VideoEnabled = 0;
    recording.options.AudioEnabled = 1;
    recording.options.AudioFormat = WaveFormatEx{1, 2, 22050, 88200, 4, 16, 0};
    recording.options.NotifyWindow = recording.options.CaptureWindow;
    std::string error;
    ASSERT_TRUE(recording.Begin(&error)) << error;
    ASSERT_TRUE(recording.WaitUntilIdle(20s)) << "the recording did not end by itself";
    const std::string text = testkit::LastErrorText();
    EXPECT_EQ(text.rfind("Write audio data error: ", 0), 0u) << text;
    EXPECT_GT(text.size(), std::strlen("Write audio data error: ")) << "the file's reason follows";
    EXPECT_TRUE(recording.Stop()) << "ended by itself: the failure was posted, the stop finds it Idle";
}

TEST_F(AudioRecording, AnAudioOnlyRecordingOverTheFileSizeLimitEndsWithTheWriteError)
{
    testsupport::TestWindowOptions windowOptions;
    windowOptions.overrideRedirect = true;
    auto window = testsupport::TestWindow::Create(windowOptions);
    ASSERT_TRUE(window);
    const std::string file = dir_.File("limited.avi");
    const pid_t pid = testkit::SpawnChildTest("AudioRecordingChild.FileSizeLimit", window->Id(), file);
    ASSERT_GT(pid, 0);

    const auto message = window->WaitForMessage(30s);
    const int code = testkit::WaitChildTest(pid);
    ASSERT_TRUE(message.has_value()) << "no CaptureErrorMessage arrived";
    EXPECT_EQ(message->message, static_cast<uint32_t>(CaptureErrorMessage));
    EXPECT_EQ(code, 0) << "the child's checks failed";

    // The sound written before the failure plays.
    const auto streams = testkit::ProbeStreams(file);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("codec_type"), "audio");
    int channels = 0, rate = 0;
    const auto samples = testkit::DecodeAudio(file, &channels, &rate);
    ASSERT_EQ(channels * rate, 2 * 22050);
    EXPECT_GE(static_cast<double>(samples.size()) / (channels * rate), 0.9) << "seconds of sound";
}

// At 1 fps a frame interval is a whole second. Pauses asked for in the middle of an
// interval take out as much picture as sound, so after five of them picture and
// sound still last the same.
TEST_F(AudioRecording, FivePausesAtOneFrameASecondKeepPictureAndSoundTheSameLength)
{
    auto window = testsupport::TestWindow::Create();
    ASSERT_TRUE(window);
    Recording& recording = Make("pauses.avi", 1, window->Id());
    ASSERT_TRUE(recording.Initialize()) << testkit::LastErrorText();
    using Clock = std::chrono::steady_clock;
    // Recording time is counted from the calls as made, so a late wake-up of this
    // thread moves the next call but not the recorded total.
    std::chrono::duration<double> recorded{};
    Clock::time_point resumed = Clock::now();
    ASSERT_TRUE(recording.Start());
    const auto runFor = [&](double seconds) {
        std::this_thread::sleep_until(resumed + std::chrono::duration_cast<Clock::duration>(
                                                    std::chrono::duration<double>(seconds) - recorded));
    };
    // Each pause comes half an interval after a slot began: at 1.5 s, 2.5 s, ... of
    // recording time.
    for (int pause = 0; pause < 5; ++pause) {
        runFor(1.5 + pause);
        ASSERT_TRUE(recording.Pause());
        recorded += Clock::now() - resumed;
        std::this_thread::sleep_for(700ms);
        resumed = Clock::now();
        ASSERT_TRUE(recording.Pause());  // resume
    }
    // 6.85 s of recording: slots 0 to 6, a picture of 7 s.
    runFor(6.85);
    ASSERT_TRUE(recording.Stop()) << testkit::LastErrorText();
    recorded += Clock::now() - resumed;

    const auto streams = testkit::ProbeStreams(recording.options.FileName);
    ASSERT_EQ(streams.size(), 2u);
    // ffprobe gives the picture's duration; of PCM sound in AVI it counts the samples.
    const double picture = std::stod(streams[0].at("duration"));
    const double sound = std::stod(streams[1].at("nb_frames")) / std::stod(streams[1].at("sample_rate"));
    std::printf("recorded %.3f s: picture %.3f s, sound %.3f s\n", recorded.count(), picture, sound);
    // Each of the six runs may start or end a sound fragment (some 20 ms) off.
    EXPECT_NEAR(sound, recorded.count(), 0.2);
    EXPECT_NEAR(picture, sound, 0.2) << "the pauses shifted the picture against the sound";
}

// A tone that starts while a frame is built lies in the file at that frame's time
// (later by the player's own latency). The player's stream takes the sink out of
// idle just before the recording starts, so the tone usually falls in the time the
// sink still plays ahead of the clock, when it sounds only once that time has passed.
TEST_F(AudioRecording, AToneStartedAtAFrameLiesAtThatFramesTime)
{
    testkit::TonePlayer player;
    ASSERT_TRUE(player.Playing()) << player.Error();
    auto window = testsupport::TestWindow::Create();
    ASSERT_TRUE(window);
    struct Count {
        std::atomic<int> frames{0};
        testkit::TonePlayer* player;
        static void OnFrame(void* object, FrameSurface*, int32_t, int32_t, bool*)
        {
            auto* self = static_cast<Count*>(object);
            if (++self->frames == 31)
                self->player->StartTone();
        }
    } count{0, &player};
    Recording& recording = Make("at-frame.avi", 30, window->Id());
    recording.SetHook(&Count::OnFrame, &count);
    std::string error;
    ASSERT_TRUE(recording.Begin(&error)) << error;
    std::this_thread::sleep_for(2500ms);
    ASSERT_TRUE(recording.Stop()) << testkit::LastErrorText();
    testsupport::RiffReader reader;
    ASSERT_TRUE(reader.Open(recording.options.FileName));
    const auto chunks = reader.ChunksOf(0);
    size_t position = 0, built = 0;
    for (; position < chunks.size(); ++position)
        if (chunks[position].size > 0 && ++built == 31)
            break;
    ASSERT_LT(position, chunks.size()) << "fewer than 31 frames stored";
    int channels = 0, rate = 0;
    const auto mono = Mono(testkit::DecodeAudio(recording.options.FileName, &channels, &rate), 2);
    const double onset = Onset(mono, rate);
    ASSERT_GE(onset, 0.0) << "no tone recorded";
    std::printf("frame at %.3f s, tone at %.3f s, player latency %.3f s, held back %.3f s\n", position / 30.0, onset,
                player.LatencyAtTone(), player.HeldBack());
    // The tone is heard the player's latency after it was written, and it is written
    // late when the sink held the player back (a sink that has just left idle has
    // rendered up to seconds ahead and takes nothing until then).
    EXPECT_NEAR(onset - player.LatencyAtTone() - player.HeldBack(), position / 30.0, 0.1);
}

}  // namespace
