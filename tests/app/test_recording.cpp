// links: tavrec_app tavrec_support_TempRegistry tavrec_support_MediaProbe tavrec_support_Shell tavrec_support_QtApp
// Recording from the main window built in-process on the session's display: the
// toolbar's start, pause, resume and stop give an AVI whose length leaves the pause
// out; the states' buttons and captions; the output naming and the overwrite question;
// the default file of a first start; audio without a device, or from a source whose
// name is longer than the stored choice; errors of a failed start;
// Play opening the last recording in the desktop's player for AVI files.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QToolButton>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/OutputNaming.h"
#include "app/Tavrecmain.h"
#include "settings/AudioDevices.h"
#include "tests/support/MediaProbe.h"
#include "tests/support/QtApp.h"
#include "tests/support/Shell.h"
#include "tests/support/TempRegistry.h"

namespace {

using namespace std::chrono_literals;

QApplication& App() { return testkit::QtApp("test_recording"); }

using testkit::Shell;

double DurationOf(const std::string& file)
{
    const std::string out = Shell("timeout 30 ffprobe -v error -show_entries format=duration -of csv=p=0 '" +
                                  file + "' 2>/dev/null");
    return out.empty() ? -1.0 : std::atof(out.c_str());
}

void Spin(std::chrono::milliseconds time)
{
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(10ms);
    }
}

// Answers the next message box that opens with `button`, and remembers its text.
class BoxAnswer {
public:
    explicit BoxAnswer(QMessageBox::StandardButton button)
    {
        timer_.setInterval(50);
        QObject::connect(&timer_, &QTimer::timeout, [this, button] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                    text_ = box->text().toStdString();
                    box->button(button)->click();
                    timer_.stop();
                }
        });
        timer_.start();
    }
    const std::string& Text() const { return text_; }

private:
    QTimer timer_;
    std::string text_;
};

// Answers every message box that opens with its first button (Yes of the error box,
// OK of the plain box) and keeps their texts in order.
class EveryBox {
public:
    EveryBox()
    {
        timer_.setInterval(50);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                    texts_.push_back(box->text().toStdString());
                    box->buttons().first()->click();
                }
        });
        timer_.start();
    }
    const std::vector<std::string>& Texts() const { return texts_; }

private:
    QTimer timer_;
    std::vector<std::string> texts_;
};

int AudioStreams(const std::string& file)
{
    int count = 0;
    for (const testkit::StreamFacts& stream : testkit::ProbeStreams(file))
        count += stream.count("codec_type") && stream.at("codec_type") == "audio";
    return count;
}

class Recording : public ::testing::Test {
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/tavrec-recording-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
        registry_.SetText("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KELDAN\\TAVREC]\r\n");
        App();
        window_ = std::make_unique<TfrmMain>();
        RecorderSettings& s = window_->Settings();
        s.CaptureSize = 1;
        s.FPS = 10;
        s.RecordVideo = true;
        s.RecordAudio = false;
        s.MinWhileRecording = false;
        s.ShowEncoder = false;
        s.AutoAppendFilename = false;
        SetSavedFile(folder_ + "/clip.avi");
        window_->show();
        Spin(300ms);
    }
    void TearDown() override
    {
        window_.reset();
        Shell("rm -rf '" + folder_ + "'");
    }
    void SetSavedFile(const std::string& name)
    {
        std::strncpy(window_->Settings().SavedFile, name.c_str(), kSavedFileCapacity - 1);
    }
    QToolButton* Button(const char* name) { return window_->findChild<QToolButton*>(QLatin1String(name)); }
    void Click(const char* name) { window_->ToolButtonClick(Button(name)); }
    std::string Current() const { return window_->Settings().CurrentFile; }

    std::string folder_;
    TempRegistry registry_;
    std::unique_ptr<TfrmMain> window_;
};

