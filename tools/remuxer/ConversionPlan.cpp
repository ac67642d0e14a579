#include "ConversionPlan.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <sys/stat.h>
#include <QProcess>
#include <QStandardPaths>

QString ContainerExtension(Container container)
{
    return container == Container::Mkv ? QStringLiteral("mkv") : QStringLiteral("mp4");
}

bool ParseContainer(const QString& text, Container* container)
{
    const QString name = text.trimmed().toLower();
    if (name == QLatin1String("mp4"))
        *container = Container::Mp4;
    else if (name == QLatin1String("mkv"))
        *container = Container::Mkv;
    else
        return false;
    return true;
}

QString DefaultOutputName(const QString& input, Container container)
{
    const QFileInfo info(input);
    QString base = info.completeBaseName();
    if (base.isEmpty())
        base = info.fileName();
    return info.absolutePath() + QLatin1Char('/') + base + QLatin1Char('.') + ContainerExtension(container);
}

QString VideoEncoder()
{
    static const QString encoder = [] {
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"), {QStringLiteral("-hide_banner"), QStringLiteral("-encoders")});
        ffmpeg.closeWriteChannel();
        if (ffmpeg.waitForFinished(30000)) {
            const QString list = QString::fromUtf8(ffmpeg.readAllStandardOutput());
            for (const QString& line : list.split(QLatin1Char('\n'))) {
                const QStringList words = line.simplified().split(QLatin1Char(' '));
                if (words.size() >= 2 && words[1] == QLatin1String("libx264"))
                    return QStringLiteral("libx264");
            }
        } else {
            ffmpeg.kill();
            ffmpeg.waitForFinished();
        }
        return QStringLiteral("mpeg4");
    }();
    return encoder;
}

QStringList ConversionPlan::FfmpegArguments() const
{
    QStringList args{QStringLiteral("-hide_banner"), QStringLiteral("-nostdin"), QStringLiteral("-nostats"),
                     QStringLiteral("-loglevel"),    QStringLiteral("error"),    QStringLiteral("-progress"),
                     QStringLiteral("pipe:1"),       QStringLiteral("-y"),       QStringLiteral("-i"),
                     FfmpegFileUrl(input)};
    if (facts.hasVideo) {
        const QString encoder = VideoEncoder();
        // 4:2:0 video needs even sizes; a window recording may have odd ones, so one
        // black column or row is added where needed rather than failing.
        args << QStringLiteral("-map") << QStringLiteral("0:v:0") << QStringLiteral("-vf")
             << QStringLiteral("pad=ceil(iw/2)*2:ceil(ih/2)*2") << QStringLiteral("-pix_fmt")
             << QStringLiteral("yuv420p") << QStringLiteral("-c:v") << encoder;
        if (encoder == QLatin1String("libx264"))
            args << QStringLiteral("-preset") << QStringLiteral("veryfast") << QStringLiteral("-crf")
                 << QStringLiteral("20");
        else
            args << QStringLiteral("-q:v") << QStringLiteral("3");
    }
    if (facts.hasAudio)
        args << QStringLiteral("-map") << QStringLiteral("0:a:0") << QStringLiteral("-c:a") << QStringLiteral("aac")
             << QStringLiteral("-b:a") << QStringLiteral("160k");
    if (container == Container::Mp4)
        args << QStringLiteral("-movflags") << QStringLiteral("+faststart") << QStringLiteral("-f")
             << QStringLiteral("mp4");
    else
        args << QStringLiteral("-f") << QStringLiteral("matroska");
    args << FfmpegFileUrl(partialOutput);
    return args;
}

bool PrepareConversion(const QString& input, const QString& output, Container container,
                       ConversionPlan* plan, QString* error)
{
    if (input.isEmpty()) {
        *error = QStringLiteral("No recording was given.");
        return false;
    }
    if (output.isEmpty()) {
        *error = QStringLiteral("No output file was given.");
        return false;
    }
    const QFileInfo in(input);
    const QFileInfo out(output);
    if (!in.isFile()) {
        *error = QStringLiteral("%1 does not exist.").arg(in.absoluteFilePath());
        return false;
    }
    if (out.exists() && (out.canonicalFilePath() == in.canonicalFilePath() || out.isDir())) {
        *error = QStringLiteral("%1 cannot be the output file: choose another name.").arg(out.absoluteFilePath());
        return false;
    }

    ConversionPlan result;
    result.input = in.absoluteFilePath();
    result.output = out.absoluteFilePath();
    result.container = container;
    if (!ProbeMedia(result.input, &result.facts, error))
        return false;

    // A fresh name of our own beside the output, so that the rename at the end stays
    // on one file system and no file of the user's is touched before then.
    QTemporaryFile partial(out.absolutePath() + QStringLiteral("/.") + out.fileName() +
                           QStringLiteral(".XXXXXX.part"));
    partial.setAutoRemove(false);
    if (!partial.open()) {
        *error = QStringLiteral("Cannot write into the folder %1.").arg(QDir::toNativeSeparators(out.absolutePath()));
        return false;
    }
    result.partialOutput = partial.fileName();
    // The temporary file is private (0600); the result gets the permissions any new
    // file of the user's would get.
    const mode_t mask = umask(0);
    umask(mask);
    chmod(QFile::encodeName(result.partialOutput).constData(), 0666 & ~mask);
    *plan = result;
    return true;
}
