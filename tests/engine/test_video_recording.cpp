// links: korvid tavrec_support_Recording tavrec_support_ChildTest tavrec_support_TestWindow tavrec_support_RiffReader tavrec_support_MediaProbe tavrec_platform_codec tavrec_platform_x11
// Recordings of a test window that paints a known, changing picture, checked with
// our RIFF reader and with ffprobe/ffmpeg.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <chrono>
#include <cstring>
#include <thread>

#include <xcb/xcb.h>

#include "platform/codec/CodecManager.h"
#include "platform/x11/XDisplay.h"
#include "tests/support/ChildTest.h"
#include "tests/support/MediaProbe.h"
#include "tests/support/Recording.h"
#include "tests/support/RiffReader.h"
#include "tests/support/TestWindow.h"


namespace {

using namespace std::chrono_literals;
using testkit::Recording;
using testsupport::TestWindow;

constexpr int kWidth = 160;
constexpr int kHeight = 120;

void MovePointer(int x, int y)
{
    // (--sync would wait for ever when the pointer is already there)
    testkit::RunCapture({"xdotool", "mousemove", std::to_string(x), std::to_string(y)});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

// Repaints the window with the next frame number every `period` on a thread of its own.
class Painter {
public:
    Painter(TestWindow& window, std::chrono::milliseconds period) : window_(window)
    {
        thread_ = std::thread([this, period] {
            uint32_t n = window_.CurrentFrame();
            while (!stop_) {
                window_.Paint(++n);
                std::this_thread::sleep_for(period);
            }
        });
    }
    ~Painter()
    {
        stop_ = true;
        thread_.join();
    }

private:
    TestWindow& window_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The frame number a recorded picture shows in its counter cells, -1 when unreadable.
int64_t CounterOf(const std::vector<uint8_t>& frame, int width, int xOffset = 0)
{
    uint32_t n = 0;
    for (int bit = 0; bit < 16; ++bit) {
        const size_t at = (static_cast<size_t>(4) * width + xOffset + bit * 8 + 4) * 4;
        const uint8_t r = frame[at + 2], g = frame[at + 1], b = frame[at];
        if (r == 0xF8 && g == 0xF8 && b == 0xF8)
            n |= 1u << bit;
        else if (r != 0 || g != 0 || b != 0)
            return -1;
    }
    return n;
}

uint32_t PixelAt(const std::vector<uint8_t>& frame, int width, int x, int y)
{
    uint32_t v = 0;
    std::memcpy(&v, &frame[(static_cast<size_t>(y) * width + x) * 4], 4);
    return v & 0xFFFFFF;
}

// Counts pixels of the decoded frame (x in [x0, x1)) that differ from the window's picture n.
int Mismatches(const TestWindow& window, const std::vector<uint8_t>& frame, uint32_t n, int x0 = 0,
               int x1 = kWidth, int frameXOffset = 0)
{
    int bad = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = x0; x < x1; ++x)
            if (PixelAt(frame, kWidth, x + frameXOffset, y) != (window.ExpectedFramePixel(x, y, n) & 0xFFFFFF))
                ++bad;
    return bad;
}

// Records the window at 10 fps for `length` while it repaints every 40 ms.
void RecordPainting(TestWindow& window, const std::string& file, std::chrono::milliseconds length,
                    const std::u16string& codec = u"Uncompress")
{
    Painter painter(window, 40ms);
    Recording recording(window.Id(), file, 10, codec);
    std::string error;
    ASSERT_TRUE(recording.Begin(&error)) << error;
    std::this_thread::sleep_for(length);
    ASSERT_TRUE(recording.Stop()) << testkit::LastErrorText();
}

class VideoRecording : public ::testing::Test {
protected:
    void SetUp() override
    {
        MovePointer(5, 5);  // keep the cursor out of the recorded pictures
        testsupport::TestWindowOptions options;
        options.overrideRedirect = true;
        options.x = 300;
        options.y = 200;
        options.width = kWidth;
        options.height = kHeight;
        std::string error;
        window_ = TestWindow::Create(options, &error);
        ASSERT_TRUE(window_) << error;
        ASSERT_EQ(window_->BitsPerPixel(), 32) << "these tests expect a 24-bit screen";
    }

    std::string File(const std::string& name) { return dir_.File(name); }

    // Every decoded frame must be one of the pictures the window showed, in order.
    void ExpectFramesArePictures(const std::string& file, size_t minimumFrames, int maxMismatches = 0)
    {
        const auto frames = testkit::DecodeVideo(file, "bgr0", kWidth, kHeight, 4);
        ASSERT_GE(frames.size(), minimumFrames);
        int64_t last = -1;
        std::set<int64_t> distinct;
        for (size_t i = 0; i < frames.size(); ++i) {
            const int64_t n = CounterOf(frames[i], kWidth);
            ASSERT_GE(n, 0) << "frame " << i << " shows no counter";
            EXPECT_GE(n, last) << "frame " << i;
            last = n;
            distinct.insert(n);
            EXPECT_LE(Mismatches(*window_, frames[i], static_cast<uint32_t>(n)), maxMismatches) << "frame " << i;
        }
        EXPECT_GE(distinct.size(), 3u) << "the recording shows the picture changing";
    }

    testkit::TempDir dir_;
    std::unique_ptr<TestWindow> window_;
};

TEST_F(VideoRecording, UncompressedStoresTheWindowPixelsBottomUpAsKeyFrames)
{
    const std::string file = File("raw.avi");
    ASSERT_NO_FATAL_FAILURE(RecordPainting(*window_, file, 2s));
    testsupport::RiffReader reader;
    ASSERT_TRUE(reader.Open(file)) << reader.LastError();
    ASSERT_EQ(reader.Streams().size(), 1u);
    const auto& stream = reader.Streams()[0];
    EXPECT_EQ(stream.header.type, TAVREC_FOURCC('v', 'i', 'd', 's'));
    EXPECT_EQ(stream.header.handler, 0u);
    EXPECT_EQ(stream.header.scale, 1u);
    EXPECT_EQ(stream.header.rate, 10u);
    EXPECT_EQ(stream.header.quality, 0xFFFFFFFFu);
    EXPECT_EQ(stream.header.suggestedBufferSize, static_cast<uint32_t>(kWidth * kHeight * 4));
    EXPECT_EQ(stream.header.frame[2], kWidth);
    EXPECT_EQ(stream.header.frame[3], kHeight);
    EXPECT_EQ(stream.name, "Video");
    ASSERT_EQ(stream.format.size(), 40u);
    BitmapInfoHeader format;
    std::memcpy(&format, stream.format.data(), 40);
    EXPECT_EQ(format.biSize, 40u);
    EXPECT_EQ(format.biWidth, kWidth);
    EXPECT_EQ(format.biHeight, kHeight);
    EXPECT_EQ(format.biPlanes, 1);
    EXPECT_EQ(format.biBitCount, 32);
    EXPECT_EQ(format.biCompression, 0u);
    EXPECT_EQ(format.biSizeImage, static_cast<uint32_t>(kWidth * kHeight * 4));
    EXPECT_EQ(format.biClrUsed, 0u);

    // Every stored chunk is a whole frame marked as a key frame.
    ASSERT_TRUE(reader.HasIdx1());
    size_t frames = 0;
    for (const auto& entry : reader.Idx1()) {
        if (entry.size == 0)
            continue;
        ++frames;
        EXPECT_EQ(entry.size, format.biSizeImage);
        EXPECT_TRUE(entry.flags & TAVREC_AVIIF_KEYFRAME);
    }
    EXPECT_GE(frames, 15u);

    // Rows run bottom-up: the chunk's last row is the picture's top row.
    const auto chunks = reader.ChunksOf(0);
    ASSERT_FALSE(chunks.empty());
    std::vector<uint8_t> data;
    ASSERT_TRUE(reader.ReadData(chunks[0], &data));
    std::vector<uint8_t> topDown(data.size());
    const size_t row = kWidth * 4;
    for (int y = 0; y < kHeight; ++y)
        std::memcpy(&topDown[y * row], &data[(kHeight - 1 - y) * row], row);
    const int64_t n = CounterOf(topDown, kWidth);
    ASSERT_GE(n, 0);
    EXPECT_EQ(Mismatches(*window_, topDown, static_cast<uint32_t>(n)), 0);
    // The unused fourth byte is 0xFF, so that players reading the frame as BGRA show
    // it opaque: ffmpeg decodes every pixel with full alpha.
    size_t transparent = 0;
    for (size_t i = 3; i < data.size(); i += 4)
        transparent += data[i] != 0xFF;
    EXPECT_EQ(transparent, 0u);
    const auto rgba = testkit::DecodeVideo(file, "rgba", kWidth, kHeight, 4);
    ASSERT_FALSE(rgba.empty());
    size_t lowAlpha = 0;
    for (size_t i = 3; i < rgba[0].size(); i += 4)
        lowAlpha += rgba[0][i] != 0xFF;
    EXPECT_EQ(lowAlpha, 0u);

    ExpectFramesArePictures(file, 15);
}

// The handler code, the whole output format and the decoded pictures for a codec.
void CheckCodecRecording(TestWindow& window, const std::string& file, const std::u16string& description,
                         bool lossless)
{
    BitmapInfoHeader input{40, kWidth, kHeight, 1, 32, 0, kWidth * kHeight * 4, 0, 0, 0, 0};
    std::unique_ptr<platform::Compressor> reference;
    platform::CodecInfo info;
    for (int i = 0; platform::CodecManager::Info(0, i, &info); ++i)
        if (info.description == description) {
            reference = platform::CodecManager::Open(info.fccType, info.fccHandler);
            break;
        }
    if (!reference || !reference->CanCompress(input))
        GTEST_SKIP() << "this machine has no usable encoder of that name";
    const uint32_t formatSize = reference->GetFormatSize(input);
    std::vector<uint8_t> expectedFormat(formatSize);
    ASSERT_TRUE(reference->GetFormat(input, expectedFormat.data(), formatSize));
    const uint32_t handler = reference->GetInfo().fccHandler;

    ASSERT_NO_FATAL_FAILURE(RecordPainting(window, file, 2s, description));
    testsupport::RiffReader reader;
    ASSERT_TRUE(reader.Open(file)) << reader.LastError();
    ASSERT_EQ(reader.Streams().size(), 1u);
    const auto& stream = reader.Streams()[0];
    EXPECT_EQ(stream.header.handler, handler);
    EXPECT_EQ(stream.header.rate, 10u);
    EXPECT_EQ(stream.header.suggestedBufferSize, input.biSizeImage);
    // The stream's format is the compressor's whole output format, extra data included.
    EXPECT_EQ(stream.format, expectedFormat);
    BitmapInfoHeader format;
    std::memcpy(&format, stream.format.data(), 40);
    EXPECT_EQ(format.biCompression, handler);

    const auto streams = testkit::ProbeStreams(file);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].at("width"), std::to_string(kWidth));
    EXPECT_EQ(streams[0].at("height"), std::to_string(kHeight));
    const auto frames = testkit::DecodeVideo(file, "bgr0", kWidth, kHeight, 4);
    ASSERT_GE(frames.size(), 15u);
    if (lossless) {
        for (size_t i = 0; i < frames.size(); ++i) {
            const int64_t n = CounterOf(frames[i], kWidth);
            ASSERT_GE(n, 0) << "frame " << i;
            EXPECT_EQ(Mismatches(window, frames[i], static_cast<uint32_t>(n)), 0) << "frame " << i;
        }
    } else {
        // Lossy: close to some picture the window showed.
        const auto& last = frames.back();
        double error = 0;
        for (int y = 16; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const uint32_t got = PixelAt(last, kWidth, x, y);
                const uint32_t want = window.ColorAt(x, y, window.CurrentFrame());
                for (int c = 0; c < 3; ++c)
                    error += std::abs(static_cast<int>((got >> (8 * c)) & 0xFF) -
                                      static_cast<int>((want >> (8 * c)) & 0xFF));
            }
        EXPECT_LT(error / ((kHeight - 16) * kWidth * 3), 40.0);
    }
}

