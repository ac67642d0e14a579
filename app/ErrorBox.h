// The program's standard error display: a modal message box captioned with the
// application title "Tavrec", the error icon and one OK button. The text gets a
// closing period when it has none. The same line goes to standard error, so that
// scripts and logs see why the program stopped.
#pragma once

#include <QString>

class QWidget;

// `message` with a period appended unless it already ends in one.
QString WithClosingPeriod(const QString& message);

// Shows the box and waits until the user closes it.
void ShowErrorBox(const QString& message, QWidget* owner = nullptr);
