// Work that may outlive its caller: a command's remote exchange under a time-out. The work
// runs on a thread of its own in the multithreaded apartment while the caller waits for it,
// at most the time-out; past that the caller goes on and the thread finishes by itself,
// with nothing left to hand back to anyone.
#pragma once

#include "platform/WinIncludes.h"

#include <memory>

namespace vela {

class DetachedWork {
public:
    virtual ~DetachedWork() = default;
    // On the worker thread, in its apartment.
    virtual void Run() noexcept = 0;
    // On the worker thread after Run, when the caller still waits: readies what Run
    // produced for the caller's thread, which takes it once this returns.
    virtual void HandOver() noexcept = 0;
    // On the worker thread after Run, once the caller has stopped waiting: whatever Run
    // produced is nobody's now, so the work releases it here, where any interface in it
    // belongs, and may say how it ended.
    virtual void FinishLate() noexcept = 0;
};

// How many pieces of work may run at once, on time or late. A farm of dead hosts then costs
// this many threads, not one per command, and never more than this many exchanges run past
// their time-out.
constexpr long kMaxLateWork = 64;

// Runs `work` and waits for it, at most `timeoutMs` in all (a single-threaded caller goes on
// serving calls to its apartment meanwhile). When kMaxLateWork pieces run already, the wait
// for one of them to end counts against the time-out. S_OK when the work finished in time:
// what it produced is the caller's. RPC_E_TIMEOUT when it did not, when no place came free
// in time, or at once when every place is held by work that is already late (then nothing
// is started); the error of the thread's creation otherwise.
HRESULT RunDetached(std::shared_ptr<DetachedWork> work, DWORD timeoutMs) noexcept;

// Worker threads still running, on time or late: the module's code is still in use.
long RunningDetachedWork() noexcept;

} // namespace vela