TEST_F(VideoRecording, LosslessCodecKeepsEveryPixelAndStoresItsWholeFormat)
{
    CheckCodecRecording(*window_, File("utvideo.avi"), u"Ut Video", true);
}

// FFV1 takes the grabbed pixels as they are: it reads them in the frame buffers, which
// the video thread fills again only once the encoder has let go of them.
TEST_F(VideoRecording, AnEncoderReadingTheFrameBuffersInPlaceKeepsEveryPixel)
{
    CheckCodecRecording(*window_, File("ffv1.avi"), u"FFmpeg video codec #1", true);
}

TEST_F(VideoRecording, LossyCodecRecordsDecodableFrames)
{
    CheckCodecRecording(*window_, File("mjpeg.avi"), u"MJPEG (Motion JPEG)", false);
}

TEST_F(VideoRecording, CursorIsDrawnAtItsPositionLessTheHotSpot)
{
    ASSERT_TRUE(window_->SetTestCursor(3, 5));
    int ox = 0, oy = 0;
    ASSERT_TRUE(window_->ClientOrigin(&ox, &oy));
    MovePointer(ox + 60, oy + 50);
    const std::string file = File("cursor.avi");
    {
        Recording recording(window_->Id(), file, 10);
        std::string error;
        ASSERT_TRUE(recording.Begin(&error)) << error;
        std::this_thread::sleep_for(700ms);
        ASSERT_TRUE(recording.Stop());
    }
    MovePointer(5, 5);
    const auto frames = testkit::DecodeVideo(file, "bgr0", kWidth, kHeight, 4);
    ASSERT_FALSE(frames.empty());
    const auto& frame = frames.back();
    const uint32_t n = window_->CurrentFrame();
    int opaque = 0;
    for (int y = 0; y < TestWindow::kCursorSize; ++y)
        for (int x = 0; x < TestWindow::kCursorSize; ++x) {
            const uint32_t argb = TestWindow::TestCursorPixel(x, y);
            const int fx = 60 - 3 + x, fy = 50 - 5 + y;
            const uint32_t alpha = argb >> 24;
            if (alpha == 0xFF) {
                ++opaque;
                EXPECT_EQ(PixelAt(frame, kWidth, fx, fy), argb & 0xFFFFFF) << x << "," << y;
            } else if (alpha == 0) {
                EXPECT_EQ(PixelAt(frame, kWidth, fx, fy), window_->ExpectedFramePixel(fx, fy, n) & 0xFFFFFF)
                    << x << "," << y;
            }
        }
    EXPECT_GT(opaque, 10);
    // Outside the cursor the picture is untouched.
    EXPECT_EQ(PixelAt(frame, kWidth, 10, 100), window_->ExpectedFramePixel(10, 100, n) & 0xFFFFFF);
}

