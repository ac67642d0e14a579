// Internal to the AVI writer: the records at the head of the file that describe it as
// a whole: avih, one LIST 'strl' per stream (strh, strf, strn when named, and the
// OpenDML super index 'indx'), and LIST 'odml' with dmlh. Laid out once, when every
// stream and format is known, and from then on rewritten in place.
#pragma once

#include <cstdint>

#include "platform/avi/AviStreamImpl.h"

namespace platform {

class AviOutput;

class AviHeaders {
public:
    // Appends the RIFF 'AVI ' header (sized as for an empty 'movi' list after 'hdrl')
    // and the whole LIST 'hdrl', and notes where each stream's strh and indx lie.
    // Every stream has its chunk id and index already.
    bool Append(AviOutput& out, AviStreamImpls& streams, uint32_t indexCapacity);
    // Rewrites every strh, avih, dmlh and super index from the streams as they stand.
    bool Patch(AviOutput& out, AviStreamImpls& streams) const;

private:
    uint64_t avihOffset_ = 0;
    uint64_t dmlhOffset_ = 0;
};

}  // namespace platform
