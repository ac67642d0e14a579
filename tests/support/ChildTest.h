// One test of the running test program run again in a child process, for what must
// not happen to the test program itself (a file size limit, say). The child finds
// the window and the file it records into in TAVREC_TEST_CHILD_WINDOW and
// TAVREC_TEST_CHILD_FILE.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace testkit {

// Starts the test `name` ("Suite.Test") in a child; its pid, or -1.
pid_t SpawnChildTest(const std::string& name, uint32_t window, const std::string& file);
// Waits for the child; its exit code, or -1 when it did not exit normally.
int WaitChildTest(pid_t pid);

}  // namespace testkit
