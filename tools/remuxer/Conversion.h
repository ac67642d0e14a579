// One run of ffmpeg for a ConversionPlan: started, followed through its progress
// reports, cancelled by killing that one child. ffmpeg writes to the plan's partial
// file; only a run that ends well renames it to the output name, so an existing
// output is never lost to a failed or cancelled run.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>

#include "ConversionPlan.h"

class Conversion : public QObject {
    Q_OBJECT
public:
    explicit Conversion(QObject* parent = nullptr);
    ~Conversion() override;

    // Starts ffmpeg; finished() follows in every case (at once if it cannot start).
    void Start(const ConversionPlan& plan);
    void Cancel();
    bool Running() const { return process_.state() != QProcess::NotRunning; }

signals:
    // Share done, 0 to 1; only when the input's duration is known.
    void progress(double fraction);
    void finished(bool ok, const QString& message);

private:
    void ReadProgress();
    void Finish(int exitCode, QProcess::ExitStatus status);
    void Fail(const QString& message);

    QProcess process_;
    ConversionPlan plan_;
    QByteArray pending_;    // an unfinished line of progress output
    QByteArray errorText_;  // ffmpeg's messages, the last few kilobytes
    bool cancelled_ = false;
};
