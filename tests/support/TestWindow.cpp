// links: tavrec_platform_x11
#include "tests/support/TestWindow.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <bit>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace testsupport {

namespace {

template <typename T>
struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter<T>>;

std::string ErrorText(const char* what, const xcb_generic_error_t* e)
{
    char text[200];
    std::snprintf(text, sizeof text, "%s: X error %u, major %u, minor %u, resource 0x%08x, sequence %u", what,
                  e->error_code, e->major_code, e->minor_code, e->resource_id, e->full_sequence);
    return text;
}

// The picture: 8 colour bars (white, yellow, cyan, green, magenta, red, blue, black);
// inside each bar 8 shades chosen by (3x + 5y + frame) mod 8, so that any shift by a
// pixel changes the colour. Across the top-left, 16 cells of 8 x 8 pixels show the
// frame number's bits (white = 1). Every channel is a multiple of 8, so each colour
// survives 5-bit channels exactly.
constexpr int kPaletteSize = 65;
constexpr int kWhite = 64;
constexpr std::array<int, 8> kBars = {7, 6, 3, 2, 5, 4, 1, 0};  // RGB bits of each bar
constexpr int kCounterCell = 8;
constexpr int kCounterBits = 16;

uint32_t PaletteColor(int index)
{
    if (index == kWhite)
        return 0xF8F8F8;
    const int code = index / 8;
    const uint32_t shade = static_cast<uint32_t>(index % 8) * 8;
    const uint32_t r = ((code & 4) ? 0xC0 : 0) + shade;
    const uint32_t g = ((code & 2) ? 0xC0 : 0) + shade;
    const uint32_t b = ((code & 1) ? 0xC0 : 0) + shade;
    return r << 16 | g << 8 | b;
}

int PatternIndex(int x, int y, uint32_t frame, int width)
{
    if (y < kCounterCell && x < kCounterCell * kCounterBits)
        return (frame >> (x / kCounterCell)) & 1 ? kWhite : 0;
    const int bar = static_cast<int>(static_cast<int64_t>(x) * 8 / width);
    const int shade = static_cast<int>((static_cast<uint32_t>(x) * 3 + static_cast<uint32_t>(y) * 5 + frame) & 7);
    return kBars[bar] * 8 + shade;
}

// An 8-bit channel placed into a visual's mask, its bits repeated when the mask is wider.
uint32_t PlaceChannel(uint32_t v8, uint32_t mask)
{
    if (mask == 0)
        return 0;
    const int shift = std::countr_zero(mask);
    const int bits = std::popcount(mask);
    uint32_t v = 0;
    if (bits <= 8) {
        v = v8 >> (8 - bits);
    } else {
        for (int pos = bits - 8; pos > -8; pos -= 8)
            v |= pos >= 0 ? v8 << pos : v8 >> -pos;
    }
    return (v << shift) & mask;
}

bool TestCursorMask(int x, int y) { return x + y <= 24; }
bool TestCursorSource(int x, int y) { return ((x / 2 + y / 3) & 1) != 0; }
constexpr uint16_t kCursorFore[3] = {0xFFFF, 0x8080, 0x0000};
constexpr uint16_t kCursorBack[3] = {0x0000, 0x4040, 0xFFFF};

}  // namespace

struct TestWindow::Impl {
    xcb_connection_t* conn = nullptr;
    xcb_screen_t* screen = nullptr;
    xcb_window_t window = 0;
    xcb_gcontext_t gc = 0;
    xcb_colormap_t colormap = 0;  // own colormap of an ARGB window
    xcb_visualid_t visualId = 0;
    int depth = 0;
    uint32_t alphaBits = 0;
    xcb_atom_t messageAtom = 0;
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    int scanlinePad = 32;
    bool trueColor = false;
    uint32_t redMask = 0, greenMask = 0, blueMask = 0;
    std::array<uint32_t, kPaletteSize> pixels{};      // server pixel value of each palette entry
    std::array<uint32_t, kPaletteSize> frameValues{};  // what a grab holds for it
    std::vector<uint8_t> image;
    std::thread events;

    mutable std::mutex mutex;  // guards everything below and serialises painting
    std::condition_variable changed;
    uint32_t frame = 0;
    bool mapped = false;
    bool gone = false;  // DestroyNotify seen or the connection broke
    std::deque<TestMessage> messages;
    std::string lastError;

