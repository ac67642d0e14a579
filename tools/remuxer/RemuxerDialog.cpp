#include "RemuxerDialog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

RemuxerDialog::RemuxerDialog(const QString& input, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmRemuxer"));
    setMinimumWidth(480);

    txtInput = new QLineEdit(this);
    txtInput->setObjectName(QStringLiteral("txtInput"));
    txtInput->setReadOnly(true);
    btnBrowseInput = new QPushButton(QStringLiteral("Browse..."), this);
    cmbContainer = new QComboBox(this);
    cmbContainer->setObjectName(QStringLiteral("cmbContainer"));
    cmbContainer->addItem(QStringLiteral("MP4"), static_cast<int>(Container::Mp4));
    cmbContainer->addItem(QStringLiteral("MKV (Matroska)"), static_cast<int>(Container::Mkv));
    txtOutput = new QLineEdit(this);
    txtOutput->setObjectName(QStringLiteral("txtOutput"));
    btnBrowseOutput = new QPushButton(QStringLiteral("Browse..."), this);
    barProgress = new QProgressBar(this);
    barProgress->setRange(0, 1000);
    barProgress->setValue(0);
    barProgress->setTextVisible(false);
    lblStatus = new QLabel(this);
    lblStatus->setWordWrap(true);
    btnConvert = new QPushButton(QStringLiteral("Convert"), this);
    btnConvert->setDefault(true);
    btnClose = new QPushButton(QStringLiteral("Close"), this);

    auto* inputRow = new QHBoxLayout;
    inputRow->addWidget(txtInput, 1);
    inputRow->addWidget(btnBrowseInput);
    auto* outputRow = new QHBoxLayout;
    outputRow->addWidget(txtOutput, 1);
    outputRow->addWidget(btnBrowseOutput);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Recording:"), inputRow);
    form->addRow(QStringLiteral("Convert to:"), cmbContainer);
    form->addRow(QStringLiteral("Save as:"), outputRow);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnConvert);
    buttons->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(barProgress);
    layout->addWidget(lblStatus);
    layout->addLayout(buttons);

    connect(btnBrowseInput, &QPushButton::clicked, this, &RemuxerDialog::BrowseInput);
    connect(btnBrowseOutput, &QPushButton::clicked, this, &RemuxerDialog::BrowseOutput);
    connect(cmbContainer, &QComboBox::currentIndexChanged, this, &RemuxerDialog::ContainerChanged);
    connect(btnConvert, &QPushButton::clicked, this, &RemuxerDialog::StartConversion);
    connect(btnClose, &QPushButton::clicked, this, &RemuxerDialog::reject);
    connect(&conversion_, &Conversion::progress, this,
            [this](double fraction) { barProgress->setValue(static_cast<int>(fraction * 1000)); });
    connect(&conversion_, &Conversion::finished, this, &RemuxerDialog::ConversionFinished);

    SetInput(input);
}

Container RemuxerDialog::SelectedContainer() const
{
    return static_cast<Container>(cmbContainer->currentData().toInt());
}

void RemuxerDialog::SetInput(const QString& input)
{
    const QString path = input.isEmpty() ? QString() : QFileInfo(input).absoluteFilePath();
    txtInput->setText(path);
    txtOutput->setText(path.isEmpty() ? QString() : DefaultOutputName(path, SelectedContainer()));
    setWindowTitle(path.isEmpty() ? QStringLiteral("Tavrec Encoding Wizard")
                                  : QStringLiteral("Tavrec Encoding Wizard - %1").arg(QFileInfo(path).fileName()));
    lblStatus->setText(path.isEmpty() ? QStringLiteral("Choose a recording to convert.") : QString());
    barProgress->setValue(0);
}

// A new container changes the extension of the output name when the name is still
// the one made from the recording's; a name the user typed is left alone.
void RemuxerDialog::ContainerChanged()
{
    const QString input = txtInput->text();
    if (input.isEmpty())
        return;
    const Container other = SelectedContainer() == Container::Mp4 ? Container::Mkv : Container::Mp4;
    if (txtOutput->text().isEmpty() || txtOutput->text() == DefaultOutputName(input, other))
        txtOutput->setText(DefaultOutputName(input, SelectedContainer()));
}

void RemuxerDialog::BrowseInput()
{
    const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("Recording to convert"),
                                                      txtInput->text(),
                                                      QStringLiteral("AVI Files (*.avi);;All Files (*)"));
    if (!file.isEmpty())
        SetInput(file);
}

void RemuxerDialog::BrowseOutput()
{
    const QString extension = ContainerExtension(SelectedContainer());
    const QString file = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save the converted file as"), txtOutput->text(),
        QStringLiteral("%1 Files (*.%2);;All Files (*)").arg(extension.toUpper(), extension), nullptr,
        QFileDialog::DontConfirmOverwrite);  // asked once, when the conversion starts
    if (!file.isEmpty())
        txtOutput->setText(file);
}

void RemuxerDialog::StartConversion()
{
    const QString output = txtOutput->text().trimmed();
    if (!output.isEmpty() && QFileInfo::exists(output) &&
        QMessageBox::question(this, windowTitle(), QStringLiteral("%1 exists already. Replace it?").arg(output)) !=
            QMessageBox::Yes)
        return;
    ConversionPlan plan;
    QString error;
    if (!PrepareConversion(txtInput->text(), output, SelectedContainer(), &plan, &error)) {
        QMessageBox::critical(this, windowTitle(), error);
        return;
    }
    barProgress->setValue(0);
    // Without a known duration the bar only shows that work goes on.
    if (plan.facts.durationSeconds <= 0)
        barProgress->setRange(0, 0);
    lblStatus->setText(QStringLiteral("Converting..."));
    SetBusy(true);
    conversion_.Start(plan);
}

void RemuxerDialog::ConversionFinished(bool ok, const QString& message)
{
    SetBusy(false);
    barProgress->setRange(0, 1000);
    if (ok) {
        barProgress->setValue(1000);
        lblStatus->setText(QStringLiteral("Saved as %1").arg(message));
        return;
    }
    barProgress->setValue(0);
    lblStatus->setText(message.section(QLatin1Char('\n'), 0, 0));
    if (!cancelling_)
        QMessageBox::critical(this, windowTitle(), message);
    cancelling_ = false;
}

void RemuxerDialog::SetBusy(bool busy)
{
    btnConvert->setEnabled(!busy);
    btnBrowseInput->setEnabled(!busy);
    btnBrowseOutput->setEnabled(!busy);
    cmbContainer->setEnabled(!busy);
    txtOutput->setEnabled(!busy);
    btnClose->setText(busy ? QStringLiteral("Cancel") : QStringLiteral("Close"));
}

// Cancel (the button, Escape) stops a running conversion; otherwise it closes.
void RemuxerDialog::reject()
{
    if (conversion_.Running()) {
        cancelling_ = true;
        conversion_.Cancel();
        return;
    }
    QDialog::reject();
}

void RemuxerDialog::closeEvent(QCloseEvent* event)
{
    if (conversion_.Running()) {
        cancelling_ = true;
        conversion_.Cancel();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
