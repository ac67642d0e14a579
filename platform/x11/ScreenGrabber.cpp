#include "platform/x11/ScreenGrabber.h"

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/x11/PixelConversion.h"
#include "platform/x11/ScreenClip.h"
#include "platform/x11/ShmSegment.h"
#include "platform/x11/XDisplay.h"
#include "platform/x11/XDisplayError.h"

namespace platform {

namespace {

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
    ScreenClip clip;
    PixelConversion conversion;
    bool useShm = false;
    int frames = 1;
    size_t frameBytes = 0;  // distance of one frame buffer to the next
    ShmSegment segment;
    std::vector<uint8_t> ownFrames;  // the frame buffers without MIT-SHM
    std::string lastError;
    // The screen's size at the last whole grab: GrabParts grabs whole when it differs.
    int grabbedWidth = -1, grabbedHeight = -1;
    // GrabParts: the rectangles' segment (MIT-SHM) and the requests in flight, kept
    // between calls so that a partial grab allocates nothing once they have grown.
    ShmSegment partsSegment;
    bool partsSegmentFailed = false;
    struct PartRequest {
        ScreenClip::Part part;
        size_t offset = 0;      // in partsSegment
        unsigned sequence = 0;  // of the request's cookie
    };
    std::vector<PartRequest> requests;

    Impl(XDisplay& d) : display(d), conn(d.Connection()), root(d.Root()), clip(d) {}

    size_t SourceStride(int pixels) const
    {
        const size_t bits = static_cast<size_t>(pixels) * bitsPerPixel;
        return (bits + scanlinePad - 1) / scanlinePad * scanlinePad / 8;
    }

    // Reads the reply of requests[index] and puts its pixels into dst; *badMatch
    // when the rectangle was not on the screen (any more).
    bool FinishPart(size_t index, int x, int y, uint8_t* dst, size_t dstStride, bool* badMatch);
    void DiscardParts(size_t from)
    {
        for (size_t i = from; i < requests.size(); ++i)
            xcb_discard_reply(conn, requests[i].sequence);
        requests.clear();
    }

    // The frame buffer dst is, or -1.
    int FrameIndexOf(const uint8_t* dst) const
    {
        const uint8_t* base = useShm ? segment.Data() : ownFrames.data();
        if (!base || dst < base || dst >= base + frameBytes * frames)
            return -1;
        const size_t offset = static_cast<size_t>(dst - base);
        return offset % frameBytes == 0 ? static_cast<int>(offset / frameBytes) : -1;
    }

