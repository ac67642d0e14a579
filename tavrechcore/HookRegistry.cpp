#include "tavrechcore/HookRegistry.h"

namespace hookcore {

HookRegistry& HookRegistry::Instance()
{
    static HookRegistry registry;
    return registry;
}

HookRegistry::~HookRegistry()
{
    std::lock_guard lock(mutex_);
    draw_.reset();
    pick_.reset();
}

bool HookRegistry::EnablePick(const PickTarget& target)
{
    std::lock_guard lock(mutex_);
    if (target.window == XCB_WINDOW_NONE)
        return false;
    if (pick_) {
        pick_->Retarget(target);
        return true;
    }
    pick_ = PickHook::Start(target);
    return pick_ != nullptr;
}

void HookRegistry::DisablePick()
{
    std::lock_guard lock(mutex_);
    pick_.reset();
}

bool HookRegistry::EnableDraw(const DrawTarget& target)
{
    std::lock_guard lock(mutex_);
    if (target.window == XCB_WINDOW_NONE)
        return false;
    if (draw_) {
        draw_->Retarget(target);
        return true;
    }
    draw_ = DrawHook::Start(target, tool_);
    return draw_ != nullptr;
}

void HookRegistry::DisableDraw()
{
    std::lock_guard lock(mutex_);
    draw_.reset();
}

bool HookRegistry::SetTool(int mode)
{
    if (mode != static_cast<int>(DrawTool::Pen) && mode != static_cast<int>(DrawTool::Eraser))
        return false;
    std::lock_guard lock(mutex_);
    tool_ = static_cast<DrawTool>(mode);
    if (draw_)
        draw_->SetTool(tool_);
    return true;
}

}  // namespace hookcore
