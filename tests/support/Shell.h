// Runs a shell command line for a test and returns what it printed.
#pragma once

#include <string>

namespace testkit {

// The command's standard output without its trailing newlines; empty when the shell
// cannot be started.
std::string Shell(const std::string& command);

}  // namespace testkit