TEST_F(VideoRecording, FollowsAMovedWindow)
{
    const std::string file = File("moved.avi");
    {
        Painter painter(*window_, 40ms);
        Recording recording(window_->Id(), file, 10);
        std::string error;
        ASSERT_TRUE(recording.Begin(&error)) << error;
        for (int step = 1; step <= 6; ++step) {
            std::this_thread::sleep_for(250ms);
            ASSERT_TRUE(window_->MoveTo(300 + step * 90, 200 + step * 40));
        }
        std::this_thread::sleep_for(300ms);
        ASSERT_TRUE(recording.Stop());
    }
    // A frame grabbed while the window moved may show it half redrawn; the rest are whole.
    const auto frames = testkit::DecodeVideo(file, "bgr0", kWidth, kHeight, 4);
    ASSERT_GE(frames.size(), 15u);
    size_t whole = 0;
    for (const auto& frame : frames) {
        const int64_t n = CounterOf(frame, kWidth);
        if (n >= 0 && Mismatches(*window_, frame, static_cast<uint32_t>(n)) == 0)
            ++whole;
    }
    EXPECT_GE(whole, frames.size() - 6);
}

TEST_F(VideoRecording, AreaOutsideTheScreenIsBlackAndADestroyedWindowKeepsItsPlace)
{
    ASSERT_TRUE(window_->MoveTo(-40, 300));
    window_->Paint(7);
    const std::string file = File("offscreen.avi");
    {
        Recording recording(window_->Id(), file, 10);
        std::string error;
        ASSERT_TRUE(recording.Begin(&error)) << error;
        std::this_thread::sleep_for(800ms);
        ASSERT_TRUE(window_->Destroy());
        std::this_thread::sleep_for(800ms);
        EXPECT_EQ(recording.State(), static_cast<uint32_t>(StateRecording)) << "recording goes on";
        ASSERT_TRUE(recording.Stop()) << testkit::LastErrorText();
    }
    const auto frames = testkit::DecodeVideo(file, "bgr0", kWidth, kHeight, 4);
    ASSERT_GE(frames.size(), 12u);
    // The first frame: 40 black columns, then the window's columns 40 and up.
    const auto& first = frames.front();
    for (int y = 0; y < kHeight; y += 7)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(PixelAt(first, kWidth, x, y), 0u) << x << "," << y;
    int bad = 0;
    for (int y = 8; y < kHeight; ++y)
        for (int x = 40; x < kWidth; ++x)
            bad += PixelAt(first, kWidth, x, y) != (window_->ExpectedFramePixel(x, y, 7) & 0xFFFFFF);
    EXPECT_EQ(bad, 0);
}

