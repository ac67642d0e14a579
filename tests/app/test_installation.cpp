// links: tavrec_support_TempRegistry tavrec_support_MediaProbe
// `cmake --install` into a folder of the test's own, as a user installs: every program
// the README names, the icon in the hicolor sizes besides the SVG, the help; the
// installed recorder's window and the installed encoding wizard show the icon.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/MediaProbe.h"
#include "tests/support/TempRegistry.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testkit::RunCapture;

constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    for (auto end = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(100ms))
        if (done())
            return true;
    return done();
}

// A program of the installation started with its own settings and runtime folder,
// killed and reaped at the end.
class Started {
public:
    Started(const std::string& program, const std::string& home)
    {
        const std::string runtime = home + "/run";
        mkdir(runtime.c_str(), 0700);
        pid_ = fork();
        if (pid_ == 0) {
            setenv("TAVREC_REGISTRY", (home + "/settings.reg").c_str(), 1);
            setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
            unsetenv("TAVREC_INSTALL_DIR");
            execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Started()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // The first visible window of the process whose title matches `title`.
    std::string Window(const std::string& title) const
    {
        const std::string ids =
            RunCapture({"xdotool", "search", "--onlyvisible", "--pid", std::to_string(pid_)});
        const std::regex number("\\d+");
        for (auto it = std::sregex_iterator(ids.begin(), ids.end(), number); it != std::sregex_iterator(); ++it) {
            std::string name = RunCapture({"xdotool", "getwindowname", it->str()});
            while (!name.empty() && name.back() == '\n')
                name.pop_back();
            if (std::regex_match(name, std::regex(title)))
                return it->str();
        }
        return {};
    }

private:
    pid_t pid_ = -1;
};

// The sizes of the icons a window offers the desktop (_NET_WM_ICON), as "WxH".
std::vector<std::string> WindowIconSizes(const std::string& window)
{
    const std::string icon = RunCapture({"xprop", "-id", window, "_NET_WM_ICON"});
    std::vector<std::string> sizes;
    const std::regex size("Icon \\((\\d+) x (\\d+)\\)");
    for (auto it = std::sregex_iterator(icon.begin(), icon.end(), size); it != std::sregex_iterator(); ++it)
        sizes.push_back((*it)[1].str() + "x" + (*it)[2].str());
    return sizes;
}

class Installation : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new testkit::TempDir;
        prefix_ = dir_->File("prefix with space");
        int code = -1;
        std::string errors;
        RunCapture({"cmake", "--install", TAVREC_BINARY_DIR, "--prefix", prefix_}, &code, &errors);
        installed_ = code == 0;
        if (!installed_)
            ADD_FAILURE() << "cmake --install failed: " << errors;
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(installed_); }

    static testkit::TempDir* dir_;
    static std::string prefix_;
    static bool installed_;
};

testkit::TempDir* Installation::dir_ = nullptr;
std::string Installation::prefix_;
bool Installation::installed_ = false;

TEST_F(Installation, HoldsEveryProgramTheIconSizesAndTheHelp)
{
    for (const char* program : {"tavrec", "remuxer", "korvid-rec", "tavrec-ctl"}) {
        SCOPED_TRACE(program);
        const std::string path = prefix_ + "/bin/" + program;
        ASSERT_EQ(access(path.c_str(), X_OK), 0) << path;
        // Every library it needs is found from where it lies.
        const std::string libraries = RunCapture({"ldd", path});
        EXPECT_EQ(libraries.find("not found"), std::string::npos) << libraries;
    }
    int code = -1;
    RunCapture({prefix_ + "/bin/tavrec-ctl", "--help"}, &code);
    EXPECT_EQ(code, 0);

    EXPECT_TRUE(fs::exists(prefix_ + "/share/icons/hicolor/scalable/apps/tavrec.svg"));
    for (int size : kIconSizes) {
        const std::string png = prefix_ + "/share/icons/hicolor/" + std::to_string(size) + "x" + std::to_string(size) +
                                "/apps/tavrec.png";
        const std::string facts = RunCapture({"file", "-b", png});
        EXPECT_NE(facts.find("PNG image data, " + std::to_string(size) + " x " + std::to_string(size)),
                  std::string::npos)
            << png << ": " << facts;
    }

    const std::string help = TempRegistry::ReadFile(prefix_ + "/share/tavrec/TavrecHelp.html");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(help, m, std::regex("<h2 id=\"tray\">[\\s\\S]*?(?=<h2)"))) << "no tray section";
    const std::string tray = m.str();
    EXPECT_NE(tray.find("One click on\nthe icon brings the window back"), std::string::npos) << tray;
    EXPECT_EQ(tray.find("Double-click"), std::string::npos) << tray;
    ASSERT_TRUE(std::regex_search(help, m, std::regex("<h2 id=\"names\">[\\s\\S]*?(?=<h2)"))) << "no names section";
    const std::string names = m.str();
    for (const char* example : {"clip1.avi", "tavrec.avi", "File is exists, overwrite?", "Change Filename Automatically"})
        EXPECT_NE(names.find(example), std::string::npos) << example;
}

TEST_F(Installation, TheRecordersWindowAndTheWizardShowTheProgramsIcon)
{
    testkit::TempDir home;
    Started tavrec(prefix_ + "/bin/tavrec", home.Path());
    std::string main;
    ASSERT_TRUE(WaitFor([&] { return !(main = tavrec.Window("Tavrec!")).empty(); }, 30s)) << "no main window";
    EXPECT_FALSE(WindowIconSizes(main).empty()) << "the main window has no icon";

    Started remuxer(prefix_ + "/bin/remuxer", home.Path());
    std::string dialog;
    ASSERT_TRUE(WaitFor([&] { return !(dialog = remuxer.Window(".+")).empty(); }, 30s)) << "no wizard window";
    EXPECT_FALSE(WindowIconSizes(dialog).empty()) << "the wizard's window has no icon";
}

}  // namespace
