// links: tavrec_app tavrec_support_TempRegistry tavrec_support_MediaProbe tavrec_support_PulseModule tavrec_support_QtApp
// The main window built in-process, recording the session's screen through the real
// capture library: the tray icon and its animation while minimised, the boxes shown
// while the window is in the tray, a capture error dropped during a box, and the disk
// watch on a small tmpfs. The tmpfs lives in a mount namespace of this process
// alone, which needs root; those tests skip without it.
#include <gtest/gtest.h>

#include <sched.h>
#include <dirent.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/DiskSpace.h"
#include "app/Tavrecmain.h"
#include "app/TrayIcon.h"
#include "platform/x11/XDisplay.h"
#include "tests/support/MediaProbe.h"
#include "tests/support/PulseModule.h"
#include "tests/support/QtApp.h"
#include "tests/support/TempRegistry.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// BoolSection bits.
constexpr uint32_t kAudio = 0x001, kVideo = 0x002, kMinimize = 0x004, kShowEncoder = 0x040, kAutoAppend = 0x100;

QApplication& App() { return testkit::QtApp("test_recording_tray"); }

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    for (auto end = Clock::now() + timeout; Clock::now() < end;) {
        if (done())
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        std::this_thread::sleep_for(10ms);
    }
    return done();
}

// A tmpfs of `megabytes` in this process's own mount namespace, gone with the process.
std::string SmallVolume(int megabytes)
{
    if (geteuid() != 0)
        return {};
    static bool unshared = unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    std::string dir = ::testing::TempDir() + "tavrec-volume.XXXXXX";
    if (!unshared || !mkdtemp(dir.data()))
        return {};
    const std::string options = "size=" + std::to_string(megabytes) + "m,mode=0700";
    return mount("tavrec-test", dir.c_str(), "tmpfs", 0, options.c_str()) == 0 ? dir : std::string();
}

// Fills the volume of `dir` until exactly `bytes` stay usable.
void LeaveUsable(const std::string& dir, uint64_t bytes)
{
    const uint64_t usable = UsableBytes(dir).value_or(0);
    ASSERT_GT(usable, bytes);
    std::ofstream filler(dir + "/filler", std::ios::binary);
    const std::vector<char> block(usable - bytes, 'x');
    filler.write(block.data(), static_cast<std::streamsize>(block.size()));
    filler.close();
    ASSERT_EQ(UsableBytes(dir).value_or(0), bytes);
}

// One message box seen while it was open.
struct SeenBox {
    QString caption, text;
    bool onTop = false;
    QPoint centre;
};

class RecordingTray : public ::testing::Test {
protected:
    // The whole screen at 5 frames per second into `file`.
    void Build(uint32_t boolSection, const std::string& file, const char* codec = "MJPEG (Motion JPEG)",
               const std::string& extraValues = {})
    {
        char flags[16];
        std::snprintf(flags, sizeof flags, "%02x,%02x,00,00", boolSection & 0xff, boolSection >> 8);
        registry_.SetText(std::string("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KELDAN\\TAVREC]\r\n") +
                          "\"BoolSection\"=hex:" + flags + "\r\n\"CaptureSize\"=hex:01,00,00,00\r\n" +
                          "\"FPS\"=hex:05,00,00,00\r\n\"SavedFile\"=\"" + file + "\"\r\n\"VCMDevice\"=\"" + codec +
                          "\"\r\n" + extraValues);
        App();
        window_ = std::make_unique<TfrmMain>();
        window_->show();
        ASSERT_TRUE(WaitUntil([&] { return window_->isVisible(); }, 5s));
    }
    void TearDown() override
    {
        answer_.reset();
        window_.reset();
    }
    void Click(const char* name) { window_->ToolButtonClick(window_->findChild<QToolButton*>(QLatin1String(name))); }
    TrayIcon* Tray() const { return window_->findChild<TrayIcon*>(); }
    bool DiskWatchOn() const
    {
        auto* timer = window_->findChild<QTimer*>(QStringLiteral("tmrCheckDisk"));
        return timer && timer->isActive();
    }
    static QPoint ScreenCentre() { return QGuiApplication::primaryScreen()->availableGeometry().center(); }

