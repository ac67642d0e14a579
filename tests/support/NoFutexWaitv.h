// Makes the calling process (and what it executes) run as on a kernel before 5.16:
// a seccomp filter answers futex_waitv with ENOSYS. Irreversible: call it in a child.
#pragma once

namespace testkit {

bool DenyFutexWaitv();

}  // namespace testkit
