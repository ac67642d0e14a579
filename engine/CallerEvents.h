// The run and stop events as the caller's side of the library (StartRecording,
// PauseRecording, StopRecording) holds them.
//
// The control thread closes its own handles when a recording ends, possibly while
// the caller is about to use them, so the caller cannot use those. Opening the
// events by name at each call could fail (no file descriptor left, for one), which
// would leave a start unmade or a stop request undelivered while StopRecording
// waits for the recording to end. So they are opened once, when a recording is set
// up, and kept until it is stopped. The events are shared by name; one recording
// of the user runs at a time (RecordingLock), so one pair held here serves it.
#pragma once

#include <memory>

#include "platform/sync/NamedEvent.h"

namespace korvid {

class CallerEvents {
public:
    // Holds the events for one more recording, opening them when none is held. False
    // when they cannot be opened.
    static bool Hold();
    // Gives up one recording's hold; the last one closes the events.
    static void Release();
    // The held event; when none is held, the event opened by name (null when it does
    // not exist or cannot be opened).
    static std::shared_ptr<platform::NamedEvent> Run();
    static std::shared_ptr<platform::NamedEvent> Stop();
};

}  // namespace korvid
