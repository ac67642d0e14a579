// The three message boxes of recording control. With the owner on the screen a box
// opens over it as its dialog; with the owner hidden in the tray (or minimised) a box
// would open at the hidden window's place with nothing to hold it up, so it opens on
// its own instead: centred on the screen and kept above other windows, where the user
// working in another program sees it.
#pragma once

#include <QString>

class QWidget;

// Caption "Error", error icon, one button labelled Yes.
void RecordingErrorBox(QWidget* owner, const QString& text);
// Caption "Confirm", question icon, buttons Yes and No; true for Yes.
bool ConfirmBox(QWidget* owner, const QString& text);
// The application title as caption, no icon, one OK button.
void PlainBox(QWidget* owner, const QString& text);
