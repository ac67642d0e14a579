// korvid-rec: records the screen, or one window, into an AVI file through the
// capture library's exported functions. This file is the recording: it turns the
// options (tools/korvid-rec/Options.h) into the library's capture options, runs the
// recording until it is stopped or fails, and shows its progress once a second.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>

#include "engine/korvid.h"
#include "platform/Utf8ToUtf16.h"
#include "platform/sync/NamedEvent.h"
#include "platform/sync/Thread.h"
#include "platform/x11/XDisplay.h"
#include "tools/korvid-rec/FrameCounter.h"
#include "tools/korvid-rec/Listings.h"
#include "tools/korvid-rec/NotifyWindow.h"
#include "tools/korvid-rec/Options.h"
#include "tools/korvid-rec/Report.h"

using namespace tools;

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

void OnSignal(int signal)
{
    g_stopSignal = signal;
}

// ControlThread is the library's platform::Thread handle; its exit code tells a
// recording stopped on request (0) from one that ended by itself (1).
bool ControlThreadEndedWith0(const CaptureContext& context)
{
    auto* control = static_cast<platform::Thread*>(context.ControlThread);
    return control && control->Join() && control->ExitCode() == 0;
}

// Runs the started recording until it is stopped (by a signal, after the given
// seconds when above 0, or from outside) or fails, showing its progress once a
// second when stderr is a terminal (the status line is then left open). Returns the
// exit status.
int RunUntilStopped(CaptureContext* context, NotifyWindow* notify, FrameCounter* counter,
                    double seconds, bool terminal)
{
    const auto start = std::chrono::steady_clock::now();
    auto nextStatus = start + std::chrono::seconds(1);
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto now = std::chrono::steady_clock::now();
        if (auto run = platform::NamedEvent::OpenExisting("MM2_REC_RUN"); run && run->State() == 0)
            ++counter->pauseEpoch;
        if (notify->ErrorPosted()) {
            StopRecording(context);
            if (terminal)
                std::fprintf(stderr, "\n");
            PrintError("recording failed");
            return 1;
        }
        if (__atomic_load_n(&context->State, __ATOMIC_ACQUIRE) == StateIdle) {  // stopped from outside, or ended by itself
            // A stop from outside (tavrec-ctl) ends the control thread with 0; a
            // recording that ended by itself, with or without a text, with 1.
            const bool stoppedOnRequest = ControlThreadEndedWith0(*context);
            StopRecording(context);
            if (!stoppedOnRequest) {
                if (terminal)
                    std::fprintf(stderr, "\n");
                PrintError("the recording ended by itself");
                return 1;
            }
            return 0;
        }
        const bool timeUp = seconds > 0 && std::chrono::duration<double>(now - start).count() >= seconds;
        if (g_stopSignal || timeUp) {
            if (!StopRecording(context)) {
                PrintError("the recording did not end cleanly");
                return 1;
            }
            return 0;
        }
        if (terminal && now >= nextStatus) {
            const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - start).count();
            std::fprintf(stderr, "\r%02lld:%02lld:%02lld  frames stored %llu  %s %llu ",
                         static_cast<long long>(elapsed / 3600), static_cast<long long>(elapsed / 60 % 60),
                         static_cast<long long>(elapsed % 60),
                         static_cast<unsigned long long>(counter->stored.load()), counter->GapName(),
                         static_cast<unsigned long long>(counter->dropped.load()));
            nextStatus += std::chrono::seconds(1);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    Options args;
    if (const int status = ParseOptions(argc, argv, &args); status != kRecord)
        return status;
    const std::string& window = args.window;
    const unsigned long long fps = args.fps;
    const std::string& file = args.file;

    CaptureOptions options{};
    if (file.size() >= sizeof options.FileName) {
        std::fprintf(stderr, "korvid-rec: the file name is longer than %zu bytes\n", sizeof options.FileName - 1);
        return 2;
    }
    std::strcpy(options.FileName, file.c_str());
    const std::u16string codecName = platform::Utf8ToUtf16(args.codec);
    if (codecName.size() >= 64) {
        std::fprintf(stderr, "korvid-rec: the codec description is longer than 63 characters\n");
        return 2;
    }
    std::memcpy(options.CodecName, codecName.data(), codecName.size() * sizeof(char16_t));

    // The library follows the same choice.
    const platform::ScreenSourceChoice source = ChooseSource(args.source);
    const bool portal = source.kind == platform::ScreenSourceKind::Portal;
    setenv("TAVREC_SCREEN_SOURCE", platform::ScreenSourceName(source.kind), 1);
    if (!args.portalTokenFile.empty())
        setenv("TAVREC_PORTAL_TOKEN_FILE", args.portalTokenFile.c_str(), 1);

    std::string error;
    auto display = platform::XDisplay::Open(&error);
    if (portal && window != "root") {
        std::fprintf(stderr, "korvid-rec: --window %s: the portal records what the desktop shares; only root\n",
                     window.c_str());
        return 2;
    }
    if (!display && !portal) {
        std::fprintf(stderr, "korvid-rec: cannot open the X display: %s\n", error.c_str());
        return 1;
    }
    if (portal && args.region) {
        std::fprintf(stderr, "korvid-rec: --region: the portal records what the desktop shares; no region\n");
        return 2;
    }
    if (args.region) {
        // A region partly or wholly off the screen is refused rather than clipped, so
        // the file never shows another rectangle than the one asked for.
        RectL screen{};
        if (!display->GetWindowRect(display->Root(), &screen)) {
            std::fprintf(stderr, "korvid-rec: cannot read the screen's size\n");
            return 1;
        }
        const long long right = static_cast<long long>(args.regionLeft) + args.regionWidth;
        const long long bottom = static_cast<long long>(args.regionTop) + args.regionHeight;
        if (args.regionLeft < screen.left || args.regionTop < screen.top || right > screen.right ||
            bottom > screen.bottom) {
            std::fprintf(stderr, "korvid-rec: --region %dx%d+%d+%d does not lie wholly on the %dx%d screen\n",
                         args.regionWidth, args.regionHeight, args.regionLeft, args.regionTop,
                         screen.right - screen.left, screen.bottom - screen.top);
            return 2;
        }
        options.CaptureWindow = display->Root();
        options.RegionLeft = args.regionLeft;
        options.RegionTop = args.regionTop;
        options.RegionWidth = args.regionWidth;
        options.RegionHeight = args.regionHeight;
    } else if (portal) {
        options.CaptureWindow = display ? display->Root() : 0;
    } else if (window == "root") {
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

    // Without an X display (the portal on a Wayland desktop without XWayland) errors
    // are seen when the recording ends by itself instead.
    NotifyWindow notify;
    if (display && !notify.Create()) {
        std::fprintf(stderr, "korvid-rec: cannot create a window for error messages\n");
        return 1;
    }
    options.NotifyWindow = notify.Id();
    options.VideoEnabled = 1;
    options.FramesPerSecond = static_cast<uint32_t>(fps);
    options.UseQuickMode = args.speedup ? 1 : 0;
    if (args.withAudio) {
        options.AudioEnabled = 1;
        std::strcpy(options.AudioDeviceName, args.audio.c_str());
        std::strcpy(options.AudioDeviceName2, args.audio2.c_str());
        options.AudioFormat = args.audioFormat;
    }

    FrameCounter counter;
    counter.fps = options.FramesPerSecond;
    counter.speedup = args.speedup;
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

    counter.started = std::chrono::steady_clock::now();
    if (!InitializeScreenCapture(&context)) {
        PrintError("cannot start recording");
        return 1;
    }
    // A start that fails has no file of its own left behind: the library takes away
    // the one its set-up made (a file that was there before is left).
    if (!StartRecording(&context)) {
        PrintError("cannot start recording");
        StopRecording(&context);
        return 1;
    }
    std::fprintf(stderr, "korvid-rec: recording %s%s to %s at %llu fps\n",
                 window == "root" ? "the screen" : window.c_str(), portal ? " through the desktop portal" : "",
                 options.FileName, fps);

    const bool terminal = isatty(STDERR_FILENO);
    const int exitCode = RunUntilStopped(&context, &notify, &counter, args.seconds, terminal);
    if (terminal)
        std::fprintf(stderr, "\n");
    PrintReport(options.FileName, counter);
    return exitCode;
}
