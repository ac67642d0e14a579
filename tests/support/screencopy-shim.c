/* Test-only LD_PRELOAD library for xdg-desktop-portal-wlr on a compositor without a
 * GPU (wlroots' pixman renderer). Such a compositor describes each screencopy frame
 * with a shared-memory buffer event only, never with a linux_dmabuf event, and the
 * portal back end then refuses to start a screen cast. This library wraps the
 * listener the back end adds to every zwlr_screencopy_frame_v1 and, when a frame's
 * events end without a linux_dmabuf event, hands the back end one that repeats the
 * shared-memory buffer's size and format. The back end then negotiates and streams
 * shared-memory buffers. Never part of the program. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdint.h>
#include <string.h>

struct wl_proxy;
/* From libwayland-client, which the back end has loaded. */
extern const char* wl_proxy_get_class(struct wl_proxy* proxy);

typedef void (*any_event)(void);

/* zwlr_screencopy_frame_v1_listener, version 3: the protocol fixes this layout. */
struct frame_listener {
    void (*buffer)(void* data, struct wl_proxy* frame, uint32_t format, uint32_t width, uint32_t height,
                   uint32_t stride);
    any_event flags;
    any_event ready;
    any_event failed;
    any_event damage;
    void (*linux_dmabuf)(void* data, struct wl_proxy* frame, uint32_t format, uint32_t width, uint32_t height);
    void (*buffer_done)(void* data, struct wl_proxy* frame);
};

/* The back end handles one frame at a time on one thread. */
static const struct frame_listener* original;
static struct frame_listener wrapped;
static uint32_t shm_format, shm_width, shm_height;
static int saw_dmabuf;

/* wl_shm formats 0 and 1 are ARGB8888 and XRGB8888; every other wl_shm code is the
 * DRM fourcc already. */
static uint32_t drm_format(uint32_t shm)
{
    if (shm == 0)
        return 0x34325241u; /* AR24 */
    if (shm == 1)
        return 0x34325258u; /* XR24 */
    return shm;
}

static void on_buffer(void* data, struct wl_proxy* frame, uint32_t format, uint32_t width, uint32_t height,
                      uint32_t stride)
{
    shm_format = drm_format(format);
    shm_width = width;
    shm_height = height;
    saw_dmabuf = 0;
    original->buffer(data, frame, format, width, height, stride);
}

static void on_linux_dmabuf(void* data, struct wl_proxy* frame, uint32_t format, uint32_t width, uint32_t height)
{
    saw_dmabuf = 1;
    original->linux_dmabuf(data, frame, format, width, height);
}

static void on_buffer_done(void* data, struct wl_proxy* frame)
{
    if (!saw_dmabuf && shm_width != 0)
        original->linux_dmabuf(data, frame, shm_format, shm_width, shm_height);
    original->buffer_done(data, frame);
}

int wl_proxy_add_listener(struct wl_proxy* proxy, void (**implementation)(void), void* data)
{
    typedef int (*add_listener_fn)(struct wl_proxy*, void (**)(void), void*);
    static add_listener_fn next;
    if (!next)
        next = (add_listener_fn)dlsym(RTLD_NEXT, "wl_proxy_add_listener");
    if (strcmp(wl_proxy_get_class(proxy), "zwlr_screencopy_frame_v1") != 0)
        return next(proxy, implementation, data);
    original = (const struct frame_listener*)implementation;
    wrapped = *original;
    wrapped.buffer = on_buffer;
    wrapped.linux_dmabuf = on_linux_dmabuf;
    wrapped.buffer_done = on_buffer_done;
    return next(proxy, (void (**)(void))&wrapped, data);
}
