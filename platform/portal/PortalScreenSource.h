// The screen as the desktop portal shares it: a ScreenCast session and the reader of
// its PipeWire stream, giving frames of 32-bit B, G, R, 0 pixels at the size the
// stream had when it started (the recorded size). Frames come only when the screen
// changes; between them the last one is given again. Where the cursor comes as the
// stream's metadata rather than in its pictures, the source keeps the latest cursor
// for the caller to draw (Cursor), and a cursor that moved counts as a new frame.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/portal/PipeWireStream.h"
#include "platform/portal/PortalScreenCast.h"

namespace platform {

class PortalScreenSource {
public:
    // Starts the screen cast and waits until its stream has a format. Null on failure,
    // with *error saying why.
    static std::unique_ptr<PortalScreenSource> Open(const ScreenCastRequest& request, std::string* error,
                                                    int formatTimeoutMs = 10000);
    // The source of a PipeWire video node reached over `remote` (taken over), with no
    // portal session around it; cursorMetadata asks its buffers for the cursor.
    static std::unique_ptr<PortalScreenSource> OpenStream(UniqueFd& remote, uint32_t node, bool cursorMetadata,
                                                          std::string* error, int formatTimeoutMs = 10000);
    ~PortalScreenSource();
    PortalScreenSource(const PortalScreenSource&) = delete;
    PortalScreenSource& operator=(const PortalScreenSource&) = delete;

    int Width() const { return width_; }
    int Height() const { return height_; }
    bool CursorEmbedded() const { return cast_ && cast_->CursorEmbedded(); }
    // Whether the cursor comes as metadata, for Cursor to give.
    bool CursorMetadata() const { return cursorMetadata_; }
    const std::string& RestoreToken() const { return cast_ ? cast_->RestoreToken() : noToken_; }

    // Puts the newest frame (black before the first) into dst, Width() x Height()
    // pixels, rows dstStride bytes apart. False when the screen cast has ended;
    // LastError() says why.
    bool Grab(uint8_t* dst, size_t dstStride);
    // False once the screen cast has ended (the desktop closed the session, or its
    // stream failed or went away); LastError() says why. Looks without waiting.
    bool Live();
    // The latest cursor, in the frames' coordinates, into *cursor: position and hot spot,
    // and the image when its serial differs from cursor->serial (the image buffer grows
    // only when a larger image comes). False when there is none to draw (hidden, no
    // image yet, or no cursor metadata).
    bool Cursor(CursorImage* cursor);
    // Whether a frame came, or the cursor changed, since the last Grab.
    bool HasNewFrame() const { return fresh_.load(std::memory_order_acquire); }
    // Frames received from the stream so far.
    uint64_t FramesReceived() const { return received_.load(std::memory_order_relaxed); }

    // A frame buffer of FrameStride() * Height() bytes owned by the source.
    uint8_t* FrameBuffer() { return frame_.data(); }
    size_t FrameStride() const { return static_cast<size_t>(width_) * 4; }

    const std::string& LastError() const { return lastError_; }

private:
    PortalScreenSource() = default;
    bool Connect(UniqueFd& remote, uint32_t node, int formatTimeoutMs, std::string* error);
    void OnFrame(const StreamImage& image);  // on PipeWire's thread
    void OnCursor(const StreamCursor& cursor);  // on PipeWire's thread

    std::unique_ptr<PortalScreenCast> cast_;
    std::unique_ptr<PipeWireStream> stream_;  // after cast_: stops before the session closes
    int width_ = 0, height_ = 0;
    std::vector<uint8_t> frame_;

    std::mutex latestLock;
    std::vector<uint8_t> latest_;  // the newest frame, converted; sized once at the first format
    int latestWidth_ = 0, latestHeight_ = 0;
    bool cursorMetadata_ = false;
    CursorImage cursor_;  // the latest cursor; its image buffer made for the largest at the start
    bool cursorVisible_ = false;
    std::atomic<bool> fresh_{false};
    std::atomic<uint64_t> received_{0};
    std::string lastError_;
    std::string noToken_;
};

}  // namespace platform
