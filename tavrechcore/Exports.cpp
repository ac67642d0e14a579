// The library's exported functions, also under their names with a leading
// underscore. Everything else stays hidden (see exports.map).
#include "tavrechcore/tavrechcore.h"

#include "tavrechcore/HookRegistry.h"

#define TAVRECHCORE_EXPORT __attribute__((visibility("default")))

using hookcore::HookRegistry;

extern "C" {

TAVRECHCORE_EXPORT int SetMouseFilterHook(int enable, uint32_t window, uint32_t moveMessage,
                                          uint32_t pressMessage, uint32_t menuMessage)
{
    if (!enable) {
        HookRegistry::Instance().DisablePick();
        return 1;
    }
    return HookRegistry::Instance().EnablePick({window, moveMessage, pressMessage, menuMessage}) ? 1 : 0;
}

TAVRECHCORE_EXPORT int SetDrawHook(int enable, uint32_t window, uint32_t /*owner*/, uint32_t moveMessage,
                                   uint32_t pressMessage, uint32_t /*extraMessage*/, uint32_t menuMessage,
                                   uint32_t ackMessage, uint32_t releaseMessage, uint8_t drawing)
{
    if (!enable) {
        HookRegistry::Instance().DisableDraw();
        return 1;
    }
    const hookcore::DrawTarget target{window,     moveMessage,    pressMessage, menuMessage,
                                      ackMessage, releaseMessage, drawing != 0};
    return HookRegistry::Instance().EnableDraw(target) ? 1 : 0;
}

TAVRECHCORE_EXPORT int SetDrawMode(int mode)
{
    return HookRegistry::Instance().SetTool(mode) ? 1 : 0;
}

TAVRECHCORE_EXPORT int _SetMouseFilterHook(int, uint32_t, uint32_t, uint32_t, uint32_t)
    __attribute__((alias("SetMouseFilterHook")));
TAVRECHCORE_EXPORT int _SetDrawHook(int, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                    uint32_t, uint8_t) __attribute__((alias("SetDrawHook")));
TAVRECHCORE_EXPORT int _SetDrawMode(int) __attribute__((alias("SetDrawMode")));

}  // extern "C"
