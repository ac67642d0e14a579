// The splash window: the program's picture with its version, shown borderless and
// centred on the screen at start-up; it closes itself 2000 ms after it was created.
#pragma once

#include <QDialog>

class QLabel;
class QTimer;

class TfrmLOGO : public QDialog {
    Q_OBJECT
public:
    explicit TfrmLOGO(QWidget* owner);

private:
    void tmrSecondTimer();

    QLabel* imgLOGO = nullptr;
    QLabel* lblVersionInfo = nullptr;
    QTimer* tmrSecond = nullptr;
};
