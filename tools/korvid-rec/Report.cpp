#include "tools/korvid-rec/Report.h"

#include <cstdio>
#include <string>
#include <vector>

#include "engine/korvid.h"
#include "tools/AviStreamDurations.h"

namespace tools {

namespace {

// How long picture and sound came out, from the finished file's stream headers.
void PrintDurations(const std::string& file)
{
    std::vector<StreamDuration> streams;
    std::string error;
    if (!ReadStreamDurations(file, &streams, &error)) {
        std::fprintf(stderr, "korvid-rec: %s\n", error.c_str());
        return;
    }
    double picture = -1, sound = -1;
    for (const auto& stream : streams) {
        if (stream.type == TAVREC_FOURCC('v', 'i', 'd', 's') && picture < 0)
            picture = stream.seconds;
        if (stream.type == TAVREC_FOURCC('a', 'u', 'd', 's') && sound < 0)
            sound = stream.seconds;
    }
    if (picture >= 0 && sound >= 0)
        std::fprintf(stderr, "korvid-rec: picture %.3f s, sound %.3f s\n", picture, sound);
    else if (picture >= 0)
        std::fprintf(stderr, "korvid-rec: picture %.3f s, no sound\n", picture);
}

}  // namespace

void PrintError(const char* what)
{
    int32_t capacity = 0;
    std::fprintf(stderr, "korvid-rec: %s: %s\n", what, GetMyLastError(&capacity));
}

void PrintReport(const char* file, const FrameCounter& counter)
{
    std::fprintf(stderr, "korvid-rec: %s: %llu frames stored, %llu %s\n", file,
                 static_cast<unsigned long long>(counter.stored.load()),
                 static_cast<unsigned long long>(counter.dropped.load()), counter.GapName());
    if (counter.firstFrameMs.load() >= 0)
        std::fprintf(stderr, "korvid-rec: start took %lld ms (from the start call to the first frame)\n",
                     static_cast<long long>(counter.firstFrameMs.load()));
    PrintDurations(file);
}

}  // namespace tools
