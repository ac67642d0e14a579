#include "tools/AviStreamDurations.h"

#include <cstring>
#include <fstream>

namespace tools {

namespace {

constexpr uint32_t FourCc(const char (&text)[5])
{
    return uint32_t(uint8_t(text[0])) | uint32_t(uint8_t(text[1])) << 8 | uint32_t(uint8_t(text[2])) << 16 |
           uint32_t(uint8_t(text[3])) << 24;
}

uint32_t Le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool Fail(std::string* error, std::string text)
{
    if (error)
        *error = std::move(text);
    return false;
}

// Walks the chunks in [begin, end) of the file: 'strl' lists are entered, every
// 'strh' adds a stream.
bool Walk(std::ifstream& in, uint64_t begin, uint64_t end, std::vector<StreamDuration>* streams)
{
    uint64_t at = begin;
    while (at + 8 <= end) {
        uint8_t header[12];
        in.seekg(static_cast<std::streamoff>(at));
        if (!in.read(reinterpret_cast<char*>(header), 8))
            return false;
        const uint32_t id = Le32(header), size = Le32(header + 4);
        const uint64_t next = at + 8 + size + (size & 1);
        if (id == FourCc("LIST") && size >= 4) {
            if (!in.read(reinterpret_cast<char*>(header + 8), 4))
                return false;
            if (Le32(header + 8) == FourCc("strl") && !Walk(in, at + 12, at + 8 + size, streams))
                return false;
        } else if (id == FourCc("strh") && size >= 36) {
            uint8_t strh[36];
            if (!in.read(reinterpret_cast<char*>(strh), sizeof strh))
                return false;
            StreamDuration stream;
            stream.type = Le32(strh);
            const uint32_t scale = Le32(strh + 20), rate = Le32(strh + 24), length = Le32(strh + 32);
            stream.seconds = rate ? double(length) * scale / rate : 0;
            streams->push_back(stream);
        }
        at = next;
    }
    return true;
}

}  // namespace

bool ReadStreamDurations(const std::string& path, std::vector<StreamDuration>* streams, std::string* error)
{
    streams->clear();
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return Fail(error, "cannot open " + path);
    uint8_t riff[24];
    if (!in.read(reinterpret_cast<char*>(riff), sizeof riff) || Le32(riff) != FourCc("RIFF") ||
        Le32(riff + 8) != FourCc("AVI ") || Le32(riff + 12) != FourCc("LIST") || Le32(riff + 20) != FourCc("hdrl"))
        return Fail(error, path + " is no AVI file");
    // The header list comes first; its streams are all that is needed.
    if (!Walk(in, 24, 20 + uint64_t(Le32(riff + 16)), streams))
        return Fail(error, "cannot read the stream headers of " + path);
    return true;
}

}  // namespace tools
