#include "settings/Tavrecconfigure.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "settings/TavrecCodecListLoader.h"
#include "settings/TavrecScreenCentre.h"
#include "settings/TavrecShortcutField.h"
#include "settings/WideText.h"

namespace {

const QString kNoAudioDevice = QStringLiteral("Not have directsound compatible devices.");

// The text of a zero-terminated field; a field without terminator ends at its size.
template <size_t N>
QString FieldText(const char (&field)[N])
{
    return QString::fromUtf8(field, static_cast<qsizetype>(strnlen(field, N)));
}

template <size_t N>
QString FieldText(const char16_t (&field)[N])
{
    const std::u16string_view text(field, std::find(field, field + N, u'\0') - field);
    return QString::fromStdU16String(std::u16string(text));
}

// Copies as much of the text as the field holds with its terminator, never cutting a
// character in half; the rest of the field is zeroed.
template <size_t N>
void StoreText(char (&field)[N], const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    const std::string_view view(utf8.constData(), static_cast<size_t>(utf8.size()));
    const size_t length = Utf8PrefixLength(view, N - 1);
    std::memset(field, 0, N);
    std::memcpy(field, view.data(), length);
}

template <size_t N>
void StoreText(char16_t (&field)[N], const QString& text)
{
    const std::u16string wide = text.toStdU16String();
    const size_t length = Utf16PrefixLength(wide, N - 1);
    std::fill(field, field + N, u'\0');
    std::copy_n(wide.data(), length, field);
}

void WarningBox(QWidget* owner, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), text, QMessageBox::Ok, owner);
    box.exec();
}

// Selects entry 0, then every entry equal to the text (exact, letter case included),
// so the last equal entry wins.
void SelectLastEqual(QComboBox* box, const QString& text)
{
    if (box->count() > 0)
        box->setCurrentIndex(0);
    for (int i = 0; i < box->count(); ++i)
        if (box->itemText(i) == text)
            box->setCurrentIndex(i);
}

}  // namespace

TfrmConfigure::TfrmConfigure(QWidget* owner, settings::CodecAdmissionCache& codecCache)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmConfigure"));
    setWindowTitle(QStringLiteral("Preference"));
    QFont dialogFont(QStringLiteral("Sans Serif"), 8);
    dialogFont.setStyleHint(QFont::SansSerif);
    setFont(dialogFont);
    setFixedSize(298, 409);

    pgcConfigure = new QTabWidget(this);
    pgcConfigure->setObjectName(QStringLiteral("pgcConfigure"));
    pgcConfigure->setGeometry(8, 8, 279, 361);
    BuildGeneralPage();
    BuildAVSettingPage();
    BuildHotkeyPage();

    const auto button = [this](const char* name, const char* caption, int x, int width) {
        auto* b = new QPushButton(QLatin1String(caption), this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(x, 379, width, 26);
        // A focused button takes Enter (it is the default while it has the focus);
        // with the focus anywhere else Enter goes to Cancel, the dialog's default.
        b->setAutoDefault(true);
        return b;
    };
    btnOK = button("btnOK", "OK", 48, 77);
    btnCancel = button("btnCancel", "Cancel", 129, 78);
    btnApply = button("btnApply", "Apply", 211, 78);
    btnCancel->setDefault(true);
    connect(btnOK, &QPushButton::clicked, this, &TfrmConfigure::OkClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnApply, &QPushButton::clicked, this, &TfrmConfigure::ApplyClick);

    // Not the platform's own dialog: its options must hold (no overwrite question, no
    // suffix added), and it must be reachable as a child of this dialog.
    opdBrowseFile = new QFileDialog(this);
    opdBrowseFile->setObjectName(QStringLiteral("opdBrowseFile"));
    opdBrowseFile->setAcceptMode(QFileDialog::AcceptSave);
    opdBrowseFile->setFileMode(QFileDialog::AnyFile);
    opdBrowseFile->setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite);

    // The lists: codecs on the worker, cameras, audio devices.
    cmbSaveFormat->addItem(QString::fromStdU16String(settings::kUncompressedCodec));
    cmbSaveFormat->setCurrentIndex(0);
    codecLoader_ = std::make_unique<CodecListLoader>(codecCache);
    connect(codecLoader_.get(), &CodecListLoader::Loaded, this, &TfrmConfigure::CodecListArrived);
    connect(cmbSaveFormat, &QComboBox::activated, this, [this] {
        if (CodecListPending())
            codecChosen_ = true;
    });
    setCursor(Qt::BusyCursor);

    cameras_ = settings::EnumerateCameras();
    for (const std::u16string& name : cameras_)
        cmbAddCCDImage->addItem(QString::fromStdU16String(name));
    if (cmbAddCCDImage->count() > 0)
        cmbAddCCDImage->setCurrentIndex(0);

    audioDevices_ = settings::EnumerateAudioDevices();
    if (!audioDevices_.empty()) {
        cmbAudioDevice2->addItem(QString());
        for (const settings::AudioDeviceEntry& device : audioDevices_) {
            cmbAudioDevice->addItem(QString::fromStdString(device.Description));
            // The server's default is no second device: it would be one of the others.
            if (!device.Primary)
                cmbAudioDevice2->addItem(QString::fromStdString(device.Description));
        }
        cmbAudioDevice2->setCurrentIndex(0);
        cmbAudioDevice->setCurrentIndex(0);
        RefillSampleRates(0);
    } else {
        // A text shown in the empty list, never an entry: nothing can be stored from it.
        cmbAudioDevice->setPlaceholderText(kNoAudioDevice);
        cmbAudioDevice->setCurrentIndex(-1);
        cmbAudioDevice->setEnabled(false);
        cmbAudioDevice2->setEnabled(false);
    }

    pgcConfigure->setCurrentIndex(0);
    btnApply->setEnabled(false);

    CentreOnScreen(*this);
}