TEST_F(VideoRecording, PauseDoesNotCountAndTheStreamGoesOnWithTheNextSlot)
{
    const std::string file = File("pause.avi");
    std::chrono::duration<double> recorded{};
    {
        Painter painter(*window_, 40ms);
        Recording recording(window_->Id(), file, 10);
        std::string error;
        ASSERT_TRUE(recording.Initialize()) << testkit::LastErrorText();
        auto t0 = std::chrono::steady_clock::now();
        recording.Start();
        std::this_thread::sleep_for(1500ms);
        EXPECT_TRUE(recording.Pause());
        auto t1 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(2s);
        EXPECT_TRUE(recording.Pause());  // the same call resumes
        auto t2 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(1500ms);
        ASSERT_TRUE(recording.Stop());
        auto t3 = std::chrono::steady_clock::now();
        recorded = (t1 - t0) + (t3 - t2);
    }
    testsupport::RiffReader reader;
    ASSERT_TRUE(reader.Open(file)) << reader.LastError();
    const auto chunks = reader.ChunksOf(0);
    ASSERT_FALSE(chunks.empty());
    size_t empty = 0;
    for (const auto& chunk : chunks)
        empty += chunk.size == 0;
    EXPECT_LE(empty, 1u) << "no run of empty positions where the pause was";
    // The video lasts the recorded time without the pause, within a frame (the pause is
    // seen at the thread's next turn).
    const double duration = static_cast<double>(chunks.size()) / 10.0;
    EXPECT_NEAR(duration, recorded.count(), 0.1 + 0.05);
    ExpectFramesArePictures(file, 25);
}

struct SleepyHook {
    std::atomic<int> calls{0};
    static void Call(void* object, FrameSurface*, int32_t, int32_t, bool*)
    {
        auto* self = static_cast<SleepyHook*>(object);
        if (++self->calls == 4)
            std::this_thread::sleep_for(600ms);  // three intervals at 5 fps
    }
};

TEST_F(VideoRecording, AFrameTakingThreeIntervalsLeavesTwoEmptyPositions)
{
    const std::string file = File("slow.avi");
    SleepyHook hook;
    {
        Recording recording(window_->Id(), file, 5);
        recording.SetHook(&SleepyHook::Call, &hook);
        std::string error;
        ASSERT_TRUE(recording.Begin(&error)) << error;
        std::this_thread::sleep_for(2500ms);
        ASSERT_TRUE(recording.Stop());
    }
    // In the file: frames at slots 0, 1, 2, the slow one at 3, then slots 4 and 5 empty.
    testsupport::RiffReader reader;
    ASSERT_TRUE(reader.Open(file)) << reader.LastError();
    std::vector<int64_t> sizes;
    for (const auto& chunk : reader.ChunksOf(0))
        sizes.push_back(chunk.size);
    ASSERT_GE(sizes.size(), 8u);
    const int64_t full = kWidth * kHeight * 4;
    EXPECT_EQ(sizes[0], full);
    EXPECT_EQ(sizes[3], full);
    EXPECT_EQ(sizes[4], 0);
    EXPECT_EQ(sizes[5], 0);
    EXPECT_EQ(sizes[6], full);
    EXPECT_EQ(std::count(sizes.begin(), sizes.end(), 0), 2);
    // A player shows the frame after the gap at its time: 6 / 5 s.
    std::vector<double> times;
    for (const auto& packet : testkit::ProbePackets(file, 0))
        if (packet.size > 0)
            times.push_back(packet.pts);
    ASSERT_GE(times.size(), 5u);
    EXPECT_NEAR(times[4], 6.0 / 5, 1e-6);
}

