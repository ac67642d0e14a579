// links:
#include "tests/support/MediaProbe.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace testkit {

std::string RunCapture(const std::vector<std::string>& argv, int* exitCode, std::string* standardError)
{
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    std::string text, errors;
    if (rc == 0) {
        pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        int open = 2;
        char buffer[65536];
        while (open > 0) {
            if (poll(fds, 2, -1) < 0)
                break;
            for (auto& fd : fds) {
                if (fd.fd < 0 || !(fd.revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                const ssize_t n = read(fd.fd, buffer, sizeof buffer);
                if (n <= 0) {
                    close(fd.fd);
                    fd.fd = -1;
                    --open;
                } else {
                    (fd.fd == out[0] ? text : errors).append(buffer, static_cast<size_t>(n));
                }
            }
        }
    } else {
        close(out[0]);
        close(err[0]);
    }
    int status = 0;
    int code = -1;
    if (rc == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        code = WEXITSTATUS(status);
    if (exitCode)
        *exitCode = code;
    if (standardError)
        *standardError = errors;
    return text;
}

namespace {

// Parses ffprobe's "flat" output: section.N.key="value" lines.
std::vector<std::map<std::string, std::string>> ParseFlat(const std::string& text, const std::string& section)
{
    std::vector<std::map<std::string, std::string>> items;
    std::istringstream lines(text);
    std::string line;
    const std::string prefix = section + ".";
    while (std::getline(lines, line)) {
        if (line.compare(0, prefix.size(), prefix) != 0)
            continue;
        const size_t dot = line.find('.', prefix.size());
        const size_t eq = line.find('=');
        if (dot == std::string::npos || eq == std::string::npos || eq < dot)
            continue;
        const size_t index = std::stoul(line.substr(prefix.size(), dot - prefix.size()));
        std::string key = line.substr(dot + 1, eq - dot - 1);
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (key.compare(0, 5, "tags.") == 0)
            key = "TAG:" + key.substr(5);
        if (items.size() <= index)
            items.resize(index + 1);
        items[index][key] = value;
    }
    return items;
}

}  // namespace

std::vector<StreamFacts> ProbeStreams(const std::string& path)
{
    const std::string text = RunCapture({"ffprobe", "-v", "error", "-count_packets", "-show_streams", "-of",
                                         "flat=s=.", path});
    return ParseFlat(text, "streams.stream");
}

double ProbeDuration(const std::string& path)
{
    const std::string text =
        RunCapture({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path});
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    return end == text.c_str() ? -1 : value;
}

std::vector<Packet> ProbePackets(const std::string& path, int index)
{
    const std::string text = RunCapture({"ffprobe", "-v", "error", "-select_streams", std::to_string(index),
                                         "-show_entries", "packet=size,pts_time,flags", "-of", "csv=p=0", path});
    std::vector<Packet> packets;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        // fields in ffprobe's order: pts_time,size,flags
        std::istringstream fields(line);
        std::string pts, size, flags;
        std::getline(fields, pts, ',');
        std::getline(fields, size, ',');
        std::getline(fields, flags, ',');
        Packet packet;
        packet.pts = pts == "N/A" ? -1 : std::strtod(pts.c_str(), nullptr);
        packet.size = std::strtoll(size.c_str(), nullptr, 10);
        packet.key = flags.find('K') != std::string::npos;
        packets.push_back(packet);
    }
    return packets;
}

std::vector<std::vector<uint8_t>> DecodeVideo(const std::string& path, const std::string& pixFmt, int width,
                                              int height, int bytesPerPixel, bool everyPosition)
{
    const std::string raw =
        RunCapture({"ffmpeg", "-v", "error", "-nostdin", "-i", path, "-map", "0:v:0", "-vsync",
                    everyPosition ? "cfr" : "passthrough", "-f", "rawvideo", "-pix_fmt", pixFmt, "-"});
    const size_t frameBytes = static_cast<size_t>(width) * height * bytesPerPixel;
    std::vector<std::vector<uint8_t>> frames;
    for (size_t offset = 0; frameBytes && offset + frameBytes <= raw.size(); offset += frameBytes)
        frames.emplace_back(raw.begin() + static_cast<long>(offset),
                            raw.begin() + static_cast<long>(offset + frameBytes));
    return frames;
}

std::vector<int16_t> DecodeAudio(const std::string& path, int* channels, int* rate)
{
    const auto streams = ProbeStreams(path);
    int ch = 0, hz = 0;
    for (const auto& s : streams) {
        auto type = s.find("codec_type");
        if (type != s.end() && type->second == "audio") {
            ch = std::atoi(s.at("channels").c_str());
            hz = std::atoi(s.at("sample_rate").c_str());
            break;
        }
    }
    if (channels)
        *channels = ch;
    if (rate)
        *rate = hz;
    const std::string raw =
        RunCapture({"ffmpeg", "-v", "error", "-nostdin", "-i", path, "-map", "0:a:0", "-f", "s16le", "-acodec",
                    "pcm_s16le", "-"});
    std::vector<int16_t> samples(raw.size() / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return samples;
}

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tavrec-test.XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace testkit
