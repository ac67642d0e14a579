// links: korvid tavrec_support_Recording tavrec_support_PulseModule tavrec_support_RiffReader tavrec_support_MediaProbe tavrec_support_TestWindow tavrec_platform_x11
// Recordings of two sound sources at once, mixed into the one audio stream: a sine
// source stands in for a microphone, the monitor of a sink playing a tone for the
// desktop's sound.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/MediaProbe.h"
#include "tests/support/PulseModule.h"
#include "tests/support/Recording.h"
#include "tests/support/RiffReader.h"
#include "tests/support/TestWindow.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using testkit::PulseModule;
using testkit::Recording;

constexpr int kRate = 22050;

// Amplitude of the frequency hz in s[from, to) (Goertzel), for a sine of amplitude
// a about a.
double Amplitude(const std::vector<double>& s, size_t from, size_t to, double hz)
{
    const double w = 2 * M_PI * hz / kRate, c = 2 * std::cos(w);
    double p = 0, q = 0;
    for (size_t i = from; i < to; ++i) {
        const double next = s[i] + c * p - q;
        q = p;
        p = next;
    }
    const double power = p * p + q * q - c * p * q;
    return 2 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(to - from);
}

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

// paplay of a file into one sink, ended by waiting for it. A tenth of a second of
// buffering: enough that a busy machine does not starve it, little enough that the
// sink hands its sound to the monitor in small blocks.
class Player {
public:
    Player(const std::string& sink, const std::string& file)
    {
        device_ = "--device=" + sink;
        file_ = file;
        char* argv[] = {const_cast<char*>("paplay"), device_.data(), const_cast<char*>("--latency-msec=100"),
                        file_.data(), nullptr};
        if (posix_spawnp(&pid_, "paplay", nullptr, nullptr, argv, environ) != 0)
            pid_ = -1;
    }
    ~Player()
    {
        if (pid_ > 0)
            waitpid(pid_, nullptr, 0);
    }
    bool Running() const { return pid_ > 0; }

private:
    std::string device_, file_;
    pid_t pid_ = -1;
};

