// tavrec as a user runs it, for tests that drive the real program: one process on a
// display with its own settings file, its windows found and its toolbar clicked with
// xdotool.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class TempRegistry;

namespace testkit {

// Polls `done` every 100 ms until it holds or `timeout` has passed; its last answer.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// The number after "name:" in xwininfo's output; -99999 when there is none.
int WindowField(const std::string& xwininfo, const std::string& name);

// The toolbar buttons' x positions in the main window (y 15).
constexpr int kStartButton = 16, kStopButton = 48;

struct TavrecLaunch {
    rlim_t fileSizeLimit = 0;  // 0: no limit
    std::string errorFile;     // its standard error goes there when not empty
    std::vector<std::pair<std::string, std::string>> environment;  // set in the child
};

class TavrecProcess {
public:
    // On `display`, with the settings file of `registry`.
    TavrecProcess(const TempRegistry& registry, const std::string& display, const TavrecLaunch& launch = {});
    ~TavrecProcess();  // kills a process still running
    TavrecProcess(const TavrecProcess&) = delete;
    TavrecProcess& operator=(const TavrecProcess&) = delete;

    pid_t Pid() const { return pid_; }
    bool Running();
    // Ends the program as a user's session would; true when it exits with 0.
    bool Terminate();
    // A command run on the process's display; its output.
    std::string X(const std::string& command) const;
    // The visible window of the process whose title matches the regular expression
    // `title`; with `minWidth`, only one at least that wide (not the tray icon, which
    // has the application's name as its title).
    std::string Visible(const std::string& title, int minWidth = 0) const;
    std::string Title(const std::string& window) const;
    // Clicks the toolbar button at `x` of the main window.
    void ClickButton(const std::string& window, int x) const;

private:
    std::string x_;
    pid_t pid_ = -1;
    int status_ = 0;
    bool ended_ = false;
};

}  // namespace testkit
