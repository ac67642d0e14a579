// links: korvid tavrec_support_Recording tavrec_support_MediaProbe tavrec_support_Shell tavrec_support_RiffReader tavrec_support_TonePlayer
// Recordings through the desktop portal's screen cast, in the headless Wayland session
// (tests/wayland-session.sh): the output's background, painted by sway's own
// background client in known colours, is recorded and read back with ffmpeg; also
// while the output changes size or goes away, and with sound.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <fstream>
#include <functional>
#include <thread>

#include "tests/support/MediaProbe.h"
#include "tests/support/Recording.h"
#include "tests/support/RiffReader.h"
#include "tests/support/Shell.h"
#include "tests/support/TonePlayer.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using testkit::Recording;

constexpr uint32_t kRed = 0xd02020, kGreen = 0x20c040, kBlue = 0x1e90ff, kYellow = 0xe0d020;

bool InWaylandSession()
{
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const char* sway = std::getenv("SWAYSOCK");
    return display && *display && sway && *sway;
}

// Paints the whole output in the colour (0xRRGGBB): sway restarts its background client.
void Paint(uint32_t rgb)
{
    char command[96];
    std::snprintf(command, sizeof command, "swaymsg -q output HEADLESS-1 bg '#%06x' solid_color; echo $?", rgb);
    ASSERT_EQ(testkit::Shell(command), "0");
}

// Watches the frames the library builds: the colours at the centre and at a quarter
// of the width and height of the last one.
struct FrameWatch {
    std::atomic<uint32_t> centre{0xFFFFFFFF};
    std::atomic<uint32_t> corner{0xFFFFFFFF};
    std::atomic<int> frames{0};
    int width = 0, height = 0;
    std::function<void(uint32_t centre)> seen;  // called on the video thread, for every frame

    static uint32_t At(const FrameSurface* frame, int x, int y)
    {
        const uint8_t* p = frame->Pixels + static_cast<size_t>(y) * frame->Stride + x * 4;
        return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
    }

    static void OnFrame(void* object, FrameSurface* frame, int32_t width, int32_t height, bool*)
    {
        auto* self = static_cast<FrameWatch*>(object);
        self->centre = At(frame, width / 2, height / 2);
        self->corner = At(frame, width / 4, height / 4);
        self->width = width;
        self->height = height;
        ++self->frames;
        if (self->seen)
            self->seen(self->centre);
    }

    // Waits until the built frames show the colour (at the centre, or at the quarter
    // point); false after 10 s.
    bool WaitFor(uint32_t rgb, bool atCorner = false)
    {
        for (auto end = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < end;) {
            if ((atCorner ? corner : centre).load() == rgb)
                return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
};

// The colour nearly all of a decoded bgr0 frame has, or 0xFFFFFFFF for a mixed one.
uint32_t FrameColour(const std::vector<uint8_t>& frame)
{
    const size_t pixels = frame.size() / 4;
    const uint32_t first = uint32_t{frame[2]} << 16 | uint32_t{frame[1]} << 8 | frame[0];
    size_t same = 0;
    for (size_t i = 0; i < pixels; ++i)
        same += (uint32_t{frame[4 * i + 2]} << 16 | uint32_t{frame[4 * i + 1]} << 8 | frame[4 * i]) == first;
    return same * 100 >= pixels * 99 ? first : 0xFFFFFFFF;
}

// The colours of the decoded frames, runs of the same colour told once.
std::vector<uint32_t> ColourRuns(const std::string& file, int width, int height)
{
    std::vector<uint32_t> runs;
    for (const auto& frame : testkit::DecodeVideo(file, "bgr0", width, height, 4)) {
        const uint32_t colour = FrameColour(frame);
        if (runs.empty() || runs.back() != colour)
            runs.push_back(colour);
    }
    return runs;
}

// Keeps an environment variable at a value for a scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old, had_ = true;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (had_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

class PortalRecording : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!InWaylandSession())
            GTEST_SKIP() << "needs the headless Wayland session (tests/wayland-session.sh)";
    }
    testkit::TempDir dir_;
};

