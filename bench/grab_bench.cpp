// grab_bench: the cost of screen grabs by ScreenGrabber, for grab-compare.sh.
//
//   grab_bench grab FRAMES [FPS] [--cursor] [--direct]
//                                            full-screen grabs paced at FPS (0: flat out),
//                                            with --cursor also reading and drawing the cursor,
//                                            with --direct into the grabber's own FrameBuffer();
//                                            prints "frames N cpu_ms C wall_ms W"
//   grab_bench animate                       a window that repaints 60 times a second until
//                                            SIGTERM, so the screen has moving content
//   grab_bench run CMD [ARGS...]             runs CMD and prints its "cpu_ms C" (user + system)
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/x11/CursorImage.h"
#include "platform/x11/ScreenGrabber.h"
#include "platform/x11/XDisplay.h"

namespace {

double Ms(const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; }

double CpuMs(const rusage& r) { return Ms(r.ru_utime) + Ms(r.ru_stime); }

double NowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

void SleepUntil(const timespec& t)
{
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
}

int Grab(int frames, double fps, bool cursor, bool direct)
{
    std::string error;
    auto display = platform::XDisplay::Open(&error);
    if (!display) {
        std::fprintf(stderr, "grab_bench: %s\n", error.c_str());
        return 1;
    }
    const int w = display->ScreenWidth(), h = display->ScreenHeight();
    auto grabber = platform::ScreenGrabber::Create(*display, w, h, &error);
    if (!grabber) {
        std::fprintf(stderr, "grab_bench: %s\n", error.c_str());
        return 1;
    }
    std::vector<uint8_t> own;
    size_t stride = static_cast<size_t>(w) * grabber->BitsPerPixel() / 8;
    uint8_t* pixels = nullptr;
    if (direct) {
        stride = grabber->FrameStride();
        pixels = grabber->FrameBuffer();
    } else {
        own.resize(stride * h);
        pixels = own.data();
    }
    platform::CursorReader reader(*display);
    platform::CursorImage image;

    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const double start = NowMs();
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    const long intervalNs = fps > 0 ? static_cast<long>(1e9 / fps) : 0;
    for (int i = 0; i < frames; ++i) {
        if (!grabber->Grab(0, 0, pixels, stride)) {
            std::fprintf(stderr, "grab_bench: %s\n", grabber->LastError().c_str());
            return 1;
        }
        if (cursor && reader.Read(&image))
            platform::DrawCursor(image, image.x - image.xhot, image.y - image.yhot, pixels, w, h, stride,
                                 grabber->BitsPerPixel());
        if (intervalNs) {
            next.tv_nsec += intervalNs;
            while (next.tv_nsec >= 1000000000L) {
                next.tv_nsec -= 1000000000L;
                ++next.tv_sec;
            }
            SleepUntil(next);
        }
    }
    getrusage(RUSAGE_SELF, &after);
    std::printf("frames %d cpu_ms %.1f wall_ms %.1f shm %d\n", frames, CpuMs(after) - CpuMs(before),
                NowMs() - start, grabber->UsesShm() ? 1 : 0);
    return 0;
}

volatile sig_atomic_t stopAnimation = 0;

int Animate()
{
    signal(SIGTERM, [](int) { stopAnimation = 1; });
    signal(SIGINT, [](int) { stopAnimation = 1; });
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "grab_bench: cannot connect to the X server\n");
        xcb_disconnect(c);
        return 1;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t values[] = {1};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 200, 150, 800, 600, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(c, window);
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, window, 0, nullptr);
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (uint32_t n = 0; !stopAnimation; ++n) {
        // Moving stripes of changing colour over the whole window.
        for (int stripe = 0; stripe < 20; ++stripe) {
            const uint32_t colour = (n * 2654435761u + stripe * 40503u) & 0xFFFFFF;
            xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &colour);
            const xcb_rectangle_t r = {static_cast<int16_t>((stripe * 40 + n * 7) % 800), 0, 40, 600};
            xcb_poly_fill_rectangle(c, window, gc, 1, &r);
        }
        free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        next.tv_nsec += 1000000000L / 60;
        if (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            ++next.tv_sec;
        }
        SleepUntil(next);
    }
    xcb_disconnect(c);
    return 0;
}

int RunCommand(char** argv)
{
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("grab_bench: fork");
        return 1;
    }
    if (pid == 0) {
        execvp(argv[0], argv);
        std::perror("grab_bench: exec");
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) < 0) {
        std::perror("grab_bench: wait4");
        return 1;
    }
    std::printf("cpu_ms %.1f\n", CpuMs(usage));
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

void Usage()
{
    std::fprintf(stderr, "usage: grab_bench grab FRAMES [FPS] [--cursor] [--direct] | animate | run CMD [ARGS...]\n");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        Usage();
        return 2;
    }
    const std::string mode = argv[1];
    if (mode == "grab" && argc >= 3) {
        const int frames = std::atoi(argv[2]);
        double fps = 30;
        bool cursor = false, direct = false;
        for (int i = 3; i < argc; ++i) {
            if (std::strcmp(argv[i], "--cursor") == 0)
                cursor = true;
            else if (std::strcmp(argv[i], "--direct") == 0)
                direct = true;
            else
                fps = std::atof(argv[i]);
        }
        if (frames <= 0) {
            Usage();
            return 2;
        }
        return Grab(frames, fps, cursor, direct);
    }
    if (mode == "animate")
        return Animate();
    if (mode == "run" && argc >= 3)
        return RunCommand(argv + 2);
    Usage();
    return 2;
}
