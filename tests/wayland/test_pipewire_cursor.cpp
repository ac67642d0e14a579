// links: tavrec_platform_portal PkgConfig::PIPEWIRE
// The cursor as a screen-cast stream's metadata: a PipeWire video source of the
// test's own (a producer stream in the Wayland session's PipeWire, offering BGRx
// frames and the cursor's metadata, as a portal does in its metadata cursor mode) is
// read by the portal's screen source over a plain connection to PipeWire. The
// source's frames, with its cursor blended in as the video thread draws it, show
// the producer's cursor image at position minus hot spot; a cursor that only moved
// is a new frame; a hidden cursor draws nothing.
#include <gtest/gtest.h>

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/portal/PortalScreenSource.h"
#include "platform/x11/CursorImage.h"

namespace {

using namespace std::chrono_literals;

constexpr int kWidth = 96, kHeight = 64;
constexpr uint32_t kBackground = 0x204060;  // 0xRRGGBB
constexpr int kCursorSize = 8;

bool InWaylandSession()
{
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return display && *display && runtime && *runtime;
}

// The cursor image, R, G, B, A bytes premultiplied: a red square ring with a clear
// middle and clear corners, and one half-covering green pixel.
std::vector<uint8_t> CursorRgba()
{
    std::vector<uint8_t> rgba(kCursorSize * kCursorSize * 4, 0);
    for (int y = 0; y < kCursorSize; ++y)
        for (int x = 0; x < kCursorSize; ++x) {
            const bool edge = x == 0 || y == 0 || x == kCursorSize - 1 || y == kCursorSize - 1;
            const bool corner = (x == 0 || x == kCursorSize - 1) && (y == 0 || y == kCursorSize - 1);
            uint8_t* p = &rgba[(y * kCursorSize + x) * 4];
            if (edge && !corner) {
                p[0] = 0xF0, p[1] = 0x10, p[2] = 0x10, p[3] = 0xFF;
            }
        }
    uint8_t* half = &rgba[(3 * kCursorSize + 3) * 4];
    half[0] = 0, half[1] = 0x80, half[2] = 0, half[3] = 0x80;
    return rgba;
}

// What the producer's next buffer says.
struct Scene {
    bool picture = true;    // the buffer carries a frame, else only the cursor
    uint32_t id = 1;        // 0: no cursor
    int x = 0, y = 0, xhot = 0, yhot = 0;
    bool image = false;     // brings the cursor image
    bool emptyImage = false;  // brings an image without pixels (an invisible cursor)
};

// A PipeWire video source node of its own, driving its own cycles: each Send is one
// buffer of kWidth x kHeight BGRx pixels in kBackground, with the cursor's metadata.
class Producer {
public:
    static std::unique_ptr<Producer> Start(std::string* error)
    {
        pw_init(nullptr, nullptr);
        std::unique_ptr<Producer> p(new Producer());
        p->loop_ = pw_thread_loop_new("test-producer", nullptr);
        p->context_ = pw_context_new(pw_thread_loop_get_loop(p->loop_), nullptr, 0);
        if (!p->context_ || pw_thread_loop_start(p->loop_) < 0) {
            *error = "no PipeWire loop";
            return nullptr;
        }
        pw_thread_loop_lock(p->loop_);
        p->core_ = pw_context_connect(p->context_, nullptr, 0);
        if (!p->core_) {
            pw_thread_loop_unlock(p->loop_);
            *error = "cannot connect to PipeWire";
            return nullptr;
        }
        p->stream_ = pw_stream_new(p->core_, "tavrec-test-cursor-source",
                                   pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_MEDIA_TYPE, "Video",
                                                     PW_KEY_MEDIA_CATEGORY, "Source", nullptr));
        static const pw_stream_events events = [] {
            pw_stream_events e{};
            e.version = PW_VERSION_STREAM_EVENTS;
            e.state_changed = [](void* data, pw_stream_state, pw_stream_state state, const char*) {
                auto* self = static_cast<Producer*>(data);
                self->state_ = state;
                pw_thread_loop_signal(self->loop_, false);
            };
            e.param_changed = [](void* data, uint32_t id, const spa_pod* param) {
                static_cast<Producer*>(data)->OnParamChanged(id, param);
            };
            return e;
        }();
        pw_stream_add_listener(p->stream_, &p->listener_, &events, p.get());
        uint8_t buffer[512];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        const spa_rectangle size = SPA_RECTANGLE(kWidth, kHeight);
        const spa_fraction rate = SPA_FRACTION(30, 1);
        const spa_pod* params[1] = {static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
            SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
            SPA_POD_Id(SPA_VIDEO_FORMAT_BGRx), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
            SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)))};
        const int connected = pw_stream_connect(
            p->stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY,
            static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
        // Its node has an id once the stream is paused, ready to be linked.
        while (connected >= 0 && p->state_ != PW_STREAM_STATE_PAUSED && p->state_ != PW_STREAM_STATE_ERROR)
            pw_thread_loop_timed_wait(p->loop_, 5);
        p->node_ = pw_stream_get_node_id(p->stream_);
        pw_thread_loop_unlock(p->loop_);
        if (connected < 0 || p->node_ == SPA_ID_INVALID) {
            *error = "the producer stream did not connect";
            return nullptr;
        }
        return p;
    }

    ~Producer()
    {
        if (loop_)
            pw_thread_loop_lock(loop_);
        if (stream_)
            pw_stream_destroy(stream_);
        if (core_)
            pw_core_disconnect(core_);
        if (loop_) {
            pw_thread_loop_unlock(loop_);
            pw_thread_loop_stop(loop_);
        }
        if (context_)
            pw_context_destroy(context_);
        if (loop_)
            pw_thread_loop_destroy(loop_);
    }

    uint32_t Node() const { return node_; }

    // Waits until the stream is linked and streaming.
    bool WaitStreaming()
    {
        pw_thread_loop_lock(loop_);
        for (int i = 0; i < 20 && state_ != PW_STREAM_STATE_STREAMING; ++i)
            pw_thread_loop_timed_wait(loop_, 1);
        const bool streaming = state_ == PW_STREAM_STATE_STREAMING;
        pw_thread_loop_unlock(loop_);
        return streaming;
    }

    // Sends one buffer of the scene: queues it, then runs a cycle of the graph, which
    // takes it. False when no buffer was free or it had no cursor metadata.
    bool Send(const Scene& scene)
    {
        pw_thread_loop_lock(loop_);
        scene_ = scene;
        const bool sent = Fill() && metaFound_;
        pw_stream_trigger_process(stream_);
        pw_thread_loop_unlock(loop_);
        return sent;
    }