TEST_F(PortalRecording, RecordsThePaintedColoursInOrderAndKeepsARestoreToken)
{
    const std::string file = dir_.File("colours.avi");
    const std::string token = dir_.File("token");
    ScopedEnv tokenFile("TAVREC_PORTAL_TOKEN_FILE", token.c_str());
    FrameWatch watch;
    {
        Recording recording(0, file, 10);
        recording.SetHook(&FrameWatch::OnFrame, &watch);
        std::string error;
        ASSERT_TRUE(recording.Begin(&error)) << error;
        // Frames come only when the screen changes: each colour is painted after the
        // stream runs, and held for a few frames once the recording shows it.
        for (uint32_t colour : {kRed, kGreen, kBlue}) {
            Paint(colour);
            ASSERT_TRUE(watch.WaitFor(colour)) << std::hex << "never saw #" << colour << ", last #" << watch.centre;
            std::this_thread::sleep_for(400ms);
        }
        ASSERT_TRUE(recording.Stop()) << testkit::LastErrorText();
    }
    const auto streams = testkit::ProbeStreams(file);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("width"), "640");  // the output's size
    EXPECT_EQ(streams[0].at("height"), "480");
    EXPECT_EQ(watch.width, 640);

    // The painted colours, whole frames of each, in the order painted; frames of
    // sway's own backgrounds (its first, the grey between two) may come between, and
    // before the first paint the screen shows what an earlier test left.
    const auto runs = ColourRuns(file, 640, 480);
    std::vector<uint32_t> painted;
    for (uint32_t colour : runs) {
        if ((colour == kRed || colour == kGreen || colour == kBlue) && (!painted.empty() || colour == kRed))
            painted.push_back(colour);
    }
    EXPECT_EQ(painted, (std::vector<uint32_t>{kRed, kGreen, kBlue})) << "colour runs: " << runs.size();

    // The screen stood still between the paints: those slots are empty positions,
    // which ffmpeg counts as frames of the stream all the same.
    testsupport::RiffReader reader;
    ASSERT_TRUE(reader.Open(file)) << reader.LastError();
    size_t empty = 0;
    for (const auto& chunk : reader.ChunksOf(0))
        empty += chunk.size == 0;
    EXPECT_GT(empty, 3u) << "every slot was grabbed though the stream sent no new frame";
    EXPECT_LT(empty, reader.ChunksOf(0).size());
    EXPECT_EQ(streams[0].at("nb_frames"), std::to_string(reader.ChunksOf(0).size()));

    std::ifstream in(token);
    std::string kept;
    std::getline(in, kept);
    EXPECT_FALSE(kept.empty()) << "the portal's restore token was not kept";
}

TEST_F(PortalRecording, PauseLeavesItsTimeAndWhatWasShownMeanwhileOut)
{
    const std::string file = dir_.File("pause.avi");
    FrameWatch watch;
    std::chrono::duration<double> running{}, paused{};
    {
        Recording recording(0, file, 10);
        recording.SetHook(&FrameWatch::OnFrame, &watch);
        std::string error;
        ASSERT_TRUE(recording.Begin(&error)) << error;
        const auto t0 = std::chrono::steady_clock::now();
        Paint(kRed);
        ASSERT_TRUE(watch.WaitFor(kRed));
        std::this_thread::sleep_for(500ms);
        ASSERT_TRUE(recording.Pause());
        const auto t1 = std::chrono::steady_clock::now();
        // Shown only while paused: it must not reach the file.
        Paint(kYellow);
        std::this_thread::sleep_for(1200ms);
        Paint(kBlue);
        std::this_thread::sleep_for(300ms);
        ASSERT_TRUE(recording.Pause());  // resumes
        const auto t2 = std::chrono::steady_clock::now();
        ASSERT_TRUE(watch.WaitFor(kBlue));
        std::this_thread::sleep_for(500ms);
        ASSERT_TRUE(recording.Stop()) << testkit::LastErrorText();
        const auto t3 = std::chrono::steady_clock::now();
        running = (t1 - t0) + (t3 - t2);
        paused = t2 - t1;
    }
    std::vector<uint32_t> painted;
    for (uint32_t colour : ColourRuns(file, 640, 480)) {
        if (colour == kRed || colour == kYellow || colour == kBlue)
            painted.push_back(colour);
    }
    EXPECT_EQ(painted, (std::vector<uint32_t>{kRed, kBlue}));
    // The picture lasts the running time, within two frames: the pause is not in it.
    const double duration = testkit::ProbeDuration(file);
    EXPECT_NEAR(duration, running.count(), 0.25) << "paused for " << paused.count() << " s";
}

