// One recording at a time for each user. The control events are shared by name by
// every recording of the user, so two recordings alive at once would drive each
// other: the lock is taken by InitializeScreenCapture before it touches the events
// and held for the recording's whole life, until its control thread is closed (by
// StopRecording, or by InitializeScreenCapture when the set-up fails). A process
// that only drives a running recording through the events (tavrec-ctl, the
// program's shortcuts) never takes it.
//
// The library keeps no list of recordings, and the lock allows one recording per
// user, so one process-wide slot holds it.
#pragma once

#include <string>

namespace korvid {

class RecordingLock {
public:
    enum class Outcome { Acquired, Busy, Failed };

    // Takes the lock for the recording being set up. Busy while another recording of
    // this user runs, in this process or another; Failed with the reason in *error.
    static Outcome Acquire(std::string* error);
    // Gives the lock back: the recording that took it is over.
    static void Release();
};

}  // namespace korvid
