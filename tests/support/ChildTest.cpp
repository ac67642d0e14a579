#include "tests/support/ChildTest.h"

#include <spawn.h>
#include <sys/wait.h>

#include <vector>

extern char** environ;

namespace testkit {

pid_t SpawnChildTest(const std::string& name, uint32_t window, const std::string& file)
{
    std::string windowVar = "TAVREC_TEST_CHILD_WINDOW=" + std::to_string(window);
    std::string fileVar = "TAVREC_TEST_CHILD_FILE=" + file;
    std::vector<char*> env;
    for (char** e = environ; *e; ++e)
        env.push_back(*e);
    env.push_back(windowVar.data());
    env.push_back(fileVar.data());
    env.push_back(nullptr);
    std::string filter = "--gtest_filter=" + name;
    char self[] = "/proc/self/exe";
    char* argv[] = {self, filter.data(), nullptr};
    pid_t pid = -1;
    return posix_spawn(&pid, self, nullptr, nullptr, argv, env.data()) == 0 ? pid : -1;
}

int WaitChildTest(pid_t pid)
{
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace testkit