    ~Impl()
    {
        if (conn && colormap)
            xcb_free_colormap(conn, colormap);
        if (conn)
            xcb_disconnect(conn);
    }

    void SetError(std::string text)
    {
        std::lock_guard lock(mutex);
        lastError = std::move(text);
    }

    size_t Stride() const
    {
        const size_t bits = static_cast<size_t>(width) * bitsPerPixel;
        return (bits + scanlinePad - 1) / scanlinePad * scanlinePad / 8;
    }

    bool Sync()
    {
        xcb_generic_error_t* e = nullptr;
        Reply<xcb_get_input_focus_reply_t> r(xcb_get_input_focus_reply(conn, xcb_get_input_focus(conn), &e));
        std::free(e);
        return r != nullptr;
    }

    bool SetupColors();
    void PaintLocked();
    void EventLoop();
    bool FramePosition(int* x, int* y);
};

bool TestWindow::Impl::SetupColors()
{
    const xcb_visualtype_t* visual = nullptr;
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem && !visual; xcb_depth_next(&d)) {
        if (d.data->depth != depth)
            continue;
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
            const bool wanted = depth == screen->root_depth ? v.data->visual_id == screen->root_visual
                                                            : v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR;
            if (wanted) {
                visual = v.data;
                break;
            }
        }
    }
    if (!visual) {
        lastError = "no visual of depth " + std::to_string(depth);
        return false;
    }
    visualId = visual->visual_id;
    if (depth == 32)
        alphaBits = 0x80000000u & ~(visual->red_mask | visual->green_mask | visual->blue_mask);
    trueColor = visual->_class == XCB_VISUAL_CLASS_TRUE_COLOR || visual->_class == XCB_VISUAL_CLASS_DIRECT_COLOR;
    redMask = visual->red_mask;
    greenMask = visual->green_mask;
    blueMask = visual->blue_mask;
    for (int i = 0; i < kPaletteSize; ++i) {
        const uint32_t c = PaletteColor(i);
        const uint32_t r = c >> 16, g = (c >> 8) & 0xff, b = c & 0xff;
        if (trueColor) {
            pixels[i] = PlaceChannel(r, redMask) | PlaceChannel(g, greenMask) | PlaceChannel(b, blueMask) | alphaBits;
            frameValues[i] = bitsPerPixel == 16 ? ((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3)) : c;
            continue;
        }
        xcb_generic_error_t* e = nullptr;
        Reply<xcb_alloc_color_reply_t> reply(xcb_alloc_color_reply(
            conn, xcb_alloc_color(conn, screen->default_colormap, r * 257, g * 257, b * 257), &e));
        if (!reply) {
            lastError = e ? ErrorText("AllocColor", e) : "AllocColor: no reply";
            std::free(e);
            return false;
        }
        pixels[i] = reply->pixel;
        frameValues[i] = reply->pixel;
    }
    return true;
}

// Builds the picture of the current frame and sends it; the caller holds the mutex.
void TestWindow::Impl::PaintLocked()
{
    const size_t stride = Stride();
    const int bytes = bitsPerPixel / 8;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = image.data() + y * stride;
        for (int x = 0; x < width; ++x) {
            const uint32_t p = pixels[PatternIndex(x, y, frame, width)];
            std::memcpy(row + x * bytes, &p, bytes);  // the server takes LSB-first images here
        }
    }
    // Strips that fit into one request.
    const size_t maxBytes = static_cast<size_t>(xcb_get_maximum_request_length(conn)) * 4 - 64;
    const int rowsPerStrip = static_cast<int>(std::max<size_t>(1, maxBytes / stride));
    for (int y = 0; y < height; y += rowsPerStrip) {
        const int rows = std::min(rowsPerStrip, height - y);
        xcb_put_image(conn, XCB_IMAGE_FORMAT_Z_PIXMAP, window, gc, width, rows, 0, y, 0, depth,
                      static_cast<uint32_t>(stride * rows), image.data() + y * stride);
    }
    xcb_flush(conn);
}

