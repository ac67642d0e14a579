// Owners of X resources: the resource is freed on the owner's connection when the
// owner goes. Windows, graphics contexts, pixmaps and colormaps.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <utility>

namespace annotate {

template <xcb_void_cookie_t (*Free)(xcb_connection_t*, uint32_t)>
class XResource {
public:
    XResource() = default;
    XResource(xcb_connection_t* c, uint32_t id) : c_(c), id_(id) {}
    ~XResource() { Reset(); }
    XResource(XResource&& o) noexcept : c_(o.c_), id_(std::exchange(o.id_, 0)) {}
    XResource& operator=(XResource&& o) noexcept
    {
        if (this != &o) {
            Reset();
            c_ = o.c_;
            id_ = std::exchange(o.id_, 0);
        }
        return *this;
    }
    XResource(const XResource&) = delete;
    XResource& operator=(const XResource&) = delete;

    uint32_t Id() const { return id_; }
    explicit operator bool() const { return id_ != 0; }
    void Reset()
    {
        if (id_) {
            Free(c_, id_);
            xcb_flush(c_);
        }
        id_ = 0;
    }

private:
    xcb_connection_t* c_ = nullptr;
    uint32_t id_ = 0;
};

using XWindow = XResource<xcb_destroy_window>;
using XGc = XResource<xcb_free_gc>;
using XPixmap = XResource<xcb_free_pixmap>;
using XColormap = XResource<xcb_free_colormap>;

}  // namespace annotate
