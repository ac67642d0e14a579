#include "platform/portal/PipeWireStream.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>

#include <chrono>
#include <cstring>
#include <condition_variable>
#include <mutex>

namespace platform {

namespace {

StreamPixelLayout LayoutOf(uint32_t format)
{
    switch (format) {
    case SPA_VIDEO_FORMAT_BGRx:
    case SPA_VIDEO_FORMAT_BGRA:
        return StreamPixelLayout::Bgrx;
    case SPA_VIDEO_FORMAT_RGBx:
    case SPA_VIDEO_FORMAT_RGBA:
        return StreamPixelLayout::Rgbx;
    case SPA_VIDEO_FORMAT_xRGB:
    case SPA_VIDEO_FORMAT_ARGB:
        return StreamPixelLayout::Xrgb;
    case SPA_VIDEO_FORMAT_xBGR:
    case SPA_VIDEO_FORMAT_ABGR:
        return StreamPixelLayout::Xbgr;
    case SPA_VIDEO_FORMAT_BGR:
        return StreamPixelLayout::Bgr;
    case SPA_VIDEO_FORMAT_RGB:
        return StreamPixelLayout::Rgb;
    default:
        return StreamPixelLayout::Unknown;
    }
}

bool HasAlphaByte(uint32_t format)
{
    return format == SPA_VIDEO_FORMAT_BGRA || format == SPA_VIDEO_FORMAT_RGBA || format == SPA_VIDEO_FORMAT_ARGB ||
           format == SPA_VIDEO_FORMAT_ABGR;
}

// The cursor metadata's size for an image of w x h 4-byte pixels.
constexpr int CursorMetaSize(int w, int h)
{
    return static_cast<int>(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) + w * h * 4;
}

// The buffer's cursor metadata into *cursor, every offset checked against the
// metadata's size (the producer writes it). False when the buffer has none.
bool ReadCursor(const spa_buffer* buffer, StreamCursor* cursor)
{
    const spa_meta* meta = spa_buffer_find_meta(buffer, SPA_META_Cursor);
    if (!meta || !meta->data || meta->size < sizeof(spa_meta_cursor))
        return false;
    const auto* bytes = static_cast<const uint8_t*>(meta->data);
    // The producer may write the metadata meanwhile: its fields are read once.
    spa_meta_cursor c;
    std::memcpy(&c, bytes, sizeof c);
    *cursor = StreamCursor{};
    cursor->visible = spa_meta_cursor_is_valid(&c);
    if (!cursor->visible)
        return true;
    cursor->x = c.position.x;
    cursor->y = c.position.y;
    cursor->xhot = c.hotspot.x;
    cursor->yhot = c.hotspot.y;
    const size_t bitmapAt = c.bitmap_offset;
    if (bitmapAt < sizeof(spa_meta_cursor) || bitmapAt > meta->size - sizeof(spa_meta_bitmap))
        return true;  // no new image
    spa_meta_bitmap bitmap;
    std::memcpy(&bitmap, bytes + bitmapAt, sizeof bitmap);
    if (!spa_meta_bitmap_is_valid(&bitmap))
        return true;  // no new image either
    cursor->newImage = true;  // an image that is not usable leaves the cursor invisible
    const StreamPixelLayout layout = LayoutOf(bitmap.format);
    const size_t width = bitmap.size.width, height = bitmap.size.height;
    const size_t stride = bitmap.stride > 0 ? static_cast<size_t>(bitmap.stride) : width * 4;
    const size_t pixelsAt = bitmapAt + bitmap.offset;
    if (bitmap.offset < sizeof(spa_meta_bitmap) || StreamPixelBytes(layout) != 4 || width == 0 || height == 0 ||
        width > size_t{kMaxStreamCursorSize} || height > size_t{kMaxStreamCursorSize} || stride < width * 4 ||
        pixelsAt > meta->size || stride * (height - 1) + width * 4 > meta->size - pixelsAt)
        return true;
    cursor->image.pixels = bytes + pixelsAt;
    cursor->image.stride = stride;
    cursor->image.width = static_cast<int>(width);
    cursor->image.height = static_cast<int>(height);
    cursor->image.layout = layout;
    cursor->alphaByte = HasAlphaByte(bitmap.format);
    return true;
}

void InitPipeWireOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

}  // namespace

struct PipeWireStream::Impl {
    FrameHandler handler;
    CursorHandler cursorHandler;  // empty: no cursor metadata asked for
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    pw_registry* registry = nullptr;
    uint32_t node = 0;
    spa_hook coreListener{};
    spa_hook streamListener{};
    spa_hook registryListener{};

    mutable std::mutex lock;  // the fields below, read by other threads
    std::condition_variable changed;
    int width = 0, height = 0;
    StreamPixelLayout layout = StreamPixelLayout::Unknown;
    bool streamed = false;
    bool failed = false;
    std::string failure;

    void Fail(const std::string& why)
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!failed) {
            failed = true;
            failure = why;
        }
        changed.notify_all();
    }

    void OnParamChanged(uint32_t id, const spa_pod* param);
    void OnProcess();
    void OnStateChanged(pw_stream_state state, const char* error);
};

