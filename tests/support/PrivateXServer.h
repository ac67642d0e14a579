// An Xvfb of a test's own (black root, no window manager), for what the shared
// session cannot do: another colour depth, or a server that goes away mid-recording.
#pragma once

#include <string>
#include <sys/types.h>

namespace testkit {

class PrivateXServer {
public:
    // geometry as for Xvfb's -screen, e.g. "320x240x8".
    explicit PrivateXServer(const std::string& geometry);
    ~PrivateXServer();  // ends the server if it still runs
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;

    bool Running() const { return pid_ > 0; }
    const std::string& Display() const { return display_; }  // ":N"
    void Kill();  // ends the server now, as a crashed one would

private:
    pid_t pid_ = -1;
    std::string display_;
};

}  // namespace testkit