TfrmConfigure::~TfrmConfigure() = default;

void TfrmConfigure::BuildGeneralPage()
{
    tbsGeneral = new QWidget;
    tbsGeneral->setObjectName(QStringLiteral("tbsGeneral"));
    pgcConfigure->addTab(tbsGeneral, QStringLiteral("General"));

    gpxProgramSetting = new QGroupBox(QStringLiteral("Program Setting"), tbsGeneral);
    gpxProgramSetting->setObjectName(QStringLiteral("gpxProgramSetting"));
    gpxProgramSetting->setGeometry(8, 8, 254, 169);
    chkRecordVideo = NewCheckBox(gpxProgramSetting, "chkRecordVideo", "Capture Video", 16, 25, 230);
    chkRecordAudio = NewCheckBox(gpxProgramSetting, "chkRecordAudio", "Capture Audio", 16, 49, 230);
    chkDisableHWAcce = NewCheckBox(gpxProgramSetting, "chkDisableHWAcce", "Disable Hardware Acceleration", 16, 72, 230);
    chkShowEncoder = NewCheckBox(gpxProgramSetting, "chkShowEncoder", "Encoding After Recording", 16, 97, 230);
    chkMinWhileRecording =
        NewCheckBox(gpxProgramSetting, "chkMinWhileRecording", "Minimize While Recording", 16, 120, 230);

    gpxFileSetting = new QGroupBox(QStringLiteral("File Setting"), tbsGeneral);
    gpxFileSetting->setObjectName(QStringLiteral("gpxFileSetting"));
    gpxFileSetting->setGeometry(8, 184, 254, 130);
    lblFileLocation = NewLabel(gpxFileSetting, "lblFileLocation", "File Save Location:", 16, 25);
    txtFileLocation = new QLineEdit(gpxFileSetting);
    txtFileLocation->setObjectName(QStringLiteral("txtFileLocation"));
    txtFileLocation->setGeometry(16, 41, 165, 21);
    connect(txtFileLocation, &QLineEdit::textChanged, this, [this] { objChange(txtFileLocation); });
    btnBrowseFileLocation = new QPushButton(QStringLiteral("Browse.."), gpxFileSetting);
    btnBrowseFileLocation->setObjectName(QStringLiteral("btnBrowseFileLocation"));
    btnBrowseFileLocation->setGeometry(188, 38, 49, 25);
    btnBrowseFileLocation->setAutoDefault(true);  // Enter presses it while it has the focus
    connect(btnBrowseFileLocation, &QPushButton::clicked, this, [this] { objClick(btnBrowseFileLocation); });
    chkAutoAppendFilename =
        NewCheckBox(gpxFileSetting, "chkAutoAppendFilename", "Change Filename Automatically", 16, 65, 230);
}