private:
    Producer() = default;

    void OnParamChanged(uint32_t id, const spa_pod* param)
    {
        if (id != SPA_PARAM_Format || !param)
            return;
        uint8_t buffer[512];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        const int metaSize = static_cast<int>(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) +
                             kCursorSize * kCursorSize * 4;
        const spa_pod* params[2] = {
            static_cast<const spa_pod*>(spa_pod_builder_add_object(
                &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
                SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
                SPA_PARAM_BUFFERS_size, SPA_POD_Int(kWidth * 4 * kHeight), SPA_PARAM_BUFFERS_stride,
                SPA_POD_Int(kWidth * 4), SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int(1 << SPA_DATA_MemFd))),
            static_cast<const spa_pod*>(spa_pod_builder_add_object(
                &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor),
                SPA_PARAM_META_size, SPA_POD_Int(metaSize))),
        };
        pw_stream_update_params(stream_, params, 2);
    }

    bool Fill()
    {
        pw_buffer* buffer = pw_stream_dequeue_buffer(stream_);
        if (!buffer)
            return false;
        spa_buffer* spa = buffer->buffer;
        spa_data& data = spa->datas[0];
        if (data.data && scene_.picture) {
            for (int y = 0; y < kHeight; ++y) {
                auto* row = static_cast<uint8_t*>(data.data) + y * kWidth * 4;
                for (int x = 0; x < kWidth; ++x) {
                    row[x * 4 + 0] = kBackground & 0xff;
                    row[x * 4 + 1] = (kBackground >> 8) & 0xff;
                    row[x * 4 + 2] = (kBackground >> 16) & 0xff;
                    row[x * 4 + 3] = 0xff;
                }
            }
            data.chunk->offset = 0;
            data.chunk->stride = kWidth * 4;
            data.chunk->size = kWidth * 4 * kHeight;
        } else {
            data.chunk->size = 0;  // only the cursor changed
        }
        const size_t imageBytes = kCursorSize * kCursorSize * 4;
        auto* cursor = static_cast<spa_meta_cursor*>(
            spa_buffer_find_meta_data(spa, SPA_META_Cursor, sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) +
                                                                 imageBytes));
        metaFound_ = cursor != nullptr;
        if (cursor) {
            cursor->id = scene_.id;
            cursor->flags = 0;
            cursor->position.x = scene_.x;
            cursor->position.y = scene_.y;
            cursor->hotspot.x = scene_.xhot;
            cursor->hotspot.y = scene_.yhot;
            cursor->bitmap_offset = 0;
            if (scene_.image || scene_.emptyImage) {
                cursor->bitmap_offset = sizeof(spa_meta_cursor);
                auto* bitmap = SPA_PTROFF(cursor, cursor->bitmap_offset, spa_meta_bitmap);
                bitmap->format = SPA_VIDEO_FORMAT_RGBA;
                bitmap->size.width = kCursorSize;
                bitmap->size.height = kCursorSize;
                bitmap->stride = kCursorSize * 4;
                bitmap->offset = scene_.emptyImage ? 0 : sizeof(spa_meta_bitmap);
                const std::vector<uint8_t> rgba = CursorRgba();
                std::memcpy(SPA_PTROFF(bitmap, sizeof(spa_meta_bitmap), void), rgba.data(), imageBytes);
            }
        }
        pw_stream_queue_buffer(stream_, buffer);
        return true;
    }

    pw_thread_loop* loop_ = nullptr;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_stream* stream_ = nullptr;
    spa_hook listener_{};
    pw_stream_state state_ = PW_STREAM_STATE_UNCONNECTED;
    uint32_t node_ = SPA_ID_INVALID;
    Scene scene_;
    bool metaFound_ = false;
};

