// remuxer: the encoding wizard of Tavrec.
//   remuxer [FILE.avi]                 the dialog, with FILE.avi as the recording
//   remuxer --batch [--format mp4|mkv] [--output OUT] [--overwrite] FILE.avi
//                                      converts without a window; exit status 0 on
//                                      success, 1 on failure (the reason on stderr)
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QIcon>

#include <cstdio>
#include <cstring>
#include <memory>

#include "Conversion.h"
#include "ConversionPlan.h"
#include "RemuxerDialog.h"

namespace {

// --batch decides whether a window system is needed at all, so it is looked for
// before the application object exists (up to a "--" that ends the options).
bool WantsBatch(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        if (std::strcmp(argv[i], "--batch") == 0)
            return true;
    }
    return false;
}

// Tavrec's icon, in the hicolor sizes that lie beside the program (the build tree's
// and an installation's share/icons), else the desktop theme's.
QIcon TavrecIcon()
{
    const QDir theme(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/icons/hicolor"));
    QIcon icon;
    for (const QString& size : theme.entryList({QStringLiteral("*x*")}, QDir::Dirs))
        if (const QString file = theme.filePath(size + QStringLiteral("/apps/tavrec.png")); QFileInfo::exists(file))
            icon.addFile(file);
    return icon.isNull() ? QIcon::fromTheme(QStringLiteral("tavrec")) : icon;
}

void PrintError(const QString& text)
{
    std::fprintf(stderr, "remuxer: %s\n", text.toLocal8Bit().constData());
}

int RunBatch(const QCommandLineParser& parser, const QString& input)
{
    Container container = Container::Mp4;
    if (parser.isSet(QStringLiteral("format")) && !ParseContainer(parser.value(QStringLiteral("format")), &container)) {
        PrintError(QStringLiteral("--format must be mp4 or mkv."));
        return 1;
    }
    if (input.isEmpty()) {
        PrintError(QStringLiteral("no recording given (remuxer --batch FILE.avi)."));
        return 1;
    }
    const QString output = parser.isSet(QStringLiteral("output"))
                               ? QFileInfo(parser.value(QStringLiteral("output"))).absoluteFilePath()
                               : DefaultOutputName(input, container);
    if (QFileInfo::exists(output) && !parser.isSet(QStringLiteral("overwrite"))) {
        PrintError(QStringLiteral("%1 exists already; --overwrite replaces it.").arg(output));
        return 1;
    }
    ConversionPlan plan;
    QString error;
    if (!PrepareConversion(input, output, container, &plan, &error)) {
        PrintError(error);
        return 1;
    }

    Conversion conversion;
    QEventLoop loop;
    bool succeeded = false;
    QObject::connect(&conversion, &Conversion::finished, &loop, [&](bool ok, const QString& message) {
        succeeded = ok;
        if (!ok)
            PrintError(message);
        loop.quit();
    });
    conversion.Start(plan);
    loop.exec();
    return succeeded ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool batch = WantsBatch(argc, argv);
    std::unique_ptr<QCoreApplication> app;
    if (batch)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("remuxer"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVREC_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Converts a Tavrec recording to MP4 or MKV with ffmpeg."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("batch"), QStringLiteral("Convert without showing the window.")});
    parser.addOption({QStringLiteral("format"), QStringLiteral("Output container: mp4 (default) or mkv."),
                      QStringLiteral("format")});
    parser.addOption({QStringLiteral("output"),
                      QStringLiteral("Output file (default: the recording's name with the new extension)."),
                      QStringLiteral("file")});
    parser.addOption({QStringLiteral("overwrite"), QStringLiteral("Replace an existing output file (batch).")});
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The recording to convert."),
                                 QStringLiteral("[file.avi]"));
    parser.process(*app);

    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        PrintError(QStringLiteral("one recording at a time."));
        return 1;
    }
    const QString input = files.isEmpty() ? QString() : QFileInfo(files.first()).absoluteFilePath();
    if (batch)
        return RunBatch(parser, input);

    QApplication::setWindowIcon(TavrecIcon());
    RemuxerDialog dialog(input);
    dialog.show();
    return app->exec();
}
