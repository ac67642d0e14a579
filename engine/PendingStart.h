// The recording that has been set up and not yet started. A start that fails, at the
// set-up or when the run event is to be set, leaves the disk as it found it: the
// output file goes again when the set-up made it, and stays when it was there
// before (a file of that name that the open replaced is not the set-up's own). The
// record also tells whether the recording gave a reason for ending before it
// started, so that the caller is never left without one.
//
// One recording is set up at a time for each user (RecordingLock), so one
// process-wide record serves it; every call names the recording's context and does
// nothing for another.
#pragma once

#include <string>

#include "engine/korvid.h"

namespace korvid {

class PendingStart {
public:
    // InitializeScreenCapture, once the recording holds the lock: a new set-up.
    static void Begin(CaptureContext* context);
    // Whether anything exists under `path` now, a dangling link included.
    static bool Exists(const std::string& path);
    // The control thread's open made `path`, which did not exist before.
    static void FileCreated(CaptureContext* context, const std::string& path);
    // InitializeScreenCapture succeeded: texts reported from now on are the
    // recording's own reasons for ending before it was started.
    static void SetUpDone(CaptureContext* context);
    // The set-up of `context` succeeded and the recording has not been started.
    static bool IsSetUp(CaptureContext* context);
    // A text was reported since the set-up of `context` succeeded.
    static bool ReasonGiven(CaptureContext* context);
    // The recording was started (its run event set): its file is the recording's.
    static void Started(CaptureContext* context);
    // The recording cannot be started but may still run its threads: its file goes
    // when it is stopped.
    static void Abandon(CaptureContext* context);
    // The start failed and the recording has ended (its file is closed): removes the
    // file its set-up made.
    static void RemoveFile(CaptureContext* context);
    // The recording has been stopped: removes the file of an abandoned start, and
    // forgets the recording.
    static void Stopped(CaptureContext* context);
};

}  // namespace korvid
