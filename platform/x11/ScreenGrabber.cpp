#include "platform/x11/ScreenGrabber.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/x11/XDisplay.h"
#include "platform/x11/XDisplayError.h"

namespace platform {

namespace {

// How the server's pixels become the frame's.
enum class Conversion {
    Copy,         // already in the frame's layout (8 bpp indices, 16 bpp 5-5-5, 24 bpp B,G,R)
    ClearPad32,   // 32 bpp B,G,R,x: copy with the x byte forced to 0
    Rgb565To555,  // 16 bpp 5-6-5 screens
    Masks32,      // 32 bpp with other channel masks (depth 30): scaled to 8 bits a channel
    Masks16,      // 16 bpp with other channel masks: scaled to 5 bits a channel
};

struct Channel {
    int shift = 0;  // position of the mask's lowest bit
    int bits = 0;   // width of the mask
    uint32_t mask = 0;

    explicit Channel(uint32_t m = 0) : shift(m ? std::countr_zero(m) : 0), bits(std::popcount(m)), mask(m) {}

    // The channel's value scaled to `target` bits.
    uint32_t Take(uint32_t pixel, int target) const
    {
        const uint32_t v = (pixel & mask) >> shift;
        if (bits >= target)
            return v >> (bits - target);
        if (bits == 0)
            return 0;
        uint32_t out = 0;  // the bits repeated downwards, so that full scale stays full scale
        for (int pos = target - bits; pos > -bits; pos -= bits)
            out |= pos >= 0 ? v << pos : v >> -pos;
        return out;
    }
};

const xcb_visualtype_t* FindVisual(const xcb_screen_t* screen, xcb_visualid_t id)
{
    for (xcb_depth_iterator_t d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
        for (xcb_visualtype_iterator_t v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
            if (v.data->visual_id == id)
                return v.data;
        }
    }
    return nullptr;
}

const xcb_screen_t* ScreenOfRoot(xcb_connection_t* conn, xcb_window_t root)
{
    for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn)); it.rem; xcb_screen_next(&it)) {
        if (it.data->root == root)
            return it.data;
    }
    return nullptr;
}

bool ShmDisabledByEnvironment()
{
    const char* value = std::getenv("TAVREC_NO_SHM");
    return value && *value && std::strcmp(value, "0") != 0;
}

// One System V segment attached to the process and to the X server. The id is removed
// as soon as both are attached, so the kernel frees the memory however the process ends.
class ShmSegment {
public:
    ~ShmSegment()
    {
        if (seg_ != 0) {
            xcb_shm_detach(conn_, seg_);
            xcb_flush(conn_);
        }
        if (addr_)
            shmdt(addr_);
    }

    bool Create(xcb_connection_t* conn, size_t size, std::string* error)
    {
        conn_ = conn;
        const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
        if (id < 0) {
            *error = "shmget of " + std::to_string(size) + " bytes failed: " + std::strerror(errno);
            return false;
        }
        void* addr = shmat(id, nullptr, 0);
        if (addr == reinterpret_cast<void*>(-1)) {
            *error = std::string("shmat failed: ") + std::strerror(errno);
            shmctl(id, IPC_RMID, nullptr);
            return false;
        }
        addr_ = static_cast<uint8_t*>(addr);
        const xcb_shm_seg_t seg = xcb_generate_id(conn);
        const bool attached = XcbCheck(conn, xcb_shm_attach_checked(conn, seg, id, 0), "ShmAttach", error);
        shmctl(id, IPC_RMID, nullptr);
        if (!attached)
            return false;
        seg_ = seg;
        size_ = size;
        return true;
    }

    xcb_shm_seg_t Id() const { return seg_; }
    uint8_t* Data() const { return addr_; }
    size_t Size() const { return size_; }

private:
    xcb_connection_t* conn_ = nullptr;
    xcb_shm_seg_t seg_ = 0;
    uint8_t* addr_ = nullptr;
    size_t size_ = 0;
};

// The two row conversions on the hot path are written with SSE2 (part of every x86-64
// processor): the compiler does not vectorise them at -O2, and scalar code costs
// twice a memcpy on a full-HD frame.
void ClearPadRow(const uint8_t* src, uint8_t* dst, int count)
{
    int i = 0;
#if defined(__SSE2__)
    const __m128i keep = _mm_set1_epi32(0x00ffffff);
    for (; i + 8 <= count; i += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i + 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i), _mm_and_si128(a, keep));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i + 16), _mm_and_si128(b, keep));
    }
#endif
    for (; i < count; ++i) {
        uint32_t v;
        std::memcpy(&v, src + 4 * i, 4);
        v &= 0x00ffffffu;
        std::memcpy(dst + 4 * i, &v, 4);
    }
}