struct KeepingHook {
    std::atomic<int> calls{0};
    static void Call(void* object, FrameSurface* frame, int32_t, int32_t, bool* refresh)
    {
        auto* self = static_cast<KeepingHook*>(object);
        const int call = self->calls++;
        *refresh = false;  // every later frame reuses this one
        // A 6 x 6 square at (100, 60) whose blue value counts the calls.
        for (int y = 60; y < 66; ++y)
            for (int x = 100; x < 106; ++x) {
                uint8_t* p = frame->Pixels + static_cast<size_t>(y) * frame->Stride + x * 4;
                p[0] = static_cast<uint8_t>(call * 10);
                p[1] = 0x11;
                p[2] = 0x22;
            }
    }
};

TEST_F(VideoRecording, KeptFramesRepeatThePictureWithWhatTheHookDrawsAndNoCursorTrace)
{
    window_->Paint(3);
    ASSERT_TRUE(window_->SetTestCursor(0, 0));
    int ox = 0, oy = 0;
    ASSERT_TRUE(window_->ClientOrigin(&ox, &oy));
    const std::string file = File("kept.avi");
    KeepingHook hook;
    {
        Painter painter(*window_, 40ms);  // the screen changes; the kept frame does not
        Recording recording(window_->Id(), file, 10);
        recording.SetHook(&KeepingHook::Call, &hook);
        std::string error;
        ASSERT_TRUE(recording.Begin(&error)) << error;
        for (int step = 0; step < 8; ++step) {
            MovePointer(ox + 20 + step * 15, oy + 80);  // the cursor wanders over the frame
            std::this_thread::sleep_for(200ms);
        }
        ASSERT_TRUE(recording.Stop());
    }
    MovePointer(5, 5);
    const auto frames = testkit::DecodeVideo(file, "bgr0", kWidth, kHeight, 4);
    ASSERT_GE(frames.size(), 12u);
    const int64_t n = CounterOf(frames[0], kWidth);
    ASSERT_GE(n, 0);
    for (size_t i = 0; i < frames.size(); ++i) {
        const auto& frame = frames[i];
        // the square shows this frame's call
        EXPECT_EQ(PixelAt(frame, kWidth, 102, 62), 0x221100u | static_cast<uint32_t>(i * 10 & 0xFF)) << i;
        // everything else is the first picture, but for the cursor at its current place:
        // rows 80 to 96 hold the cursor's track, the rest never shows one.
        int bad = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                if ((x >= 100 && x < 106 && y >= 60 && y < 66) || (y >= 80 && y < 80 + TestWindow::kCursorSize))
                    continue;
                bad += PixelAt(frame, kWidth, x, y) !=
                       (window_->ExpectedFramePixel(x, y, static_cast<uint32_t>(n)) & 0xFFFFFF);
            }
        EXPECT_EQ(bad, 0) << "frame " << i;
    }
    // In the last frame, the cursor's earlier places show the kept picture again.
    const auto& last = frames.back();
    int traces = 0;
    for (int x = 20; x < 20 + 5 * 15; ++x)
        for (int y = 80; y < 80 + TestWindow::kCursorSize; ++y)
            traces += PixelAt(last, kWidth, x, y) !=
                      (window_->ExpectedFramePixel(x, y, static_cast<uint32_t>(n)) & 0xFFFFFF);
    EXPECT_EQ(traces, 0);
}

// Stamps its call count into a 6 x 6 square at (100, 60) and takes three intervals at
// 5 fps over its fourth call.
struct StampingHook {
    std::atomic<int> calls{0};
    static void Call(void* object, FrameSurface* frame, int32_t, int32_t, bool*)
    {
        auto* self = static_cast<StampingHook*>(object);
        const int call = self->calls++;
        for (int y = 60; y < 66; ++y)
            for (int x = 100; x < 106; ++x) {
                uint8_t* p = frame->Pixels + static_cast<size_t>(y) * frame->Stride + x * 4;
                p[0] = static_cast<uint8_t>(call * 10);
                p[1] = 0x33;
                p[2] = 0x44;
            }
        if (call == 3)
            std::this_thread::sleep_for(600ms);
    }
};