// A plain connection to the session's PipeWire, as the portal would hand one over
// (-1 on failure).
int ConnectToPipeWire()
{
    const std::string path = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/pipewire-0";
    platform::UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (!fd.Valid() || path.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return -1;
    return fd.Release();
}

bool WaitFor(const std::function<bool()>& done, int tenMsSteps = 500)
{
    for (int i = 0; i < tenMsSteps; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return done();
}

// A frame as the video thread builds it: the source's picture with its cursor drawn in.
struct Frame {
    std::vector<uint8_t> pixels = std::vector<uint8_t>(kWidth * 4 * kHeight);
    bool cursorDrawn = false;

    uint32_t At(int x, int y) const
    {
        const uint8_t* p = &pixels[(y * kWidth + x) * 4];
        return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
    }
};

Frame Build(platform::PortalScreenSource& source, platform::CursorImage& cursor)
{
    Frame frame;
    EXPECT_TRUE(source.Grab(frame.pixels.data(), kWidth * 4));
    frame.cursorDrawn = source.Cursor(&cursor);
    if (frame.cursorDrawn)
        platform::DrawCursor(cursor, cursor.x - cursor.xhot, cursor.y - cursor.yhot, frame.pixels.data(), kWidth,
                             kHeight, kWidth * 4, 32);
    return frame;
}

// The colour (0xRRGGBB) expected at (x, y) with the cursor's image at (left, top).
uint32_t Expected(int x, int y, int left, int top)
{
    const int cx = x - left, cy = y - top;
    if (cx < 0 || cy < 0 || cx >= kCursorSize || cy >= kCursorSize)
        return kBackground;
    const std::vector<uint8_t> rgba = CursorRgba();
    const uint8_t* p = &rgba[(cy * kCursorSize + cx) * 4];
    uint32_t out = 0;
    for (int c = 0; c < 3; ++c) {
        const uint32_t under = (kBackground >> (16 - 8 * c)) & 0xff;
        const uint32_t v = p[c] + (under * (255 - p[3]) + 127) / 255;
        out |= std::min<uint32_t>(v, 255) << (16 - 8 * c);
    }
    return out;
}

// Every pixel of the frame as expected with the cursor image at (left, top), or none.
void ExpectFrame(const Frame& frame, bool withCursor, int left, int top)
{
    int wrong = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const uint32_t want = withCursor ? Expected(x, y, left, top) : kBackground;
            if (frame.At(x, y) != want && ++wrong <= 5)
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << std::hex << frame.At(x, y) << ", not "
                              << want;
        }
    EXPECT_EQ(wrong, 0);
}

class PipeWireCursor : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!InWaylandSession())
            GTEST_SKIP() << "needs the headless Wayland session (tests/wayland-session.sh)";
        std::string error;
        producer_ = Producer::Start(&error);
        ASSERT_TRUE(producer_) << error;
        platform::UniqueFd remote(ConnectToPipeWire());
        ASSERT_TRUE(remote.Valid());
        source_ = platform::PortalScreenSource::OpenStream(remote, producer_->Node(), true, &error);
        ASSERT_TRUE(source_) << error;
        ASSERT_EQ(source_->Width(), kWidth);
        ASSERT_EQ(source_->Height(), kHeight);
        ASSERT_TRUE(producer_->WaitStreaming());
    }

    void TearDown() override
    {
        source_.reset();
        producer_.reset();
    }

    // Sends the scene and waits until the source has something new from it.
    void SendAndWait(const Scene& scene)
    {
        ASSERT_TRUE(producer_->Send(scene)) << "no buffer with cursor metadata could be sent";
        ASSERT_TRUE(WaitFor([&] { return source_->HasNewFrame(); })) << "the source saw nothing new";
    }

    // The first scene: the producer may run its first cycles while the reader's end
    // of the link is still being set up, and a buffer sent then reaches no one; so it
    // is sent again until one arrives.
    void SendFirst(const Scene& scene)
    {
        for (int attempt = 0; attempt < 20; ++attempt) {
            ASSERT_TRUE(producer_->Send(scene)) << "no buffer with cursor metadata could be sent";
            if (WaitFor([&] { return source_->HasNewFrame() && source_->FramesReceived() > 0; }, 50)) {
                if (attempt > 0)
                    std::this_thread::sleep_for(300ms);  // an earlier copy still on its way lands first
                return;
            }
        }
        FAIL() << "the source saw none of the first scene's buffers";
    }

    std::unique_ptr<Producer> producer_;
    std::unique_ptr<platform::PortalScreenSource> source_;
    platform::CursorImage cursor_;
};

