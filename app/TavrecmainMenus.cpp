// Run-time menu items, the configuration menu of btnConfigure and MenuItemClick, the
// one click handler of every run-time menu item.
#include <QActionGroup>
#include <QMenu>

#include "app/ExternalTools.h"
#include "app/Tavrecmain.h"
#include "settings/Tavrecabout.h"

MenuItem* TfrmMain::NewMenuItem(const QString& caption, MenuItemKind kind, int32_t tag, int groupIndex,
                                bool checked)
{
    auto* item = new MenuItem(caption, kind, tag, groupIndex, checked, this);
    // triggered: a checkable item has already been toggled by Qt when this fires.
    connect(item, &QAction::triggered, this, [this, item] { MenuItemClick(item); });
    return item;
}

void TfrmMain::AddMenuItem(QMenu* menu, MenuItem* item)
{
    if (item->Kind() == MenuItemKind::Radio) {
        const QString groupName = QStringLiteral("radioGroup%1").arg(item->GroupIndex());
        auto* group = menu->findChild<QActionGroup*>(groupName, Qt::FindDirectChildrenOnly);
        if (!group) {
            group = new QActionGroup(menu);
            group->setObjectName(groupName);
            group->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
        }
        group->addAction(item);
    }
    menu->addAction(item);
}

void TfrmMain::BuildConfigureMenu()
{
    // Emptied first: this runs again after every use of the preferences dialog.
    for (QAction* old : pmeuConfigure->actions()) {
        pmeuConfigure->removeAction(old);
        if (old->menu())
            old->menu()->deleteLater();
        old->deleteLater();
    }
    for (QActionGroup* group : pmeuConfigure->findChildren<QActionGroup*>(QString(), Qt::FindDirectChildrenOnly))
        delete group;

    MenuItem* captureArea = NewMenuItem(QStringLiteral("Capture Area"), MenuItemKind::Plain, 0, 0, false);
    auto* areaMenu = new QMenu(pmeuConfigure);
    areaMenu->setSeparatorsCollapsible(false);
    AddMenuItem(areaMenu, NewMenuItem(QStringLiteral("Full Screen"), MenuItemKind::Radio, 1, 0,
                                      settings_.CaptureSize == 1));
    AddMenuItem(areaMenu, NewMenuItem(QStringLiteral("Window"), MenuItemKind::Radio, 2, 0,
                                      settings_.CaptureSize == 2));
    AddMenuItem(areaMenu, NewMenuItem(QStringLiteral("Region"), MenuItemKind::Radio, 3, 0,
                                      settings_.CaptureSize == 3));
    captureArea->setMenu(areaMenu);
    AddMenuItem(pmeuConfigure, captureArea);

    const auto separator = [this] { AddMenuItem(pmeuConfigure, NewMenuItem(QStringLiteral("-"), MenuItemKind::Plain, 0, 0, false)); };
    const auto check = [this](const char* caption, FlagTag tag) {
        AddMenuItem(pmeuConfigure, NewMenuItem(QLatin1String(caption), MenuItemKind::Check, tag, 0, *FlagOfTag(tag)));
    };
    const auto plain = [this](const char* caption) {
        AddMenuItem(pmeuConfigure, NewMenuItem(QLatin1String(caption), MenuItemKind::Plain, 0, 0, false));
    };

    separator();
    check("Capture Video", tagRecordVideo);
    check("Capture Audio", tagRecordAudio);
    separator();
    check("Allow Drop Frame", tagAllowDropFrame);
    check("Minimize While Recording", tagMinWhileRecording);
    check("Disable Hardware Acceleration", tagDisableHWAcce);
    separator();
    plain("Encoding wizard");
    plain("Online Help");
    plain("About Tavrec...");
}

bool* TfrmMain::FlagOfTag(int32_t tag)
{
    switch (tag) {
    case tagRecordAudio: return &settings_.RecordAudio;
    case tagRecordVideo: return &settings_.RecordVideo;
    case tagMinWhileRecording: return &settings_.MinWhileRecording;
    case tagAllowDropFrame: return &settings_.AllowDropFrame;
    case tagDisableHWAcce: return &settings_.DisableHWAcce;
    default: return nullptr;
    }
}

void TfrmMain::MenuItemClick(MenuItem* item)
{
    // Recognised by the caption exactly as written, letter case included; the first
    // row that matches decides.
    const QString& caption = item->Caption();
    const auto is = [&caption](std::initializer_list<const char*> captions) {
        for (const char* c : captions)
            if (caption == QLatin1String(c))
                return true;
        return false;
    };

    if (is({"About Tavrec..."})) {
        TfrmAbout about(this);
        about.exec();
    } else if (is({"Online Help"})) {
        OpenOnlineHelp();
    } else if (is({"Encoding wizard"})) {
        LaunchEncodingWizard(QString::fromUtf8(settings_.CurrentFile));
    } else if (is({"Capture Area", "-"})) {
        // nothing
    } else if (is({"Red", "Green", "Blue", "Black", "White"})) {
        PenColorMenuClick(item);
    } else if (is({"1p", "2p", "3p", "4p", "5p", "6p"})) {
        PenSizeMenuClick(item);
    } else if (is({"50p", "100p", "150p"})) {
        EraserSizeMenuClick(item);
    } else if (is({"Pen Color", "Pen Size"})) {
        // nothing
    } else if (is({"Clear Draw"})) {
        ClearDrawMenuClick();
    } else if (is({"Return Cursor Mode"})) {
        ReturnCursorModeMenuClick();
    } else if (is({"Close This Menu", "Free Pen", "Free Eraser"})) {
        // nothing
    } else if (item->Kind() == MenuItemKind::Radio) {
        // The exclusive group has checked it and unchecked the others already.
        item->setChecked(true);
        settings_.CaptureSize = item->Tag();
    } else if (bool* flag = FlagOfTag(item->Tag())) {
        // Qt toggled the check mark before triggered() fired: store it, do not flip again.
        *flag = item->isChecked();
    }
}
