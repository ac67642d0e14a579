// links: tavrec_app tavrec_support_TempRegistry tavrec_support_QtApp
// The preferences dialog built in-process on the session's display, driven while it
// runs modally: what OK, Apply and Cancel leave in the record, the frame-rate and
// file-location checks, Browse's ".avi" rule, the codec and audio choices against the
// real lists, the shortcut field, and the opening from the main window with its
// shortcuts released and grabbed again.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

#include <X11/keysym.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "app/KeyboardMap.h"
#include "app/Tavrecmain.h"
#include "settings/AudioDevices.h"
#include "settings/CodecList.h"
#include "settings/Tavrecconfigure.h"
#include "settings/TavrecShortcutField.h"
#include "settings/WideText.h"
#include "tests/support/QtApp.h"
#include "tests/support/TempRegistry.h"

namespace {

QApplication& App() { return testkit::QtApp("test_preferences"); }

// One cache for the tests: the first list pays for asking every compressor.
settings::CodecAdmissionCache& Cache()
{
    static settings::CodecAdmissionCache cache;
    return cache;
}

xcb_connection_t* Connection()
{
    return App().nativeInterface<QNativeInterface::QX11Application>()->connection();
}

uint8_t KeycodeOf(uint32_t keysym)
{
    KeyboardMap map(Connection());
    const auto codes = map.KeycodesOf(keysym);
    return codes.empty() ? 0 : codes.front();
}

// A key press as the X server reports it: the key's keysym at the level pressed.
void PressKey(QWidget* target, Qt::Key key, Qt::KeyboardModifiers modifiers, uint32_t keysym, uint32_t keycode = 0)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, keycode, keysym, 0);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, keycode, keysym, 0);
    QApplication::sendEvent(target, &release);
}

// Answers every message box that shows with its first button and keeps its text.
class MessageBoxes {
public:
    MessageBoxes()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts.push_back(box->text());
                box->buttons().first()->click();
            }
        });
        timer_.start(30);
    }
    std::vector<QString> texts;

private:
    QTimer timer_;
};

// Runs `act` from the event loop once `ready` holds; a watchdog closes every modal
// window after a few minutes so a stuck test fails instead of hanging.
void When(std::function<bool()> ready, std::function<void()> act)
{
    auto* timer = new QTimer(&App());
    QObject::connect(timer, &QTimer::timeout, [timer, ready, act] {
        if (!ready())
            return;
        timer->stop();
        timer->deleteLater();
        act();
    });
    timer->start(20);
}