    // From now on every message box that opens is recorded and handed to `answer`,
    // which returns the button to press (NoButton: look again a little later).
    void AnswerBoxes(std::function<QMessageBox::StandardButton(QMessageBox*, const SeenBox&)> answer)
    {
        answer_ = std::make_unique<QTimer>();
        QObject::connect(answer_.get(), &QTimer::timeout, [this, answer] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                if (!box || !box->isVisible())
                    continue;
                SeenBox seen{box->windowTitle(), box->text(), bool(box->windowFlags() & Qt::WindowStaysOnTopHint),
                             box->frameGeometry().center()};
                // A box made after another at the same address is a new one.
                if (current_ != box) {
                    current_ = box;
                    boxes_.push_back(seen);
                }
                if (const QMessageBox::StandardButton button = answer(box, seen); button != QMessageBox::NoButton) {
                    if (QAbstractButton* pressed = box->button(button))
                        pressed->click();
                    else
                        box->reject();
                }
                return;
            }
        });
        answer_->start(100);
    }
    const std::vector<SeenBox>& Boxes() const { return boxes_; }

    TempRegistry registry_;
    testkit::TempDir dir_;
    std::unique_ptr<TfrmMain> window_;
    std::unique_ptr<QTimer> answer_;
    QPointer<QMessageBox> current_;
    std::vector<SeenBox> boxes_;
};

void ExpectPlayable(const std::string& file)
{
    const auto streams = testkit::ProbeStreams(file);
    ASSERT_FALSE(streams.empty()) << file;
    EXPECT_EQ(streams[0].at("codec_type"), "video");
    EXPECT_FALSE(testkit::ProbePackets(file, 0).empty());
}

TEST_F(RecordingTray, IconAnimatesThroughSixFramesWhileRecordingAndTheStopRestoresTheWindow)
{
    App();
    if (!TrayIcon::Available())
        GTEST_SKIP() << "no tray host in this session";
    const std::string file = dir_.File("clip.avi");
    Build(kVideo | kMinimize, file);
    Click("btnStartRecord");
    ASSERT_EQ(window_->State(), rsRecording);
    EXPECT_FALSE(window_->isVisible());
    ASSERT_NE(Tray(), nullptr);
    EXPECT_TRUE(Tray()->Shown());
    EXPECT_TRUE(Tray()->Animated());
    EXPECT_EQ(Tray()->findChild<QTimer*>()->interval(), 1000);

    // Each step goes to the next frame, the sixth back to the first.
    std::vector<int> frames{Tray()->Frame()};
    WaitUntil([&] {
        if (Tray()->Frame() != frames.back())
            frames.push_back(Tray()->Frame());
        return frames.size() >= 8;
    }, 30s);
    ASSERT_GE(frames.size(), 8u);
    for (size_t i = 1; i < frames.size(); ++i)
        EXPECT_EQ(frames[i], (frames[i - 1] + 1) % 6) << "step " << i;

    // Paused: still at frame 0, still in the tray; resumed: animated again.
    Click("btnPauseRecord");
    ASSERT_EQ(window_->State(), rsPaused);
    EXPECT_FALSE(Tray()->Animated());
    EXPECT_EQ(Tray()->Frame(), 0);
    EXPECT_TRUE(Tray()->Shown());
    EXPECT_FALSE(window_->isVisible());
    Click("btnStartRecord");
    EXPECT_TRUE(Tray()->Animated());

    Click("btnStopRecord");
    EXPECT_EQ(window_->State(), rsIdle);
    EXPECT_FALSE(Tray()->Shown());
    EXPECT_TRUE(window_->isVisible());
    EXPECT_EQ(window_->windowTitle(), QStringLiteral("Tavrec!"));
    ExpectPlayable(file);
}

