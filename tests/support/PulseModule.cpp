// links: tavrec_support_MediaProbe
#include "tests/support/PulseModule.h"

#include <chrono>
#include <sstream>
#include <thread>

#include "tests/support/MediaProbe.h"

namespace testkit {

PulseModule::PulseModule(const std::vector<std::string>& arguments)
{
    std::vector<std::string> argv{"pactl", "load-module"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    int code = -1;
    id_ = RunCapture(argv, &code);
    id_.erase(id_.find_last_not_of(" \n") + 1);
    if (code != 0)
        id_.clear();
}

PulseModule::~PulseModule()
{
    Unload();
}

bool PulseModule::Unload()
{
    if (id_.empty())
        return false;
    int code = -1;
    RunCapture({"pactl", "unload-module", id_}, &code);
    id_.clear();
    return code == 0;
}

bool WaitUntilSourceIsRecorded(const std::string& sourceName)
{
    for (int i = 0; i < 200; ++i) {
        // "pactl list short sources": index, name, ...; "source-outputs": index, the
        // source's index, ...
        std::string index;
        std::istringstream sources(RunCapture({"pactl", "list", "short", "sources"}));
        for (std::string line; std::getline(sources, line);) {
            std::istringstream fields(line);
            std::string number, name;
            if (fields >> number >> name && name == sourceName)
                index = number;
        }
        std::istringstream outputs(RunCapture({"pactl", "list", "short", "source-outputs"}));
        for (std::string line; !index.empty() && std::getline(outputs, line);) {
            std::istringstream fields(line);
            std::string number, source;
            if (fields >> number >> source && source == index)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

}  // namespace testkit
