// Sound capture from a PulseAudio server, shaped like a capture device with a looping
// capture buffer: devices are the server's sources; a capture buffer of the requested
// size and PCM format is filled by a record stream on PulseAudio's threaded main loop;
// its read position advances steadily in small fragments; notification events fire
// when the write position passes given offsets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/WinTypes.h"

namespace platform {

class NamedEvent;

struct AudioDevice {
    std::string description;  // the source's description
    std::string id;           // the source's name; empty for the server's default source
};

// The device-facing operations the audio capture thread uses, so that tests can also
// drive that thread with a scripted device.
class CaptureDevice {
public:
    virtual ~CaptureDevice() = default;
    // Bit mask of the twelve PCM formats offered (0xFFF for every source), 0 for none.
    virtual bool GetFormats(uint32_t* formats) = 0;
    // Creates the looping capture buffer of bufferBytes bytes in this format.
    virtual bool CreateBuffer(const WaveFormatEx& format, uint32_t bufferBytes) = 0;
    // Event i is set each time the capture position passes offsets[i].
    virtual bool SetNotificationPositions(const uint32_t* offsets, NamedEvent* const* events,
                                          size_t count) = 0;
    virtual bool Start() = 0;  // looping
    virtual bool Stop() = 0;
    // Start as at that instant of the capture clock (AudioCapture::ClockUs, not in
    // the future), so that several devices begin their runs together.
    virtual bool StartAt(uint64_t /*instantUs*/) { return Start(); }
    // Ends the run at that instant without waiting: nothing captured after it is
    // kept, and the Stop that follows waits only for the sound before it. Several
    // devices stopped one after the other thus end their runs together.
    virtual bool EndRunAt(uint64_t /*instantUs*/) { return true; }
    // The read position: the end of the data that is safe to copy out.
    virtual bool GetReadPosition(uint32_t* position) = 0;
    // The end of the captured data, also once the device has failed: what it captured
    // before the failure stays readable with Lock and Unlock.
    virtual bool GetCapturedPosition(uint32_t* position) { return GetReadPosition(position); }
    // Locks bytes at offset for length: one region, or two when the range wraps.
    virtual bool Lock(uint32_t offset, uint32_t length, void** region1, uint32_t* length1,
                      void** region2, uint32_t* length2) = 0;
    virtual bool Unlock(void* region1, uint32_t length1, void* region2, uint32_t length2) = 0;
    // Why the last failed call failed (empty when the device keeps no text).
    virtual std::string LastError() const { return std::string(); }
};

class AudioCapture {
public:
    // The server's default source first (empty id, description "Default source"),
    // then every source in the server's order, monitors included; an empty list when
    // the server has no source. False when no server answers.
    static bool EnumerateDevices(std::vector<AudioDevice>* devices, std::string* error = nullptr);
    // Connects to the server for the source with that name (empty: the default source).
    // Null when no server answers or the source does not exist.
    static std::unique_ptr<CaptureDevice> Open(const std::string& id, std::string* error = nullptr);
    // Now on the clock the devices place their sound by, in microseconds.
    static uint64_t ClockUs();
};

}  // namespace platform