void TestWindow::Impl::EventLoop()
{
    for (;;) {
        Reply<xcb_generic_event_t> event(xcb_wait_for_event(conn));
        if (!event) {
            std::lock_guard lock(mutex);
            gone = true;
            if (lastError.empty())
                lastError = "the X connection broke";
            changed.notify_all();
            return;
        }
        const uint8_t type = event->response_type & 0x7f;
        std::unique_lock lock(mutex);
        switch (type) {
        case 0:
            lastError = ErrorText("request", reinterpret_cast<xcb_generic_error_t*>(event.get()));
            break;
        case XCB_EXPOSE:
            if (reinterpret_cast<xcb_expose_event_t*>(event.get())->count == 0 && !gone)
                PaintLocked();
            break;
        case XCB_MAP_NOTIFY:
            mapped = true;
            break;
        case XCB_UNMAP_NOTIFY:
            mapped = false;
            break;
        case XCB_CLIENT_MESSAGE: {
            auto* m = reinterpret_cast<xcb_client_message_event_t*>(event.get());
            if (m->type == messageAtom && m->format == 32)
                messages.push_back(TestMessage{m->data.data32[0], static_cast<int32_t>(m->data.data32[1]),
                                               static_cast<int32_t>(m->data.data32[2])});
            break;
        }
        case XCB_DESTROY_NOTIFY:
            if (reinterpret_cast<xcb_destroy_notify_event_t*>(event.get())->window == window) {
                gone = true;
                changed.notify_all();
                return;
            }
            break;
        default:
            break;
        }
        changed.notify_all();
    }
}

// Position of the top-level window holding ours, in root coordinates.
bool TestWindow::Impl::FramePosition(int* x, int* y)
{
    xcb_window_t current = window;
    for (;;) {
        Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(conn, xcb_query_tree(conn, current), nullptr));
        if (!tree)
            return false;
        if (tree->parent == screen->root)
            break;
        current = tree->parent;
    }
    Reply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(conn, xcb_get_geometry(conn, current), nullptr));
    if (!g)
        return false;
    *x = g->x;
    *y = g->y;
    return true;
}

std::unique_ptr<TestWindow> TestWindow::Create(const TestWindowOptions& options, std::string* error)
{
    std::string ignored;
    std::string& err = error ? *error : ignored;
    if (options.width <= 0 || options.height <= 0) {
        err = "invalid test window size";
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    int screenNumber = 0;
    impl->conn = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(impl->conn)) {
        err = "cannot connect to the X server";
        return nullptr;
    }
    const xcb_setup_t* setup = xcb_get_setup(impl->conn);
    auto it = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&it);
    impl->screen = it.data;
    for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
        if (f.data->depth == impl->screen->root_depth) {
            impl->bitsPerPixel = f.data->bits_per_pixel;
            impl->scanlinePad = f.data->scanline_pad;
        }
    }
    impl->width = options.width;
    impl->height = options.height;
    impl->depth = impl->screen->root_depth;
    if (options.argbVisual) {
        if (impl->bitsPerPixel != 32) {
            err = "an ARGB test window needs a screen of 32 bits per pixel";
            return nullptr;
        }
        impl->depth = 32;
    }
    if (!impl->SetupColors()) {
        err = impl->lastError;
        return nullptr;
    }
    impl->image.resize(impl->Stride() * impl->height);

    const char* atomName = platform::kMessageAtomName;
    Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        impl->conn, xcb_intern_atom(impl->conn, 0, std::strlen(atomName), atomName), nullptr));
    if (!atom) {
        err = "InternAtom failed";
        return nullptr;
    }
    impl->messageAtom = atom->atom;

    xcb_connection_t* c = impl->conn;
    impl->window = xcb_generate_id(c);
    // No background: the window shows only what it paints, never a cleared flash.
    uint32_t mask = XCB_CW_BACK_PIXMAP | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK;
    std::vector<uint32_t> values = {XCB_BACK_PIXMAP_NONE, impl->pixels[0], options.overrideRedirect ? 1u : 0u,
                                    XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
    if (impl->depth != impl->screen->root_depth) {
        // A visual other than the root's needs a colormap of its own.
        impl->colormap = xcb_generate_id(c);
        xcb_create_colormap(c, XCB_COLORMAP_ALLOC_NONE, impl->colormap, impl->screen->root, impl->visualId);
        mask |= XCB_CW_COLORMAP;
        values.push_back(impl->colormap);
    }
    xcb_generic_error_t* e = xcb_request_check(
        c, xcb_create_window_checked(c, static_cast<uint8_t>(impl->depth), impl->window, impl->screen->root,
                                     options.x, options.y, options.width, options.height, options.borderWidth,
                                     XCB_WINDOW_CLASS_INPUT_OUTPUT, impl->visualId, mask, values.data()));
    if (e) {
        err = ErrorText("CreateWindow", e);
        std::free(e);
        return nullptr;
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, impl->window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        options.title.size(), options.title.data());
    static const char wmClass[] = "tavrec-test\0TavrecTest";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, impl->window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        sizeof wmClass, wmClass);
    // WM_NORMAL_HINTS with a user-given position and size, so the window manager keeps
    // them instead of placing the window itself; the size is fixed.
    uint32_t hints[18] = {};
    hints[0] = 1 | 2 | 16 | 32;  // USPosition, USSize, PMinSize, PMaxSize
    hints[1] = static_cast<uint32_t>(options.x);
    hints[2] = static_cast<uint32_t>(options.y);
    hints[3] = static_cast<uint32_t>(options.width);
    hints[4] = static_cast<uint32_t>(options.height);
    hints[5] = hints[7] = static_cast<uint32_t>(options.width);
    hints[6] = hints[8] = static_cast<uint32_t>(options.height);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, impl->window, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32,
                        18, hints);
    impl->gc = xcb_generate_id(c);
    xcb_create_gc(c, impl->gc, impl->window, 0, nullptr);

    Impl* raw = impl.get();
    impl->events = std::thread([raw] { raw->EventLoop(); });
    std::unique_ptr<TestWindow> window(new TestWindow(std::move(impl)));
    xcb_map_window(c, raw->window);
    xcb_flush(c);

    // Viewable: mapped and, when managed, inside a mapped frame.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        Reply<xcb_get_window_attributes_reply_t> a(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, raw->window), nullptr));
        if (a && a->map_state == XCB_MAP_STATE_VIEWABLE)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            err = "the test window did not become viewable";
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!options.overrideRedirect && !window->MoveTo(options.x, options.y)) {
        err = "the window manager did not put the test window at its place: " + window->LastError();
        return nullptr;
    }
    if (!window->Paint(0)) {
        err = window->LastError();
        return nullptr;
    }
    return window;
}

