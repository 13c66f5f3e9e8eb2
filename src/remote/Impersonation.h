// The account an exchange runs as. A page that impersonates its user (IUSR, or whoever
// logged on) makes its remote calls, and its registry reads, as that user; an exchange that
// a worker thread runs for it must do the same, or the agent host would see the process's
// account instead, and only when a time-out is set.
#pragma once

#include "common/Unique.h"

namespace vela {

// The calling thread's impersonation token, or none when the thread runs as its process.
// Raises the platform's error when the thread has a token that cannot be opened: running
// as the process instead would be running as someone else.
unique_handle CallingThreadToken();

// The current thread runs under `token` (none: as its process) until this goes, and then
// as its process again.
class Impersonation {
public:
    explicit Impersonation(HANDLE token); // raises the platform's error when refused
    ~Impersonation();
    Impersonation(const Impersonation&) = delete;
    Impersonation& operator=(const Impersonation&) = delete;

private:
    bool m_impersonating = false;
};

} // namespace vela