class Watchdog {
public:
    Watchdog()
    {
        QObject::connect(&timer_, &QTimer::timeout, [] {
            ADD_FAILURE() << "a dialog did not close in time";
            while (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
        });
        timer_.setSingleShot(true);
        timer_.start(400000);  // a loaded machine asks the compressors slowly
    }

private:
    QTimer timer_;
};

template <typename T>
T* Control(QObject& dialog, const char* name)
{
    T* control = dialog.findChild<T*>(QLatin1String(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
}

void Click(QObject& dialog, const char* name)
{
    Control<QPushButton>(dialog, name)->click();
}

// Shows the dialog for the record; `act` runs once it is on the screen (and, when
// asked, has its codec list in) and must close it.
void ShowAndAct(TfrmConfigure& dialog, RecorderSettings& settings, std::function<void()> act,
                bool withCodecList = false)
{
    Watchdog watchdog;
    When([&dialog, withCodecList] { return dialog.isVisible() && !(withCodecList && dialog.CodecListPending()); },
         act);
    dialog.ShowFor(settings);
}

void SetWide(char16_t (&field)[kWideDeviceCapacity], const std::u16string& text)
{
    std::fill(field, field + kWideDeviceCapacity, u'\0');
    std::copy_n(text.data(), std::min(text.size(), kWideDeviceCapacity - 1), field);
}

RecorderSettings SomeSettings()
{
    RecorderSettings s;
    s.RecordAudio = true;
    s.UseQuickMode = true;  // a box nobody touched: must still come back
    s.AddCCDImage = true;
    s.CaptureSize = 1;
    s.FPS = 15;
    s.SoundSample = 7;
    std::strcpy(s.SavedFile, "/tmp/clip.avi");
    std::strcpy(s.CurrentFile, "/tmp/clip3.avi");
    std::strcpy(s.DSSoundDevice, "No Such Device");
    SetWide(s.VCMDevice, u"Uncompress");
    s.SampleRate = settings::PcmFormat(44100, 2, 16);
    const int32_t words[kHotkeyCount] = {0xC078, 0x12340001, 1, 0x4041, 0x0005C079, 0x8000};
    for (int i = 0; i < kHotkeyCount; ++i)
        s.Hotkeys[i].Shortcut = words[i];
    return s;
}

class Preferences : public ::testing::Test {
protected:
    void SetUp() override { App(); }
};

TEST_F(Preferences, OnAWaylandDesktopTheDrawingShortcutsGiveWayToTheNoteAndKeepTheirValues)
{
    RecorderSettings settings = SomeSettings();
    const RecorderSettings before = settings;
    TfrmConfigure dialog(nullptr, Cache());
    dialog.ShowDrawingShortcutsNote(TfrmMain::PortalDesktopNote());
    ShowAndAct(dialog, settings, [&dialog] {
        Control<QTabWidget>(dialog, "pgcConfigure")->setCurrentIndex(2);
        auto* note = Control<QLabel>(dialog, "lblDesktopNote");
        EXPECT_TRUE(note->isVisible());
        EXPECT_TRUE(note->text().contains(QStringLiteral("tavrec-ctl")));
        EXPECT_FALSE(Control<QWidget>(dialog, "gpxDrawHotkey")->isVisible());
        // The whole note is readable in the space the shortcuts had.
        EXPECT_LE(note->heightForWidth(note->width()), note->height()) << note->text().toStdString();
        EXPECT_TRUE(Control<QWidget>(dialog, "gpxRecordHotkey")->isVisible());
        Click(dialog, "btnOK");
    });
    for (int i = 0; i < kHotkeyCount; ++i)
        EXPECT_EQ(settings.Hotkeys[i].Shortcut, before.Hotkeys[i].Shortcut) << i;
}

TEST_F(Preferences, CancelLeavesTheRecordAndAnUntouchedOkKeepsEveryShortcutWord)
{
    RecorderSettings settings = SomeSettings();
    const RecorderSettings before = settings;
    {
        TfrmConfigure dialog(nullptr, Cache());
        ShowAndAct(dialog, settings, [&dialog] {
            for (const char* name : {"chkRecordVideo", "chkRecordAudio", "chkUseFastDraw", "chkAutoAppendFilename"})
                Control<QCheckBox>(dialog, name)->toggle();
            EXPECT_TRUE(Control<QPushButton>(dialog, "btnApply")->isEnabled());
            Control<QLineEdit>(dialog, "txtFileLocation")->setText(QStringLiteral("/tmp/other.avi"));
            Control<QLineEdit>(dialog, "txtFPS")->setText(QStringLiteral("30"));
            PressKey(Control<ShortcutField>(dialog, "hkeyStopRecord"), Qt::Key_F5, Qt::ControlModifier, XK_F5);
            Control<QComboBox>(dialog, "cmbSaveFormat")->setCurrentIndex(0);
            // Escape answers nothing; Enter presses Cancel, the default button.
            QWidget* focus = dialog.focusWidget() ? dialog.focusWidget() : &dialog;
            PressKey(focus, Qt::Key_Escape, Qt::NoModifier, XK_Escape);
            EXPECT_TRUE(dialog.isVisible());
            PressKey(focus, Qt::Key_Return, Qt::NoModifier, XK_Return);
            EXPECT_FALSE(dialog.isVisible());
        });
    }
    EXPECT_EQ(std::memcmp(&before, &settings, sizeof settings), 0);

    TfrmConfigure dialog(nullptr, Cache());
    ShowAndAct(dialog, settings, [&dialog] {
        EXPECT_EQ(Control<ShortcutField>(dialog, "hkeyPauseRecord")->Shortcut(), 1);
        EXPECT_EQ(Control<ShortcutField>(dialog, "hkeyStartRecord")->text(), QStringLiteral("Ctrl+Alt+F9"));
        Click(dialog, "btnOK");
    });
    for (int i = 0; i < kHotkeyCount; ++i)
        EXPECT_EQ(settings.Hotkeys[i].Shortcut, before.Hotkeys[i].Shortcut) << i;
    EXPECT_TRUE(settings.UseQuickMode);
    EXPECT_TRUE(settings.AddCCDImage);
    EXPECT_EQ(settings.FPS, 15);
    EXPECT_STREQ(settings.SavedFile, "/tmp/clip.avi");
}

TEST_F(Preferences, SpeedupModeIsOfferedAndItsBoxSetsTheFlag)
{
    RecorderSettings settings = SomeSettings();
    settings.UseQuickMode = false;
    {
        TfrmConfigure dialog(nullptr, Cache());
        ShowAndAct(dialog, settings, [&dialog] {
            auto* box = Control<QCheckBox>(dialog, "chkUseQuickMode");
            EXPECT_FALSE(box->isHidden());
            EXPECT_TRUE(box->isEnabled());
            EXPECT_FALSE(box->isChecked());
            box->click();
            Click(dialog, "btnOK");
        });
    }
    EXPECT_TRUE(settings.UseQuickMode);

    TfrmConfigure dialog(nullptr, Cache());
    ShowAndAct(dialog, settings, [&dialog] {
        auto* box = Control<QCheckBox>(dialog, "chkUseQuickMode");
        EXPECT_TRUE(box->isChecked());
        box->click();
        Click(dialog, "btnOK");
    });
    EXPECT_FALSE(settings.UseQuickMode);
}

// Gives a control of the (active) dialog the keyboard focus and presses Return on it.
void EnterOn(QWidget* control)
{
    control->setFocus(Qt::TabFocusReason);
    PressKey(control, Qt::Key_Return, Qt::NoModifier, XK_Return);
}

// Runs `act` once the dialog is the active window, so that focus changes reach it.
void WhenActive(QDialog& dialog, std::function<void()> act)
{
    dialog.activateWindow();
    When([&dialog] { return dialog.isActiveWindow(); }, std::move(act));
}

TEST_F(Preferences, EnterPressesTheFocusedButtonAndCancelWhenTheFocusIsElsewhere)
{
    RecorderSettings settings = SomeSettings();
    bool browsed = false;
    {
        TfrmConfigure dialog(nullptr, Cache());
        ShowAndAct(dialog, settings, [&] {
            WhenActive(dialog, [&] {
                // Browse with the focus opens the file dialog; cancelling it changes nothing.
                auto* files = Control<QFileDialog>(dialog, "opdBrowseFile");
                When([files] { return files->isVisible(); }, [&browsed, files] {
                    browsed = true;
                    files->reject();
                });
                EnterOn(Control<QPushButton>(dialog, "btnBrowseFileLocation"));
                EXPECT_TRUE(browsed);
                ASSERT_TRUE(dialog.isVisible());
                WhenActive(dialog, [&] {
                    // Apply with the focus stores and leaves the dialog open.
                    auto* fps = Control<QLineEdit>(dialog, "txtFPS");
                    auto* apply = Control<QPushButton>(dialog, "btnApply");
                    fps->setText(QStringLiteral("30"));
                    EnterOn(apply);
                    EXPECT_TRUE(dialog.isVisible());
                    EXPECT_FALSE(apply->isEnabled());
                    EXPECT_EQ(settings.FPS, 30);
                    // Escape on a focused button still answers nothing.
                    auto* ok = Control<QPushButton>(dialog, "btnOK");
                    ok->setFocus(Qt::TabFocusReason);
                    PressKey(ok, Qt::Key_Escape, Qt::NoModifier, XK_Escape);
                    EXPECT_TRUE(dialog.isVisible());
                    // With the focus back in an edit, Enter is Cancel's again.
                    fps->setText(QStringLiteral("20"));
                    EnterOn(fps);
                    EXPECT_FALSE(dialog.isVisible());
                    if (dialog.isVisible())
                        dialog.reject();
                });
            });
        });
    }
    EXPECT_TRUE(browsed);
    EXPECT_EQ(settings.FPS, 30);

    // OK with the focus stores and closes.
    TfrmConfigure dialog(nullptr, Cache());
    ShowAndAct(dialog, settings, [&dialog] {
        WhenActive(dialog, [&dialog] {
            Control<QLineEdit>(dialog, "txtFPS")->setText(QStringLiteral("25"));
            EnterOn(Control<QPushButton>(dialog, "btnOK"));
            EXPECT_FALSE(dialog.isVisible());
            if (dialog.isVisible())
                dialog.reject();
        });
    });
    EXPECT_EQ(settings.FPS, 25);
}

TEST_F(Preferences, FrameRateLettersWarnOnceAndStoreTwoWhileZeroIsStoredSilently)
{
    RecorderSettings settings = SomeSettings();
    TfrmConfigure dialog(nullptr, Cache());
    MessageBoxes boxes;
    ShowAndAct(dialog, settings, [&] {
        Control<QLineEdit>(dialog, "txtFPS")->setText(QStringLiteral("ten"));
        Click(dialog, "btnApply");
        EXPECT_EQ(settings.FPS, 2);
        ASSERT_EQ(boxes.texts.size(), 1u);
        EXPECT_EQ(boxes.texts[0], QStringLiteral("Not a valid number, default value (2fps) will be used."));
        EXPECT_FALSE(Control<QPushButton>(dialog, "btnApply")->isEnabled());
        EXPECT_TRUE(dialog.isVisible());

        Control<QLineEdit>(dialog, "txtFPS")->setText(QStringLiteral("0"));
        Click(dialog, "btnOK");
        EXPECT_EQ(settings.FPS, 0);
        EXPECT_EQ(boxes.texts.size(), 1u);
    });
}

TEST_F(Preferences, TooLongFileLocationIsRefusedAndNothingIsStored)
{
    RecorderSettings settings = SomeSettings();
    const RecorderSettings before = settings;
    const std::string longest = "/tmp/" + std::string(250, 'a');  // 255 bytes: fits
    TfrmConfigure dialog(nullptr, Cache());
    MessageBoxes boxes;
    ShowAndAct(dialog, settings, [&] {
        Control<QCheckBox>(dialog, "chkRecordVideo")->toggle();
        // 256 bytes in UTF-8, though fewer characters.
        Control<QLineEdit>(dialog, "txtFileLocation")->setText(QString::fromStdString("/tmp/\xC3\xA9" + std::string(249, 'a')));
        Click(dialog, "btnOK");
        EXPECT_EQ(boxes.texts.size(), 1u);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(std::memcmp(&before, &settings, sizeof settings), 0);

        Control<QLineEdit>(dialog, "txtFileLocation")->setText(QString::fromStdString(longest));
        Click(dialog, "btnOK");
        EXPECT_FALSE(dialog.isVisible());
    });
    EXPECT_EQ(std::string(settings.SavedFile), longest);
    EXPECT_TRUE(settings.RecordVideo);
    EXPECT_EQ(boxes.texts.size(), 1u);
}

TEST_F(Preferences, BrowseAppendsAviUnlessTheNameHoldsItAndCancelChangesNothing)
{
    TempRegistry folder;  // a fresh folder to pick files in
    const QString dir = QString::fromStdString(folder.Dir());
    TempRegistry::WriteFile(folder.Dir() + "/old.avi", "x");  // no overwrite question for it
    RecorderSettings settings = SomeSettings();
    TfrmConfigure dialog(nullptr, Cache());
    ShowAndAct(dialog, settings, [&] {
        auto* edit = Control<QLineEdit>(dialog, "txtFileLocation");
        auto* files = Control<QFileDialog>(dialog, "opdBrowseFile");
        const auto browse = [&](const QString& name, bool confirm) {
            When([files] { return files->isVisible(); }, [files, name, confirm] {
                EXPECT_EQ(files->nameFilters(),
                          QStringList({QStringLiteral("AVI Files (*.avi)"), QStringLiteral("All Files (*.*)")}));
                // Typed as the user would; the directory view loads on its own thread.
                auto* nameEdit = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                ASSERT_NE(nameEdit, nullptr);
                nameEdit->setText(name);
                if (confirm)
                    static_cast<QDialog*>(files)->accept();  // the file dialog's own accept
                if (files->isVisible()) {
                    EXPECT_FALSE(confirm) << name.toStdString() << " was not taken";
                    files->reject();
                }
            });
            Click(dialog, "btnBrowseFileLocation");
            return edit->text().toStdString();
        };
        EXPECT_EQ(browse(dir + "/clip", true), (dir + "/clip.avi").toStdString());
        EXPECT_EQ(browse(dir + "/clip.AVI", true), (dir + "/clip.AVI.avi").toStdString());
        EXPECT_EQ(browse(dir + "/x.avi.bak", true), (dir + "/x.avi.bak").toStdString());
        EXPECT_EQ(browse(dir + "/old.avi", true), (dir + "/old.avi").toStdString());
        EXPECT_EQ(browse(dir + "/other", false), (dir + "/old.avi").toStdString());
        EXPECT_TRUE(Control<QPushButton>(dialog, "btnApply")->isEnabled());
        Click(dialog, "btnOK");
    });
    EXPECT_EQ(QString::fromUtf8(settings.SavedFile), dir + "/old.avi");
    EXPECT_FALSE(TempRegistry::Exists(folder.Dir() + "/clip.avi"));
}

TEST_F(Preferences, InstalledCodecIsSelectedAndAMissingOneBecomesUncompress)
{
    const settings::CodecList codecs = settings::EnumerateCodecs(Cache());
    ASSERT_GE(codecs.size(), 2u) << "the session offers at least one compressor";
    EXPECT_EQ(codecs.front(), u"Uncompress");

    RecorderSettings settings = SomeSettings();
    SetWide(settings.VCMDevice, codecs.back());
    {
        TfrmConfigure dialog(nullptr, Cache());
        ShowAndAct(dialog, settings, [&dialog, &codecs] {
            auto* box = Control<QComboBox>(dialog, "cmbSaveFormat");
            EXPECT_EQ(box->count(), static_cast<int>(codecs.size()));
            EXPECT_EQ(box->currentText(), QString::fromStdU16String(codecs.back()));
            EXPECT_FALSE(Control<QPushButton>(dialog, "btnApply")->isEnabled());
            Click(dialog, "btnOK");
        }, true);
        EXPECT_EQ(std::u16string(settings.VCMDevice), codecs.back());
    }

    SetWide(settings.VCMDevice, u"A compressor that was uninstalled");
    TfrmConfigure dialog(nullptr, Cache());
    ShowAndAct(dialog, settings, [&dialog] {
        EXPECT_EQ(Control<QComboBox>(dialog, "cmbSaveFormat")->currentIndex(), 0);
        Click(dialog, "btnOK");
    }, true);
    EXPECT_EQ(std::u16string(settings.VCMDevice), u"Uncompress");
}

TEST_F(Preferences, WhileTheCodecListIsBuiltOkKeepsTheStoredCodecAndTheDialogCanGo)
{
    RecorderSettings settings = SomeSettings();
    SetWide(settings.VCMDevice, u"A compressor the list has not reached yet");
    const RecorderSettings before = settings;
    settings::CodecAdmissionCache cold;  // every compressor is asked again: seconds
    {
        TfrmConfigure dialog(nullptr, cold);
        Watchdog watchdog;
        When([&dialog] { return dialog.isVisible(); }, [&dialog] {
            EXPECT_TRUE(dialog.CodecListPending());
            EXPECT_EQ(dialog.cursor().shape(), Qt::BusyCursor);
            Click(dialog, "btnOK");
        });
        dialog.ShowFor(settings);
    }
    EXPECT_EQ(std::memcmp(before.VCMDevice, settings.VCMDevice, sizeof settings.VCMDevice), 0);

    // Destroyed with the worker still asking compressors: it is stopped and joined.
    for (int i = 0; i < 3; ++i) {
        auto dialog = std::make_unique<TfrmConfigure>(nullptr, cold);
        EXPECT_TRUE(dialog->CodecListPending());
        dialog.reset();
    }
    QApplication::processEvents();  // a list posted by a stopped worker must not arrive
}

TEST_F(Preferences, AudioDeviceOfOtherLetterCaseIsStoredInTheListsFormWithItsFormat)
{
    const settings::AudioDeviceList devices = settings::EnumerateAudioDevices();
    ASSERT_FALSE(devices.empty()) << "the session's sound server offers sources";
    const settings::AudioDeviceEntry& device = devices.back();
    std::string otherCase = device.Description;
    for (char& c : otherCase)
        c = std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c) : std::toupper(c);
    ASSERT_NE(otherCase, device.Description);

    RecorderSettings settings = SomeSettings();
    std::strcpy(settings.DSSoundDevice, otherCase.c_str());
    // The text finds the format; the record's other fields are not what a device gives.
    settings.SampleRate = settings::PcmFormat(22050, 2, 16);
    settings.SampleRate.nAvgBytesPerSec = 0;
    settings.SampleRate.nBlockAlign = 0;
    {
        TfrmConfigure dialog(nullptr, Cache());
        ShowAndAct(dialog, settings, [&dialog, &device] {
            EXPECT_EQ(Control<QComboBox>(dialog, "cmbAudioDevice")->currentText(),
                      QString::fromStdString(device.Description));
            EXPECT_EQ(Control<QComboBox>(dialog, "cmbAudioSampleRate")->currentText(),
                      QString::fromStdString(settings::FormatText(settings::PcmFormat(22050, 2, 16))));
            Click(dialog, "btnOK");
        });
    }
    EXPECT_EQ(std::string(settings.DSSoundDevice), device.Description);
    const WaveFormatEx expected = settings::PcmFormat(22050, 2, 16);
    EXPECT_EQ(std::memcmp(&settings.SampleRate, &expected, sizeof expected), 0);

    // No sound server: the box says so, and its text is never stored as a device.
    const char* server = std::getenv("PULSE_SERVER");
    const std::string savedServer = server ? server : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/pulse/native", 1);
    TfrmConfigure dialog(nullptr, Cache());
    if (server)
        setenv("PULSE_SERVER", savedServer.c_str(), 1);
    else
        unsetenv("PULSE_SERVER");
    ShowAndAct(dialog, settings, [&dialog] {
        auto* box = Control<QComboBox>(dialog, "cmbAudioDevice");
        EXPECT_FALSE(box->isEnabled());
        EXPECT_EQ(box->placeholderText(), QStringLiteral("Not have directsound compatible devices."));
        EXPECT_EQ(box->currentIndex(), -1);
        Click(dialog, "btnOK");
    });
    EXPECT_STREQ(settings.DSSoundDevice, "");
    EXPECT_EQ(std::memcmp(&settings.SampleRate, &expected, sizeof expected), 0);
}

// "Also record:" offers no second device at first, then every source but the server's
// default; the chosen one is stored, and choosing the empty entry stores none.
TEST_F(Preferences, TheSecondDeviceListStartsEmptyAndStoresTheChosenDevice)
{
    const settings::AudioDeviceList devices = settings::EnumerateAudioDevices();
    ASSERT_FALSE(devices.empty());
    QStringList expected{QString()};
    for (const auto& device : devices)
        if (!device.Primary)
            expected << QString::fromStdString(device.Description);
    ASSERT_GE(expected.size(), 2) << "the session's sound server offers a source of its own";

    RecorderSettings settings = SomeSettings();
    {
        TfrmConfigure dialog(nullptr, Cache());
        ShowAndAct(dialog, settings, [&dialog, &expected] {
            EXPECT_EQ(Control<QLabel>(dialog, "lblAudioDevice2")->text(), QStringLiteral("Also record:"));
            auto* box = Control<QComboBox>(dialog, "cmbAudioDevice2");
            QStringList items;
            for (int i = 0; i < box->count(); ++i)
                items << box->itemText(i);
            EXPECT_EQ(items, expected);
            EXPECT_EQ(box->currentIndex(), 0);
            box->setCurrentIndex(box->count() - 1);
            Click(dialog, "btnOK");
        });
    }
    EXPECT_EQ(QString::fromUtf8(settings.DSSoundDevice2), expected.back());
    {
        TfrmConfigure dialog(nullptr, Cache());
        ShowAndAct(dialog, settings, [&dialog, &expected] {
            auto* box = Control<QComboBox>(dialog, "cmbAudioDevice2");
            EXPECT_EQ(box->currentText(), expected.back()) << "the stored device is shown";
            box->setCurrentIndex(0);
            Click(dialog, "btnOK");
        });
    }
    EXPECT_STREQ(settings.DSSoundDevice2, "");
}

TEST_F(Preferences, ShortcutFieldTakesOnlyKeysWithCtrlOrAlt)
{
    ShortcutField field;
    field.SetShortcut(1);  // the stored default: no key of the table
    EXPECT_EQ(field.Shortcut(), 1);
    EXPECT_EQ(field.text(), QStringLiteral("None"));

    PressKey(&field, Qt::Key_F9, Qt::NoModifier, XK_F9);
    EXPECT_EQ(field.Shortcut(), 1);
    PressKey(&field, Qt::Key_F9, Qt::ShiftModifier, XK_F9);
    EXPECT_EQ(field.Shortcut(), 1);
    PressKey(&field, Qt::Key_Control, Qt::ControlModifier, XK_Control_L);
    EXPECT_EQ(field.Shortcut(), 1);

    PressKey(&field, Qt::Key_F9, Qt::ControlModifier | Qt::AltModifier, XK_F9);
    EXPECT_EQ(field.Shortcut(), 0xC078);
    EXPECT_EQ(field.text(), QStringLiteral("Ctrl+Alt+F9"));
    PressKey(&field, Qt::Key_A, Qt::ShiftModifier, XK_A);  // refused: keeps Ctrl+Alt+F9
    EXPECT_EQ(field.Shortcut(), 0xC078);

    // Shift turns "1" into "!", which names no key: the key is read from the keymap.
    const uint8_t one = KeycodeOf(XK_1);
    ASSERT_NE(one, 0);
    PressKey(&field, Qt::Key_Exclam, Qt::ControlModifier | Qt::ShiftModifier, XK_exclam, one);
    EXPECT_EQ(field.Shortcut(), 0x6031);
    EXPECT_EQ(field.text(), QStringLiteral("Ctrl+Shift+1"));
}

// The shortcut a press of the key with these modifiers on the root window would give.
int HotkeyOf(const TfrmMain& window, uint8_t keycode, uint16_t state)
{
    xcb_key_press_event_t event{};
    event.response_type = XCB_KEY_PRESS;
    event.root = xcb_setup_roots_iterator(xcb_get_setup(Connection())).data->root;
    event.detail = keycode;
    event.state = state;
    return window.HotkeyOfKeyPress(&event);
}

TEST_F(Preferences, OpenedFromTheMainWindowApplyThenCancelKeepsAndRegrabsTheShortcut)
{
    TempRegistry registry;
    // Start on Ctrl+Alt+F8, video off.
    registry.SetText("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KELDAN\\TAVREC]\r\n"
                     "\"BoolSection\"=hex:01,00,00,00\r\n\"HkStartRecord\"=hex:77,c0,ff,00\r\n");
    auto window = std::make_unique<TfrmMain>();
    const uint8_t f8 = KeycodeOf(XK_F8), f9 = KeycodeOf(XK_F9);
    const uint16_t ctrlAlt = XCB_MOD_MASK_CONTROL | KeyboardMap(Connection()).AltMask();
    ASSERT_EQ(HotkeyOf(*window, f8, ctrlAlt), HotkeyStartRecord);

    bool opened = false;
    Watchdog watchdog;
    When([] { return qobject_cast<TfrmConfigure*>(QApplication::activeModalWidget()) != nullptr; }, [&] {
        auto& dialog = *qobject_cast<TfrmConfigure*>(QApplication::activeModalWidget());
        opened = true;
        EXPECT_TRUE(Control<QCheckBox>(dialog, "chkAddCCDImage")->isHidden());
        EXPECT_TRUE(Control<QComboBox>(dialog, "cmbAddCCDImage")->isHidden());
        EXPECT_EQ(HotkeyOf(*window, f8, ctrlAlt), -1) << "released while the dialog is open";
        PressKey(Control<ShortcutField>(dialog, "hkeyStartRecord"), Qt::Key_F9,
                 Qt::ControlModifier | Qt::AltModifier, XK_F9, f9);
        Control<QCheckBox>(dialog, "chkRecordVideo")->setChecked(true);
        Click(dialog, "btnApply");
        Control<QCheckBox>(dialog, "chkShowEncoder")->setChecked(true);  // not applied
        Click(dialog, "btnCancel");
    });
    window->ToolButtonClick(window->findChild<QToolButton*>(QStringLiteral("btnConfigure")));
    ASSERT_TRUE(opened);

    const RecorderSettings& settings = window->Settings();
    EXPECT_EQ(settings.Hotkeys[HotkeyStartRecord].Shortcut, 0x00FFC078);
    EXPECT_TRUE(settings.RecordVideo);
    EXPECT_FALSE(settings.ShowEncoder);
    EXPECT_EQ(HotkeyOf(*window, f9, ctrlAlt), HotkeyStartRecord);
    EXPECT_EQ(HotkeyOf(*window, f8, ctrlAlt), -1);
    // The configuration menu was rebuilt from the record.
    for (QAction* action : window->findChild<QMenu*>(QStringLiteral("pmeuConfigure"))->actions()) {
        if (auto* item = qobject_cast<MenuItem*>(action); item && item->Caption() == QLatin1String("Capture Video")) {
            EXPECT_TRUE(item->isChecked());
        }
    }
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