// Waits until that sink plays (its player has connected and started); false after
// five seconds.
bool WaitUntilSinkPlays(const std::string& sink)
{
    for (int i = 0; i < 100; ++i) {
        std::istringstream sinks(testkit::RunCapture({"pactl", "list", "short", "sinks"}));
        for (std::string line; std::getline(sinks, line);)
            if (line.find(sink) != std::string::npos && line.find("RUNNING") != std::string::npos)
                return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

class AudioMix : public ::testing::Test {
protected:
    Recording& Make(const std::string& name, uint32_t window)
    {
        recording_ = std::make_unique<Recording>(window, dir_.File(name), 15);
        recording_->options.AudioEnabled = 1;
        recording_->options.AudioFormat = WaveFormatEx{1, 2, kRate, kRate * 4, 4, 16, 0};
        return *recording_;
    }

    testkit::TempDir dir_;
    std::unique_ptr<Recording> recording_;
};

// The microphone's 440 Hz and the desktop's 1000 Hz are both in the track at their
// own levels in every tenth of a second from the first to the last, and the track
// lasts as long as the picture, the pause left out of both.
TEST_F(AudioMix, BothSourcesAreMixedAtTheirLevelsInStepWithThePictureAcrossAPause)
{
    PulseModule microphone({"module-sine-source", "source_name=mix_microphone", "frequency=440",
                            "source_properties=device.description=Mix_microphone"});
    ASSERT_TRUE(microphone.Loaded());
    PulseModule desktop({"module-null-sink", "sink_name=mix_desktop", "sink_properties=device.description=Mix_desktop"});
    ASSERT_TRUE(desktop.Loaded());
    const std::string toneFile = dir_.File("tone-1000.wav");
    int code = -1;
    testkit::RunCapture({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", toneFile, "synth", "30", "sine", "1000",
                         "vol", "0.25"},
                        &code);
    ASSERT_EQ(code, 0) << "sox could not make the tone";
    Player tone("mix_desktop", toneFile);
    ASSERT_TRUE(tone.Running());
    ASSERT_TRUE(WaitUntilSinkPlays("mix_desktop"));

    // A small window keeps the picture cheap, so a loaded machine drops no frames.
    auto window = testsupport::TestWindow::Create();
    ASSERT_TRUE(window);
    Recording& recording = Make("mixed.avi", window->Id());
    std::strcpy(recording.options.AudioDeviceName, "Mix_microphone");
    std::strcpy(recording.options.AudioDeviceName2, "Monitor of Mix_desktop");
    ASSERT_TRUE(recording.Initialize()) << testkit::LastErrorText();
    // A record stream newly attached to a null sink's monitor gets its first sound
    // only about a second later (the server's doing); start once it delivers.
    std::this_thread::sleep_for(1500ms);
    ASSERT_TRUE(recording.Start());
    std::this_thread::sleep_for(9500ms);
    ASSERT_TRUE(recording.Pause());
    std::this_thread::sleep_for(2s);
    ASSERT_TRUE(recording.Pause());  // resume
    std::this_thread::sleep_for(8500ms);
    ASSERT_TRUE(recording.Stop()) << testkit::LastErrorText();

    testsupport::RiffReader reader;
    ASSERT_TRUE(reader.Open(recording.options.FileName)) << reader.LastError();
    ASSERT_EQ(reader.Streams().size(), 2u);
    const double picture = reader.Streams()[0].header.length / 15.0;
    const double sound = reader.Streams()[1].header.length / static_cast<double>(kRate);
    EXPECT_GT(picture, 17.0);
    EXPECT_LT(picture, 18.8) << "the pause is in the picture";
    EXPECT_NEAR(sound, picture, 0.1) << "sound and picture last differently";

    int channels = 0, rate = 0;
    const auto mono = Mono(testkit::DecodeAudio(recording.options.FileName, &channels, &rate), channels ? channels : 2);
    ASSERT_EQ(rate, kRate);
    ASSERT_EQ(channels, 2);
    EXPECT_NEAR(static_cast<double>(mono.size()) / rate, sound, 0.01) << "ffmpeg reads another length";
    // Tenths of a second hold whole periods of both tones. The sine source sends
    // amplitude 0.5, the tone was made at 0.25; summed they stay below full scale.
    struct Tone {
        const char* name;
        double hz, level;
    };
    const size_t tenth = kRate / 10;
    ASSERT_GT(mono.size(), 20 * tenth);
    for (const Tone tone : {Tone{"microphone", 440, 0.5}, Tone{"desktop", 1000, 0.25}}) {
        SCOPED_TRACE(tone.name);
        // In step: the tone sounds within the first two tenths and the last tenth. A
        // monitor delivers its first sound only once the server has started the record
        // stream, 10 to 50 ms after the start here and over 100 ms on a busy machine;
        // what the sink played before that never reaches the recorder.
        EXPECT_GT(Amplitude(mono, 0, 2 * tenth, tone.hz), 0.1 * tone.level) << "starts late";
        EXPECT_GT(Amplitude(mono, mono.size() - tenth, mono.size(), tone.hz), 0.1 * tone.level) << "ends early";
        // Between them it sounds at its level, save where the resume joins the two
        // runs (a jump in phase, and the monitor's start again, lower at most two tenths).
        std::vector<double> off;
        for (size_t from = 2 * tenth; from + 2 * tenth <= mono.size(); from += tenth) {
            const double a = Amplitude(mono, from, from + tenth, tone.hz);
            if (std::fabs(a - tone.level) > 0.1 * tone.level)
                off.push_back(static_cast<double>(from) / rate);
            if (a > 1.1 * tone.level)
                ADD_FAILURE() << "louder than it sounds at " << static_cast<double>(from) / rate << " s: " << a;
        }
        std::string where;
        for (double t : off)
            where += std::to_string(t) + " ";
        EXPECT_LE(off.size(), 2u) << "tenths off its level at " << where;
        if (!off.empty()) {
            EXPECT_LT(off.back() - off.front(), 0.15) << "off its level at " << where;
        }
        for (double t : off) {
            EXPECT_GT(t, 8.0) << "off its level away from the resume";
            EXPECT_LT(t, 11.0) << "off its level away from the resume";
        }
    }
    std::printf("picture %.3f s, sound %.3f s\n", picture, sound);
}

// The second source going away ends the recording, named by its description with
// the device's reason; what was recorded until then stays.
TEST_F(AudioMix, TheSecondSourceGoingAwayEndsTheRecordingWithItsName)
{
    PulseModule gone({"module-sine-source", "source_name=mix_vanishing", "frequency=440",
                      "source_properties=device.description=Mix_vanishing"});
    ASSERT_TRUE(gone.Loaded());
    testsupport::TestWindowOptions windowOptions;
    windowOptions.overrideRedirect = true;
    auto window = testsupport::TestWindow::Create(windowOptions);
    ASSERT_TRUE(window);
    Recording& recording = Make("vanishing.avi", window->Id());
    recording.options.NotifyWindow = window->Id();
    std::strcpy(recording.options.AudioDeviceName2, "Mix_vanishing");  // the first: the default source
    std::string error;
    ASSERT_TRUE(recording.Begin(&error)) << error;
    ASSERT_TRUE(testkit::WaitUntilSourceIsRecorded("mix_vanishing"));
    std::this_thread::sleep_for(2500ms);
    ASSERT_TRUE(gone.Unload());

    const auto message = window->WaitForMessage(10s);
    ASSERT_TRUE(message.has_value()) << "no CaptureErrorMessage arrived";
    EXPECT_EQ(message->message, static_cast<uint32_t>(CaptureErrorMessage));
    ASSERT_TRUE(recording.WaitUntilIdle(10s)) << "the recording goes on without its second source";
    const std::string text = testkit::LastErrorText();
    EXPECT_NE(text.find("(Mix_vanishing)"), std::string::npos) << text;
    EXPECT_NE(text.find("mix_vanishing"), std::string::npos) << "the device's reason follows: " << text;
    EXPECT_TRUE(recording.Stop());
    int channels = 0, rate = 0;
    const auto mono = Mono(testkit::DecodeAudio(recording.options.FileName, &channels, &rate), 2);
    ASSERT_EQ(rate, kRate);
    EXPECT_GT(static_cast<double>(mono.size()) / rate, 1.5) << "the sound before the source went away";
    EXPECT_GT(Amplitude(mono, rate / 2, rate, 440), 0.4) << "the second source was mixed in";
}

// A second source that is not there is not swapped for the default one: the set-up
// fails, naming it.
TEST_F(AudioMix, ASecondSourceThatIsNotThereFailsTheSetUp)
{
    auto window = testsupport::TestWindow::Create();
    ASSERT_TRUE(window);
    Recording& recording = Make("missing.avi", window->Id());
    std::strcpy(recording.options.AudioDeviceName2, "No such microphone");
    EXPECT_FALSE(recording.Initialize());
    const std::string text = testkit::LastErrorText();
    EXPECT_NE(text.find("(No such microphone)"), std::string::npos) << text;
    EXPECT_EQ(recording.State(), static_cast<uint32_t>(StateIdle));
}

}  // namespace