// The library's error arrives while the overwrite question holds the click handler:
// it is acted on as soon as the question has closed, not at some later stop.
TEST_F(RecordingTray, CaptureErrorDroppedDuringAQuestionIsHandledOnceItCloses)
{
    const std::string file = dir_.File("clip.avi");
    TempRegistry::WriteFile(file, "old");
    Build(kVideo, file);
    bool posted = false;
    int looks = 0;
    AnswerBoxes([&](QMessageBox*, const SeenBox& box) {
        if (box.caption != QStringLiteral("Confirm"))
            return QMessageBox::Yes;
        if (!posted)
            posted = platform::PostWindowMessage(static_cast<platform::WindowId>(window_->winId()),
                                                 CaptureErrorMessage);
        // Answered a few looks later, once the message has been delivered.
        return ++looks > 4 ? QMessageBox::No : QMessageBox::NoButton;
    });
    Click("btnStartRecord");
    ASSERT_TRUE(posted);
    ASSERT_TRUE(WaitUntil([&] { return boxes_.size() >= 2; }, 10s)) << "no error box after the question";
    WaitUntil([&] { return QApplication::activeModalWidget() == nullptr; }, 5s);
    const auto boxes = Boxes();
    EXPECT_EQ(boxes[0].text, QStringLiteral("File is exists, overwrite?"));
    EXPECT_EQ(boxes[1].caption, QStringLiteral("Error"));
    EXPECT_EQ(window_->State(), rsIdle);
    EXPECT_EQ(TempRegistry::ReadFile(file), "old");
    // Shown once: the next stop has nothing left to show.
    Click("btnStopRecord");
    WaitUntil([] { return false; }, 500ms);
    EXPECT_EQ(boxes_.size(), 2u);
}

// The sound source goes away while it is recorded (a USB microphone pulled out): the
// program shows the error with the source's reason, and the file plays up to there.
TEST_F(RecordingTray, ASoundSourceThatGoesAwayShowsItsReasonAndTheFilePlays)
{
    testkit::PulseModule sine({"module-sine-source", "source_name=tray_vanishing", "frequency=440",
                               "source_properties=device.description=Tray_vanishing"});
    ASSERT_TRUE(sine.Loaded());
    const std::string file = dir_.File("sound.avi");
    Build(kVideo | kAudio, file, "MJPEG (Motion JPEG)", "\"DSSoundDevice\"=\"Tray_vanishing\"\r\n"
          "\"SampleRate\"=hex:01,00,02,00,22,56,00,00,88,58,01,00,04,00,10,00,00,00\r\n");
    AnswerBoxes([](QMessageBox*, const SeenBox&) { return QMessageBox::Ok; });
    Click("btnStartRecord");
    ASSERT_EQ(window_->State(), rsRecording) << (boxes_.empty() ? "" : boxes_[0].text.toStdString());
    ASSERT_TRUE(testkit::WaitUntilSourceIsRecorded("tray_vanishing"));
    WaitUntil([] { return false; }, 2s);
    ASSERT_TRUE(sine.Unload());

    ASSERT_TRUE(WaitUntil([&] { return !boxes_.empty(); }, 15s)) << "the failure was not shown";
    WaitUntil([&] { return window_->State() == rsIdle && QApplication::activeModalWidget() == nullptr; }, 5s);
    // A stop that meets the recording still ending may show "Stop abnormally" first;
    // the reason follows it.
    const auto reason = std::find_if(boxes_.begin(), boxes_.end(), [](const SeenBox& box) {
        return box.text.contains(QStringLiteral("tray_vanishing"));
    });
    ASSERT_NE(reason, boxes_.end()) << boxes_[0].text.toStdString();
    EXPECT_EQ(reason->caption, QStringLiteral("Error"));
    EXPECT_EQ(window_->State(), rsIdle);
    for (const SeenBox& box : boxes_)
        EXPECT_FALSE(box.text.startsWith(QStringLiteral("Recorded to"))) << "a failure reported as success";
    ExpectPlayable(file);
    const auto streams = testkit::ProbeStreams(file);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[1].at("codec_type"), "audio");
}

