// scene_painter: the moving content x11grab-compare.sh records.
//
//   scene_painter motion RATE
//     A full-screen window repainted RATE times a second: a pattern scrolled one pixel
//     to the left each time. The pattern's red channel steps by 4 from one column to
//     the next, so every pixel of the screen changes with every repaint; green and
//     blue hold pseudo-random 16x16 blocks so that the frames are not trivial to
//     compress.
//   scene_painter terminal WIDTHxHEIGHT+X+Y
//     A window that shows the keys typed into it the way a terminal does: characters
//     at a block cursor, Return starts a new line, the text scrolls up a line at the
//     bottom.
//
// Prints the window id on stdout once the window is mapped, then runs until killed.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: scene_painter motion RATE | scene_painter terminal WIDTHxHEIGHT+X+Y\n");
    return 2;
}

void WaitMapped(Display* display, Window window)
{
    XEvent event;
    do
        XWindowEvent(display, window, StructureNotifyMask, &event);
    while (event.type != MapNotify);
}

void AddNanoseconds(timespec* t, long ns)
{
    t->tv_nsec += ns;
    while (t->tv_nsec >= 1000000000L) {
        t->tv_nsec -= 1000000000L;
        ++t->tv_sec;
    }
}

int Motion(Display* display, int rate)
{
    const int screen = DefaultScreen(display);
    const int width = DisplayWidth(display, screen);
    const int height = DisplayHeight(display, screen);
    const int depth = DefaultDepth(display, screen);
    Visual* visual = DefaultVisual(display, screen);
    const Window root = RootWindow(display, screen);

    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;  // above the panel, no frame: the whole screen
    attributes.background_pixmap = None;
    attributes.event_mask = StructureNotifyMask;
    const Window window = XCreateWindow(display, root, 0, 0, width, height, 0, depth, InputOutput, visual,
                                        CWOverrideRedirect | CWBackPixmap | CWEventMask, &attributes);

    // The pattern, drawn once into a pixmap the server copies from on every repaint.
    XImage* image = XCreateImage(display, visual, depth, ZPixmap, 0, nullptr, width, height, 32, 0);
    if (!image || image->bits_per_pixel != 32) {
        std::fprintf(stderr, "scene_painter: needs a 24- or 32-bit screen\n");
        return 1;
    }
    std::vector<char> pixels(size_t(image->bytes_per_line) * height);
    image->data = pixels.data();
    uint32_t seed = 12345;
    std::vector<uint32_t> blocks(size_t((width + 15) / 16) * ((height + 15) / 16));
    for (auto& b : blocks) {
        seed = seed * 1664525u + 1013904223u;
        b = seed >> 8;
    }
    const int blocksPerRow = (width + 15) / 16;
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(pixels.data() + size_t(y) * image->bytes_per_line);
        for (int x = 0; x < width; ++x) {
            const uint32_t block = blocks[size_t(y / 16) * blocksPerRow + x / 16];
            const uint32_t red = (uint32_t(x) * 4u) & 0xFFu;
            const uint32_t green = ((block >> 8) + uint32_t(y)) & 0xFFu;
            const uint32_t blue = block & 0xFFu;
            row[x] = (red << 16) | (green << 8) | blue;
        }
    }
    const Pixmap pattern = XCreatePixmap(display, window, width, height, depth);
    const GC gc = XCreateGC(display, window, 0, nullptr);
    XPutImage(display, pattern, gc, image, 0, 0, 0, 0, width, height);
    image->data = nullptr;
    XDestroyImage(image);

    XMapRaised(display, window);
    WaitMapped(display, window);
    std::printf("0x%lx\n", window);
    std::fflush(stdout);

    const long period = 1000000000L / rate;
    timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (long frame = 0;; ++frame) {
        // Column (frame mod width) of the pattern comes to the left edge.
        const int shift = int(frame % width);
        XCopyArea(display, pattern, window, gc, shift, 0, width - shift, height, 0, 0);
        if (shift > 0)
            XCopyArea(display, pattern, window, gc, 0, 0, shift, height, width - shift, 0);
        XSync(display, False);  // the repaint is on the screen before the next one is due
        AddNanoseconds(&next, period);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
        }
    }
}

class Terminal {
public:
    Terminal(Display* display, Window window, GC gc, XFontStruct* font, int width, int height)
        : display_(display), window_(window), gc_(gc), font_(font), width_(width), height_(height),
          lineHeight_(font->ascent + font->descent), charWidth_(font->max_bounds.width),
          rows_(height / lineHeight_), columns_(width / charWidth_ - 1), lines_(1)
    {
    }

