// The preferences dialog "Preference": three pages (General, Video/Audio, Hotkey) on
// which the user edits the main window's live settings record. OK and Apply write
// the controls into the record; Cancel and the close box leave it alone. Created for
// one opening and destroyed after it.
//
// The codec list is built on a worker thread (CodecListLoader) while the dialog is
// already usable; until it arrives the codec box offers "Uncompress" and the stored
// codec, a busy cursor shows, and storing keeps the stored codec unless the user
// chose one.
#pragma once

#include <QDialog>

#include <memory>

#include "settings/AudioDevices.h"
#include "settings/CameraList.h"
#include "settings/CodecList.h"
#include "settings/RecorderSettings.h"

class QCheckBox;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class CodecListLoader;
class ShortcutField;

class TfrmConfigure : public QDialog {
    Q_OBJECT
public:
    // Builds every control and the camera and audio lists, and starts the codec list.
    // The cache must outlive the dialog.
    TfrmConfigure(QWidget* owner, settings::CodecAdmissionCache& codecCache);
    // Waits for the codec worker (it stops after the compressor it is asking).
    ~TfrmConfigure() override;

    // Loads the controls from the record and runs the dialog modally; returns when it
    // has closed. The record must outlive the call.
    void ShowFor(RecorderSettings& settings);

    // Record to controls; leaves btnApply disabled.
    void LoadControls();
    // Controls to record. False, with a warning and nothing stored, when the file
    // location does not fit the record.
    bool StoreControls();

    // True while the codec list is still being built.
    bool CodecListPending() const;

    // Shows `note` on the hotkey page in place of the drawing shortcuts, for a desktop
    // on which drawing is off (their values are still loaded and stored).
    void ShowDrawingShortcutsNote(const QString& note);

protected:
    // Escape closes nothing here. Enter presses the focused button, and Cancel (the
    // default button) when the focus is on any other control.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildGeneralPage();
    void BuildAVSettingPage();
    void BuildHotkeyPage();
    QCheckBox* NewCheckBox(QWidget* parent, const char* name, const char* caption, int x, int y, int width);
    QLabel* NewLabel(QWidget* parent, const char* name, const char* caption, int x, int y);
    QComboBox* NewComboBox(QWidget* parent, const char* name, int x, int y, int width);
    ShortcutField* NewShortcutField(QWidget* parent, const char* name, int x, int y, int width);

    // Change handlers: check boxes and Browse; edits and drop-down lists; shortcut
    // fields receiving the focus.
    void objClick(QObject* sender);
    void objChange(QObject* sender);
    void hkeyEnter();
    void BrowseFileLocation();
    void RefillSampleRates(int device);
    void SelectStoredCodec();
    void CodecListArrived(const settings::CodecList& list);
    void OkClick();
    void ApplyClick();

    RecorderSettings* settings_ = nullptr;
    settings::CodecList codecs_;
    settings::CameraList cameras_;
    settings::AudioDeviceList audioDevices_;
    std::unique_ptr<CodecListLoader> codecLoader_;
    bool codecChosen_ = false;  // the user picked a codec while the list was being built

    QTabWidget* pgcConfigure = nullptr;
    QWidget* tbsGeneral = nullptr;
    QWidget* tbsAVSetting = nullptr;
    QWidget* tbsHotkeySetting = nullptr;

    QGroupBox* gpxProgramSetting = nullptr;
    QCheckBox* chkRecordVideo = nullptr;
    QCheckBox* chkRecordAudio = nullptr;
    QCheckBox* chkDisableHWAcce = nullptr;
    QCheckBox* chkShowEncoder = nullptr;
    QCheckBox* chkMinWhileRecording = nullptr;
    QGroupBox* gpxFileSetting = nullptr;
    QLabel* lblFileLocation = nullptr;
    QLineEdit* txtFileLocation = nullptr;
    QPushButton* btnBrowseFileLocation = nullptr;
    QCheckBox* chkAutoAppendFilename = nullptr;

    QGroupBox* gpxVideoSetting = nullptr;
    QLineEdit* txtFPS = nullptr;
    QLabel* lblFPS = nullptr;
    QCheckBox* chkAllowDropFrame = nullptr;
    QCheckBox* chkUseFastDraw = nullptr;
    QCheckBox* chkUseQuickMode = nullptr;
    QLabel* lblSaveFormat = nullptr;
    QComboBox* cmbSaveFormat = nullptr;
    QCheckBox* chkAddCCDImage = nullptr;
    QComboBox* cmbAddCCDImage = nullptr;
    QGroupBox* gpxAudioSetting = nullptr;
    QLabel* lblAudioDevice = nullptr;
    QComboBox* cmbAudioDevice = nullptr;
    QLabel* lblAudioSampleRate = nullptr;
    QComboBox* cmbAudioSampleRate = nullptr;
    QLabel* lblAudioDevice2 = nullptr;
    QComboBox* cmbAudioDevice2 = nullptr;

    QGroupBox* gpxRecordHotkey = nullptr;
    QLabel* lblStartRecord = nullptr;
    QLabel* lblPauseRecord = nullptr;
    QLabel* lblStopRecord = nullptr;
    ShortcutField* hkeyStartRecord = nullptr;
    ShortcutField* hkeyPauseRecord = nullptr;
    ShortcutField* hkeyStopRecord = nullptr;
    QGroupBox* gpxDrawHotkey = nullptr;
    QLabel* lblDesktopNote = nullptr;
    QLabel* lblSwitchMode = nullptr;
    QLabel* lblAllClear = nullptr;
    QLabel* lblRedraw = nullptr;
    ShortcutField* hkeySwitchMode = nullptr;
    ShortcutField* hkeyAllClear = nullptr;
    ShortcutField* hkeyRedraw = nullptr;

    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnApply = nullptr;
    QFileDialog* opdBrowseFile = nullptr;
};
