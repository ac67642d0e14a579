// How one recording is turned into an MP4 or MKV file: the output name, and the
// ffmpeg command line that re-encodes the video to H.264 (libx264, or MPEG-4 part 2
// where ffmpeg has no libx264) and the sound to AAC.
#pragma once

#include <QString>
#include <QStringList>

#include "MediaFacts.h"

enum class Container { Mp4, Mkv };

// "mp4" or "mkv"; and back, false for any other text (letter case ignored).
QString ContainerExtension(Container container);
bool ParseContainer(const QString& text, Container* container);

// The input's folder and name with the container's extension instead of its own.
QString DefaultOutputName(const QString& input, Container container);

struct ConversionPlan {
    QString input;         // absolute
    QString output;        // absolute; replaced only when the conversion succeeded
    QString partialOutput; // where ffmpeg writes until then, beside `output`
    Container container = Container::Mp4;
    MediaFacts facts;

    // ffmpeg's arguments (without the program), progress reports on its stdout.
    QStringList FfmpegArguments() const;
};

// Checks and prepares the conversion of `input` into `output` (both made absolute):
// reads the input with ffprobe, refuses an output that is the input itself, and
// creates the partial file beside the output. An existing output is left to the
// caller to ask about. False with the reason in *error.
bool PrepareConversion(const QString& input, const QString& output, Container container,
                       ConversionPlan* plan, QString* error);

// The video encoder to use: "libx264" when ffmpeg offers it, else "mpeg4". Asks
// ffmpeg once per run.
QString VideoEncoder();
