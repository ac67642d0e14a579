// TfrmMain: the run-time menus and the one click handler of all their items.
#include <QActionGroup>
#include <QMenu>

#include <initializer_list>

#include "app/ExternalTools.h"
#include "app/Tavrecmain.h"
#include "settings/Tavrecabout.h"

namespace {

// The tag of a check item of pmeuConfigure is the bit of its flag in "BoolSection".
constexpr int32_t kTagRecordAudio = 0x001;
constexpr int32_t kTagRecordVideo = 0x002;
constexpr int32_t kTagMinWhileRecording = 0x004;
constexpr int32_t kTagAllowDropFrame = 0x008;
constexpr int32_t kTagDisableHWAcce = 0x200;

QString GroupName(int groupIndex) { return QStringLiteral("radioGroup%1").arg(groupIndex); }

bool OneOf(const QString& caption, std::initializer_list<const char*> captions) {
    for (const char* c : captions)
        if (caption == QLatin1String(c)) return true;
    return false;
}

}  // namespace

MenuItem* TfrmMain::NewMenuItem(const QString& caption, MenuItemKind kind, int32_t tag, int groupIndex,
                                bool checked) {
    auto* item = new MenuItem(caption, kind, tag, groupIndex, checked, this);
    connect(item, &QAction::triggered, this, [this, item] { MenuItemClick(item); });
    return item;
}

void TfrmMain::AddMenuItem(QMenu* menu, MenuItem* item) {
    item->setParent(menu);  // emptying the menu deletes it
    menu->addAction(item);
    if (item->kind() != MenuItemKind::Radio) return;
    auto* group = menu->findChild<QActionGroup*>(GroupName(item->groupIndex()), Qt::FindDirectChildrenOnly);
    if (!group) {
        group = new QActionGroup(menu);
        group->setObjectName(GroupName(item->groupIndex()));
        group->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    }
    const bool checked = item->isChecked();
    group->addAction(item);
    // Joining a group that already has a checked item would keep that one.
    if (checked) item->setChecked(true);
}

QMenu* TfrmMain::AddSubmenu(QMenu* menu, const QString& caption) {
    MenuItem* item = NewMenuItem(caption, MenuItemKind::Plain, 0, 0, false);
    auto* submenu = new QMenu(menu);
    submenu->setSeparatorsCollapsible(false);
    item->setMenu(submenu);
    AddMenuItem(menu, item);
    return submenu;
}

void TfrmMain::EmptyMenu(QMenu* menu) {
    const QList<QMenu*> submenus = menu->findChildren<QMenu*>(Qt::FindDirectChildrenOnly);
    const QList<QActionGroup*> groups = menu->findChildren<QActionGroup*>(Qt::FindDirectChildrenOnly);
    menu->clear();
    qDeleteAll(submenus);
    qDeleteAll(groups);
}

bool* TfrmMain::FlagOfTag(int32_t tag) {
    switch (tag) {
    case kTagRecordAudio: return &Settings_.RecordAudio;
    case kTagRecordVideo: return &Settings_.RecordVideo;
    case kTagMinWhileRecording: return &Settings_.MinWhileRecording;
    case kTagAllowDropFrame: return &Settings_.AllowDropFrame;
    case kTagDisableHWAcce: return &Settings_.DisableHWAcce;
    default: return nullptr;
    }
}