void PipeWireStream::Impl::OnParamChanged(uint32_t id, const spa_pod* param)
{
    if (id != SPA_PARAM_Format || !param)
        return;
    uint32_t mediaType = 0, mediaSubtype = 0;
    spa_video_info_raw info{};
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video ||
        mediaSubtype != SPA_MEDIA_SUBTYPE_raw || spa_format_video_raw_parse(param, &info) < 0) {
        Fail("the screen cast stream offers no raw video format");
        return;
    }
    const StreamPixelLayout newLayout = LayoutOf(info.format);
    if (newLayout == StreamPixelLayout::Unknown) {
        Fail("the screen cast stream's pixel format (" + std::to_string(info.format) + ") is not supported");
        return;
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        width = static_cast<int>(info.size.width);
        height = static_cast<int>(info.size.height);
        layout = newLayout;
        changed.notify_all();
    }
    // Buffers in memory the stream maps for us: shared memory or plain memory; with
    // room for the cursor's metadata when it is asked for.
    uint8_t buffer[512];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[2];
    uint32_t count = 0;
    params[count++] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers,
        SPA_PARAM_BUFFERS_buffers, SPA_POD_CHOICE_RANGE_Int(4, 2, 16),
        SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
        SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
    if (cursorHandler)
        params[count++] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
            SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor),
            SPA_PARAM_META_size, SPA_POD_CHOICE_RANGE_Int(CursorMetaSize(64, 64), CursorMetaSize(1, 1),
                                                          CursorMetaSize(kMaxStreamCursorSize, kMaxStreamCursorSize))));
    pw_stream_update_params(stream, params, count);
}

void PipeWireStream::Impl::OnProcess()
{
    // Only the newest of the waiting buffers' frames matters; the cursor of each is
    // taken in turn, since an older one may bring an image the newer ones leave out.
    pw_buffer* newest = nullptr;
    while (pw_buffer* next = pw_stream_dequeue_buffer(stream)) {
        if (newest)
            pw_stream_queue_buffer(stream, newest);
        newest = next;
        StreamCursor cursor;
        if (cursorHandler && newest->buffer && ReadCursor(newest->buffer, &cursor))
            cursorHandler(cursor);
    }
    if (!newest)
        return;
    StreamImage image;
    {
        std::lock_guard<std::mutex> guard(lock);
        image.width = width;
        image.height = height;
        image.layout = layout;
    }
    const spa_buffer* buffer = newest->buffer;
    const int bytes = StreamPixelBytes(image.layout);
    if (buffer && buffer->n_datas > 0 && bytes > 0 && image.width > 0 && image.height > 0) {
        const spa_data& data = buffer->datas[0];
        const spa_chunk* chunk = data.chunk;
        if (data.data && chunk && !(chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) && chunk->size > 0) {
            const size_t row = static_cast<size_t>(image.width) * bytes;
            const size_t stride = chunk->stride > 0 ? static_cast<size_t>(chunk->stride) : row;
            const size_t offset = chunk->offset;
            const size_t needed = stride * (image.height - 1) + row;
            // A buffer that does not hold the whole frame (one of the old size while the
            // size changes) is passed over.
            if (stride >= row && offset + needed <= data.maxsize && needed <= chunk->size + stride - row) {
                image.pixels = static_cast<const uint8_t*>(data.data) + offset;
                image.stride = stride;
                handler(image);
            }
        }
    }
    pw_stream_queue_buffer(stream, newest);
}

void PipeWireStream::Impl::OnStateChanged(pw_stream_state state, const char* error)
{
    if (state == PW_STREAM_STATE_ERROR) {
        Fail(std::string("the screen cast stream failed") + (error ? std::string(": ") + error : ""));
    } else if (state == PW_STREAM_STATE_STREAMING) {
        std::lock_guard<std::mutex> guard(lock);
        streamed = true;
    } else if (state == PW_STREAM_STATE_UNCONNECTED) {
        Fail("the screen cast stream was disconnected");
    }
}

