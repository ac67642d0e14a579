#include "platform/avi/AviFlushSchedule.h"

namespace platform {

bool AviFlushSchedule::Due(const AviStreamImpls& streams) const
{
    for (size_t n = 0; n < streams.size(); ++n) {
        const AviStream::Impl& s = *streams[n];
        // units * scale / rate seconds >= interval ms, without rounding or overflow
        const unsigned __int128 units = s.Length() - flushed_[n];
        if (units && units * s.info.dwScale * 1000 >= (unsigned __int128)intervalMs_ * s.info.dwRate)
            return true;
    }
    return false;
}

void AviFlushSchedule::Done(const AviStreamImpls& streams)
{
    for (size_t n = 0; n < streams.size(); ++n)
        flushed_[n] = streams[n]->Length();
}

}  // namespace platform
