// korvid-rec: records the screen, or one window, into an AVI file through the
// capture library's exported functions.
#include <xcb/xcb.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>
#include <unistd.h>

#include "engine/korvid.h"
#include "platform/Utf8ToUtf16.h"
#include "platform/codec/CodecManager.h"
#include "platform/sync/NamedEvent.h"
#include "platform/sync/Thread.h"
#include "platform/x11/XDisplay.h"
#include "settings/AudioDevices.h"
#include "tools/AviStreamDurations.h"

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

void OnSignal(int signal)
{
    g_stopSignal = signal;
}

void PrintHelp()
{
    std::printf(
        "Usage: korvid-rec [OPTIONS] FILE.avi\n"
        "Records the screen or one window into FILE.avi (replaced if it exists).\n"
        "\n"
        "  --window root|under-pointer|ID  what to record: the whole screen (default), the\n"
        "                                  top-level window under the pointer at start, or\n"
        "                                  the X window with that id (decimal or 0x hex)\n"
        "  --fps N                         frames per second, 1 to 1000 (default 15)\n"
        "  --codec DESCRIPTION             video compressor, exactly as --list-codecs prints\n"
        "                                  it; any other text records uncompressed\n"
        "                                  (default \"Uncompress\")\n"
        "  --seconds S                     stop after S seconds of wall time (default: run\n"
        "                                  until Ctrl-C, SIGTERM, SIGHUP or 'tavrec-ctl stop')\n"
        "  --audio DEVICE                  also record sound from the capture device with\n"
        "                                  that description, exactly as --list-audio prints\n"
        "                                  it; \"\" (or a text no device has) records the\n"
        "                                  default source. Without --audio: no sound\n"
        "  --audio-format RATE:CHANNELS:BITS  PCM format of the sound, e.g. 44100:2:16\n"
        "                                  (default 22050:2:16; BITS 8 or 16)\n"
        "  --list-codecs                   print the compressor descriptions and exit\n"
        "  --list-audio                    print the capture devices, each followed by its\n"
        "                                  formats, and exit\n"
        "  --help                          show this text and exit\n"
        "\n"
        "While recording on a terminal, elapsed time, frames stored and frames dropped are\n"
        "shown once a second; at the end, how long picture and sound came out.\n"
        "'tavrec-ctl pause|resume|stop' drives a running recording.\n"
        "Exit status: 0 when the recording was stopped and its file completed, 1 on failure\n"
        "or when the recording ended by itself (the library's message is printed), 2 for\n"
        "bad arguments.\n");
}

int ListCodecs()
{
    platform::CodecInfo info;
    for (int index = 0; platform::CodecManager::Info(0, index, &info); ++index) {
        std::string text;
        for (char16_t c : info.description)
            text += c < 0x80 ? static_cast<char>(c) : '?';
        std::printf("%s\n", text.c_str());
    }
    return 0;
}

int ListAudio()
{
    const settings::AudioDeviceList devices = settings::EnumerateAudioDevices();
    if (devices.empty()) {
        std::fprintf(stderr, "korvid-rec: no sound capture device (is a PulseAudio server running?)\n");
        return 1;
    }
    for (const auto& device : devices) {
        std::printf("%s\n", device.Description.c_str());
        for (const auto& format : device.Formats)
            std::printf("    %s\n", settings::FormatText(format).c_str());
    }
    return 0;
}

bool ParseUnsigned(const char* text, unsigned long long* value)
{
    errno = 0;
    char* end = nullptr;
    *value = std::strtoull(text, &end, 0);
    return errno == 0 && end != text && *end == '\0' && text[0] != '-';
}

// An unmapped window of our own that receives the library's CaptureErrorMessage.
class NotifyWindow {
public:
    bool Create()
    {
        connection_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection_))
            return false;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        window_ = xcb_generate_id(connection_);
        xcb_create_window(connection_, 0, window_, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            connection_,
            xcb_intern_atom(connection_, 0, std::strlen(platform::kMessageAtomName), platform::kMessageAtomName),
            nullptr);
        if (!atom)
            return false;
        messageAtom_ = atom->atom;
        std::free(atom);
        xcb_flush(connection_);
        return true;
    }

    ~NotifyWindow()
    {
        if (connection_) {
            if (window_)
                xcb_destroy_window(connection_, window_);
            xcb_disconnect(connection_);
        }
    }

    // True once a CaptureErrorMessage has arrived.
    bool ErrorPosted()
    {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
                if (message->type == messageAtom_ &&
                    message->data.data32[0] == static_cast<uint32_t>(CaptureErrorMessage))
                    errorPosted_ = true;
            }
            std::free(event);
        }
        return errorPosted_;
    }

    xcb_window_t Id() const { return window_; }