std::unique_ptr<PipeWireStream> PipeWireStream::Connect(UniqueFd& remote, uint32_t node, FrameHandler handler,
                                                        std::string* error, CursorHandler cursorHandler)
{
    std::string ignored;
    std::string& err = error ? *error : ignored;
    InitPipeWireOnce();
    auto impl = std::make_unique<Impl>();
    Impl* s = impl.get();
    s->handler = std::move(handler);
    s->cursorHandler = std::move(cursorHandler);
    // From here on the destructor undoes whatever was made.
    std::unique_ptr<PipeWireStream> result(new PipeWireStream(std::move(impl)));
    s->loop = pw_thread_loop_new("tavrec-cast", nullptr);
    if (!s->loop) {
        err = "cannot create PipeWire's thread";
        return nullptr;
    }
    s->context = pw_context_new(pw_thread_loop_get_loop(s->loop), nullptr, 0);
    if (!s->context) {
        err = "cannot create a PipeWire context";
        return nullptr;
    }
    if (pw_thread_loop_start(s->loop) < 0) {
        err = "cannot start PipeWire's thread";
        return nullptr;
    }
    pw_thread_loop_lock(s->loop);
    struct Unlock {
        pw_thread_loop* loop;
        ~Unlock() { pw_thread_loop_unlock(loop); }
    } unlock{s->loop};

    s->core = pw_context_connect_fd(s->context, remote.Release(), nullptr, 0);  // owns the descriptor now
    if (!s->core) {
        err = "cannot connect to PipeWire over the portal's connection";
        return nullptr;
    }
    static const pw_core_events coreEvents = [] {
        pw_core_events e{};
        e.version = PW_VERSION_CORE_EVENTS;
        e.error = [](void* data, uint32_t id, int, int res, const char* message) {
            if (id == PW_ID_CORE)
                static_cast<Impl*>(data)->Fail("PipeWire: " + std::string(message ? message : spa_strerror(res)));
        };
        return e;
    }();
    pw_core_add_listener(s->core, &s->coreListener, &coreEvents, s);

    // A node that goes away (its producer ended the stream) only pauses the stream
    // reading it: the registry says so.
    s->node = node;
    s->registry = pw_core_get_registry(s->core, PW_VERSION_REGISTRY, 0);
    if (!s->registry) {
        err = "cannot read PipeWire's registry";
        return nullptr;
    }
    static const pw_registry_events registryEvents = [] {
        pw_registry_events e{};
        e.version = PW_VERSION_REGISTRY_EVENTS;
        e.global_remove = [](void* data, uint32_t id) {
            auto* self = static_cast<Impl*>(data);
            if (id == self->node)
                self->Fail("the screen cast stream ended (its PipeWire node went away)");
        };
        return e;
    }();
    pw_registry_add_listener(s->registry, &s->registryListener, &registryEvents, s);

    s->stream = pw_stream_new(s->core, "tavrec-screen",
                              pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                                PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!s->stream) {
        err = "cannot create a PipeWire stream";
        return nullptr;
    }
    static const pw_stream_events streamEvents = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = [](void* data, pw_stream_state, pw_stream_state state, const char* error) {
            static_cast<Impl*>(data)->OnStateChanged(state, error);
        };
        e.param_changed = [](void* data, uint32_t id, const spa_pod* param) {
            static_cast<Impl*>(data)->OnParamChanged(id, param);
        };
        e.process = [](void* data) { static_cast<Impl*>(data)->OnProcess(); };
        return e;
    }();
    pw_stream_add_listener(s->stream, &s->streamListener, &streamEvents, s);

    uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_rectangle defaultSize = SPA_RECTANGLE(1920, 1080), minSize = SPA_RECTANGLE(1, 1),
                        maxSize = SPA_RECTANGLE(16384, 16384);
    const spa_fraction defaultRate = SPA_FRACTION(30, 1), minRate = SPA_FRACTION(0, 1),
                       maxRate = SPA_FRACTION(1000, 1);
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat,
        SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
        SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(11, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_RGBx,
                               SPA_VIDEO_FORMAT_xRGB, SPA_VIDEO_FORMAT_xBGR, SPA_VIDEO_FORMAT_BGRA,
                               SPA_VIDEO_FORMAT_RGBA, SPA_VIDEO_FORMAT_ARGB, SPA_VIDEO_FORMAT_ABGR,
                               SPA_VIDEO_FORMAT_BGR, SPA_VIDEO_FORMAT_RGB),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &minSize, &maxSize),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&defaultRate, &minRate, &maxRate)));
    const int connected = pw_stream_connect(
        s->stream, PW_DIRECTION_INPUT, node,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
    if (connected < 0) {
        err = std::string("cannot connect to the screen cast stream: ") + spa_strerror(connected);
        return nullptr;
    }
    return result;
}

PipeWireStream::PipeWireStream(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

PipeWireStream::~PipeWireStream()
{
    Impl& s = *impl_;
    if (s.loop)
        pw_thread_loop_lock(s.loop);
    if (s.stream)
        pw_stream_destroy(s.stream);
    if (s.registry) {
        spa_hook_remove(&s.registryListener);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(s.registry));
    }
    if (s.core)
        pw_core_disconnect(s.core);
    if (s.loop) {
        pw_thread_loop_unlock(s.loop);
        pw_thread_loop_stop(s.loop);
    }
    if (s.context)
        pw_context_destroy(s.context);
    if (s.loop)
        pw_thread_loop_destroy(s.loop);
}

bool PipeWireStream::WaitForFormat(int timeoutMs, std::string* error)
{
    Impl& s = *impl_;
    std::unique_lock<std::mutex> guard(s.lock);
    const bool done = s.changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                         [&] { return s.failed || s.width > 0; });
    if (s.failed) {
        if (error)
            *error = s.failure;
        return false;
    }
    if (!done) {
        if (error)
            *error = "the screen cast stream agreed on no format within " + std::to_string(timeoutMs / 1000) + " s";
        return false;
    }
    return true;
}

int PipeWireStream::Width() const
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->width;
}

int PipeWireStream::Height() const
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->height;
}

bool PipeWireStream::Failed(std::string* why) const
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (impl_->failed && why)
        *why = impl_->failure;
    return impl_->failed;
}

}  // namespace platform