// 5-6-5 to 5-5-5: red moves down one bit, green drops its lowest bit, blue stays.
void Rgb565To555Row(const uint8_t* src, uint8_t* dst, int count)
{
    int i = 0;
#if defined(__SSE2__)
    const __m128i redGreen = _mm_set1_epi16(0x7fe0);
    const __m128i blue = _mm_set1_epi16(0x001f);
    for (; i + 8 <= count; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * i));
        const __m128i out =
            _mm_or_si128(_mm_and_si128(_mm_srli_epi16(v, 1), redGreen), _mm_and_si128(v, blue));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i), out);
    }
#endif
    for (; i < count; ++i) {
        uint16_t v;
        std::memcpy(&v, src + 2 * i, 2);
        v = static_cast<uint16_t>(((v >> 1) & 0x7fe0u) | (v & 0x001fu));
        std::memcpy(dst + 2 * i, &v, 2);
    }
}

}  // namespace

struct ScreenGrabber::Impl {
    XDisplay& display;
    xcb_connection_t* conn;
    xcb_window_t root;
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    int bytesPerPixel = 0;
    int scanlinePad = 32;
    int screenWidth = 0;
    int screenHeight = 0;
    Conversion conversion = Conversion::Copy;
    Channel red, green, blue;
    bool useShm = false;
    ShmSegment segment;
    std::vector<uint8_t> ownFrame;  // FrameBuffer() without MIT-SHM
    std::string lastError;

    Impl(XDisplay& d) : display(d), conn(d.Connection()), root(d.Root()) {}

    size_t SourceStride(int pixels) const
    {
        const size_t bits = static_cast<size_t>(pixels) * bitsPerPixel;
        return (bits + scanlinePad - 1) / scanlinePad * scanlinePad / 8;
    }

    bool ChooseConversion(const xcb_screen_t* screen, std::string* error);
    bool RefreshScreenSize();
    void FollowScreenSize();
    bool Fetch(int x, int y, int w, int h, const uint8_t** data, XcbPtr<xcb_get_image_reply_t>* plain,
               bool* badMatch);
    void ConvertRow(const uint8_t* src, uint8_t* dst, int count) const;
};

bool ScreenGrabber::Impl::ChooseConversion(const xcb_screen_t* screen, std::string* error)
{
    const xcb_visualtype_t* visual = FindVisual(screen, screen->root_visual);
    const bool trueColor = visual && (visual->_class == XCB_VISUAL_CLASS_TRUE_COLOR ||
                                      visual->_class == XCB_VISUAL_CLASS_DIRECT_COLOR);
    if (trueColor) {
        red = Channel(visual->red_mask);
        green = Channel(visual->green_mask);
        blue = Channel(visual->blue_mask);
    }
    const bool bgr888 = trueColor && visual->red_mask == 0xff0000 && visual->green_mask == 0xff00 &&
                        visual->blue_mask == 0xff;
    switch (bitsPerPixel) {
    case 8:
        conversion = Conversion::Copy;
        return true;
    case 16:
        if (!trueColor)
            break;
        if (visual->red_mask == 0x7c00 && visual->green_mask == 0x3e0 && visual->blue_mask == 0x1f)
            conversion = Conversion::Copy;
        else if (visual->red_mask == 0xf800 && visual->green_mask == 0x7e0 && visual->blue_mask == 0x1f)
            conversion = Conversion::Rgb565To555;
        else
            conversion = Conversion::Masks16;
        return true;
    case 24:
        if (!bgr888)
            break;
        conversion = Conversion::Copy;
        return true;
    case 32:
        if (!trueColor)
            break;
        conversion = bgr888 ? Conversion::ClearPad32 : Conversion::Masks32;
        return true;
    default:
        break;
    }
    *error = "screen format not supported: depth " + std::to_string(screen->root_depth) + ", " +
             std::to_string(bitsPerPixel) + " bits per pixel" + (trueColor ? "" : ", not a TrueColor visual");
    return false;
}

bool ScreenGrabber::Impl::RefreshScreenSize()
{
    RectL rect{};
    if (!display.GetWindowRect(root, &rect)) {
        lastError = display.LastError();
        return false;
    }
    screenWidth = rect.right;
    screenHeight = rect.bottom;
    return true;
}

// Takes the root's size from the ConfigureNotify events its resize (RandR) sends, so
// that a screen that grew is grabbed whole again. No round trip: the events are
// already queued. Nothing else is selected on this connection, so nothing else is lost.
void ScreenGrabber::Impl::FollowScreenSize()
{
    while (xcb_generic_event_t* event = xcb_poll_for_event(conn)) {
        // Only the server's own events: a size another client sent is not believed.
        if (event->response_type == XCB_CONFIGURE_NOTIFY) {
            const auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
            if (configure->window == root) {
                screenWidth = configure->width;
                screenHeight = configure->height;
            }
        }
        std::free(event);
    }
}