void TfrmConfigure::BuildAVSettingPage()
{
    tbsAVSetting = new QWidget;
    tbsAVSetting->setObjectName(QStringLiteral("tbsAVSetting"));
    pgcConfigure->addTab(tbsAVSetting, QStringLiteral("Video/Audio"));

    gpxVideoSetting = new QGroupBox(QStringLiteral("Video Setting"), tbsAVSetting);
    gpxVideoSetting->setObjectName(QStringLiteral("gpxVideoSetting"));
    gpxVideoSetting->setGeometry(8, 8, 254, 185);
    txtFPS = new QLineEdit(gpxVideoSetting);
    txtFPS->setObjectName(QStringLiteral("txtFPS"));
    txtFPS->setGeometry(16, 25, 58, 21);
    connect(txtFPS, &QLineEdit::textChanged, this, [this] { objChange(txtFPS); });
    lblFPS = NewLabel(gpxVideoSetting, "lblFPS", "Fps", 82, 29);
    chkAllowDropFrame = NewCheckBox(gpxVideoSetting, "chkAllowDropFrame", "Allow Drop Frame", 122, 25, 125);
    chkUseFastDraw = NewCheckBox(gpxVideoSetting, "chkUseFastDraw", "Use Fast Draw", 122, 48, 125);
    chkUseQuickMode = NewCheckBox(gpxVideoSetting, "chkUseQuickMode", "Use Speedup Mode", 122, 72, 125);
    lblSaveFormat = NewLabel(gpxVideoSetting, "lblSaveFormat", "AVI Format", 16, 81);
    cmbSaveFormat = NewComboBox(gpxVideoSetting, "cmbSaveFormat", 16, 98, 221);
    chkAddCCDImage = NewCheckBox(gpxVideoSetting, "chkAddCCDImage", "CCD Embedded:", 16, 126, 230);
    cmbAddCCDImage = NewComboBox(gpxVideoSetting, "cmbAddCCDImage", 16, 146, 221);

    gpxAudioSetting = new QGroupBox(QStringLiteral("Audio Setting"), tbsAVSetting);
    gpxAudioSetting->setObjectName(QStringLiteral("gpxAudioSetting"));
    gpxAudioSetting->setGeometry(8, 200, 254, 135);
    lblAudioDevice = NewLabel(gpxAudioSetting, "lblAudioDevice", "Audio Record Device (Direct Sound)", 16, 25);
    cmbAudioDevice = NewComboBox(gpxAudioSetting, "cmbAudioDevice", 16, 41, 221);
    lblAudioSampleRate = NewLabel(gpxAudioSetting, "lblAudioSampleRate", "Sample Rate:", 16, 65);
    cmbAudioSampleRate = NewComboBox(gpxAudioSetting, "cmbAudioSampleRate", 16, 82, 221);
    // A second device recorded at the same time and mixed in (a microphone beside the
    // desktop's sound); the empty first entry is none. One row, label beside the list,
    // so the page keeps its size.
    lblAudioDevice2 = NewLabel(gpxAudioSetting, "lblAudioDevice2", "Also record:", 16, 110);
    cmbAudioDevice2 = NewComboBox(gpxAudioSetting, "cmbAudioDevice2", 86, 106, 151);
}

void TfrmConfigure::BuildHotkeyPage()
{
    tbsHotkeySetting = new QWidget;
    tbsHotkeySetting->setObjectName(QStringLiteral("tbsHotkeySetting"));
    pgcConfigure->addTab(tbsHotkeySetting, QStringLiteral("Hotkey"));

    gpxRecordHotkey = new QGroupBox(QStringLiteral("Record Hotkey Setting"), tbsHotkeySetting);
    gpxRecordHotkey->setObjectName(QStringLiteral("gpxRecordHotkey"));
    gpxRecordHotkey->setGeometry(8, 8, 254, 148);
    lblStartRecord = NewLabel(gpxRecordHotkey, "lblStartRecord", "Start Record:", 16, 25);
    hkeyStartRecord = NewShortcutField(gpxRecordHotkey, "hkeyStartRecord", 16, 37, 155);
    lblPauseRecord = NewLabel(gpxRecordHotkey, "lblPauseRecord", "Pause Record:", 16, 65);
    hkeyPauseRecord = NewShortcutField(gpxRecordHotkey, "hkeyPauseRecord", 16, 78, 155);
    lblStopRecord = NewLabel(gpxRecordHotkey, "lblStopRecord", "Stop Record:", 16, 106);
    hkeyStopRecord = NewShortcutField(gpxRecordHotkey, "hkeyStopRecord", 16, 118, 155);

    gpxDrawHotkey = new QGroupBox(QStringLiteral("Draw Hotkey Setting"), tbsHotkeySetting);
    gpxDrawHotkey->setObjectName(QStringLiteral("gpxDrawHotkey"));
    gpxDrawHotkey->setGeometry(8, 163, 262, 155);
    lblSwitchMode = NewLabel(gpxDrawHotkey, "lblSwitchMode", "Enter/Quit Draw Mode:", 16, 25);
    hkeySwitchMode = NewShortcutField(gpxDrawHotkey, "hkeySwitchMode", 16, 37, 164);
    lblAllClear = NewLabel(gpxDrawHotkey, "lblAllClear", "Clear Screen:", 16, 65);
    hkeyAllClear = NewShortcutField(gpxDrawHotkey, "hkeyAllClear", 16, 78, 164);
    lblRedraw = NewLabel(gpxDrawHotkey, "lblRedraw", "Redraw:", 16, 106);
    hkeyRedraw = NewShortcutField(gpxDrawHotkey, "hkeyRedraw", 16, 118, 164);
}