    bool Fetch(int x, int y, int w, int h, size_t offset, const uint8_t** data,
               XcbPtr<xcb_get_image_reply_t>* plain, bool* badMatch);
};

bool ScreenGrabber::Impl::FinishPart(size_t index, int x, int y, uint8_t* dst, size_t dstStride, bool* badMatch)
{
    const PartRequest& request = requests[index];
    const ScreenClip::Part& part = request.part;
    const size_t stride = SourceStride(part.width);
    const size_t needed = stride * part.height;
    xcb_generic_error_t* e = nullptr;
    const uint8_t* data = nullptr;
    XcbPtr<xcb_shm_get_image_reply_t> shmReply;
    XcbPtr<xcb_get_image_reply_t> plain;
    if (useShm) {
        shmReply.reset(xcb_shm_get_image_reply(conn, xcb_shm_get_image_cookie_t{request.sequence}, &e));
    } else {
        plain.reset(xcb_get_image_reply(conn, xcb_get_image_cookie_t{request.sequence}, &e));
    }
    const char* what = useShm ? "ShmGetImage" : "GetImage";
    if (e) {
        *badMatch = e->error_code == XCB_MATCH;
        lastError = DescribeXError(what, e);
        std::free(e);
        return false;
    }
    if (!shmReply && !plain) {
        lastError = DescribeXFailure(what, conn);
        return false;
    }
    const size_t got = useShm ? shmReply->size : static_cast<size_t>(xcb_get_image_data_length(plain.get()));
    if (got < needed) {
        lastError = std::string(what) + " returned " + std::to_string(got) + " bytes, expected " +
                    std::to_string(needed);
        return false;
    }
    data = useShm ? partsSegment.Data() + request.offset : xcb_get_image_data(plain.get());
    const size_t left = static_cast<size_t>(int64_t{part.left} - x) * bytesPerPixel;
    const int64_t top = int64_t{part.top} - y;
    for (int row = 0; row < part.height; ++row)
        conversion.ConvertRow(data + row * stride, dst + static_cast<size_t>(top + row) * dstStride + left, part.width);
    return true;
}

// Puts the pixels of the area into *data (rows SourceStride(w) apart): the shared
// segment at offset, or the plain reply kept alive in *plain.
bool ScreenGrabber::Impl::Fetch(int x, int y, int w, int h, size_t offset, const uint8_t** data,
                                XcbPtr<xcb_get_image_reply_t>* plain, bool* badMatch)
{
    xcb_generic_error_t* e = nullptr;
    const size_t needed = SourceStride(w) * h;
    if (useShm) {
        const xcb_shm_get_image_cookie_t cookie =
            xcb_shm_get_image(conn, root, x, y, w, h, ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment.Id(),
                              static_cast<uint32_t>(offset));
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
        *data = segment.Data() + offset;
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

std::unique_ptr<ScreenGrabber> ScreenGrabber::Create(XDisplay& display, int width, int height, std::string* error,
                                                     int frames)
{
    std::string ignored;
    std::string& err = error ? *error : ignored;
    if (width <= 0 || height <= 0 || width > 32767 || height > 32767) {
        err = "invalid frame size " + std::to_string(width) + " x " + std::to_string(height);
        return nullptr;
    }
    if (frames < 1 || frames > 16) {
        err = "invalid number of frame buffers " + std::to_string(frames);
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
    if (!impl->conversion.Choose(screen, impl->bitsPerPixel, &err))
        return nullptr;
    if (!impl->clip.Start(&err))
        return nullptr;
    // Frame buffers start on cache lines; ShmGetImage takes a 32-bit offset.
    impl->frames = frames;
    impl->frameBytes = (impl->SourceStride(width) * height + 63) / 64 * 64;
    if (impl->frameBytes * frames > 0xFFFFFFFFull) {
        err = "frame buffers too large for one shared segment";
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
            impl->useShm = impl->segment.Create(impl->conn, impl->frameBytes * frames, &shmError);
        }
    }
    return std::unique_ptr<ScreenGrabber>(new ScreenGrabber(std::move(impl)));
}

ScreenGrabber::ScreenGrabber(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ScreenGrabber::~ScreenGrabber() = default;

bool ScreenGrabber::UsesShm() const { return impl_->useShm; }
size_t ScreenGrabber::FrameStride() const { return impl_->SourceStride(impl_->width); }

int ScreenGrabber::Frames() const { return impl_->frames; }

uint8_t* ScreenGrabber::FrameBuffer(int index)
{
    if (index < 0 || index >= impl_->frames)
        return nullptr;
    if (impl_->useShm)
        return impl_->segment.Data() + impl_->frameBytes * index;
    if (impl_->ownFrames.empty())
        impl_->ownFrames.resize(impl_->frameBytes * impl_->frames);
    return impl_->ownFrames.data() + impl_->frameBytes * index;
}
int ScreenGrabber::BitsPerPixel() const { return impl_->bitsPerPixel; }
const std::string& ScreenGrabber::LastError() const { return impl_->lastError; }

bool ScreenGrabber::Grab(int x, int y, uint8_t* dst, size_t dstStride)
{
    Impl& s = *impl_;
    const size_t rowBytes = static_cast<size_t>(s.width) * s.bytesPerPixel;
    // The server writes straight into a frame buffer of the segment; any other dst gets
    // the pixels by way of the only one there is.
    const int frameIndex = s.FrameIndexOf(dst);
    if (s.useShm && frameIndex < 0 && s.frames > 1) {
        s.lastError = "grab into a buffer outside the shared segment";
        return false;
    }
    const size_t offset = frameIndex < 0 ? 0 : s.frameBytes * frameIndex;
    // A screen that grew is grabbed whole again.
    s.clip.Follow();
    for (int attempt = 0;; ++attempt) {
        // The part of the area on the screen; everything else stays black.
        ScreenClip::Part part;
        s.grabbedWidth = s.clip.Width();
        s.grabbedHeight = s.clip.Height();
        if (!s.clip.Clip(x, y, s.width, s.height, &part)) {
            for (int row = 0; row < s.height; ++row)
                std::memset(dst + row * dstStride, 0, rowBytes);
            return true;
        }
        const int w = part.width;
        const int h = part.height;
        const uint8_t* data = nullptr;
        XcbPtr<xcb_get_image_reply_t> plain;
        bool badMatch = false;
        if (!s.Fetch(part.left, part.top, w, h, offset, &data, &plain, &badMatch)) {
            // BadMatch means the area left the screen: its size changed since the last look.
            if (badMatch && attempt == 0 && s.clip.Refresh(&s.lastError))
                continue;
            return false;
        }
        size_t srcStride = s.SourceStride(w);
        const int firstRow = static_cast<int>(int64_t{part.top} - y);
        const size_t leftBytes = static_cast<size_t>(int64_t{part.left} - x) * s.bytesPerPixel;
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
            if (src != out + leftBytes || !s.conversion.IsCopy())
                s.conversion.ConvertRow(src, out + leftBytes, w);  // in place when src is the frame itself
            std::memset(out + leftBytes + copiedBytes, 0, rowBytes - leftBytes - copiedBytes);
        }
        return true;
    }
}

bool ScreenGrabber::GrabParts(int x, int y, const FrameRect* rects, size_t count, uint8_t* dst, size_t dstStride)
{
    Impl& s = *impl_;
    s.clip.Follow();
    if (s.clip.Width() != s.grabbedWidth || s.clip.Height() != s.grabbedHeight)
        return Grab(x, y, dst, dstStride);  // parts now off the screen must turn black
    if (s.useShm && !s.partsSegment.Data()) {
        std::string error;
        if (s.partsSegmentFailed || !s.partsSegment.Create(s.conn, FrameStride() * s.height, &error)) {
            s.partsSegmentFailed = true;  // the kernel gives no second segment: whole grabs
            return Grab(x, y, dst, dstStride);
        }
    }
    size_t next = 0;
    while (next < count) {
        // As many requests as the segment holds go out together; their replies come
        // back in order.
        s.requests.clear();
        size_t offset = 0;
        for (; next < count; ++next) {
            const FrameRect& r = rects[next];
            ScreenClip::Part part;
            if (r.width <= 0 || r.height <= 0 || !s.clip.Clip(x + r.x, y + r.y, r.width, r.height, &part))
                continue;
            const size_t needed = s.SourceStride(part.width) * part.height;
            if (s.useShm && offset + needed > s.partsSegment.Size() && !s.requests.empty())
                break;
            Impl::PartRequest request{part, offset, 0};
            if (s.useShm) {
                request.sequence = xcb_shm_get_image(s.conn, s.root, part.left, part.top, part.width, part.height, ~0u,
                                                     XCB_IMAGE_FORMAT_Z_PIXMAP, s.partsSegment.Id(),
                                                     static_cast<uint32_t>(offset))
                                       .sequence;
            } else {
                request.sequence = xcb_get_image(s.conn, XCB_IMAGE_FORMAT_Z_PIXMAP, s.root, part.left, part.top,
                                                 part.width, part.height, ~0u)
                                       .sequence;
            }
            s.requests.push_back(request);
            offset += (needed + 63) / 64 * 64;
        }
        for (size_t i = 0; i < s.requests.size(); ++i) {
            bool badMatch = false;
            if (!s.FinishPart(i, x, y, dst, dstStride, &badMatch)) {
                s.DiscardParts(i + 1);
                // BadMatch: the screen shrank since the last look; the whole grab
                // refreshes its size and blackens what left it.
                if (badMatch && s.clip.Refresh(&s.lastError))
                    return Grab(x, y, dst, dstStride);
                return false;
            }
        }
        s.requests.clear();
    }
    return true;
}

}  // namespace platform