// Puts the pixels of the area into *data (rows SourceStride(w) apart): the shared
// segment, or the plain reply kept alive in *plain.
bool ScreenGrabber::Impl::Fetch(int x, int y, int w, int h, const uint8_t** data,
                                XcbPtr<xcb_get_image_reply_t>* plain, bool* badMatch)
{
    xcb_generic_error_t* e = nullptr;
    const size_t needed = SourceStride(w) * h;
    if (useShm) {
        const xcb_shm_get_image_cookie_t cookie =
            xcb_shm_get_image(conn, root, x, y, w, h, ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment.Id(), 0);
        XcbPtr<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(conn, cookie, &e));
        if (e) {
            *badMatch = e->error_code == XCB_MATCH;
            lastError = DescribeXError("ShmGetImage", e);
            std::free(e);
            return false;
        }
        if (!reply) {
            lastError = DescribeXFailure("ShmGetImage", conn);
            return false;
        }
        if (reply->size < needed) {
            lastError = "ShmGetImage returned " + std::to_string(reply->size) + " bytes, expected " +
                        std::to_string(needed);
            return false;
        }
        *data = segment.Data();
        return true;
    }
    const xcb_get_image_cookie_t cookie = xcb_get_image(conn, XCB_IMAGE_FORMAT_Z_PIXMAP, root, x, y, w, h, ~0u);
    plain->reset(xcb_get_image_reply(conn, cookie, &e));
    if (e) {
        *badMatch = e->error_code == XCB_MATCH;
        lastError = DescribeXError("GetImage", e);
        std::free(e);
        return false;
    }
    if (!*plain) {
        lastError = DescribeXFailure("GetImage", conn);
        return false;
    }
    if (static_cast<size_t>(xcb_get_image_data_length(plain->get())) < needed) {
        lastError = "GetImage returned " + std::to_string(xcb_get_image_data_length(plain->get())) +
                    " bytes, expected " + std::to_string(needed);
        return false;
    }
    *data = xcb_get_image_data(plain->get());
    return true;
}

void ScreenGrabber::Impl::ConvertRow(const uint8_t* src, uint8_t* dst, int count) const
{
    switch (conversion) {
    case Conversion::Copy:
        std::memcpy(dst, src, static_cast<size_t>(count) * bytesPerPixel);
        break;
    case Conversion::ClearPad32:
        ClearPadRow(src, dst, count);
        break;
    case Conversion::Rgb565To555:
        Rgb565To555Row(src, dst, count);
        break;
    case Conversion::Masks32:
        for (int i = 0; i < count; ++i) {
            uint32_t v;
            std::memcpy(&v, src + 4 * i, 4);
            v = red.Take(v, 8) << 16 | green.Take(v, 8) << 8 | blue.Take(v, 8);
            std::memcpy(dst + 4 * i, &v, 4);
        }
        break;
    case Conversion::Masks16:
        for (int i = 0; i < count; ++i) {
            uint16_t v;
            std::memcpy(&v, src + 2 * i, 2);
            v = static_cast<uint16_t>(red.Take(v, 5) << 10 | green.Take(v, 5) << 5 | blue.Take(v, 5));
            std::memcpy(dst + 2 * i, &v, 2);
        }
        break;
    }
}

std::unique_ptr<ScreenGrabber> ScreenGrabber::Create(XDisplay& display, int width, int height, std::string* error)
{
    std::string ignored;
    std::string& err = error ? *error : ignored;
    if (width <= 0 || height <= 0 || width > 32767 || height > 32767) {
        err = "invalid frame size " + std::to_string(width) + " x " + std::to_string(height);
        return nullptr;
    }
    auto impl = std::make_unique<Impl>(display);
    const xcb_setup_t* setup = xcb_get_setup(impl->conn);
    const xcb_screen_t* screen = ScreenOfRoot(impl->conn, impl->root);
    if (!screen) {
        err = "the root window belongs to no screen of the connection";
        return nullptr;
    }
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) {
        err = "the X server sends images most significant byte first, which is not supported";
        return nullptr;
    }
    impl->width = width;
    impl->height = height;
    impl->bitsPerPixel = display.RootBitsPerPixel();
    impl->bytesPerPixel = impl->bitsPerPixel / 8;
    for (xcb_format_iterator_t f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
        if (f.data->depth == screen->root_depth)
            impl->scanlinePad = f.data->scanline_pad;
    }
    if (!impl->ChooseConversion(screen, &err))
        return nullptr;
    // Selected before the size is read, so that no resize goes unseen.
    const uint32_t structure = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    if (!XcbCheck(impl->conn, xcb_change_window_attributes_checked(impl->conn, impl->root, XCB_CW_EVENT_MASK, &structure),
                  "ChangeWindowAttributes (root)", &err))
        return nullptr;
    if (!impl->RefreshScreenSize()) {
        err = impl->lastError;
        return nullptr;
    }

    if (!ShmDisabledByEnvironment()) {
        const xcb_query_extension_reply_t* shm = xcb_get_extension_data(impl->conn, &xcb_shm_id);
        std::string shmError;
        if (shm && shm->present &&
            XcbReply(impl->conn, xcb_shm_query_version(impl->conn), xcb_shm_query_version_reply,
                     "ShmQueryVersion", &shmError)) {
            // A server on another machine (or in another IPC namespace) refuses the
            // attach; plain GetImage still works there.
            impl->useShm = impl->segment.Create(impl->conn, impl->SourceStride(width) * height, &shmError);
        }
    }
    return std::unique_ptr<ScreenGrabber>(new ScreenGrabber(std::move(impl)));
}