// A private session bus the test starts, with nothing on it but the bus itself.
class EmptyBus {
public:
    explicit EmptyBus(const testkit::TempDir& dir)
    {
        const std::string config = dir.File("bus.conf");
        std::ofstream(config) << "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
                                 "<auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
                                 "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                                 "<allow own=\"*\"/></policy></busconfig>\n";
        int out[2];
        if (pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::string configArg = "--config-file=" + config;
        const char* argv[] = {"dbus-daemon", "--nofork", "--nopidfile", configArg.c_str(), "--print-address", nullptr};
        if (posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr, const_cast<char**>(argv), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        char line[512];
        ssize_t n = 0, got = 0;
        while (got < static_cast<ssize_t>(sizeof line) - 1 && (n = read(out[0], line + got, sizeof line - 1 - got)) > 0) {
            got += n;
            if (line[got - 1] == '\n')
                break;
        }
        close(out[0]);
        if (got > 0 && line[got - 1] == '\n')
            address_.assign(line, got - 1);
    }
    ~EmptyBus()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& Address() const { return address_; }

private:
    pid_t pid_ = -1;
    std::string address_;
};

TEST_F(PortalRecording, AMissingPortalIsReportedAndLeavesNoFile)
{
    EmptyBus bus(dir_);
    ASSERT_FALSE(bus.Address().empty()) << "dbus-daemon did not start";
    ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", bus.Address().c_str());
    const std::string file = dir_.File("missing.avi");
    Recording recording(0, file, 10);
    EXPECT_FALSE(recording.Initialize());
    EXPECT_EQ(testkit::LastErrorText(),
              "Failed to start the screen cast: no desktop portal on the session bus "
              "(nothing provides org.freedesktop.portal.Desktop)");
    struct stat st;
    EXPECT_NE(stat(file.c_str(), &st), 0) << "a file was left";

    // No session bus at all is said as plainly.
    ScopedEnv none("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir_.File("no-bus")).c_str());
    EXPECT_FALSE(recording.Initialize());
    EXPECT_EQ(testkit::LastErrorText().rfind("Failed to start the screen cast: cannot connect to the session bus", 0),
              0u)
        << testkit::LastErrorText();
    EXPECT_NE(stat(file.c_str(), &st), 0);
}

// The output's current size as sway reports it ("640x480"), empty when it has none
// (disabled).
std::string OutputMode()
{
    return testkit::Shell("swaymsg -p -t get_outputs | sed -n 's/^ *Current mode: \\([0-9]*x[0-9]*\\).*/\\1/p' | head -n 1");
}

// Sets the output's size and waits (up to 10 s) until sway reports it.
bool SetOutputMode(const std::string& mode)
{
    if (testkit::Shell("swaymsg -q output HEADLESS-1 enable mode " + mode + "; echo $?") != "0")
        return false;
    for (int i = 0; i < 200; ++i) {
        if (OutputMode() == mode)
            return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

// The tests share one session: the output gets back the size it had (enabled again)
// when the test ends, whatever it did to it.
class OutputRestore {
public:
    OutputRestore() : mode_(OutputMode()) {}
    ~OutputRestore() { Restore(); }
    const std::string& Mode() const { return mode_; }
    bool Restore() { return mode_.empty() || SetOutputMode(mode_); }

private:
    std::string mode_;
};

// Paints the colour until the built frames show it (up to five times, 2 s each). The
// portal's back end copies the screen only on damage after it asked for a copy, and
// it asks for none while it renegotiates the stream's size: a paint in that moment
// sends no frame, and the screen stays as it is until the next change.
bool PaintUntilSeen(FrameWatch& watch, uint32_t rgb, bool atCorner = false)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        Paint(rgb);
        for (auto end = std::chrono::steady_clock::now() + 2s; std::chrono::steady_clock::now() < end;) {
            if ((atCorner ? watch.corner : watch.centre).load() == rgb)
                return true;
            std::this_thread::sleep_for(10ms);
        }
    }
    return false;
}

// How a decoded frame of width x height bgr0 pixels looks: one colour over a
// rectangle at its top-left corner and black elsewhere (clean), or anything else.
struct Layout {
    uint32_t colour = 0;
    int width = 0, height = 0;
    bool clean = false;
    bool operator==(const Layout& o) const
    {
        return colour == o.colour && width == o.width && height == o.height && clean == o.clean;
    }
};

Layout LayoutOf(const std::vector<uint8_t>& frame, int width, int height)
{
    auto at = [&](int x, int y) {
        const uint8_t* p = &frame[(static_cast<size_t>(y) * width + x) * 4];
        return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
    };
    Layout layout;
    layout.colour = at(0, 0);
    while (layout.width < width && at(layout.width, 0) == layout.colour)
        ++layout.width;
    while (layout.height < height && at(0, layout.height) == layout.colour)
        ++layout.height;
    layout.clean = true;
    for (int y = 0; y < height && layout.clean; ++y)
        for (int x = 0; x < width; ++x) {
            const bool inside = x < layout.width && y < layout.height;
            if (at(x, y) != (inside ? layout.colour : 0u)) {
                layout.clean = false;
                break;
            }
        }
    return layout;
}

std::string Text(const Layout& l)
{
    char text[64];
    std::snprintf(text, sizeof text, "#%06x %dx%d%s", l.colour, l.width, l.height, l.clean ? "" : " (mixed)");
    return text;
}

// Larger, then smaller than at the start: the file keeps its first size, and each
// picture lies at the frame's top-left corner, cut to the frame or with black right
// of and below it, as on X11 after a RandR change.
TEST_F(PortalRecording, AnOutputThatChangesSizeKeepsTheFileSizeAndShowsItsPictureTopLeft)
{
    OutputRestore restore;
    ASSERT_EQ(restore.Mode(), "640x480");
    const std::string file = dir_.File("resize.avi");
    FrameWatch watch;
    {
        Recording recording(0, file, 10);
        recording.SetHook(&FrameWatch::OnFrame, &watch);
        std::string error;
        ASSERT_TRUE(recording.Begin(&error)) << error;
        Paint(kRed);
        ASSERT_TRUE(watch.WaitFor(kRed));
        std::this_thread::sleep_for(400ms);
        ASSERT_TRUE(SetOutputMode("800x600"));
        ASSERT_TRUE(PaintUntilSeen(watch, kGreen)) << std::hex << "last #" << watch.centre;
        std::this_thread::sleep_for(400ms);
        ASSERT_TRUE(SetOutputMode("320x240"));
        ASSERT_TRUE(PaintUntilSeen(watch, kBlue, true)) << std::hex << "last #" << watch.corner;
        std::this_thread::sleep_for(400ms);
        EXPECT_EQ(recording.State(), static_cast<uint32_t>(StateRecording)) << testkit::LastErrorText();
        ASSERT_TRUE(recording.Stop()) << testkit::LastErrorText();
    }
    const auto streams = testkit::ProbeStreams(file);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("width"), "640");
    EXPECT_EQ(streams[0].at("height"), "480");
    testsupport::RiffReader reader;
    ASSERT_TRUE(reader.Open(file)) << reader.LastError();
    EXPECT_EQ(streams[0].at("nb_frames"), std::to_string(reader.ChunksOf(0).size()));

    // Every frame is one picture at the top-left corner and black around it; the
    // painted ones come in order at the sizes the output had.
    std::vector<Layout> runs;
    for (const auto& frame : testkit::DecodeVideo(file, "bgr0", 640, 480, 4)) {
        const Layout layout = LayoutOf(frame, 640, 480);
        if (runs.empty() || !(runs.back() == layout))
            runs.push_back(layout);
    }
    std::string all;
    for (const Layout& l : runs)
        all += Text(l) + ", ";
    for (const Layout& l : runs)
        EXPECT_TRUE(l.clean) << "a frame is neither one picture nor black around it: " << all;
    const std::vector<Layout> painted{{kRed, 640, 480, true}, {kGreen, 640, 480, true}, {kBlue, 320, 240, true}};
    size_t next = 0;
    for (const Layout& l : runs)
        if (next < painted.size() && l == painted[next])
            ++next;
    EXPECT_EQ(next, painted.size()) << "runs: " << all;
}

// The PipeWire node the portal's screen cast streams from: the output side of the one
// link in the graph (the recording's; sound goes through PulseAudio, not PipeWire).
std::string CastNode()
{
    return testkit::Shell(
        "pw-cli ls Link | sed -n 's/^[[:space:]]*link.output.node = \"\\([0-9]*\\)\"/\\1/p' | head -n 1");
}

// The screen cast's stream ending while it records (its node destroyed, as when the
// desktop stops sharing the screen; sway's headless outputs cannot be disabled) ends
// the recording by itself with the reason, and what it wrote so far is a whole file.
TEST_F(PortalRecording, AScreenCastThatEndsEndsTheRecordingWithAReasonAndAWholeFile)
{
    const std::string file = dir_.File("ended.avi");
    FrameWatch watch;
    std::string error;
    std::chrono::duration<double> beforeEnd{}, untilIdle{};
    {
        Recording recording(0, file, 10);
        recording.SetHook(&FrameWatch::OnFrame, &watch);
        const auto begin = std::chrono::steady_clock::now();
        ASSERT_TRUE(recording.Begin(&error)) << error;
        const auto started = std::chrono::steady_clock::now();
        Paint(kRed);
        ASSERT_TRUE(watch.WaitFor(kRed));
        std::this_thread::sleep_for(600ms);
        const std::string node = CastNode();
        ASSERT_FALSE(node.empty()) << "no link to the portal's stream";
        ASSERT_EQ(testkit::Shell("pw-cli destroy " + node + " >/dev/null; echo $?"), "0");
        beforeEnd = std::chrono::steady_clock::now() - started;
        ASSERT_TRUE(recording.WaitUntilIdle(10s)) << "the recording went on after the screen cast ended";
        untilIdle = std::chrono::steady_clock::now() - begin;
        error = testkit::LastErrorText();
    }
    EXPECT_EQ(error, "Failed to grab the screen: the screen cast stream ended (its PipeWire node went away)");

    const auto streams = testkit::ProbeStreams(file);
    ASSERT_EQ(streams.size(), 1u) << "the file written so far does not play";
    testsupport::RiffReader reader;
    ASSERT_TRUE(reader.Open(file)) << reader.LastError();
    const auto chunks = reader.ChunksOf(0);
    size_t stored = 0;
    for (const auto& chunk : chunks)
        stored += chunk.size > 0;
    // Every frame built is in the file, and the last one again at the slot where the
    // end was seen.
    EXPECT_EQ(stored, static_cast<size_t>(watch.frames.load()) + 1);
    EXPECT_EQ(streams[0].at("nb_frames"), std::to_string(chunks.size()));
    // The file lasts until the stream ended, not only to the last frame that came.
    const double seconds = static_cast<double>(chunks.size()) / 10;
    EXPECT_GE(seconds, beforeEnd.count() - 0.2);
    EXPECT_LE(seconds, untilIdle.count() + 0.2);
    const auto runs = ColourRuns(file, 640, 480);
    EXPECT_NE(std::find(runs.begin(), runs.end(), kRed), runs.end()) << "the painted colour is not in the file";

    // The next screen cast streams again.
    FrameWatch again;
    Recording recording(0, dir_.File("again.avi"), 10);
    recording.SetHook(&FrameWatch::OnFrame, &again);
    ASSERT_TRUE(recording.Begin(&error)) << error;
    Paint(kGreen);
    EXPECT_TRUE(again.WaitFor(kGreen)) << std::hex << "last #" << again.centre;
    EXPECT_TRUE(recording.Stop()) << testkit::LastErrorText();
}

// A tone that starts when the recording shows a new colour lies in the file where
// that colour begins.
TEST_F(PortalRecording, SoundStaysInStepWithThePicture)
{
    testkit::TonePlayer player;
    ASSERT_TRUE(player.Playing()) << player.Error();
    const std::string file = dir_.File("sound.avi");
    constexpr uint32_t kFps = 30;
    FrameWatch watch;
    watch.seen = [&player](uint32_t centre) {
        if (centre == kGreen)
            player.StartTone();
    };
    {
        Recording recording(0, file, kFps);
        recording.options.AudioEnabled = 1;
        recording.options.AudioFormat = WaveFormatEx{1, 2, 22050, 88200, 4, 16, 0};
        recording.SetHook(&FrameWatch::OnFrame, &watch);
        std::string error;
        ASSERT_TRUE(recording.Begin(&error)) << error;
        Paint(kRed);
        ASSERT_TRUE(watch.WaitFor(kRed));
        std::this_thread::sleep_for(1s);
        Paint(kGreen);
        ASSERT_TRUE(watch.WaitFor(kGreen));
        std::this_thread::sleep_for(1500ms);
        ASSERT_TRUE(recording.Stop()) << testkit::LastErrorText();
    }
    const auto streams = testkit::ProbeStreams(file);
    ASSERT_EQ(streams.size(), 2u);

    // The decoded frames are the stored ones, in order: the first green one's
    // position in the stream is its time.
    testsupport::RiffReader reader;
    ASSERT_TRUE(reader.Open(file)) << reader.LastError();
    const auto chunks = reader.ChunksOf(0);
    const auto frames = testkit::DecodeVideo(file, "bgr0", 640, 480, 4);
    size_t position = 0, decoded = 0;
    for (; position < chunks.size(); ++position) {
        if (chunks[position].size == 0)
            continue;
        ASSERT_LT(decoded, frames.size());
        if (FrameColour(frames[decoded++]) == kGreen)
            break;
    }
    ASSERT_LT(position, chunks.size()) << "no green frame";
    const double picture = static_cast<double>(position) / kFps;

    int channels = 0, rate = 0;
    const auto samples = testkit::DecodeAudio(file, &channels, &rate);
    ASSERT_GT(channels, 0);
    ASSERT_GT(rate, 0);
    size_t onset = 0;
    while (onset * channels < samples.size() && std::abs(samples[onset * channels]) < 0.05 * 32768)
        ++onset;
    ASSERT_LT(onset * channels, samples.size()) << "no tone recorded";
    const double sound = static_cast<double>(onset) / rate;
    // The tone is heard the player's latency after it was written, which is when the
    // frame was built unless the sink held the player back.
    EXPECT_NEAR(sound - player.LatencyAtTone() - player.HeldBack(), picture, 0.1)
        << "tone at " << sound << " s (player latency " << player.LatencyAtTone() << " s, held back "
        << player.HeldBack() << " s), colour at " << picture << " s";
    std::printf("colour at %.3f s, tone at %.3f s, player latency %.3f s, held back %.3f s\n", picture, sound,
                player.LatencyAtTone(), player.HeldBack());
    // Both streams last the same.
    const double soundLength = static_cast<double>(samples.size() / channels) / rate;
    EXPECT_NEAR(soundLength, static_cast<double>(chunks.size()) / kFps, 0.1);
}

}  // namespace