void TfrmConfigure::ShowDrawingShortcutsNote(const QString& note)
{
    if (!lblDesktopNote) {
        lblDesktopNote = new QLabel(tbsHotkeySetting);
        lblDesktopNote->setObjectName(QStringLiteral("lblDesktopNote"));
        lblDesktopNote->setWordWrap(true);
        lblDesktopNote->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        lblDesktopNote->setGeometry(gpxDrawHotkey->geometry().adjusted(4, 4, -4, 0));
    }
    lblDesktopNote->setText(note);
    gpxDrawHotkey->hide();
    lblDesktopNote->show();
}

QCheckBox* TfrmConfigure::NewCheckBox(QWidget* parent, const char* name, const char* caption, int x, int y, int width)
{
    auto* box = new QCheckBox(QLatin1String(caption), parent);
    box->setObjectName(QLatin1String(name));
    box->setGeometry(x, y, width, 17);
    // toggled, not clicked: setting the box from the record counts too.
    connect(box, &QCheckBox::toggled, this, [this, box] { objClick(box); });
    return box;
}

QLabel* TfrmConfigure::NewLabel(QWidget* parent, const char* name, const char* caption, int x, int y)
{
    auto* label = new QLabel(QLatin1String(caption), parent);
    label->setObjectName(QLatin1String(name));
    label->move(x, y);
    label->adjustSize();
    return label;
}

QComboBox* TfrmConfigure::NewComboBox(QWidget* parent, const char* name, int x, int y, int width)
{
    auto* box = new QComboBox(parent);  // pick-only: not editable
    box->setObjectName(QLatin1String(name));
    box->setGeometry(x, y, width, 21);
    connect(box, &QComboBox::currentIndexChanged, this, [this, box] { objChange(box); });
    return box;
}

ShortcutField* TfrmConfigure::NewShortcutField(QWidget* parent, const char* name, int x, int y, int width)
{
    auto* field = new ShortcutField(parent);
    field->setObjectName(QLatin1String(name));
    field->setGeometry(x, y, width, 21);
    connect(field, &ShortcutField::Entered, this, &TfrmConfigure::hkeyEnter);
    connect(field, &ShortcutField::ShortcutChanged, this, &TfrmConfigure::hkeyEnter);
    return field;
}

void TfrmConfigure::ShowFor(RecorderSettings& settings)
{
    settings_ = &settings;
    LoadControls();
    exec();
}

bool TfrmConfigure::CodecListPending() const
{
    return codecLoader_ && codecLoader_->Pending();
}

