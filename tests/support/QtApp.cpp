// links: Qt6::Widgets
#include "tests/support/QtApp.h"

#include <cstdlib>
#include <string>

namespace testkit {

QApplication& QtApp(const char* name)
{
    // QApplication keeps argc and argv for its whole life.
    static std::string program = name;
    static int argc = 1;
    static char* argv[] = {program.data(), nullptr};
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        return new QApplication(argc, argv);
    }();
    return *app;
}

}  // namespace testkit
