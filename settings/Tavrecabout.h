// The about box: "Intro_english.txt" from the installation folder in a read-only,
// unwrapped text field, centred on the screen, closed by its button or close box.
#pragma once

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;
class QPushButton;
class QFrame;

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* owner);

private:
    QPlainTextEdit* txtIntro = nullptr;
    QFrame* bevN1 = nullptr;
    QPushButton* btnClose = nullptr;
    QStringList lines_;  // the file's content, one entry per line
};
