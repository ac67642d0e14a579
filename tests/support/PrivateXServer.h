// An Xvfb of a test's own (black root, no window manager), for what the shared
// session cannot do: another colour depth, a server that goes away mid-recording, or
// a screen whose size changes while it runs.
#pragma once

#include <memory>
#include <string>
#include <vector>
#include <sys/types.h>

namespace testkit {

class PrivateXServer {
public:
    // geometry as for Xvfb's -screen, e.g. "320x240x8".
    explicit PrivateXServer(const std::string& geometry);
    // A server whose screen size can change at run time: an Xephyr -resizeable of
    // `size` (e.g. "640x480", depth 24) shown on an Xvfb of its own; `xrandr -s WxH`
    // on Display() resizes its screen.
    struct Resizable {};
    PrivateXServer(Resizable, const std::string& size);
    ~PrivateXServer();  // ends the server if it still runs
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;

    bool Running() const { return pid_ > 0; }
    const std::string& Display() const { return display_; }  // ":N"
    void Kill();  // ends the server now, as a crashed one would

private:
    // Starts argv[0] with "-displayfd N" appended, DISPLAY=hostDisplay when not empty.
    void Start(std::vector<std::string> argv, const std::string& hostDisplay);

    pid_t pid_ = -1;
    std::string display_;
    std::unique_ptr<PrivateXServer> host_;  // the Xvfb an Xephyr is shown on
};

}  // namespace testkit
