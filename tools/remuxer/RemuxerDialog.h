// The encoding wizard's window: the recording, the container (MP4 or MKV), the
// output name (by default the recording's name with the container's extension),
// Convert, a progress bar and Cancel/Close.
#pragma once

#include <QDialog>

#include "Conversion.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

class RemuxerDialog : public QDialog {
    Q_OBJECT
public:
    explicit RemuxerDialog(const QString& input, QWidget* parent = nullptr);

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void SetInput(const QString& input);
    void ContainerChanged();
    void BrowseInput();
    void BrowseOutput();
    void StartConversion();
    void ConversionFinished(bool ok, const QString& message);
    void SetBusy(bool busy);
    Container SelectedContainer() const;

    QLineEdit* txtInput = nullptr;
    QPushButton* btnBrowseInput = nullptr;
    QComboBox* cmbContainer = nullptr;
    QLineEdit* txtOutput = nullptr;
    QPushButton* btnBrowseOutput = nullptr;
    QProgressBar* barProgress = nullptr;
    QLabel* lblStatus = nullptr;
    QPushButton* btnConvert = nullptr;
    QPushButton* btnClose = nullptr;
    Conversion conversion_;
    bool cancelling_ = false;  // the end of this run was asked for: no error box
};