void TfrmConfigure::LoadControls()
{
    if (!settings_)
        return;
    const RecorderSettings& s = *settings_;
    chkRecordVideo->setChecked(s.RecordVideo);
    chkRecordAudio->setChecked(s.RecordAudio);
    chkShowEncoder->setChecked(s.ShowEncoder);
    chkMinWhileRecording->setChecked(s.MinWhileRecording);
    chkAutoAppendFilename->setChecked(s.AutoAppendFilename);
    chkAllowDropFrame->setChecked(s.AllowDropFrame);
    chkUseQuickMode->setChecked(s.UseQuickMode);
    chkUseFastDraw->setChecked(s.UseFastDraw);
    chkAddCCDImage->setChecked(s.AddCCDImage);
    chkDisableHWAcce->setChecked(s.DisableHWAcce);

    txtFileLocation->setText(FieldText(s.SavedFile));
    txtFPS->setText(QString::number(s.FPS));

    ShortcutField* const fields[kHotkeyCount] = {hkeyStartRecord, hkeyPauseRecord, hkeyStopRecord,
                                                 hkeySwitchMode,  hkeyAllClear,    hkeyRedraw};
    for (int i = 0; i < kHotkeyCount; ++i)
        fields[i]->SetShortcut(static_cast<uint16_t>(s.Hotkeys[i].Shortcut & 0xFFFF));

    SelectStoredCodec();
    SelectLastEqual(cmbAddCCDImage, FieldText(s.CCDDevice));

    if (cmbAudioDevice->count() > 0)
        cmbAudioDevice->setCurrentIndex(0);
    if (cmbAudioSampleRate->count() > 0)
        cmbAudioSampleRate->setCurrentIndex(0);
    // The list's exact-text search ignores letter case.
    const int device = cmbAudioDevice->findText(FieldText(s.DSSoundDevice), Qt::MatchFixedString);
    if (device >= 0) {
        cmbAudioDevice->setCurrentIndex(device);
        RefillSampleRates(device);
    }
    // The second device is looked up by its exact text: a near match would record a
    // device nobody chose.
    cmbAudioDevice2->setCurrentIndex(std::max(0, cmbAudioDevice2->findText(FieldText(s.DSSoundDevice2),
                                                                           Qt::MatchFixedString | Qt::MatchCaseSensitive)));
    const int format = cmbAudioSampleRate->findText(QString::fromStdString(settings::FormatText(s.SampleRate)),
                                                    Qt::MatchFixedString);
    if (format >= 0)
        cmbAudioSampleRate->setCurrentIndex(format);

    btnApply->setEnabled(false);
}

void TfrmConfigure::SelectStoredCodec()
{
    const QString stored = settings_ ? FieldText(settings_->VCMDevice) : QString();
    if (CodecListPending()) {
        // Until the list is there, the stored codec is offered beside "Uncompress", so
        // the box does not claim a choice the user never made.
        QSignalBlocker quiet(cmbSaveFormat);
        while (cmbSaveFormat->count() > 1)
            cmbSaveFormat->removeItem(1);
        if (!stored.isEmpty() && stored != cmbSaveFormat->itemText(0))
            cmbSaveFormat->addItem(stored);
    }
    SelectLastEqual(cmbSaveFormat, stored);
}

void TfrmConfigure::CodecListArrived(const settings::CodecList& list)
{
    codecs_ = list;
    const QString chosen = cmbSaveFormat->currentText();
    {
        // Filling the box is no edit of the user's.
        QSignalBlocker quiet(cmbSaveFormat);
        cmbSaveFormat->clear();
        for (const std::u16string& description : codecs_)
            cmbSaveFormat->addItem(QString::fromStdU16String(description));
        if (codecChosen_ || !settings_)
            SelectLastEqual(cmbSaveFormat, chosen);
        else
            SelectStoredCodec();
    }
    codecChosen_ = false;
    unsetCursor();
}

void TfrmConfigure::RefillSampleRates(int device)
{
    cmbAudioSampleRate->clear();
    if (device < 0 || device >= static_cast<int>(audioDevices_.size()))
        return;
    for (const WaveFormatEx& format : audioDevices_[device].Formats)
        cmbAudioSampleRate->addItem(QString::fromStdString(settings::FormatText(format)));
    if (cmbAudioSampleRate->count() > 0)
        cmbAudioSampleRate->setCurrentIndex(0);
}