void TfrmMain::BuildConfigureMenu() {
    EmptyMenu(pmeuConfigure);
    const RecorderSettings& s = Settings_;
    auto add = [this](const char* caption, MenuItemKind kind, int32_t tag, bool checked) {
        AddMenuItem(pmeuConfigure, NewMenuItem(QString::fromLatin1(caption), kind, tag, 0, checked));
    };

    QMenu* captureArea = AddSubmenu(pmeuConfigure, QStringLiteral("Capture Area"));
    AddMenuItem(captureArea, NewMenuItem(QStringLiteral("Full Screen"), MenuItemKind::Radio, 1, 0, s.CaptureSize == 1));
    AddMenuItem(captureArea, NewMenuItem(QStringLiteral("Window"), MenuItemKind::Radio, 2, 0, s.CaptureSize == 2));
    add("-", MenuItemKind::Plain, 0, false);
    add("Capture Video", MenuItemKind::Check, kTagRecordVideo, s.RecordVideo);
    add("Capture Audio", MenuItemKind::Check, kTagRecordAudio, s.RecordAudio);
    add("-", MenuItemKind::Plain, 0, false);
    add("Allow Drop Frame", MenuItemKind::Check, kTagAllowDropFrame, s.AllowDropFrame);
    add("Minimize While Recording", MenuItemKind::Check, kTagMinWhileRecording, s.MinWhileRecording);
    add("Disable Hardware Acceleration", MenuItemKind::Check, kTagDisableHWAcce, s.DisableHWAcce);
    add("-", MenuItemKind::Plain, 0, false);
    add("Encoding wizard", MenuItemKind::Plain, 0, false);
    add("Online Help", MenuItemKind::Plain, 0, false);
    add("About Tavrec...", MenuItemKind::Plain, 0, false);
}

void TfrmMain::BuildToolMenus() {
    // pmeuFreePen, pmeuFreeEraser and pmeuDrawLine are filled by the tool menus.
    EmptyMenu(pmeuFreePen);
    EmptyMenu(pmeuFreeEraser);
    EmptyMenu(pmeuDrawLine);
}

void TfrmMain::MenuItemClick(MenuItem* item) {
    const QString caption = item->text();
    // Exact captions, letter case included; the first match decides.
    if (caption == QLatin1String("About Tavrec...")) {
        auto* about = new TfrmAbout(this);
        about->exec();
        delete about;
    } else if (caption == QLatin1String("Online Help")) {
        OpenOnlineHelp();
    } else if (caption == QLatin1String("Encoding wizard")) {
        LaunchEncodingWizard(QString::fromUtf8(Settings_.CurrentFile));
    } else if (OneOf(caption, {"Capture Area", "-"})) {
    } else if (OneOf(caption, {"Red", "Green", "Blue", "Black", "White"})) {
        PenColorItemClick(item);
    } else if (OneOf(caption, {"1p", "2p", "3p", "4p", "5p", "6p"})) {
        PenSizeItemClick(item);
    } else if (OneOf(caption, {"50p", "100p", "150p"})) {
        EraserSizeItemClick(item);
    } else if (OneOf(caption, {"Pen Color", "Pen Size"})) {
    } else if (caption == QLatin1String("Clear Draw")) {
        ClearDrawItemClick();
    } else if (caption == QLatin1String("Return Cursor Mode")) {
        ReturnCursorModeItemClick();
    } else if (OneOf(caption, {"Close This Menu", "Free Pen", "Free Eraser"})) {
    } else if (item->kind() == MenuItemKind::Radio) {
        item->setChecked(true);
        Settings_.CaptureSize = item->tag();
    } else if (item->kind() == MenuItemKind::Check) {
        // Only a check item's tag designates a flag. Qt has toggled the mark already
        // when the action fires: the flag takes the new mark.
        if (bool* flag = FlagOfTag(item->tag())) {
            *flag = item->isChecked();
        } else {
            // Bound to no flag: nothing changes, the mark included.
            const QSignalBlocker block(item);
            item->setChecked(!item->isChecked());
        }
    }
}

// The tool menus' actions, filled in with the drawing tools.
void TfrmMain::PenColorItemClick(MenuItem*) {}
void TfrmMain::PenSizeItemClick(MenuItem*) {}
void TfrmMain::EraserSizeItemClick(MenuItem*) {}
void TfrmMain::ClearDrawItemClick() {}
void TfrmMain::ReturnCursorModeItemClick() {}