private:
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t window_ = 0;
    xcb_atom_t messageAtom_ = 0;
    bool errorPosted_ = false;
};

// Counts the frames the video thread builds, and the slots it skipped between two
// frames while the recording was not paused.
struct FrameCounter {
    uint32_t fps = 15;
    std::atomic<uint64_t> stored{0};
    std::atomic<uint64_t> dropped{0};
    std::atomic<uint32_t> pauseEpoch{0};  // bumped whenever the recording is seen paused
    std::chrono::steady_clock::time_point last{};
    uint32_t lastEpoch = 0;

    static void OnFrame(void* object, FrameSurface*, int32_t, int32_t, bool*)
    {
        auto* self = static_cast<FrameCounter*>(object);
        const auto now = std::chrono::steady_clock::now();
        const uint32_t epoch = self->pauseEpoch.load();
        if (self->stored.load() > 0 && epoch == self->lastEpoch) {
            const double gapMs = std::chrono::duration<double, std::milli>(now - self->last).count();
            const auto slots = static_cast<long long>(gapMs * self->fps / 1000.0 + 0.5);
            if (slots > 1)
                self->dropped += static_cast<uint64_t>(slots - 1);
        }
        self->last = now;
        self->lastEpoch = epoch;
        ++self->stored;
    }
};

// ControlThread is the library's platform::Thread handle; its exit code tells a
// recording stopped on request (0) from one that ended by itself (1).
bool ControlThreadEndedWith0(const CaptureContext& context)
{
    auto* control = static_cast<platform::Thread*>(context.ControlThread);
    return control && control->Join() && control->ExitCode() == 0;
}

void PrintError(const char* what)
{
    int32_t capacity = 0;
    std::fprintf(stderr, "korvid-rec: %s: %s\n", what, GetMyLastError(&capacity));
}

