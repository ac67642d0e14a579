#include "tools/korvid-rec/Options.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "settings/AudioDevices.h"
#include "tools/korvid-rec/Listings.h"

namespace tools {

namespace {

void PrintHelp()
{
    std::printf(
        "Usage: korvid-rec [OPTIONS] FILE.avi\n"
        "Records the screen or one window into FILE.avi (replaced if it exists).\n"
        "\n"
        "  --window root|under-pointer|ID  what to record: the whole screen (default), the\n"
        "                                  top-level window under the pointer at start, or\n"
        "                                  the X window with that id (decimal or 0x hex)\n"
        "  --region WxH+X+Y                record exactly that rectangle of the screen: W by\n"
        "                                  H pixels, its top-left corner X, Y pixels from the\n"
        "                                  screen's top-left one (instead of --window). A\n"
        "                                  rectangle that does not lie wholly on the screen\n"
        "                                  is refused, not clipped\n"
        "  --fps N                         frames per second, 1 to 1000 (default 15)\n"
        "  --codec DESCRIPTION             video compressor, exactly as --list-codecs prints\n"
        "                                  it; any other text records uncompressed\n"
        "                                  (default \"Uncompress\")\n"
        "  --speedup                       Speedup Mode: grab only what changed on the\n"
        "                                  screen; a frame slot in which nothing changed\n"
        "                                  (picture, cursor) is stored as an empty position,\n"
        "                                  which players show as the frame before\n"
        "  --seconds S                     stop after S seconds of wall time (default: run\n"
        "                                  until Ctrl-C, SIGTERM, SIGHUP or 'tavrec-ctl stop')\n"
        "  --audio DEVICE                  also record sound from the capture device with\n"
        "                                  that description, exactly as --list-audio prints\n"
        "                                  it; \"\" (or a text no device has) records the\n"
        "                                  default source. Without --audio: no sound.\n"
        "                                  Given twice, both devices are recorded at once\n"
        "                                  and mixed into the one sound track; the second\n"
        "                                  must be there by its description\n"
        "  --audio-format RATE:CHANNELS:BITS  PCM format of the sound, e.g. 44100:2:16\n"
        "                                  (default 22050:2:16; BITS 8 or 16)\n"
        "  --source auto|portal|x11        how the screen is read: the X11 grab of the root\n"
        "                                  window, or the desktop portal's screen cast\n"
        "                                  (Wayland desktops; the desktop may ask what to\n"
        "                                  share). auto (default) takes the portal when the\n"
        "                                  session is Wayland and X11 cannot see its desktop\n"
        "  --portal-token FILE             keep the portal's restore token in FILE, so the\n"
        "                                  next recording shares the same screen without\n"
        "                                  asking, where the desktop allows it\n"
        "  --list-sources                  print the screen sources, which one would be\n"
        "                                  used and why, and exit\n"
        "  --list-codecs                   print the compressor descriptions and exit\n"
        "  --list-audio                    print the capture devices, each followed by its\n"
        "                                  formats, and exit\n"
        "  --help                          show this text and exit\n"
        "\n"
        "While recording on a terminal, elapsed time, frames stored and frames dropped are\n"
        "shown once a second (with --speedup, the empty positions instead of the dropped); at the end, how long picture and sound came out.\n"
        "'tavrec-ctl pause|resume|stop' drives a running recording.\n"
        "Exit status: 0 when the recording was stopped and its file completed, 1 on failure\n"
        "or when the recording ended by itself (the library's message is printed), 2 for\n"
        "bad arguments.\n");
}

// WxH+X+Y: W and H above 0; X and Y may be negative ("+-5"), which the recording
// refuses later as off the screen.
bool ParseRegion(const char* text, Options* options)
{
    unsigned width = 0, height = 0;
    int left = 0, top = 0, used = 0;
    if (std::sscanf(text, "%ux%u+%d+%d%n", &width, &height, &left, &top, &used) != 4 ||
        text[used] != '\0' || width == 0 || height == 0 || width > 0x7FFF || height > 0x7FFF ||
        !std::isdigit(static_cast<unsigned char>(text[0])))
        return false;
    options->region = true;
    options->regionLeft = left;
    options->regionTop = top;
    options->regionWidth = static_cast<int32_t>(width);
    options->regionHeight = static_cast<int32_t>(height);
    return true;
}

}  // namespace

bool ParseUnsigned(const char* text, unsigned long long* value)
{
    errno = 0;
    char* end = nullptr;
    *value = std::strtoull(text, &end, 0);
    return errno == 0 && end != text && *end == '\0' && text[0] != '-';
}

int ParseOptions(int argc, char** argv, Options* options)
{
    bool listSources = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "korvid-rec: %s needs a value (see --help)\n", name);
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            PrintHelp();
            return 0;
        } else if (arg == "--list-codecs") {
            return ListCodecs();
        } else if (arg == "--list-audio") {
            return ListAudio();
        } else if (arg == "--list-sources") {
            listSources = true;
        } else if (arg == "--source") {
            options->source = value("--source");
            if (options->source != "auto" && options->source != "portal" && options->source != "x11") {
                std::fprintf(stderr, "korvid-rec: --source must be auto, portal or x11\n");
                return 2;
            }
        } else if (arg == "--portal-token") {
            options->portalTokenFile = value("--portal-token");
        } else if (arg == "--audio") {
            const std::string device = value("--audio");
            if (device.size() > 63) {
                std::fprintf(stderr, "korvid-rec: --audio: a device description has at most 63 bytes\n");
                return 2;
            }
            if (!options->withAudio) {
                options->audio = device;
                options->withAudio = true;
            } else if (!options->audio2.empty()) {
                std::fprintf(stderr, "korvid-rec: --audio: at most two sound devices\n");
                return 2;
            } else if (device.empty()) {
                std::fprintf(stderr, "korvid-rec: --audio: the second sound device needs its description\n");
                return 2;
            } else {
                options->audio2 = device;
            }
        } else if (arg == "--audio-format") {
            const std::string text = value("--audio-format");
            unsigned rate = 0, channels = 0, bits = 0;
            char extra = 0;
            if (std::sscanf(text.c_str(), "%u:%u:%u%c", &rate, &channels, &bits, &extra) != 3 || rate < 1000 ||
                rate > 192000 || channels < 1 || channels > 2 || (bits != 8 && bits != 16)) {
                std::fprintf(stderr,
                             "korvid-rec: --audio-format must be RATE:CHANNELS:BITS, RATE 1000 to 192000, "
                             "CHANNELS 1 or 2, BITS 8 or 16 (e.g. 22050:2:16)\n");
                return 2;
            }
            options->audioFormat =
                settings::PcmFormat(rate, static_cast<uint16_t>(channels), static_cast<uint16_t>(bits));
        } else if (arg == "--window") {
            options->window = value("--window");
        } else if (arg == "--region") {
            const std::string text = value("--region");
            if (!ParseRegion(text.c_str(), options)) {
                std::fprintf(stderr,
                             "korvid-rec: --region must be WxH+X+Y, W and H whole numbers above 0, "
                             "X and Y whole numbers (e.g. 640x480+100+50)\n");
                return 2;
            }
        } else if (arg == "--fps") {
            if (!ParseUnsigned(value("--fps"), &options->fps) || options->fps < 1 || options->fps > 1000) {
                std::fprintf(stderr, "korvid-rec: --fps must be a whole number from 1 to 1000\n");
                return 2;
            }
        } else if (arg == "--speedup") {
            options->speedup = true;
        } else if (arg == "--codec") {
            options->codec = value("--codec");
        } else if (arg == "--seconds") {
            const char* text = value("--seconds");
            char* end = nullptr;
            options->seconds = std::strtod(text, &end);
            if (end == text || *end != '\0' || !(options->seconds > 0)) {
                std::fprintf(stderr, "korvid-rec: --seconds must be a number above 0\n");
                return 2;
            }
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "korvid-rec: unknown option %s (see --help)\n", arg.c_str());
            return 2;
        } else if (options->file.empty()) {
            options->file = arg;
        } else {
            std::fprintf(stderr, "korvid-rec: only one output file can be given\n");
            return 2;
        }
    }
    if (listSources)
        return ListSources(options->source);
    if (options->region && options->window != "root") {
        std::fprintf(stderr, "korvid-rec: --region and --window exclude each other\n");
        return 2;
    }
    if (options->file.empty()) {
        std::fprintf(stderr, "korvid-rec: no output file given (see --help)\n");
        return 2;
    }
    return kRecord;
}

}  // namespace tools
