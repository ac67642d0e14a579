// links: tavrec_app tavrec_support_MediaProbe
// Starting the encoding wizard and the desktop's opener: the program that is
// started, the one argument it receives, and no child left behind as a zombie.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <QString>

#include "app/ExternalTools.h"
#include "tests/support/MediaProbe.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kRemuxer = TAVREC_BINARY_DIR "/bin/remuxer";

struct ProcessInfo {
    pid_t pid = 0;
    char state = '?';
    pid_t parent = 0;
};

// Reads /proc/<pid>/stat; false when the process is gone.
bool ReadStat(pid_t pid, ProcessInfo* info)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(in, text))
        return false;
    // The command name in parentheses may hold spaces: the fields follow the last ')'.
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream rest(text.substr(close + 1));
    info->pid = pid;
    rest >> info->state >> info->parent;
    return true;
}

std::vector<ProcessInfo> OurChildren()
{
    std::vector<ProcessInfo> children;
    DIR* proc = opendir("/proc");
    if (proc == nullptr)
        return children;
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        ProcessInfo info;
        if (*end == '\0' && pid > 0 && ReadStat(static_cast<pid_t>(pid), &info) && info.parent == getpid())
            children.push_back(info);
    }
    closedir(proc);
    return children;
}

// Waits for a first child of this process to appear.
pid_t WaitForChild(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto children = OurChildren();
        if (!children.empty())
            return children.front().pid;
        std::this_thread::sleep_for(5ms);
    }
    return 0;
}

// Waits until this process has no child left, not even a zombie.
bool WaitForNoChildren(std::chrono::milliseconds timeout, std::string* left)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<ProcessInfo> children;
    while (std::chrono::steady_clock::now() < deadline) {
        children = OurChildren();
        if (children.empty())
            return true;
        std::this_thread::sleep_for(20ms);
    }
    for (const auto& child : children)
        *left += std::to_string(child.pid) + " state " + child.state + "; ";
    return false;
}

std::vector<std::string> CommandLine(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::vector<std::string> argv;
    std::string argument;
    while (std::getline(in, argument, '\0'))
        argv.push_back(argument);
    return argv;
}

// Waits until the child has executed its program (until then it is a copy of us).
std::vector<std::string> ExecutedCommandLine(pid_t pid, const std::string& program)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    std::vector<std::string> argv;
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code error;
        if (fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", error) == fs::path(program)) {
            argv = CommandLine(pid);
            if (!argv.empty())
                break;
        }
        std::this_thread::sleep_for(5ms);
    }
    return argv;
}

// Runs the test body with the current folder set to `dir`, restoring it after.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::string& dir) : previous_(fs::current_path()) { fs::current_path(dir); }
    ~CurrentFolder() { fs::current_path(previous_); }

private:
    fs::path previous_;
};

TEST(ExternalTools, EncodingWizardBesideTheProgramGetsTheRecordingAsOneAbsoluteArgument)
{
    ASSERT_TRUE(fs::exists(kRemuxer)) << "build the remuxer target first";
    ASSERT_TRUE(OurChildren().empty());
    testkit::TempDir dir;
    const std::string name = "-o clip with spaces.avi";
    std::ofstream(dir.File(name)) << "not a real recording";
    CurrentFolder here(dir.Path());

    LaunchEncodingWizard(QString::fromStdString(name));
    const pid_t child = WaitForChild(5s);
    ASSERT_NE(child, 0) << "no program was started";
    const auto argv = ExecutedCommandLine(child, fs::canonical(kRemuxer).string());
    ASSERT_EQ(argv.size(), 2u) << "the remuxer next to the test program did not run with one argument";
    EXPECT_EQ(argv[1], dir.File(name));

    // The wizard stays open with its window; end it. Our reaper must collect it.
    kill(child, SIGTERM);
    std::string left;
    EXPECT_TRUE(WaitForNoChildren(20s, &left)) << "children left: " << left;
}

TEST(ExternalTools, DesktopOpenerChildrenAreReaped)
{
    ASSERT_TRUE(OurChildren().empty());
    testkit::TempDir dir;
    CurrentFolder here(dir.Path());
    setenv("TAVREC_INSTALL_DIR", dir.Path().c_str(), 1);
    std::ofstream(dir.File("TavrecHelp.html")) << "<html></html>";
    std::ofstream(dir.File("-x.avi")) << "";

    // xdg-open finds nothing to open these with in the bare test session and ends by
    // itself; what matters is that no child is left behind, zombie or not.
    OpenOnlineHelp();
    OpenInMediaPlayer(QStringLiteral("-x.avi"));
    std::string left;
    EXPECT_TRUE(WaitForNoChildren(60s, &left)) << "children left: " << left;
    unsetenv("TAVREC_INSTALL_DIR");
}

TEST(ExternalTools, InstallFolderFollowsTheOverrideElseLiesBesideTheProgram)
{
    setenv("TAVREC_INSTALL_DIR", "/some/where/", 1);
    EXPECT_EQ(InstallFilePath(QStringLiteral("Intro_english.txt")), QStringLiteral("/some/where/Intro_english.txt"));
    unsetenv("TAVREC_INSTALL_DIR");
    const fs::path expected = fs::path(TAVREC_BINARY_DIR) / "share" / "tavrec";
    EXPECT_EQ(fs::weakly_canonical(InstallFolder().toStdString()), fs::weakly_canonical(expected));
}

}  // namespace
