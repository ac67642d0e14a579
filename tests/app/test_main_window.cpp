// links: tavrec_app tavrec_support_TempRegistry tavrec_support_QtApp
// The main window built in-process on the session's display: the toolbar's buttons
// as the user meets them, the fitted client area, and the configuration menu's
// items with the exact-caption rules of MenuItemClick.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <cstdlib>
#include <memory>

#include "app/Tavrecmain.h"
#include "tests/support/QtApp.h"
#include "tests/support/TempRegistry.h"

namespace {

QApplication& App() { return testkit::QtApp("test_main_window"); }

class MainWindow : public ::testing::Test {
protected:
    // BoolSection 0x002: video on, audio off; capture area "Window".
    void Build(const char* boolSection = "02,00,00,00", const char* captureSize = "02,00,00,00")
    {
        registry_.SetText(std::string("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KELDAN\\TAVREC]\r\n") +
                          "\"BoolSection\"=hex:" + boolSection + "\r\n\"CaptureSize\"=hex:" + captureSize + "\r\n");
        App();
        window_ = std::make_unique<TfrmMain>();
    }
    QToolButton* Button(const char* name) { return window_->findChild<QToolButton*>(QLatin1String(name)); }
    QMenu* Menu(const char* name) { return window_->findChild<QMenu*>(QLatin1String(name)); }
    MenuItem* Item(QMenu* menu, const QString& caption)
    {
        for (QAction* action : menu->actions())
            if (auto* item = qobject_cast<MenuItem*>(action); item && item->Caption() == caption)
                return item;
        return nullptr;
    }
    void TearDown() override
    {
        // Unloaded windows must not write; these must, and do so into the test's file.
        window_.reset();
    }

    TempRegistry registry_;
    std::unique_ptr<TfrmMain> window_;
};

TEST_F(MainWindow, ToolbarButtonsInOrderWithTheirHintsSizesAndStartStates)
{
    Build();
    struct Expected {
        const char* name;
        const char* hint;
        int width;
        bool enabled;
        bool visibleWhenShown;
        const char* menu;
    };
    const Expected expected[] = {
        {"btnStartRecord", "Record", 32, true, true, nullptr},
        {"btnStopRecord", "Stop", 32, false, true, nullptr},
        {"btnPauseRecord", "Pause", 32, false, true, nullptr},
        {"btnPlayRecord", "Play", 32, true, true, nullptr},
        {"btnSep0", nullptr, 5, true, true, nullptr},
        {"btnEncodeWizard", "Launch Encoding Wizard", 32, true, true, nullptr},
        {"btnConfigure", "Preference", 45, true, true, "pmeuConfigure"},
        {"btnChangeTools", "Free Pen", 45, true, false, "pmeuFreePen"},
        {"btnChangeSize", "Free Eraser", 45, true, false, "pmeuFreeEraser"},
        {"btnClearAll", "Clear All Drawing", 32, true, false, nullptr},
        {"btnSwitchMode", "Enter Draw Mode", 32, false, false, nullptr},
    };
    window_->show();
    QToolBar* toolbar = window_->Toolbar();
    const QList<QAction*> actions = toolbar->actions();
    ASSERT_EQ(actions.size(), 11);
    for (int i = 0; i < 11; ++i) {
        SCOPED_TRACE(expected[i].name);
        QWidget* widget = toolbar->widgetForAction(actions[i]);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->objectName(), QLatin1String(expected[i].name));
        EXPECT_EQ(widget->width(), expected[i].width);
        EXPECT_EQ(widget->height(), 30);
        EXPECT_EQ(actions[i]->isVisible(), expected[i].visibleWhenShown);
        if (expected[i].visibleWhenShown) {
            EXPECT_EQ(widget->isEnabled(), expected[i].enabled);
        }
        if (auto* button = qobject_cast<QToolButton*>(widget)) {
            EXPECT_EQ(button->toolTip(), QLatin1String(expected[i].hint));
            EXPECT_EQ(button->isCheckable(), QLatin1String(expected[i].name) == QLatin1String("btnSwitchMode"));
            if (expected[i].menu) {
                EXPECT_EQ(button->popupMode(), QToolButton::MenuButtonPopup);
                ASSERT_NE(button->menu(), nullptr);
                EXPECT_EQ(button->menu()->objectName(), QLatin1String(expected[i].menu));
            } else {
                EXPECT_EQ(button->menu(), nullptr);
            }
        } else {
            EXPECT_EQ(expected[i].hint, nullptr) << "only the separator is no button";
        }
    }