class DiskWatch : public RecordingTray {
protected:
    void SetUp() override
    {
        volume_ = SmallVolume(40);
        if (volume_.empty())
            GTEST_SKIP() << "a tmpfs of our own needs root";
    }
    void TearDown() override
    {
        RecordingTray::TearDown();
        if (!volume_.empty())
            umount2(volume_.c_str(), MNT_DETACH);
    }
    // Records into the tmpfs, which has just above the threshold left, until the watch
    // asks; `whileAsked` runs with the question open and gives the answer.
    void RecordUntilAsked(uint32_t boolSection, std::function<QMessageBox::StandardButton()> whileAsked)
    {
        file_ = volume_ + "/clip.avi";
        LeaveUsable(volume_, DiskFullThreshold + 64 * 1024);
        Build(boolSection, file_);
        AnswerBoxes([this, whileAsked](QMessageBox*, const SeenBox& box) {
            if (box.text != QString::fromUtf8(kDiskFullQuestion))
                return QMessageBox::Yes;
            stateWhileAsked_ = window_->State();
            hiddenWhileAsked_ = !window_->isVisible();
            return whileAsked();
        });
        Click("btnStartRecord");
        ASSERT_EQ(window_->State(), rsRecording);
        ASSERT_TRUE(WaitUntil([&] { return !boxes_.empty(); }, 60s)) << "the watch never asked";
        ASSERT_TRUE(WaitUntil([] { return QApplication::activeModalWidget() == nullptr; }, 10s));
    }

    std::string volume_, file_;
    RecorderState stateWhileAsked_ = rsIdle;
    bool hiddenWhileAsked_ = false;
};

TEST_F(DiskWatch, NearlyFullDiskPausesAndAsksInACentredBoxAndYesStopsWithAPlayableFile)
{
    RecordUntilAsked(kVideo | kMinimize, [] { return QMessageBox::Yes; });
    const SeenBox box = Boxes().at(0);
    EXPECT_EQ(box.caption, QStringLiteral("Confirm"));
    EXPECT_EQ(box.text, QStringLiteral("Disk is approximately full (20 MB empty), stop recording?"));
    EXPECT_EQ(stateWhileAsked_, rsPaused);
    if (TrayIcon::Available()) {
        // Asked while in the tray: on its own, on top, in the middle of the screen.
        EXPECT_TRUE(hiddenWhileAsked_);
        EXPECT_TRUE(box.onTop);
        EXPECT_LE((box.centre - ScreenCentre()).manhattanLength(), 40) << box.centre.x() << "," << box.centre.y();
    }
    EXPECT_EQ(window_->State(), rsIdle);
    EXPECT_TRUE(window_->isVisible());
    EXPECT_EQ(Boxes().size(), 1u);
    ExpectPlayable(file_);
}

TEST_F(DiskWatch, NoResumesAndTheDiskIsNotWatchedAgainUntilTheNextStart)
{
    RecordUntilAsked(kVideo, [] { return QMessageBox::No; });
    EXPECT_EQ(stateWhileAsked_, rsPaused);
    EXPECT_EQ(window_->State(), rsRecording);
    EXPECT_FALSE(DiskWatchOn());
    WaitUntil([] { return false; }, 2500ms);
    EXPECT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(window_->State(), rsRecording);
    Click("btnStopRecord");
    ExpectPlayable(file_);
}

