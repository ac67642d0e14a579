// The hooks of the library, one of each kind at most, behind the exported
// functions. Calls from any thread are serialised; the hooks still running when the
// library is unloaded (or the process ends) are stopped then.
#pragma once

#include <memory>
#include <mutex>

#include "tavrechcore/DrawHook.h"
#include "tavrechcore/PickHook.h"

namespace hookcore {

class HookRegistry {
public:
    static HookRegistry& Instance();

    bool EnablePick(const PickTarget& target);
    void DisablePick();
    bool EnableDraw(const DrawTarget& target);
    void DisableDraw();
    bool SetTool(int mode);

private:
    HookRegistry() = default;
    ~HookRegistry();

    std::mutex mutex_;
    std::unique_ptr<PickHook> pick_;
    std::unique_ptr<DrawHook> draw_;
    DrawTool tool_ = DrawTool::Pen;
};

}  // namespace hookcore
