#include "Conversion.h"

#include <QFile>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>

namespace {

constexpr qsizetype kErrorTextLimit = 4096;

}  // namespace

Conversion::Conversion(QObject* parent) : QObject(parent)
{
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    connect(&process_, &QProcess::readyReadStandardOutput, this, &Conversion::ReadProgress);
    connect(&process_, &QProcess::readyReadStandardError, this, [this] {
        errorText_ += process_.readAllStandardError();
        if (errorText_.size() > kErrorTextLimit)
            errorText_ = errorText_.right(kErrorTextLimit);
    });
    connect(&process_, &QProcess::finished, this, &Conversion::Finish);
    connect(&process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            Fail(QStringLiteral("ffmpeg could not be started. Install the ffmpeg package."));
    });
}

Conversion::~Conversion()
{
    if (Running()) {
        process_.disconnect(this);
        process_.kill();
        process_.waitForFinished();
        QFile::remove(plan_.partialOutput);
    }
}

void Conversion::Start(const ConversionPlan& plan)
{
    plan_ = plan;
    pending_.clear();
    errorText_.clear();
    cancelled_ = false;
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty()) {
        // Reported from the event loop, like every other end of a run.
        QTimer::singleShot(0, this, [this] { Fail(QStringLiteral("ffmpeg was not found. Install the ffmpeg package.")); });
        return;
    }
    process_.start(ffmpeg, plan_.FfmpegArguments());
    process_.closeWriteChannel();
}

void Conversion::Cancel()
{
    if (!Running())
        return;
    cancelled_ = true;
    process_.kill();  // SIGKILL to this child's pid; finished() reaps it
}

void Conversion::ReadProgress()
{
    pending_ += process_.readAllStandardOutput();
    qsizetype end;
    while ((end = pending_.indexOf('\n')) >= 0) {
        const QByteArray line = pending_.left(end).trimmed();
        pending_.remove(0, end + 1);
        if (plan_.facts.durationSeconds <= 0)
            continue;
        if (line.startsWith("out_time_us=")) {
            bool ok = false;
            const qint64 micros = line.mid(12).toLongLong(&ok);
            if (ok && micros >= 0)
                emit progress(qMin(1.0, micros / 1e6 / plan_.facts.durationSeconds));
        } else if (line == "progress=end") {
            emit progress(1.0);
        }
    }
}

void Conversion::Finish(int exitCode, QProcess::ExitStatus status)
{
    ReadProgress();
    errorText_ += process_.readAllStandardError();
    if (cancelled_) {
        Fail(QStringLiteral("The conversion was cancelled."));
        return;
    }
    if (status != QProcess::NormalExit || exitCode != 0) {
        QString message = QStringLiteral("ffmpeg could not convert %1.").arg(plan_.input);
        const QString said = QString::fromLocal8Bit(errorText_).trimmed();
        if (!said.isEmpty())
            message += QLatin1Char('\n') + said;
        Fail(message);
        return;
    }
    // rename(2) replaces an existing output in one step.
    if (std::rename(QFile::encodeName(plan_.partialOutput).constData(),
                    QFile::encodeName(plan_.output).constData()) != 0) {
        Fail(QStringLiteral("The converted file could not be saved as %1.").arg(plan_.output));
        return;
    }
    emit finished(true, plan_.output);
}

void Conversion::Fail(const QString& message)
{
    if (!plan_.partialOutput.isEmpty())
        QFile::remove(plan_.partialOutput);
    emit finished(false, message);
}