TEST_F(Recording, StartPauseResumeStopGiveAFileWithoutThePause)
{
    Click("btnStartRecord");
    ASSERT_EQ(window_->State(), rsRecording);
    EXPECT_EQ(window_->windowTitle(), QStringLiteral("Tavrec! [RECORDING]"));
    EXPECT_FALSE(Button("btnStartRecord")->isEnabled());
    EXPECT_TRUE(Button("btnPauseRecord")->isEnabled());
    EXPECT_TRUE(Button("btnStopRecord")->isEnabled());
    EXPECT_FALSE(Button("btnConfigure")->isEnabled());
    EXPECT_FALSE(Button("btnPlayRecord")->isEnabled());
    EXPECT_TRUE(Button("btnSwitchMode")->isVisible());
    Click("btnStartRecord");  // while recording: nothing
    EXPECT_EQ(window_->State(), rsRecording);
    Spin(2000ms);

    Click("btnPauseRecord");
    ASSERT_EQ(window_->State(), rsPaused);
    EXPECT_EQ(window_->windowTitle(), QStringLiteral("Tavrec! [PAUSING]"));
    EXPECT_TRUE(Button("btnStartRecord")->isEnabled());
    EXPECT_FALSE(Button("btnPauseRecord")->isEnabled());
    Spin(3000ms);

    Click("btnStartRecord");  // resumes
    ASSERT_EQ(window_->State(), rsRecording);
    Spin(2000ms);
    Click("btnStopRecord");
    EXPECT_EQ(window_->State(), rsIdle);
    EXPECT_EQ(window_->windowTitle(), QStringLiteral("Tavrec!"));
    EXPECT_TRUE(Button("btnStartRecord")->isEnabled());
    EXPECT_FALSE(Button("btnStopRecord")->isEnabled());
    EXPECT_FALSE(Button("btnSwitchMode")->isVisible());

    EXPECT_EQ(Current(), folder_ + "/clip.avi");
    const double seconds = DurationOf(Current());
    // 4 s recorded, 3 s paused: the pause is left out.
    EXPECT_GT(seconds, 2.5) << Current();
    EXPECT_LT(seconds, 5.5) << Current();
}

TEST_F(Recording, ARegionCancelledRecordsNothingAndADraggedOneRecordsExactlyItsSize)
{
    window_->Settings().CaptureSize = 3;
    {
        // Escape on the frozen screen: the start is cancelled as a cancelled pick is.
        BoxAnswer answer(QMessageBox::Ok);
        std::thread escape([] {
            std::this_thread::sleep_for(1500ms);
            Shell("xdotool key Escape");
        });
        Click("btnStartRecord");
        escape.join();
        Spin(300ms);
        EXPECT_EQ(answer.Text(), "Not have capture window.");
        EXPECT_EQ(window_->State(), rsIdle);
        EXPECT_NE(access((folder_ + "/clip.avi").c_str(), F_OK), 0) << "a cancelled region left a file";
    }

    std::thread drag([] {
        std::this_thread::sleep_for(1500ms);
        Shell("xdotool mousemove 100 80 mousedown 1 mousemove 200 150 mousemove 299 199 mouseup 1");
    });
    Click("btnStartRecord");
    drag.join();
    ASSERT_EQ(window_->State(), rsRecording);
    Spin(1500ms);
    Click("btnStopRecord");
    EXPECT_EQ(window_->State(), rsIdle);
    const auto streams = testkit::ProbeStreams(Current());
    ASSERT_EQ(streams.size(), 1u) << Current();
    EXPECT_EQ(streams[0].at("width"), "200");
    EXPECT_EQ(streams[0].at("height"), "120");
}

TEST_F(Recording, AutomaticNamingNumbersTheFileNameAndKeepsItsFolder)
{
    mkdir((folder_ + "/a.b").c_str(), 0700);
    const std::string saved = folder_ + "/a.b/clip.avi";
    std::ofstream(saved) << "old";
    std::ofstream(folder_ + "/a.b/clip1.avi") << "old";
    EXPECT_EQ(NumberedName(saved), folder_ + "/a.b/clip2.avi");
    EXPECT_EQ(NumberedName(folder_ + "/a.b/name"), folder_ + "/a.b/name1.avi");

    SetSavedFile(saved);
    window_->Settings().AutoAppendFilename = true;
    Click("btnStartRecord");
    ASSERT_EQ(window_->State(), rsRecording);
    Spin(1000ms);
    Click("btnStopRecord");
    EXPECT_EQ(Current(), folder_ + "/a.b/clip2.avi");
    EXPECT_EQ(std::string(window_->Settings().SavedFile), saved) << "the configured name stays";
    EXPECT_EQ(TempRegistry::ReadFile(saved), "old");
    EXPECT_GT(DurationOf(Current()), 0.0);
}