ScreenGrabber::ScreenGrabber(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ScreenGrabber::~ScreenGrabber() = default;

bool ScreenGrabber::UsesShm() const { return impl_->useShm; }
size_t ScreenGrabber::FrameStride() const { return impl_->SourceStride(impl_->width); }

uint8_t* ScreenGrabber::FrameBuffer()
{
    if (impl_->useShm)
        return impl_->segment.Data();
    if (impl_->ownFrame.empty())
        impl_->ownFrame.resize(FrameStride() * impl_->height);
    return impl_->ownFrame.data();
}
int ScreenGrabber::BitsPerPixel() const { return impl_->bitsPerPixel; }
const std::string& ScreenGrabber::LastError() const { return impl_->lastError; }

bool ScreenGrabber::Grab(int x, int y, uint8_t* dst, size_t dstStride)
{
    Impl& s = *impl_;
    const size_t rowBytes = static_cast<size_t>(s.width) * s.bytesPerPixel;
    s.FollowScreenSize();
    for (int attempt = 0;; ++attempt) {
        // The part of the area on the screen; everything else stays black.
        const int64_t left = std::max<int64_t>(x, 0);
        const int64_t top = std::max<int64_t>(y, 0);
        const int64_t right = std::min<int64_t>(int64_t{x} + s.width, s.screenWidth);
        const int64_t bottom = std::min<int64_t>(int64_t{y} + s.height, s.screenHeight);
        if (left >= right || top >= bottom) {
            for (int row = 0; row < s.height; ++row)
                std::memset(dst + row * dstStride, 0, rowBytes);
            return true;
        }
        const int w = static_cast<int>(right - left);
        const int h = static_cast<int>(bottom - top);
        const uint8_t* data = nullptr;
        XcbPtr<xcb_get_image_reply_t> plain;
        bool badMatch = false;
        if (!s.Fetch(static_cast<int>(left), static_cast<int>(top), w, h, &data, &plain, &badMatch)) {
            // BadMatch means the area left the screen: its size changed since the last look.
            if (badMatch && attempt == 0 && s.RefreshScreenSize())
                continue;
            return false;
        }
        size_t srcStride = s.SourceStride(w);
        const int firstRow = static_cast<int>(top - y);
        const size_t leftBytes = static_cast<size_t>(left - x) * s.bytesPerPixel;
        const size_t copiedBytes = static_cast<size_t>(w) * s.bytesPerPixel;
        if (data == dst) {
            // The server wrote into the caller's frame. A clipped area arrived packed at
            // its start: spread the rows out to their places, last row first, so that no
            // row is overwritten before it has moved.
            if (srcStride != dstStride || firstRow != 0 || leftBytes != 0) {
                for (int row = h - 1; row >= 0; --row)
                    std::memmove(dst + (firstRow + row) * dstStride + leftBytes, dst + row * srcStride, copiedBytes);
            }
            data = dst + firstRow * dstStride + leftBytes;
            srcStride = dstStride;
        }
        for (int row = 0; row < s.height; ++row) {
            uint8_t* out = dst + row * dstStride;
            const int srcRow = row - firstRow;
            if (srcRow < 0 || srcRow >= h) {
                std::memset(out, 0, rowBytes);
                continue;
            }
            std::memset(out, 0, leftBytes);
            const uint8_t* src = data + srcRow * srcStride;
            if (src != out + leftBytes || s.conversion != Conversion::Copy)
                s.ConvertRow(src, out + leftBytes, w);  // in place when src is the frame itself
            std::memset(out + leftBytes + copiedBytes, 0, rowBytes - leftBytes - copiedBytes);
        }
        return true;
    }
}

}  // namespace platform
