#include "tests/support/PrivateXServer.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace testkit {

PrivateXServer::PrivateXServer(const std::string& geometry)
{
    Start({"Xvfb", "-screen", "0", geometry, "-nolisten", "tcp", "-br", "-noreset"}, {});
}

PrivateXServer::PrivateXServer(Resizable, const std::string& size)
    : host_(std::make_unique<PrivateXServer>("1280x1024x24"))
{
    if (host_->Running())
        Start({"Xephyr", "-resizeable", "-screen", size + "x24", "-nolisten", "tcp", "-br", "-noreset"},
              host_->Display());
}

void PrivateXServer::Start(std::vector<std::string> argv, const std::string& hostDisplay)
{
    int fds[2];
    if (pipe(fds) != 0)
        return;
    argv.push_back("-displayfd");
    argv.push_back(std::to_string(fds[1]));
    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        close(fds[0]);
        if (!hostDisplay.empty())
            setenv("DISPLAY", hostDisplay.c_str(), 1);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    // The server writes its display number once it accepts connections.
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c;
    while (pid_ > 0 && poll(&p, 1, 10000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty())
        Kill();
    else
        display_ = ":" + number;
}

PrivateXServer::~PrivateXServer()
{
    Kill();
}

void PrivateXServer::Kill()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    if (host_)
        host_->Kill();
}

}  // namespace testkit
