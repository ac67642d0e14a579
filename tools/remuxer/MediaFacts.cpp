#include "MediaFacts.h"

#include <QProcess>
#include <QStandardPaths>

QString FfmpegFileUrl(const QString& path)
{
    return QStringLiteral("file:") + path;
}

bool ProbeMedia(const QString& file, MediaFacts* facts, QString* error)
{
    const QString ffprobe = QStandardPaths::findExecutable(QStringLiteral("ffprobe"));
    if (ffprobe.isEmpty()) {
        *error = QStringLiteral("ffprobe was not found. Install the ffmpeg package.");
        return false;
    }
    QProcess probe;
    probe.start(ffprobe, {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                          QStringLiteral("format=duration:stream=codec_type"), QStringLiteral("-of"),
                          QStringLiteral("default=noprint_wrappers=1"), FfmpegFileUrl(file)});
    probe.closeWriteChannel();
    if (!probe.waitForFinished(60000)) {
        probe.kill();
        probe.waitForFinished();
        *error = QStringLiteral("ffprobe did not answer about %1.").arg(file);
        return false;
    }
    if (probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0) {
        const QString said = QString::fromLocal8Bit(probe.readAllStandardError()).trimmed();
        *error = QStringLiteral("%1 is not a recording that can be read.").arg(file);
        if (!said.isEmpty())
            *error += QLatin1Char('\n') + said;
        return false;
    }

    MediaFacts result;
    const QStringList lines = QString::fromUtf8(probe.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QString entry = line.trimmed();
        if (entry == QLatin1String("codec_type=video"))
            result.hasVideo = true;
        else if (entry == QLatin1String("codec_type=audio"))
            result.hasAudio = true;
        else if (entry.startsWith(QLatin1String("duration="))) {
            bool ok = false;
            const double seconds = entry.mid(9).toDouble(&ok);
            if (ok && seconds > 0)
                result.durationSeconds = seconds;
        }
    }
    if (!result.hasVideo && !result.hasAudio) {
        *error = QStringLiteral("%1 holds neither video nor sound.").arg(file);
        return false;
    }
    *facts = result;
    return true;
}