// Ut Video compresses frames on several threads and gives the packets back late: each
// must still land at its own slot, and the ones held at the stop must be in the file.
TEST_F(VideoRecording, FrameThreadedEncoderStoresEveryFrameAtItsSlotAndTheLastOnesAfterTheStop)
{
    const std::string file = File("threads.avi");
    StampingHook hook;
    {
        Recording recording(window_->Id(), file, 5, u"Ut Video");
        recording.SetHook(&StampingHook::Call, &hook);
        std::string error;
        ASSERT_TRUE(recording.Begin(&error)) << error;
        std::this_thread::sleep_for(2500ms);
        ASSERT_TRUE(recording.Stop()) << testkit::LastErrorText();
    }
    testsupport::RiffReader reader;
    ASSERT_TRUE(reader.Open(file)) << reader.LastError();
    std::vector<int64_t> sizes;
    for (const auto& chunk : reader.ChunksOf(0))
        sizes.push_back(chunk.size);
    ASSERT_GE(sizes.size(), 8u);
    // Slots 0 to 3, the slow one's two intervals empty, then every slot to the stop.
    EXPECT_EQ(sizes[4], 0);
    EXPECT_EQ(sizes[5], 0);
    EXPECT_EQ(std::count(sizes.begin(), sizes.end(), 0), 2);
    EXPECT_GT(sizes.back(), 0) << "the last frame built is the stream's last position";
    // Every frame built is in the file, in its order, with its own picture.
    const auto frames = testkit::DecodeVideo(file, "bgr0", kWidth, kHeight, 4);
    ASSERT_EQ(frames.size(), static_cast<size_t>(hook.calls.load()));
    for (size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(PixelAt(frames[i], kWidth, 102, 62), 0x443300u | static_cast<uint32_t>(i * 10 & 0xFF)) << i;
    std::vector<double> times;
    for (const auto& packet : testkit::ProbePackets(file, 0))
        if (packet.size > 0)
            times.push_back(packet.pts);
    ASSERT_GE(times.size(), 5u);
    EXPECT_NEAR(times[3], 3.0 / 5, 1e-6);
    EXPECT_NEAR(times[4], 6.0 / 5, 1e-6);
}

// An encoder slower than the frame interval (x264 on the whole screen at 60 fps) does
// not hold the slot clock: the slots it cannot take stay empty positions, the stream
// lasts the recorded time, and the frames queued at the stop are written.
TEST_F(VideoRecording, ASlowEncoderLeavesEmptyPositionsWhileTheStreamKeepsRealTime)
{
    const std::string file = File("slow-encoder.avi");
    std::chrono::duration<double> wall{};
    {
        Painter painter(*window_, 20ms);
        Recording recording(0, file, 60, u"libx264 H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10");
        if (!recording.Initialize())
            GTEST_SKIP() << "no x264 here: " << testkit::LastErrorText();
        const auto t0 = std::chrono::steady_clock::now();
        recording.Start();
        std::this_thread::sleep_for(3s);
        ASSERT_TRUE(recording.Stop()) << testkit::LastErrorText();
        wall = std::chrono::steady_clock::now() - t0;
    }
    testsupport::RiffReader reader;
    ASSERT_TRUE(reader.Open(file)) << reader.LastError();
    const auto chunks = reader.ChunksOf(0);
    size_t stored = 0;
    for (const auto& chunk : chunks)
        stored += chunk.size > 0;
    // Slot 0 at once and one slot every 1/60 s until the stop, but for slots at the end
    // that found no free buffer (the stream ends with its last stored frame).
    const double slots = wall.count() * 60 + 1;
    EXPECT_LE(static_cast<double>(chunks.size()), slots + 1.5);
    EXPECT_GE(static_cast<double>(chunks.size()), slots - 15);
    EXPECT_GT(stored, 10u);
    EXPECT_GT(chunks.back().size, 0) << "the stream ends with a stored frame";
    std::printf("%zu of %zu positions stored\n", stored, chunks.size());
    EXPECT_EQ(reader.Streams()[0].header.length, chunks.size());
    EXPECT_NEAR(testkit::ProbeDuration(file), static_cast<double>(chunks.size()) / 60, 0.05);
    // ffmpeg decodes every stored frame without complaint.
    int exitCode = -1;
    std::string errors;
    testkit::RunCapture({"ffmpeg", "-v", "error", "-nostdin", "-i", file, "-f", "null", "-"}, &exitCode, &errors);
    EXPECT_EQ(exitCode, 0) << errors;
    EXPECT_EQ(errors, "");
}

TEST_F(VideoRecording, SlotsKeepRealTime)
{
    // At 30 fps a frame interval rounded down to 33 ms would make 303 slots in 10 s.
    const std::string file = File("timing.avi");
    std::chrono::duration<double> wall{};
    {
        Recording recording(window_->Id(), file, 30);
        ASSERT_TRUE(recording.Initialize()) << testkit::LastErrorText();
        const auto t0 = std::chrono::steady_clock::now();
        recording.Start();
        std::this_thread::sleep_for(10s);
        ASSERT_TRUE(recording.Stop());
        wall = std::chrono::steady_clock::now() - t0;
    }
    testsupport::RiffReader reader;
    ASSERT_TRUE(reader.Open(file)) << reader.LastError();
    // Slot 0 comes at once, and the stop is seen within a frame: wall * 30 + 1 positions.
    EXPECT_NEAR(static_cast<double>(reader.ChunksOf(0).size()), wall.count() * 30 + 1, 1.5);
    EXPECT_EQ(reader.Streams()[0].header.length, reader.ChunksOf(0).size());
}

// Run in a child process: records the window with the file size limited, so that a
// write fails, and reports whether the recording ended by itself.
TEST(VideoRecordingChild, WriteFailure)
{
    const char* window = std::getenv("TAVREC_TEST_CHILD_WINDOW");
    const char* file = std::getenv("TAVREC_TEST_CHILD_FILE");
    if (!window || !file)
        GTEST_SKIP() << "runs only as the child of WriteFailureIsReportedAndTheFileStaysReadable";
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{600000, 600000};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    Recording recording(static_cast<uint32_t>(std::strtoul(window, nullptr, 0)), file, 10);
    recording.options.NotifyWindow = recording.options.CaptureWindow;
    std::string error;
    ASSERT_TRUE(recording.Begin(&error)) << error;
    ASSERT_TRUE(recording.WaitUntilIdle(20s)) << "the recording did not end by itself";
    EXPECT_EQ(testkit::LastErrorText(), "Write video data error");
    EXPECT_TRUE(recording.Stop()) << "a recording that ended by itself stops with true";
}

// Run in a child process: the disk "fills" (file size limit) while the recording is
// paused, so only the final index and headers written at the stop fail.
TEST(VideoRecordingChild, CloseFailure)
{
    const char* window = std::getenv("TAVREC_TEST_CHILD_WINDOW");
    const char* file = std::getenv("TAVREC_TEST_CHILD_FILE");
    if (!window || !file)
        GTEST_SKIP() << "runs only as the child of AFailedCloseMakesStopReportFailure";
    signal(SIGXFSZ, SIG_IGN);
    Recording recording(static_cast<uint32_t>(std::strtoul(window, nullptr, 0)), file, 10);
    std::string error;
    ASSERT_TRUE(recording.Begin(&error)) << error;
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(recording.Pause());
    std::this_thread::sleep_for(1500ms);  // the writer's periodic update is done
    struct stat st{};
    ASSERT_EQ(stat(file, &st), 0);
    rlimit limit{static_cast<rlim_t>(st.st_size), static_cast<rlim_t>(st.st_size)};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    EXPECT_FALSE(recording.Stop());
    EXPECT_EQ(testkit::LastErrorText(), "Failed to close video file");
}

// Runs a VideoRecordingChild test in a child process with the window and file.
int RunChild(const char* test, uint32_t window, const std::string& file)
{
    return testkit::WaitChildTest(testkit::SpawnChildTest(std::string("VideoRecordingChild.") + test, window, file));
}

TEST_F(VideoRecording, AFailedCloseMakesStopReportFailure)
{
    const std::string file = File("unclosed.avi");
    EXPECT_EQ(RunChild("CloseFailure", window_->Id(), file), 0) << "the child's checks failed";
}

TEST_F(VideoRecording, WriteFailureIsReportedAndTheFileStaysReadable)
{
    const std::string file = File("full.avi");
    const pid_t pid = testkit::SpawnChildTest("VideoRecordingChild.WriteFailure", window_->Id(), file);
    ASSERT_GT(pid, 0);

    const auto message = window_->WaitForMessage(30s);
    const int code = testkit::WaitChildTest(pid);
    ASSERT_TRUE(message.has_value()) << "no CaptureErrorMessage arrived";
    EXPECT_EQ(message->message, static_cast<uint32_t>(CaptureErrorMessage));
    EXPECT_EQ(message->wParam, 0);
    EXPECT_EQ(message->lParam, 0);
    EXPECT_EQ(code, 0) << "the child's checks failed";

    // The frames written before the failure can be read back.
    const auto streams = testkit::ProbeStreams(file);
    ASSERT_EQ(streams.size(), 1u);
    const auto frames = testkit::DecodeVideo(file, "bgr0", kWidth, kHeight, 4);
    EXPECT_GE(frames.size(), 3u);
}

// Resizes a window back and forth as fast as the server takes it, on a connection
// and a thread of its own.
class Resizer {
public:
    Resizer(uint32_t window, int width, int height) : window_(window)
    {
        display_ = platform::XDisplay::Open();
        if (!display_)
            return;
        thread_ = std::thread([this, width, height] {
            xcb_connection_t* connection = display_->Connection();
            for (uint32_t step = 0; !stop_; ++step) {
                const uint32_t size[] = {static_cast<uint32_t>(width + (step % 2) * 16),
                                         static_cast<uint32_t>(height + (step % 2) * 12)};
                xcb_configure_window(connection, window_, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                                     size);
                free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));  // done
            }
        });
    }
    ~Resizer()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    bool Running() const { return thread_.joinable(); }

