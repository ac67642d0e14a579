// The one QApplication of an in-process test program, on the session's X display.
#pragma once

#include <QApplication>

namespace testkit {

// Made at the first call with `name` as its program name (which Qt also takes as
// the application name); later calls return the same one.
QApplication& QtApp(const char* name);

}  // namespace testkit