// How long picture and sound came out, from the finished file's stream headers.
void PrintDurations(const std::string& file)
{
    std::vector<tools::StreamDuration> streams;
    std::string error;
    if (!tools::ReadStreamDurations(file, &streams, &error)) {
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

int main(int argc, char** argv)
{
    std::string window = "root";
    unsigned long long fps = 15;
    std::string codec = "Uncompress";
    double seconds = 0;
    std::string file;
    bool withAudio = false;
    std::string audio;
    WaveFormatEx audioFormat = settings::PcmFormat(22050, 2, 16);

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
        } else if (arg == "--audio") {
            audio = value("--audio");
            withAudio = true;
            if (audio.size() > 63) {
                std::fprintf(stderr, "korvid-rec: --audio: a device description has at most 63 bytes\n");
                return 2;
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
            audioFormat = settings::PcmFormat(rate, static_cast<uint16_t>(channels), static_cast<uint16_t>(bits));
        } else if (arg == "--window") {
            window = value("--window");
        } else if (arg == "--fps") {
            if (!ParseUnsigned(value("--fps"), &fps) || fps < 1 || fps > 1000) {
                std::fprintf(stderr, "korvid-rec: --fps must be a whole number from 1 to 1000\n");
                return 2;
            }
        } else if (arg == "--codec") {
            codec = value("--codec");
        } else if (arg == "--seconds") {
            const char* text = value("--seconds");
            char* end = nullptr;
            seconds = std::strtod(text, &end);
            if (end == text || *end != '\0' || !(seconds > 0)) {
                std::fprintf(stderr, "korvid-rec: --seconds must be a number above 0\n");
                return 2;
            }
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "korvid-rec: unknown option %s (see --help)\n", arg.c_str());
            return 2;
        } else if (file.empty()) {
            file = arg;
        } else {
            std::fprintf(stderr, "korvid-rec: only one output file can be given\n");
            return 2;
        }
    }
    if (file.empty()) {
        std::fprintf(stderr, "korvid-rec: no output file given (see --help)\n");
        return 2;
    }

    CaptureOptions options{};
    if (file.size() >= sizeof options.FileName) {
        std::fprintf(stderr, "korvid-rec: the file name is longer than %zu bytes\n", sizeof options.FileName - 1);
        return 2;
    }
    std::strcpy(options.FileName, file.c_str());
    const std::u16string codecName = platform::Utf8ToUtf16(codec);
    if (codecName.size() >= 64) {
        std::fprintf(stderr, "korvid-rec: the codec description is longer than 63 characters\n");
        return 2;
    }
    std::memcpy(options.CodecName, codecName.data(), codecName.size() * sizeof(char16_t));

    std::string error;
    auto display = platform::XDisplay::Open(&error);
    if (!display) {
        std::fprintf(stderr, "korvid-rec: cannot open the X display: %s\n", error.c_str());
        return 1;
    }
    if (window == "root") {
        options.CaptureWindow = display->Root();
    } else if (window == "under-pointer") {
        options.CaptureWindow = display->WindowUnderPointer();
    } else {
        unsigned long long id = 0;
        if (!ParseUnsigned(window.c_str(), &id) || id == 0 || id > 0xFFFFFFFFull ||
            !display->WindowExists(static_cast<uint32_t>(id))) {
            std::fprintf(stderr, "korvid-rec: --window %s: no such window\n", window.c_str());
            return 2;
        }
        options.CaptureWindow = static_cast<uint32_t>(id);
    }

    NotifyWindow notify;
    if (!notify.Create()) {
        std::fprintf(stderr, "korvid-rec: cannot create a window for error messages\n");
        return 1;
    }
    options.NotifyWindow = notify.Id();
    options.VideoEnabled = 1;
    options.FramesPerSecond = static_cast<uint32_t>(fps);
    if (withAudio) {
        options.AudioEnabled = 1;
        std::strcpy(options.AudioDeviceName, audio.c_str());
        options.AudioFormat = audioFormat;
    }

    FrameCounter counter;
    counter.fps = options.FramesPerSecond;
    CaptureContext context{};
    context.Options = &options;
    context.OnFrame = OnFrameMethod{&FrameCounter::OnFrame, &counter};

    struct sigaction action{};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);  // the terminal went away: finish the file too
    // A file that outgrows the size limit fails its write (reported by the library)
    // instead of killing the recorder before it can complete the file.
    signal(SIGXFSZ, SIG_IGN);

    if (!InitializeScreenCapture(&context)) {
        PrintError("cannot start recording");
        return 1;
    }
    StartRecording(&context);
    std::fprintf(stderr, "korvid-rec: recording %s to %s at %llu fps\n",
                 window == "root" ? "the screen" : window.c_str(), options.FileName, fps);

    const bool terminal = isatty(STDERR_FILENO);
    const auto start = std::chrono::steady_clock::now();
    auto nextStatus = start + std::chrono::seconds(1);
    int exitCode = 0;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto now = std::chrono::steady_clock::now();
        if (auto run = platform::NamedEvent::OpenExisting("MM2_REC_RUN"); run && run->State() == 0)
            ++counter.pauseEpoch;
        if (notify.ErrorPosted()) {
            StopRecording(&context);
            if (terminal)
                std::fprintf(stderr, "\n");
            PrintError("recording failed");
            exitCode = 1;
            break;
        }
        if (__atomic_load_n(&context.State, __ATOMIC_ACQUIRE) == StateIdle) {  // stopped from outside, or ended by itself
            // A stop from outside (tavrec-ctl) ends the control thread with 0; a
            // recording that ended by itself, with or without a text, with 1.
            const bool stoppedOnRequest = ControlThreadEndedWith0(context);
            StopRecording(&context);
            if (!stoppedOnRequest) {
                if (terminal)
                    std::fprintf(stderr, "\n");
                PrintError("the recording ended by itself");
                exitCode = 1;
            }
            break;
        }
        const bool timeUp = seconds > 0 && std::chrono::duration<double>(now - start).count() >= seconds;
        if (g_stopSignal || timeUp) {
            if (!StopRecording(&context)) {
                PrintError("the recording did not end cleanly");
                exitCode = 1;
            }
            break;
        }
        if (terminal && now >= nextStatus) {
            const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - start).count();
            std::fprintf(stderr, "\r%02lld:%02lld:%02lld  frames stored %llu  dropped %llu ",
                         static_cast<long long>(elapsed / 3600), static_cast<long long>(elapsed / 60 % 60),
                         static_cast<long long>(elapsed % 60),
                         static_cast<unsigned long long>(counter.stored.load()),
                         static_cast<unsigned long long>(counter.dropped.load()));
            nextStatus += std::chrono::seconds(1);
        }
    }
    if (terminal)
        std::fprintf(stderr, "\n");
    std::fprintf(stderr, "korvid-rec: %s: %llu frames stored, %llu dropped\n", options.FileName,
                 static_cast<unsigned long long>(counter.stored.load()),
                 static_cast<unsigned long long>(counter.dropped.load()));
    PrintDurations(options.FileName);
    return exitCode;
}
