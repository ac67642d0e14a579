// What the conversion needs to know about the input, as ffprobe reads it: its
// duration (for the progress bar) and whether it holds video and sound.
#pragma once

#include <QString>

struct MediaFacts {
    double durationSeconds = -1;  // -1 when the file does not say
    bool hasVideo = false;
    bool hasAudio = false;
};

// Asks ffprobe about `file` (an absolute path). False, with ffprobe's own words or
// ours in *error, when ffprobe is missing or cannot read the file.
bool ProbeMedia(const QString& file, MediaFacts* facts, QString* error);

// `path` in the form ffmpeg and ffprobe take as a plain file whatever characters it
// holds (no protocol is guessed from a ':' in the name).
QString FfmpegFileUrl(const QString& path);
