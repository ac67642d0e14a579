// Reports X errors and other failures of the hooks on stderr. The hooks run inside
// the recorder program, which has no other channel for them; an error is reported
// with all its fields, and each kind of error (code, major and minor opcode) only
// the first time, so that a vanished target window does not flood the output.
#pragma once

#include <xcb/xcb.h>

#include <string>

namespace hookcore {

void ReportXError(const char* what, const xcb_generic_error_t& error);
void ReportProblem(const std::string& text);

}  // namespace hookcore