bool TfrmConfigure::StoreControls()
{
    if (!settings_)
        return false;
    RecorderSettings& s = *settings_;

    // Checked before anything is stored: a cut path would record somewhere else than
    // the user typed.
    if (txtFileLocation->text().toUtf8().size() > static_cast<qsizetype>(kSavedFileCapacity - 1)) {
        WarningBox(this, QStringLiteral("The file save location is too long: at most %1 bytes can be stored. "
                                        "Please choose a shorter path.")
                             .arg(kSavedFileCapacity - 1));
        pgcConfigure->setCurrentWidget(tbsGeneral);
        txtFileLocation->setFocus();
        return false;
    }

    s.RecordVideo = chkRecordVideo->isChecked();
    s.RecordAudio = chkRecordAudio->isChecked();
    s.ShowEncoder = chkShowEncoder->isChecked();
    s.MinWhileRecording = chkMinWhileRecording->isChecked();
    s.AutoAppendFilename = chkAutoAppendFilename->isChecked();
    s.AllowDropFrame = chkAllowDropFrame->isChecked();
    s.UseQuickMode = chkUseQuickMode->isChecked();
    s.UseFastDraw = chkUseFastDraw->isChecked();
    s.AddCCDImage = chkAddCCDImage->isChecked();
    s.DisableHWAcce = chkDisableHWAcce->isChecked();

    bool isNumber = false;
    const int fps = txtFPS->text().toInt(&isNumber);
    if (isNumber) {
        s.FPS = fps;
    } else {
        WarningBox(this, QStringLiteral("Not a valid number, default value (2fps) will be used."));
        s.FPS = 2;
    }

    StoreText(s.SavedFile, txtFileLocation->text());
    // The placeholder of an empty device list is no entry: nothing is selected then.
    StoreText(s.DSSoundDevice, cmbAudioDevice->currentIndex() >= 0 ? cmbAudioDevice->currentText() : QString());
    StoreText(s.DSSoundDevice2, cmbAudioDevice2->currentIndex() > 0 ? cmbAudioDevice2->currentText() : QString());

    ShortcutField* const fields[kHotkeyCount] = {hkeyStartRecord, hkeyPauseRecord, hkeyStopRecord,
                                                 hkeySwitchMode,  hkeyAllClear,    hkeyRedraw};
    for (int i = 0; i < kHotkeyCount; ++i)
        s.Hotkeys[i].Shortcut = static_cast<int32_t>((static_cast<uint32_t>(s.Hotkeys[i].Shortcut) & 0xFFFF0000u) |
                                                     fields[i]->Shortcut());

    const std::string device(s.DSSoundDevice, strnlen(s.DSSoundDevice, sizeof s.DSSoundDevice));
    const QString selectedFormat = cmbAudioSampleRate->currentIndex() >= 0 ? cmbAudioSampleRate->currentText() : QString();
    for (const settings::AudioDeviceEntry& entry : audioDevices_) {
        if (entry.Description != device)
            continue;
        for (const WaveFormatEx& format : entry.Formats) {
            if (cmbAudioSampleRate->currentIndex() >= 0 &&
                QString::fromStdString(settings::FormatText(format)) == selectedFormat) {
                s.SampleRate = format;
                break;
            }
        }
    }

    // While the list is being built the box holds no real choice unless the user made
    // one: the stored codec stays.
    if (cmbSaveFormat->currentIndex() >= 0 && (!CodecListPending() || codecChosen_))
        StoreText(s.VCMDevice, cmbSaveFormat->currentText());
    if (cmbAddCCDImage->currentIndex() >= 0)
        StoreText(s.CCDDevice, cmbAddCCDImage->currentText());
    return true;
}

void TfrmConfigure::OkClick()
{
    if (StoreControls())
        accept();
}

void TfrmConfigure::ApplyClick()
{
    if (StoreControls())
        btnApply->setEnabled(false);
}

void TfrmConfigure::objClick(QObject* sender)
{
    if (qobject_cast<QCheckBox*>(sender))
        btnApply->setEnabled(true);
    if (sender && sender->objectName() == QLatin1String("btnBrowseFileLocation"))
        BrowseFileLocation();
}

void TfrmConfigure::objChange(QObject* sender)
{
    if (qobject_cast<QLineEdit*>(sender) || qobject_cast<QComboBox*>(sender))
        btnApply->setEnabled(true);
    if (sender == cmbAudioDevice && cmbAudioDevice->currentIndex() >= 0)
        RefillSampleRates(cmbAudioDevice->currentIndex());
}

void TfrmConfigure::hkeyEnter()
{
    btnApply->setEnabled(true);
}

void TfrmConfigure::BrowseFileLocation()
{
    opdBrowseFile->setNameFilters({QStringLiteral("AVI Files (*.avi)"), QStringLiteral("All Files (*.*)")});
    const QString current = txtFileLocation->text();
    if (!current.isEmpty()) {
        const QFileInfo info(current);
        if (info.dir().exists())
            opdBrowseFile->setDirectory(info.dir());
        opdBrowseFile->selectFile(info.fileName());
    }
    if (opdBrowseFile->exec() != QDialog::Accepted)
        return;
    const QStringList files = opdBrowseFile->selectedFiles();
    if (files.isEmpty())
        return;
    QString name = files.first();
    if (!name.contains(QLatin1String(".avi"), Qt::CaseSensitive))
        name += QLatin1String(".avi");
    txtFileLocation->setText(name);
}

void TfrmConfigure::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();  // no button answers Escape
        return;
    }
    QDialog::keyPressEvent(event);
}