private:
    uint32_t window_;
    std::unique_ptr<platform::XDisplay> display_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The window's size changes all the time while recordings start: the stream's
// header always describes the frames the file holds.
TEST_F(VideoRecording, AWindowResizedWhileTheRecordingStartsGivesHeaderAndFramesOneSize)
{
    Resizer resizer(window_->Id(), kWidth, kHeight);
    ASSERT_TRUE(resizer.Running());
    for (int run = 0; run < 6; ++run) {
        SCOPED_TRACE("recording " + std::to_string(run));
        const std::string file = File("resizing-" + std::to_string(run) + ".avi");
        {
            Recording recording(window_->Id(), file, 10);
            std::string error;
            ASSERT_TRUE(recording.Begin(&error)) << error;
            std::this_thread::sleep_for(300ms);
            ASSERT_TRUE(recording.Stop()) << testkit::LastErrorText();
        }
        testsupport::RiffReader reader;
        ASSERT_TRUE(reader.Open(file)) << reader.LastError();
        ASSERT_EQ(reader.Streams().size(), 1u);
        const auto& stream = reader.Streams()[0];
        ASSERT_EQ(stream.format.size(), 40u);
        BitmapInfoHeader format;
        std::memcpy(&format, stream.format.data(), 40);
        EXPECT_EQ(stream.header.frame[2], format.biWidth);
        EXPECT_EQ(stream.header.frame[3], format.biHeight);
        EXPECT_EQ(format.biSizeImage, static_cast<uint32_t>(format.biWidth * format.biHeight * 4));
        size_t frames = 0;
        for (const auto& chunk : reader.ChunksOf(0)) {
            if (chunk.size == 0)
                continue;
            ++frames;
            EXPECT_EQ(chunk.size, format.biSizeImage) << "a frame of another size than the header's";
        }
        EXPECT_GE(frames, 1u);
        EXPECT_EQ(testkit::DecodeVideo(file, "bgr0", format.biWidth, format.biHeight, 4).size(), frames);
    }
}