TEST_F(Recording, OverwriteQuestionNoStartsNothingYesReplacesTheFile)
{
    const std::string saved = folder_ + "/clip.avi";
    std::ofstream(saved) << "old";
    {
        BoxAnswer no(QMessageBox::No);
        Click("btnStartRecord");
        EXPECT_EQ(no.Text(), "File is exists, overwrite?");
    }
    EXPECT_EQ(window_->State(), rsIdle);
    EXPECT_EQ(TempRegistry::ReadFile(saved), "old");

    // A folder of that name counts as existing and is never removed.
    const std::string folderName = folder_ + "/dir.avi";
    mkdir(folderName.c_str(), 0700);
    SetSavedFile(folderName);
    {
        BoxAnswer yes(QMessageBox::Yes);
        BoxAnswer error(QMessageBox::Yes);
        Click("btnStartRecord");
    }
    EXPECT_EQ(window_->State(), rsIdle);
    struct stat info {};
    EXPECT_EQ(stat(folderName.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));

    SetSavedFile(saved);
    {
        BoxAnswer yes(QMessageBox::Yes);
        Click("btnStartRecord");
    }
    ASSERT_EQ(window_->State(), rsRecording);
    Spin(1000ms);
    Click("btnStopRecord");
    EXPECT_GT(DurationOf(saved), 0.0);
}

TEST_F(Recording, AFirstStartRecordsIntoTheVideoFolderAndSaysWhere)
{
    const std::string videos = folder_ + "/Videos/new";
    setenv("XDG_VIDEOS_DIR", videos.c_str(), 1);
    SetSavedFile("");
    EveryBox boxes;
    Click("btnStartRecord");
    ASSERT_EQ(window_->State(), rsRecording);
    EXPECT_TRUE(boxes.Texts().empty()) << "nothing is asked before the recording";
    Spin(1000ms);
    Click("btnStopRecord");
    Spin(300ms);
    unsetenv("XDG_VIDEOS_DIR");
    EXPECT_EQ(Current(), videos + "/tavrec.avi");
    EXPECT_GT(DurationOf(videos + "/tavrec.avi"), 0.0);
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0], "Recorded to " + videos + "/tavrec.avi");
    EXPECT_STREQ(window_->Settings().SavedFile, "");
}

TEST_F(Recording, ANumberedNameLongerThanTheFieldStartsNothing)
{
    // 255 characters, the most the field holds: its numbered name would not fit.
    const std::string saved = folder_ + "/" + std::string(255 - folder_.size() - 1 - 4, 'x') + ".avi";
    ASSERT_EQ(saved.size(), 255u);
    std::ofstream(saved) << "old";
    SetSavedFile(saved);
    window_->Settings().AutoAppendFilename = true;
    EveryBox boxes;
    Click("btnStartRecord");
    Spin(300ms);
    EXPECT_EQ(window_->State(), rsIdle);
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0].rfind("File name too long", 0), 0u) << boxes.Texts()[0];
    EXPECT_EQ(TempRegistry::ReadFile(saved), "old");
    EXPECT_EQ(Shell("ls '" + folder_ + "' | wc -l"), "1") << "no file made under a cut name";
}

TEST_F(Recording, AudioWithoutADeviceGivesNoAudioStreamAnUnknownDeviceTheDefaultSource)
{
    RecorderSettings& s = window_->Settings();
    s.RecordAudio = true;
    s.SampleRate = WaveFormatEx{1, 1, 22050, 44100, 2, 16, 0};
    s.DSSoundDevice[0] = '\0';
    Click("btnStartRecord");
    ASSERT_EQ(window_->State(), rsRecording);
    Spin(1500ms);
    Click("btnStopRecord");
    EXPECT_GT(DurationOf(Current()), 0.0);
    EXPECT_EQ(AudioStreams(Current()), 0);

    // A name that matches no source records from the server's default one.
    std::strcpy(s.DSSoundDevice, "No Such Microphone");
    SetSavedFile(folder_ + "/unknown.avi");
    Click("btnStartRecord");
    ASSERT_EQ(window_->State(), rsRecording);
    Spin(1500ms);
    Click("btnStopRecord");
    EXPECT_EQ(AudioStreams(Current()), 1) << Current();
}