TestWindow::TestWindow(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TestWindow::~TestWindow()
{
    Destroy();
}

platform::WindowId TestWindow::Id() const { return impl_->window; }
int TestWindow::Width() const { return impl_->width; }
int TestWindow::Height() const { return impl_->height; }
int TestWindow::BitsPerPixel() const { return impl_->bitsPerPixel; }

std::string TestWindow::LastError() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->lastError;
}

bool TestWindow::ClientOrigin(int* x, int* y)
{
    Reply<xcb_translate_coordinates_reply_t> r(xcb_translate_coordinates_reply(
        impl_->conn, xcb_translate_coordinates(impl_->conn, impl_->window, impl_->screen->root, 0, 0), nullptr));
    if (!r)
        return false;
    *x = r->dst_x;
    *y = r->dst_y;
    return true;
}

platform::WindowId TestWindow::Frame()
{
    xcb_window_t current = impl_->window;
    for (;;) {
        Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(impl_->conn, xcb_query_tree(impl_->conn, current), nullptr));
        if (!tree)
            return 0;
        if (tree->parent == impl_->screen->root)
            return current;
        current = tree->parent;
    }
}

bool TestWindow::Paint(uint32_t frame)
{
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->gone)
            return false;
        impl_->frame = frame;
        impl_->PaintLocked();
    }
    return impl_->Sync();
}

uint32_t TestWindow::CurrentFrame() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->frame;
}

uint32_t TestWindow::ColorAt(int x, int y, uint32_t frame) const
{
    return PaletteColor(PatternIndex(x, y, frame, impl_->width));
}

uint32_t TestWindow::ExpectedFramePixel(int x, int y, uint32_t frame) const
{
    return impl_->frameValues[PatternIndex(x, y, frame, impl_->width)];
}