// A stop made while the question is open (a shortcut, say) is not undone by No: a
// "resume" in rsIdle would start a new recording.
TEST_F(DiskWatch, NoAfterAStopDuringTheQuestionStartsNothing)
{
    RecordUntilAsked(kVideo | kAutoAppend, [this] {
        Click("btnStopRecord");
        return QMessageBox::No;
    });
    EXPECT_EQ(window_->State(), rsIdle);
    EXPECT_FALSE(DiskWatchOn());
    EXPECT_FALSE(TempRegistry::Exists(volume_ + "/clip1.avi"));
    EXPECT_EQ(Boxes().size(), 1u);
    ExpectPlayable(file_);
}

// Encoding wizards started for `file`: processes of the remuxer beside this test
// whose argument it is.
std::vector<pid_t> WizardsFor(const std::string& file)
{
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    while (proc) {
        dirent* entry = readdir(proc);
        if (!entry)
            break;
        const pid_t pid = std::atoi(entry->d_name);
        if (pid <= 0)
            continue;
        std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
        std::string program, argument;
        std::getline(in, program, '\0');
        std::getline(in, argument, '\0');
        if (program == TAVREC_BINARY_DIR "/bin/remuxer" && argument == file)
            found.push_back(pid);
    }
    if (proc)
        closedir(proc);
    return found;
}

// A stop made while the question is open is the one stop: Yes does not run the stop
// action a second time (which would start the encoding wizard again).
TEST_F(DiskWatch, YesAfterAStopDuringTheQuestionStopsOnlyOnce)
{
    if (!TempRegistry::Exists(TAVREC_BINARY_DIR "/bin/remuxer"))
        GTEST_SKIP() << "the encoding wizard is not built";
    RecordUntilAsked(kVideo | kShowEncoder, [this] {
        Click("btnStopRecord");
        return QMessageBox::Yes;
    });
    EXPECT_EQ(window_->State(), rsIdle);
    WaitUntil([] { return false; }, 2s);
    const std::vector<pid_t> wizards = WizardsFor(file_);
    for (pid_t pid : wizards)
        kill(pid, SIGTERM);
    EXPECT_EQ(wizards.size(), 1u);
    ExpectPlayable(file_);
}

// The disk fills for real while in the tray: the library stops with a write error and
// the stop shows it. The watch, which sees a full disk all that time, keeps quiet
// while the error box holds the click handler.
TEST_F(DiskWatch, WriteFailureInTheTrayShowsTheErrorThenTheWindowWithoutAQuestion)
{
    // Uncompressed frames of the whole screen are far larger than what is left.
    file_ = volume_ + "/clip.avi";
    LeaveUsable(volume_, 4u << 20);
    Build(kVideo | kMinimize, file_, "");
    Clock::time_point errorSeen{};
    bool hiddenDuringError = false;
    AnswerBoxes([&](QMessageBox*, const SeenBox& box) {
        if (box.caption != QStringLiteral("Error"))
            return QMessageBox::Yes;
        if (errorSeen == Clock::time_point{}) {
            errorSeen = Clock::now();
            hiddenDuringError = !window_->isVisible();
        }
        // Held open over two ticks of the watch.
        return Clock::now() - errorSeen > 2500ms ? QMessageBox::Yes : QMessageBox::NoButton;
    });
    Click("btnStartRecord");
    ASSERT_TRUE(WaitUntil([&] { return window_->State() == rsIdle; }, 60s));
    WaitUntil([] { return QApplication::activeModalWidget() == nullptr; }, 10s);
    ASSERT_FALSE(Boxes().empty());
    for (const SeenBox& box : Boxes()) {
        EXPECT_EQ(box.caption, QStringLiteral("Error")) << box.text.toStdString();
        if (TrayIcon::Available()) {
            EXPECT_TRUE(box.onTop);
            EXPECT_LE((box.centre - ScreenCentre()).manhattanLength(), 40);
        }
    }
    if (TrayIcon::Available()) {
        EXPECT_TRUE(hiddenDuringError);
    }
    EXPECT_TRUE(window_->isVisible());
    EXPECT_EQ(window_->windowTitle(), QStringLiteral("Tavrec!"));
}

}  // namespace
