// tavrec-ctl: pauses, resumes or stops the current user's running recording, or
// tells whether one runs, through the recording's named control events.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/sync/NamedEvent.h"

namespace {

void PrintHelp()
{
    std::printf(
        "Usage: tavrec-ctl pause|resume|stop|status\n"
        "Drives the recording of the current user that is running now (korvid-rec or tavrec).\n"
        "\n"
        "  pause    pause the recording (nothing is captured until resume)\n"
        "  resume   resume a paused recording\n"
        "  stop     stop the recording; its file is completed\n"
        "  status   print whether a recording is running and whether it is paused\n"
        "\n"
        "Exit status: 0 on success, 1 when no recording is running, 2 for bad arguments.\n");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tavrec-ctl pause|resume|stop|status (see --help)\n");
        return 2;
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h") {
        PrintHelp();
        return 0;
    }
    if (command != "pause" && command != "resume" && command != "stop" && command != "status") {
        std::fprintf(stderr, "tavrec-ctl: unknown command '%s' (see --help)\n", command.c_str());
        return 2;
    }

    // Open only: a recording that does not exist must not be brought into being.
    auto run = platform::NamedEvent::OpenExisting("MM2_REC_RUN");
    auto stop = platform::NamedEvent::OpenExisting("MM2_REC_STOP");
    if (!run || !stop) {
        if (command == "status") {
            std::printf("no recording\n");
            return 1;
        }
        std::fprintf(stderr, "tavrec-ctl: no recording is running\n");
        return 1;
    }
    const int running = run->State();
    if (running < 0) {
        std::fprintf(stderr, "tavrec-ctl: cannot read the recording's state\n");
        return 1;
    }
    if (command == "status") {
        std::printf("%s\n", stop->State() == 1 ? "stopping" : running == 1 ? "recording" : "paused");
        return 0;
    }
    if (command == "pause") {
        if (running == 0) {
            std::printf("already paused\n");
            return 0;
        }
        return run->Reset() ? 0 : 1;
    }
    if (command == "resume") {
        if (running == 1) {
            std::printf("not paused\n");
            return 0;
        }
        return run->Set() ? 0 : 1;
    }
    // stop: ask every thread to finish, and wake them if they are paused.
    const bool ok = stop->Set() && run->Set();
    return ok ? 0 : 1;
}