// A hook that scribbles over the frame record it is given: the library keeps its own.
struct ScribblingHook {
    int width = 0, height = 0;
    std::atomic<int> calls{0};
    std::atomic<int> wrongRecords{0};
    static void Call(void* object, FrameSurface* frame, int32_t width, int32_t height, bool*)
    {
        auto* self = static_cast<ScribblingHook*>(object);
        ++self->calls;
        if (frame->Width != self->width || frame->Height != self->height || width != self->width ||
            height != self->height || !frame->Pixels || frame->Stride < self->width * 4 || frame->BitsPerPixel != 32)
            ++self->wrongRecords;
        frame->Pixels = nullptr;
        frame->Width = frame->Height = 1 << 20;
        frame->Stride = 1 << 24;
        frame->BitsPerPixel = 8;
    }
};

TEST_F(VideoRecording, AHookThatChangesTheFrameRecordChangesOnlyItsCopy)
{
    ASSERT_TRUE(window_->SetTestCursor(3, 5));
    int ox = 0, oy = 0;
    ASSERT_TRUE(window_->ClientOrigin(&ox, &oy));
    MovePointer(ox + 60, oy + 50);  // a cursor to draw, whose patch lies within the frame
    const std::string file = File("scribbled.avi");
    ScribblingHook hook;
    hook.width = kWidth;
    hook.height = kHeight;
    {
        Painter painter(*window_, 40ms);
        Recording recording(window_->Id(), file, 10);
        recording.SetHook(&ScribblingHook::Call, &hook);
        std::string error;
        ASSERT_TRUE(recording.Begin(&error)) << error;
        std::this_thread::sleep_for(2s);
        ASSERT_TRUE(recording.Stop()) << testkit::LastErrorText();
    }
    MovePointer(5, 5);
    EXPECT_GE(hook.calls.load(), 10);
    EXPECT_EQ(hook.wrongRecords.load(), 0) << "the hook was given a record changed by an earlier call";
    const auto frames = testkit::DecodeVideo(file, "bgr0", kWidth, kHeight, 4);
    ASSERT_GE(frames.size(), 10u);
    for (size_t i = 0; i < frames.size(); ++i)
        EXPECT_GE(CounterOf(frames[i], kWidth), 0) << "frame " << i << " shows no picture";
}

// A window wider than a screen grab can be: the grabber's own reason is the text
// the program is given, not whatever text was stored before.
TEST(VideoRecordingSetUp, AGrabThatCannotBeSetUpFailsWithTheGrabbersReason)
{
    testsupport::TestWindowOptions options;
    options.overrideRedirect = true;
    options.width = 40000;
    options.height = 8;
    std::string error;
    auto window = TestWindow::Create(options, &error);
    ASSERT_TRUE(window) << error;
    EXPECT_FALSE(InitializeScreenCapture(nullptr));  // leaves a text of its own
    ASSERT_EQ(testkit::LastErrorText(), "Initialize param error");

    testkit::TempDir dir;
    Recording recording(window->Id(), dir.File("wide.avi"), 10);
    recording.options.NotifyWindow = window->Id();
    EXPECT_FALSE(recording.Initialize());
    const std::string text = testkit::LastErrorText();
    EXPECT_EQ(text.rfind("Failed to set up the screen grab: ", 0), 0u) << text;
    EXPECT_NE(text.find("40000"), std::string::npos) << "the grabber says what it refused: " << text;
    const auto message = window->WaitForMessage(5s);
    ASSERT_TRUE(message.has_value()) << "no CaptureErrorMessage arrived";
    EXPECT_EQ(message->message, static_cast<uint32_t>(CaptureErrorMessage));
    EXPECT_EQ(recording.State(), static_cast<uint32_t>(StateIdle));
}

}  // namespace