TEST_F(PipeWireCursor, ImageIsBlendedAtPositionMinusHotSpotAndFollowsMovesWithoutNewPictures)
{
    Scene scene;
    scene.x = 20, scene.y = 15, scene.xhot = 3, scene.yhot = 2, scene.image = true;
    ASSERT_NO_FATAL_FAILURE(SendFirst(scene));
    Frame frame = Build(*source_, cursor_);
    ASSERT_TRUE(frame.cursorDrawn);
    ExpectFrame(frame, true, 17, 13);
    EXPECT_NE(frame.At(17, 13), frame.At(18, 13));  // a clear corner beside the ring
    EXPECT_FALSE(source_->HasNewFrame());

    // Buffers with the cursor moved and no picture, and no image either: each is a new
    // frame, with the same image at the new place.
    const uint64_t pictures = source_->FramesReceived();
    const uint32_t serial = cursor_.serial;
    for (const auto& at : {std::pair{50, 40}, std::pair{90, 60}, std::pair{1, 1}}) {
        scene.picture = false, scene.image = false;
        scene.x = at.first, scene.y = at.second;
        SendAndWait(scene);
        frame = Build(*source_, cursor_);
        ASSERT_TRUE(frame.cursorDrawn);
        ExpectFrame(frame, true, at.first - 3, at.second - 2);  // clipped at the edges
    }
    EXPECT_EQ(source_->FramesReceived(), pictures);
    EXPECT_EQ(cursor_.serial, serial);

    // The same cursor again is nothing new.
    ASSERT_TRUE(producer_->Send(scene));
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(source_->HasNewFrame());
}

TEST_F(PipeWireCursor, HiddenCursorAndEmptyImageDrawNothing)
{
    Scene scene;
    scene.x = 30, scene.y = 30, scene.image = true;
    ASSERT_NO_FATAL_FAILURE(SendFirst(scene));
    ExpectFrame(Build(*source_, cursor_), true, 30, 30);

    // Id 0: no cursor in the stream. The next frame is new, without a cursor.
    scene.id = 0, scene.picture = false, scene.image = false;
    SendAndWait(scene);
    Frame frame = Build(*source_, cursor_);
    EXPECT_FALSE(frame.cursorDrawn);
    ExpectFrame(frame, false, 0, 0);

    // It comes back elsewhere with the image it had.
    scene.id = 1, scene.x = 60, scene.y = 10;
    SendAndWait(scene);
    ExpectFrame(Build(*source_, cursor_), true, 60, 10);

    // An image without pixels: an invisible cursor, wherever it goes.
    scene.emptyImage = true;
    SendAndWait(scene);
    frame = Build(*source_, cursor_);
    EXPECT_FALSE(frame.cursorDrawn);
    ExpectFrame(frame, false, 0, 0);
    scene.emptyImage = false, scene.x = 40;
    ASSERT_TRUE(producer_->Send(scene));
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(source_->Cursor(&cursor_));

    // A new image shows it again.
    scene.image = true;
    SendAndWait(scene);
    ExpectFrame(Build(*source_, cursor_), true, 40, 10);
}

}  // namespace