// A module of the session's sound server, unloaded again by its index.
class PulseModule {
public:
    explicit PulseModule(const std::string& arguments) : index_(Shell("pactl load-module " + arguments)) {}
    ~PulseModule()
    {
        if (Loaded())
            Shell("pactl unload-module " + index_);
    }
    bool Loaded() const { return !index_.empty() && index_.find_first_not_of("0123456789") == std::string::npos; }

private:
    std::string index_;
};

// Mean loudness of the file's sound in dB (ffmpeg's volumedetect); -999 when unread.
double MeanVolume(const std::string& file)
{
    const std::string out =
        Shell("timeout 60 ffmpeg -nostdin -v info -i '" + file + "' -map 0:a -af volumedetect -f null - 2>&1");
    const size_t at = out.find("mean_volume:");
    return at == std::string::npos ? -999.0 : std::atof(out.c_str() + at + 12);
}

// A source named as PulseAudio names HDMI and Bluetooth devices, longer than the 63
// bytes the choice keeps: chosen from the list the preferences offer, it is the one
// recorded (a tone), not the silent default source.
TEST_F(Recording, ASourceWithADescriptionLongerThanTheStoredChoiceIsTheOneRecorded)
{
    const std::string description = "Long_Named_Tone_Source_HDMI_DisplayPort_Audio_Controller_Digital_Stereo_HDMI_3__";
    ASSERT_EQ(description.size(), 80u);
    PulseModule tone("module-sine-source source_name=tavrec_long_tone frequency=440 "
                     "source_properties=device.description=" + description);
    ASSERT_TRUE(tone.Loaded());
    ASSERT_NE(Shell("pactl get-default-source"), "tavrec_long_tone") << "the tone would be recorded anyway";
    std::string chosen;
    for (const settings::AudioDeviceEntry& entry : settings::EnumerateAudioDevices())
        if (entry.Description.rfind(description.substr(0, 40), 0) == 0)
            chosen = entry.Description;
    ASSERT_EQ(chosen, description.substr(0, 63)) << "the list does not offer the source as stored";

    RecorderSettings& s = window_->Settings();
    s.RecordAudio = true;
    s.SampleRate = WaveFormatEx{1, 1, 22050, 44100, 2, 16, 0};
    std::strcpy(s.DSSoundDevice, chosen.c_str());
    Click("btnStartRecord");
    ASSERT_EQ(window_->State(), rsRecording);
    Spin(3000ms);
    Click("btnStopRecord");
    ASSERT_EQ(AudioStreams(Current()), 1) << Current();
    // The tone sounds at about -9 dB; the default source (an idle sink's monitor) is
    // digital silence.
    EXPECT_GT(MeanVolume(Current()), -40.0) << "recorded from another source";
}

TEST_F(Recording, TheErrorOfAFailedStartIsShownOnceAndNotAtTheNextStop)
{
    RecorderSettings& s = window_->Settings();
    s.RecordAudio = true;
    std::strcpy(s.DSSoundDevice, "No Such Microphone");
    s.SampleRate = WaveFormatEx{};  // refused by the audio stream set-up, which posts its text
    {
        EveryBox boxes;
        Click("btnStartRecord");
        Spin(1500ms);
        EXPECT_EQ(window_->State(), rsIdle);
        ASSERT_EQ(boxes.Texts().size(), 1u);
        EXPECT_EQ(boxes.Texts()[0].rfind("Unsupported audio format", 0), 0u) << boxes.Texts()[0];
    }
    s.RecordAudio = false;
    SetSavedFile(folder_ + "/good.avi");  // the failed start left its empty file behind
    EveryBox boxes;
    Click("btnStartRecord");
    ASSERT_EQ(window_->State(), rsRecording);
    Spin(1000ms);
    Click("btnStopRecord");
    Spin(500ms);
    EXPECT_EQ(window_->State(), rsIdle);
    EXPECT_TRUE(boxes.Texts().empty()) << boxes.Texts().front();
    EXPECT_GT(DurationOf(Current()), 0.0);
}

