// Writes uncompressed 1920x1080x32 frames through the AVI writer's file, the way a
// recording appends them (chunk header, frame, padding), with the kernel handed
// pieces of the given sizes, and prints the user and system CPU per frame of each.
//   write_pieces FOLDER [FRAMES] [PIECE_KB...]
// Each frame is filled anew before it is written, as a grabbed frame would be.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/avi/AviOutput.h"

namespace {

double Seconds(const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; }

struct Cpu {
    double user = 0;
    double system = 0;
};

Cpu CpuNow()
{
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return {Seconds(r.ru_utime), Seconds(r.ru_stime)};
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [FRAMES] [PIECE_KB...]\n", argv[0]);
        return 2;
    }
    const std::string path = std::string(argv[1]) + "/write-pieces.avi";
    const int frames = argc > 2 ? std::atoi(argv[2]) : 180;
    std::vector<size_t> pieces;
    for (int i = 3; i < argc; ++i)
        pieces.push_back(size_t(std::atol(argv[i])) * 1024);
    if (pieces.empty())
        pieces = {8294400, 2048 * 1024, 1024 * 1024, 512 * 1024, 256 * 1024, 128 * 1024};

    const size_t frameBytes = 1920 * 1080 * 4;
    std::vector<unsigned char> frame(frameBytes);
    std::printf("%12s %14s %14s\n", "piece", "user ms/fr", "system ms/fr");
    for (size_t piece : pieces) {
        platform::AviOutput out(piece);
        if (!out.Open(path)) {
            std::fprintf(stderr, "%s\n", out.LastError().c_str());
            return 1;
        }
        const Cpu before = CpuNow();
        for (int f = 0; f < frames; ++f) {
            std::memset(frame.data(), f & 0xff, frame.size());
            const unsigned char header[8] = {'0', '0', 'd', 'b', 0, 0, 0, 0};
            if (!out.Append(header, sizeof header) || !out.Append(frame.data(), frame.size())) {
                std::fprintf(stderr, "%s\n", out.LastError().c_str());
                return 1;
            }
        }
        const bool closed = out.Close();
        const Cpu after = CpuNow();
        std::remove(path.c_str());
        if (!closed) {
            std::fprintf(stderr, "%s\n", out.LastError().c_str());
            return 1;
        }
        std::printf("%9zu KB %14.2f %14.2f\n", piece / 1024, (after.user - before.user) * 1000 / frames,
                    (after.system - before.system) * 1000 / frames);
    }
    return 0;
}
