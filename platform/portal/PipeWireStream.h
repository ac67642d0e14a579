// The reader of one PipeWire video stream (a screen cast's node) over a PipeWire
// connection handed over as a file descriptor. PipeWire runs it on a thread of its
// own; each new frame is handed to the frame handler there, in shared memory that
// is valid only during the call. Formats offered: the packed RGB layouts of
// StreamPixelLayout, in memory buffers (no DMA-BUF). With a cursor handler the
// buffers are also asked to carry the cursor's metadata, handed to that handler for
// every buffer that has it, before the buffer's frame (a buffer may bring a cursor
// and no frame).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/UniqueFd.h"
#include "platform/portal/StreamCursor.h"
#include "platform/portal/StreamFrameConversion.h"

namespace platform {

class PipeWireStream {
public:
    // Runs on PipeWire's thread, once per frame; it must not wait for long.
    using FrameHandler = std::function<void(const StreamImage&)>;
    // Also on PipeWire's thread; the cursor points into the buffer, valid only during the call.
    using CursorHandler = std::function<void(const StreamCursor&)>;

    // Connects to node over the connection `remote` (which it takes over) and starts
    // streaming. Null on failure, with *error set.
    static std::unique_ptr<PipeWireStream> Connect(UniqueFd& remote, uint32_t node, FrameHandler handler,
                                                   std::string* error, CursorHandler cursorHandler = {});
    ~PipeWireStream();  // stops the thread: no handler call runs after it
    PipeWireStream(const PipeWireStream&) = delete;
    PipeWireStream& operator=(const PipeWireStream&) = delete;

    // Waits until the stream has agreed on a format, up to timeoutMs; false with
    // *error when it failed or the time ran out.
    bool WaitForFormat(int timeoutMs, std::string* error);
    // The agreed format's size (0 before there is one); it follows renegotiation.
    int Width() const;
    int Height() const;
    // True once the stream failed, was disconnected or its node went away, with the
    // reason in *why.
    bool Failed(std::string* why) const;

    struct Impl;

private:
    explicit PipeWireStream(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
