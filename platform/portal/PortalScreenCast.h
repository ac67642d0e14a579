// A screen cast of the XDG desktop portal (org.freedesktop.portal.ScreenCast) over
// the session bus: CreateSession, SelectSources, Start, then OpenPipeWireRemote for
// the PipeWire connection whose stream carries the frames. Each call that answers
// with a Request waits for that Request's Response signal, bounded in time. The
// session lives as long as this object (and its bus connection): the destructor
// closes it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/UniqueFd.h"

namespace platform {

struct ScreenCastRequest {
    bool embedCursor = true;   // ask for the cursor: drawn into the frames where offered, else as metadata
    bool persist = false;      // ask for a restore token that outlives the session
    std::string restoreToken;  // from an earlier session of the same source; may be empty
    uint32_t sourceTypes = 1;  // 1 monitor, 2 window (where offered)
    int callTimeoutMs = 10000;       // CreateSession, SelectSources
    int startTimeoutMs = 120000;     // Start: the desktop may ask the user to choose
};

class PortalScreenCast {
public:
    // Null on failure, with *error saying what failed (no bus, no portal, refused,
    // cancelled, timed out).
    static std::unique_ptr<PortalScreenCast> Start(const ScreenCastRequest& request, std::string* error);
    // The kinds of source the portal offers (1 monitors, 2 windows, 4 virtual), read
    // without starting anything; 0 with *error when the portal cannot be asked.
    static uint32_t AvailableSourceTypes(std::string* error);
    ~PortalScreenCast();
    PortalScreenCast(const PortalScreenCast&) = delete;
    PortalScreenCast& operator=(const PortalScreenCast&) = delete;

    // The first stream's PipeWire node and its size as the portal gave it (0 x 0 when
    // it gave none).
    uint32_t Node() const;
    int Width() const;
    int Height() const;
    // The portal's ScreenCast interface version; whether the cursor is in the frames,
    // or else comes as metadata of the stream's buffers (position and image apart).
    uint32_t Version() const;
    bool CursorEmbedded() const;
    bool CursorMetadata() const;
    // The token to restore this source without asking next time; empty when none came.
    const std::string& RestoreToken() const;

    // The connection to PipeWire that carries the session's streams. Invalid on
    // failure, with *error set.
    UniqueFd OpenPipeWireRemote(std::string* error);

    // False once the portal has closed the session (looks at the bus without waiting).
    bool Active();

    struct Impl;

private:
    explicit PortalScreenCast(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