bool TestWindow::MoveTo(int x, int y)
{
    const uint32_t values[] = {static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
    xcb_configure_window(impl_->conn, impl_->window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
    xcb_flush(impl_->conn);
    // A window manager moves the frame in its own time.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        int fx = 0, fy = 0;
        if (!impl_->FramePosition(&fx, &fy)) {
            impl_->SetError("the test window's position cannot be read");
            return false;
        }
        if (fx == x && fy == y)
            return true;
        if (std::chrono::steady_clock::now() > deadline) {
            impl_->SetError("the frame stayed at " + std::to_string(fx) + "," + std::to_string(fy) +
                            " instead of " + std::to_string(x) + "," + std::to_string(y));
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool TestWindow::Raise()
{
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(impl_->conn, Frame(), XCB_CONFIG_WINDOW_STACK_MODE, &above);
    return impl_->Sync();
}

uint32_t TestWindow::TestCursorPixel(int x, int y)
{
    if (!TestCursorMask(x, y))
        return 0;
    const uint16_t* c = TestCursorSource(x, y) ? kCursorFore : kCursorBack;
    return 0xFF000000u | static_cast<uint32_t>(c[0] >> 8) << 16 | static_cast<uint32_t>(c[1] >> 8) << 8 |
           static_cast<uint32_t>(c[2] >> 8);
}

bool TestWindow::SetTestCursor(int xhot, int yhot)
{
    xcb_connection_t* c = impl_->conn;
    // Source and mask bitmaps drawn point by point, which avoids bitmap bit orders.
    xcb_pixmap_t bitmaps[2];
    xcb_gcontext_t gc = xcb_generate_id(c);
    for (int which = 0; which < 2; ++which) {
        bitmaps[which] = xcb_generate_id(c);
        xcb_create_pixmap(c, 1, bitmaps[which], impl_->screen->root, kCursorSize, kCursorSize);
        if (which == 0)
            xcb_create_gc(c, gc, bitmaps[0], 0, nullptr);
        uint32_t zero = 0;
        xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &zero);
        const xcb_rectangle_t all = {0, 0, kCursorSize, kCursorSize};
        xcb_poly_fill_rectangle(c, bitmaps[which], gc, 1, &all);
        uint32_t one = 1;
        xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &one);
        std::vector<xcb_point_t> points;
        for (int y = 0; y < kCursorSize; ++y) {
            for (int x = 0; x < kCursorSize; ++x) {
                if (which == 0 ? TestCursorSource(x, y) : TestCursorMask(x, y))
                    points.push_back(xcb_point_t{static_cast<int16_t>(x), static_cast<int16_t>(y)});
            }
        }
        xcb_poly_point(c, XCB_COORD_MODE_ORIGIN, bitmaps[which], gc, points.size(), points.data());
    }
    const xcb_cursor_t cursor = xcb_generate_id(c);
    xcb_create_cursor(c, cursor, bitmaps[0], bitmaps[1], kCursorFore[0], kCursorFore[1], kCursorFore[2],
                      kCursorBack[0], kCursorBack[1], kCursorBack[2], xhot, yhot);
    xcb_generic_error_t* e = xcb_request_check(
        c, xcb_change_window_attributes_checked(c, impl_->window, XCB_CW_CURSOR, &cursor));
    xcb_free_cursor(c, cursor);
    xcb_free_pixmap(c, bitmaps[0]);
    xcb_free_pixmap(c, bitmaps[1]);
    xcb_free_gc(c, gc);
    if (e) {
        impl_->SetError(ErrorText("set cursor", e));
        std::free(e);
        return false;
    }
    return impl_->Sync();
}

std::optional<TestMessage> TestWindow::WaitForMessage(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(impl_->mutex);
    if (!impl_->changed.wait_for(lock, timeout, [&] { return !impl_->messages.empty() || impl_->gone; }) ||
        impl_->messages.empty())
        return std::nullopt;
    TestMessage m = impl_->messages.front();
    impl_->messages.pop_front();
    return m;
}

bool TestWindow::Destroy()
{
    if (!impl_->events.joinable())
        return false;
    // A managed window is withdrawn first, and destroyed only once the window manager
    // has let go of it (put it back on the root). Destroyed while still managed, its id
    // may be handed to the next test's window before the window manager has noticed,
    // which would then move that window as it unmanages the old one.
    if (Frame() != impl_->window && Frame() != 0) {
        xcb_unmap_window(impl_->conn, impl_->window);
        xcb_flush(impl_->conn);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (Frame() != impl_->window && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    xcb_destroy_window(impl_->conn, impl_->window);
    xcb_flush(impl_->conn);
    impl_->events.join();  // ends at the window's DestroyNotify
    return impl_->Sync();
}

}  // namespace testsupport
