// links: korvid tavrec_support_Recording tavrec_support_MediaProbe tavrec_support_Shell tavrec_support_RiffReader
// Recordings through the desktop portal's screen cast, in the headless Wayland session
// (tests/wayland-session.sh): the output's background, painted by sway's own
// background client in known colours, is recorded and read back with ffmpeg.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "tests/support/MediaProbe.h"
#include "tests/support/Recording.h"
#include "tests/support/RiffReader.h"
#include "tests/support/Shell.h"

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

// Watches the frames the library builds: the colour at the centre of the last one.
struct FrameWatch {
    std::atomic<uint32_t> centre{0xFFFFFFFF};
    std::atomic<int> frames{0};
    int width = 0, height = 0;

    static void OnFrame(void* object, FrameSurface* frame, int32_t width, int32_t height, bool*)
    {
        auto* self = static_cast<FrameWatch*>(object);
        const uint8_t* p = frame->Pixels + static_cast<size_t>(height / 2) * frame->Stride + (width / 2) * 4;
        self->centre = uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
        self->width = width;
        self->height = height;
        ++self->frames;
    }

    // Waits until the built frames show the colour; false after 10 s.
    bool WaitFor(uint32_t rgb)
    {
        for (auto end = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < end;) {
            if (centre.load() == rgb)
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

}  // namespace
