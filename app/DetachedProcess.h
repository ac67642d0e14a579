// Starting a program that the recorder neither waits for nor talks to: the encoding
// wizard, the help viewer, the media player. The child gets the arguments exactly as
// given (no shell), a clean signal mask and default signal actions; a small thread
// of ours waits for it, so it never lingers as a zombie however long it runs.
#pragma once

#include <string>
#include <vector>

namespace detached {

// Starts `program` (an absolute path, or a name looked up in PATH when
// `searchPath` is true) with `arguments` as argv[1...]. False when it could not
// be started; nothing is reported.
bool Start(const std::string& program, const std::vector<std::string>& arguments,
           bool searchPath = false);

}  // namespace detached
