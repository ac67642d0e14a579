// Draws pen segments straight onto the screen: a GC on the root window with
// IncludeInferiors, so the line lies over every window, with round caps and joins,
// clipped to the recorded window's rectangle. Only seen without a compositing
// manager. UI thread.
#pragma once

#include <cstdint>

#include "annotate/DrawGeometry.h"
#include "annotate/XResource.h"

namespace annotate {

class XConnection;

class RootPen {
public:
    explicit RootPen(XConnection& x);
    bool Valid() const { return static_cast<bool>(gc_); }

    // last and p in root coordinates; pixel is the screen's value of the colour.
    bool DrawSegment(Point last, Point p, int32_t lineWidth, uint32_t pixel, const RectL& clip);

private:
    XConnection& x_;
    XGc gc_;
};

}  // namespace annotate
