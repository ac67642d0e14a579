// links: tavrec_support_TavrecProcess tavrec_support_TempRegistry tavrec_support_MediaProbe tavrec_support_Shell
// The first recording as a new user makes it in the real program: with the settings
// of a first start (Capture Video off, Capture Audio on without a device) a press of
// Record shows the reason in an error box wide enough for it and leaves no file; with
// Capture Video ticked and stored the same press gives a playable file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "tests/support/MediaProbe.h"
#include "tests/support/Shell.h"
#include "tests/support/TavrecProcess.h"
#include "tests/support/TempRegistry.h"

namespace {

using namespace std::chrono_literals;
using testkit::TavrecProcess;
using testkit::WaitFor;

constexpr const char* kNothingToRecord =
    "Nothing to record: Capture Video and Capture Audio are both off, or no sound device is chosen (Preferences)";

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// The program as a new user has it: the settings file of `registry` as given, the
// default file in `videos`.
testkit::TavrecLaunch FirstStart(const std::string& videos, const std::string& errors)
{
    testkit::TavrecLaunch launch;
    launch.errorFile = errors;
    launch.environment = {{"XDG_VIDEOS_DIR", videos}};
    return launch;
}

// A visible window of the program other than `main` and the tray icon: a box.
std::string OtherWindow(const TavrecProcess& tavrec, const std::string& main)
{
    const std::string ids = tavrec.X("xdotool search --onlyvisible --pid " + std::to_string(tavrec.Pid()));
    for (size_t at = 0; at < ids.size();) {
        const size_t end = std::min(ids.find('\n', at), ids.size());
        const std::string id = ids.substr(at, end - at);
        if (id != main && testkit::WindowField(tavrec.X("xwininfo -id " + id), "Width") >= 100)
            return id;
        at = end + 1;
    }
    return {};
}

// Presses the focused box's default button.
void Answer(const TavrecProcess& tavrec, const std::string& box)
{
    tavrec.X("xdotool windowactivate --sync " + box);
    tavrec.X("xdotool key --clearmodifiers Return");
}

TEST(FirstRecording, NothingToRecordIsSaidInFullAndLeavesNoFileThenCaptureVideoRecords)
{
    testkit::TempDir dir;
    const std::string videos = dir.File("Videos");
    const std::string file = videos + "/tavrec.avi";
    TempRegistry registry;
    registry.SetText("");  // an empty settings file: every value at its first-start default
    {
        TavrecProcess tavrec(registry, std::getenv("DISPLAY"), FirstStart(videos, dir.File("errors-1")));
        std::string main;
        ASSERT_TRUE(WaitFor([&] { return !(main = tavrec.Visible("Tavrec!")).empty(); }, 30s));
        std::this_thread::sleep_for(500ms);
        tavrec.ClickButton(main, testkit::kStartButton);

        std::string box;
        ASSERT_TRUE(WaitFor([&] { return !(box = tavrec.Visible("Error")).empty() || !tavrec.Running(); }, 30s))
            << "no error box";
        ASSERT_TRUE(tavrec.Running());
        EXPECT_TRUE(WaitFor([&] { return TempRegistry::ReadFile(dir.File("errors-1")).find(kNothingToRecord) !=
                                         std::string::npos; }, 5s))
            << TempRegistry::ReadFile(dir.File("errors-1"));
        // The text is not cut and does not run down a narrow column: the box is wide
        // enough for a good part of it on one line.
        const std::string info = tavrec.X("xwininfo -id " + box);
        const int width = testkit::WindowField(info, "Width");
        const int height = testkit::WindowField(info, "Height");
        EXPECT_GE(width, 350) << info;
        EXPECT_LT(height, 300) << info;
        EXPECT_FALSE(Exists(file)) << "the failed start left its file";

        Answer(tavrec, box);
        EXPECT_TRUE(WaitFor([&] { return tavrec.Visible("Error").empty(); }, 10s)) << "the box stayed open";
        EXPECT_EQ(tavrec.Title(main), "Tavrec!");
        EXPECT_FALSE(Exists(file));
        EXPECT_FALSE(Exists(videos)) << "the folder made for the start is taken away again";
        EXPECT_TRUE(tavrec.Terminate());
    }

    // "Capture Video" ticked as the preferences store it: the flag word with audio and
    // video on, the rest as the first start wrote it.
    const std::string stored = registry.Text();
    ASSERT_NE(stored.find("\"BoolSection\"=hex:01,00,00,00"), std::string::npos) << stored;
    std::string ticked = stored;
    ticked.replace(ticked.find("\"BoolSection\"=hex:01,00,00,00"), 29, "\"BoolSection\"=hex:03,00,00,00");
    registry.SetText(ticked);
    {
        TavrecProcess tavrec(registry, std::getenv("DISPLAY"), FirstStart(videos, dir.File("errors-2")));
        std::string main;
        ASSERT_TRUE(WaitFor([&] { return !(main = tavrec.Visible("Tavrec!")).empty(); }, 30s));
        std::this_thread::sleep_for(500ms);
        tavrec.ClickButton(main, testkit::kStartButton);
        ASSERT_TRUE(WaitFor([&] { return tavrec.Title(main) == "Tavrec! [RECORDING]"; }, 60s))
            << tavrec.Title(main) << TempRegistry::ReadFile(dir.File("errors-2"));
        std::this_thread::sleep_for(3s);
        tavrec.ClickButton(main, testkit::kStopButton);
        // The stop says where the recording went, in a box captioned with the
        // application title, which is the window's caption.
        std::string said;
        ASSERT_TRUE(WaitFor([&] { return !(said = OtherWindow(tavrec, main)).empty(); }, 60s))
            << tavrec.Title(main) << "; " << TempRegistry::ReadFile(dir.File("errors-2"));
        Answer(tavrec, said);
        EXPECT_TRUE(WaitFor([&] { return tavrec.Title(main) == "Tavrec!"; }, 30s));
        EXPECT_TRUE(tavrec.Terminate());
    }
    ASSERT_TRUE(Exists(file));
    const auto streams = testkit::ProbeStreams(file);
    ASSERT_EQ(streams.size(), 1u) << "video only: no sound device is chosen";
    EXPECT_EQ(streams[0].at("codec_type"), "video");
    EXPECT_GT(testkit::ProbeDuration(file), 1.0);
    int code = -1;
    std::string errors;
    testkit::RunCapture({"ffmpeg", "-nostdin", "-v", "error", "-i", file, "-f", "null", "-"}, &code, &errors);
    EXPECT_EQ(code, 0) << errors;
    EXPECT_EQ(errors, "") << "the file does not decode cleanly";
}

}  // namespace