TEST_F(Recording, TheStopWhileIdleResetsTheToolbarAndThePauseDoesNothing)
{
    EveryBox boxes;
    Click("btnPauseRecord");
    EXPECT_EQ(window_->State(), rsIdle);
    Button("btnStopRecord")->setEnabled(true);  // any state left over is reset
    Button("btnStartRecord")->setEnabled(false);
    Click("btnStopRecord");
    Spin(200ms);
    EXPECT_EQ(window_->State(), rsIdle);
    EXPECT_EQ(window_->windowTitle(), QStringLiteral("Tavrec!"));
    EXPECT_TRUE(Button("btnStartRecord")->isEnabled());
    EXPECT_FALSE(Button("btnStopRecord")->isEnabled());
    EXPECT_TRUE(Button("btnPlayRecord")->isEnabled());
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(Recording, ACaptureErrorThatArrivesWhileABoxIsOpenIsHandledWhenItCloses)
{
    std::ofstream(folder_ + "/clip.avi") << "old";
    // The notification arrives inside the overwrite question, where clicks are dropped.
    QTimer::singleShot(0, window_.get(), [this] { window_->AppMessage(PostedMessage{msg::CAPTURE_ERROR, 0, 0}); });
    {
        BoxAnswer no(QMessageBox::No);
        Click("btnStartRecord");
        EXPECT_EQ(no.Text(), "File is exists, overwrite?");
    }
    EveryBox boxes;
    Spin(1500ms);
    // The stop action ran once the question had closed and showed the library's text.
    int32_t capacity = 0;
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0], GetMyLastError(&capacity));
    EXPECT_EQ(window_->State(), rsIdle);
}

// The desktop's player for AVI files is ffplay, through a desktop entry and default
// of the test's own data and configuration folders: Play opens the last recording
// there, by its path (ffplay's window is named after it), and only while idle.
TEST_F(Recording, PlayOpensTheLastRecordingInTheDesktopsPlayer)
{
    if (Shell("command -v ffplay").empty() || Shell("command -v xdg-open").empty())
        GTEST_SKIP() << "ffplay or xdg-open is not installed";
    Shell("mkdir -p '" + folder_ + "/data/applications' '" + folder_ + "/config'");
    std::ofstream(folder_ + "/data/applications/tavrec-test-player.desktop")
        << "[Desktop Entry]\nType=Application\nName=Test player\n"
           "Exec=ffplay -loglevel quiet -nostats -autoexit -an %f\nMimeType=video/x-msvideo;\n";
    std::ofstream(folder_ + "/config/mimeapps.list")
        << "[Default Applications]\nvideo/x-msvideo=tavrec-test-player.desktop\n";
    setenv("XDG_DATA_HOME", (folder_ + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder_ + "/config").c_str(), 1);
    const auto playerWindows = [&] {
        return Shell("xdotool search --onlyvisible --name '^" + folder_ + "/clip.avi$' 2>/dev/null");
    };

    Click("btnStartRecord");
    ASSERT_EQ(window_->State(), rsRecording);
    Spin(1000ms);
    Click("btnPlayRecord");  // while recording: nothing
    Spin(1500ms);
    EXPECT_EQ(playerWindows(), "");
    Click("btnStopRecord");
    ASSERT_EQ(window_->State(), rsIdle);

    Click("btnPlayRecord");
    std::string shown;
    for (auto end = std::chrono::steady_clock::now() + 20s; shown.empty() && std::chrono::steady_clock::now() < end;)
        if ((shown = playerWindows()).empty())
            Spin(100ms);
    EXPECT_NE(shown, "") << "no player window for the recording";
    // The player ends by itself at the end of the clip.
    for (auto end = std::chrono::steady_clock::now() + 30s; !playerWindows().empty() && std::chrono::steady_clock::now() < end;)
        Spin(200ms);
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
