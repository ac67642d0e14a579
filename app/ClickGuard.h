// The re-entry guard of ToolButtonClick: set while one click is being handled, so a
// click, shortcut or error notification arriving from a nested loop (a message box,
// a dialog, a window pick) is dropped. The scope clears the flag however the
// handler ends, an error included.
#pragma once

class ClickGuardScope {
public:
    explicit ClickGuardScope(bool& guard) : guard_(guard) { guard_ = true; }
    ~ClickGuardScope() { guard_ = false; }
    ClickGuardScope(const ClickGuardScope&) = delete;
    ClickGuardScope& operator=(const ClickGuardScope&) = delete;

private:
    bool& guard_;
};