    // Idle: buttons 1 to 7 fill the client area exactly; the toolbar sits at (0, 0).
    EXPECT_EQ(window_->size(), QSize(210, 31));
    EXPECT_EQ(toolbar->geometry(), QRect(0, 0, 210, 31));
    EXPECT_FALSE(toolbar->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button"))->isVisible());

    // Showing the four recording buttons widens the window at once, by their widths.
    for (const char* name : {"btnChangeTools", "btnChangeSize", "btnClearAll", "btnSwitchMode"})
        window_->SetButtonVisible(Button(name), true);
    window_->FitWindowToToolbar();
    EXPECT_EQ(window_->size(), QSize(364, 31));
    for (const Expected& e : expected)
        EXPECT_EQ(window_->findChild<QWidget*>(QLatin1String(e.name))->isEnabled(), e.enabled) << e.name;
    // Enabled while hidden, as the start of a recording does, then shown: enabled.
    window_->SetButtonVisible(Button("btnSwitchMode"), false);
    Button("btnSwitchMode")->setEnabled(true);
    window_->SetButtonVisible(Button("btnSwitchMode"), true);
    EXPECT_TRUE(Button("btnSwitchMode")->isEnabled());

    // A second show (a restore from the tray) leaves the buttons as they are.
    window_->hide();
    window_->show();
    EXPECT_EQ(window_->size(), QSize(364, 31));
}

TEST_F(MainWindow, ConfigureMenuShowsTheSettingsWithRealSeparators)
{
    Build("0a,00,00,00");  // video and "Allow Drop Frame"
    QMenu* menu = Menu("pmeuConfigure");
    ASSERT_NE(menu, nullptr);
    EXPECT_FALSE(menu->separatorsCollapsible());
    const char* captions[] = {"Capture Area",    "-", "Capture Video", "Capture Audio", "-",
                              "Allow Drop Frame", "Minimize While Recording", "Disable Hardware Acceleration",
                              "-",               "Encoding wizard", "Online Help", "About Tavrec..."};
    const bool checked[] = {false, false, true, false, false, true, false, false, false, false, false, false};
    for (int round = 0; round < 2; ++round) {  // rebuilt after the preferences dialog: same menu
        const QList<QAction*> actions = menu->actions();
        ASSERT_EQ(actions.size(), 12);
        for (int i = 0; i < 12; ++i) {
            auto* item = qobject_cast<MenuItem*>(actions[i]);
            ASSERT_NE(item, nullptr);
            EXPECT_EQ(item->Caption(), QLatin1String(captions[i]));
            EXPECT_EQ(item->isSeparator(), QLatin1String(captions[i]) == QLatin1String("-")) << captions[i];
            EXPECT_EQ(item->isChecked(), checked[i]) << captions[i];
        }
        QMenu* area = actions[0]->menu();
        ASSERT_NE(area, nullptr);
        ASSERT_EQ(area->actions().size(), 3);
        EXPECT_FALSE(Item(area, QStringLiteral("Full Screen"))->isChecked());
        EXPECT_TRUE(Item(area, QStringLiteral("Window"))->isChecked());
        EXPECT_FALSE(Item(area, QStringLiteral("Region"))->isChecked());
        EXPECT_EQ(Item(area, QStringLiteral("Region"))->Tag(), 3);
        window_->BuildConfigureMenu();
    }
}

TEST_F(MainWindow, CheckAndRadioItemsChangeTheirSettingOnce)
{
    Build();
    RecorderSettings& settings = window_->Settings();
    QMenu* menu = Menu("pmeuConfigure");

    MenuItem* video = Item(menu, QStringLiteral("Capture Video"));
    ASSERT_TRUE(video->isChecked());
    video->trigger();
    EXPECT_FALSE(video->isChecked());
    EXPECT_FALSE(settings.RecordVideo);
    video->trigger();
    EXPECT_TRUE(video->isChecked());
    EXPECT_TRUE(settings.RecordVideo);

    struct Bound {
        const char* caption;
        bool RecorderSettings::*flag;
    };
    for (const Bound& bound : {Bound{"Capture Audio", &RecorderSettings::RecordAudio},
                               Bound{"Allow Drop Frame", &RecorderSettings::AllowDropFrame},
                               Bound{"Minimize While Recording", &RecorderSettings::MinWhileRecording},
                               Bound{"Disable Hardware Acceleration", &RecorderSettings::DisableHWAcce}}) {
        MenuItem* item = Item(menu, QLatin1String(bound.caption));
        item->trigger();
        EXPECT_TRUE(item->isChecked()) << bound.caption;
        EXPECT_TRUE(settings.*bound.flag) << bound.caption;
    }

    QMenu* area = Item(menu, QStringLiteral("Capture Area"))->menu();
    MenuItem* full = Item(area, QStringLiteral("Full Screen"));
    MenuItem* win = Item(area, QStringLiteral("Window"));
    full->trigger();
    EXPECT_TRUE(full->isChecked());
    EXPECT_FALSE(win->isChecked());
    EXPECT_EQ(settings.CaptureSize, 1);
    full->trigger();  // again: stays chosen
    EXPECT_TRUE(full->isChecked());
    EXPECT_EQ(settings.CaptureSize, 1);
    win->trigger();
    EXPECT_FALSE(full->isChecked());
    EXPECT_TRUE(win->isChecked());
    EXPECT_EQ(settings.CaptureSize, 2);
    MenuItem* region = Item(area, QStringLiteral("Region"));
    region->trigger();
    EXPECT_TRUE(region->isChecked());
    EXPECT_FALSE(win->isChecked());
    EXPECT_EQ(settings.CaptureSize, 3);
    win->trigger();

    // What the menu changed is saved at exit.
    window_.reset();
    const std::string saved = registry_.Text();
    EXPECT_NE(saved.find("\"BoolSection\"=hex:0f,02,00,00"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\"CaptureSize\"=hex:02,00,00,00"), std::string::npos) << saved;
}

TEST_F(MainWindow, CaptionsDifferingInLetterCaseFallThrough)
{
    Build();
    RecorderSettings& settings = window_->Settings();
    QMenu menu;

    // Any radio item that no caption matched: chosen, its tag the capture area.
    MenuItem* radio = window_->NewMenuItem(QStringLiteral("full screen"), MenuItemKind::Radio, 7, 0, false);
    TfrmMain::AddMenuItem(&menu, radio);
    radio->trigger();
    EXPECT_TRUE(radio->isChecked());
    EXPECT_EQ(settings.CaptureSize, 7);

    // Any other item: its check mark and the flag of its tag, flipped once.
    MenuItem* check = window_->NewMenuItem(QStringLiteral("capture audio"), MenuItemKind::Check, tagRecordAudio, 0, false);
    TfrmMain::AddMenuItem(&menu, check);
    check->trigger();
    EXPECT_TRUE(check->isChecked());
    EXPECT_TRUE(settings.RecordAudio);

    // Bound to no flag, or a plain item: nothing happens, no about box opens.
    bool dialogOpened = false;
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [&dialogOpened] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            dialogOpened = true;
            modal->close();
        }
    });
    watchdog.start(200);
    const RecorderSettings before = settings;
    for (MenuItem* item : {window_->NewMenuItem(QStringLiteral("about tavrec..."), MenuItemKind::Plain, 0, 0, false),
                           window_->NewMenuItem(QStringLiteral("Unbound"), MenuItemKind::Check, 0x400, 0, false)}) {
        TfrmMain::AddMenuItem(&menu, item);
        item->trigger();
    }
    QTimer::singleShot(500, &App(), &QApplication::quit);
    App().exec();
    EXPECT_FALSE(dialogOpened);
    EXPECT_EQ(std::memcmp(&before, &settings, sizeof before), 0);
}

}  // namespace