    void Redraw()
    {
        XClearWindow(display_, window_);
        for (size_t i = 0; i < lines_.size(); ++i)
            DrawText(int(i), 0, lines_[i]);
        DrawCursor(true);
    }

    void Type(char c)
    {
        DrawCursor(false);
        if (c == '\r' || c == '\n' || int(lines_.back().size()) >= columns_) {
            NewLine();
            if (c == '\r' || c == '\n') {
                DrawCursor(true);
                return;
            }
        }
        if (c == '\b') {
            if (!lines_.back().empty())
                lines_.back().pop_back();
        } else if (c >= ' ') {
            DrawText(int(lines_.size()) - 1, int(lines_.back().size()), std::string(1, c));
            lines_.back().push_back(c);
        }
        DrawCursor(true);
    }

private:
    void NewLine()
    {
        if (int(lines_.size()) == rows_) {
            // Scroll the text up one line, as a terminal does.
            lines_.pop_front();
            XCopyArea(display_, window_, window_, gc_, 0, lineHeight_, width_, (rows_ - 1) * lineHeight_, 0, 0);
            XClearArea(display_, window_, 0, (rows_ - 1) * lineHeight_, width_, height_ - (rows_ - 1) * lineHeight_,
                       False);
        }
        lines_.emplace_back();
    }

    void DrawText(int row, int column, const std::string& text)
    {
        XDrawImageString(display_, window_, gc_, column * charWidth_, row * lineHeight_ + font_->ascent, text.data(),
                         int(text.size()));
    }

    void DrawCursor(bool on)
    {
        const int row = int(lines_.size()) - 1;
        const int column = int(lines_.back().size());
        XSetFunction(display_, gc_, GXinvert);
        if (on != cursorShown_)
            XFillRectangle(display_, window_, gc_, column * charWidth_, row * lineHeight_, charWidth_, lineHeight_);
        XSetFunction(display_, gc_, GXcopy);
        cursorShown_ = on;
        XFlush(display_);
    }

    Display* display_;
    Window window_;
    GC gc_;
    XFontStruct* font_;
    int width_, height_, lineHeight_, charWidth_, rows_, columns_;
    std::deque<std::string> lines_;
    bool cursorShown_ = false;
};

int TerminalWindow(Display* display, const char* geometry)
{
    int x = 0, y = 0;
    unsigned width = 0, height = 0;
    const int given = XParseGeometry(geometry, &x, &y, &width, &height);
    if (!(given & WidthValue) || !(given & HeightValue) || width == 0 || height == 0)
        return Usage();
    const int screen = DefaultScreen(display);
    XFontStruct* font = XLoadQueryFont(display, "9x15");
    if (!font)
        font = XLoadQueryFont(display, "fixed");
    if (!font) {
        std::fprintf(stderr, "scene_painter: no font\n");
        return 1;
    }
    const unsigned long black = BlackPixel(display, screen), white = WhitePixel(display, screen);
    const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), x, y, width, height, 1, white, black);
    XSelectInput(display, window, ExposureMask | KeyPressMask | StructureNotifyMask);
    XStoreName(display, window, "scene terminal");
    XSizeHints hints{};
    hints.flags = USPosition | USSize;
    hints.x = x;
    hints.y = y;
    hints.width = int(width);
    hints.height = int(height);
    XSetWMNormalHints(display, window, &hints);
    const GC gc = XCreateGC(display, window, 0, nullptr);
    XSetFont(display, gc, font->fid);
    XSetForeground(display, gc, white);
    XSetBackground(display, gc, black);

    XMapRaised(display, window);
    WaitMapped(display, window);
    std::printf("0x%lx\n", window);
    std::fflush(stdout);

    Terminal terminal(display, window, gc, font, int(width), int(height));
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == Expose && event.xexpose.count == 0) {
            terminal.Redraw();
        } else if (event.type == KeyPress) {
            char text[8];
            KeySym key;
            const int n = XLookupString(&event.xkey, text, sizeof text, &key, nullptr);
            for (int i = 0; i < n; ++i)
                terminal.Type(text[i]);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return Usage();
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "scene_painter: cannot open the display\n");
        return 1;
    }
    if (std::strcmp(argv[1], "motion") == 0) {
        const int rate = std::atoi(argv[2]);
        if (rate < 1 || rate > 1000)
            return Usage();
        return Motion(display, rate);
    }
    if (std::strcmp(argv[1], "terminal") == 0)
        return TerminalWindow(display, argv[2]);
    return Usage();
}
