#include "remote/Detached.h"

#include "common/Unique.h"

#include <algorithm>
#include <atomic>
#include <deque>

namespace vela {

namespace {

enum class Fate : long { Running, Finished, Abandoned };

// What the caller and the worker share. Whoever of them moves Running on first decides
// whether the work was on time.
struct Ticket {
    std::shared_ptr<DetachedWork> work;
    unique_handle done; // set when the work finished in time and was handed over
    std::atomic<Fate> fate{Fate::Running};
};

std::atomic<long> g_running{0}; // tickets not yet done with, on time or late
std::atomic<long> g_late{0};    // tickets whose caller stopped waiting

std::atomic<long> g_inFlight{0}; // places taken, at most kMaxLateWork
std::atomic<long> g_waiting{0};  // callers waiting for a place

// Set when a place comes free while someone waits for one. A single-threaded caller waits
// for it the way it waits for its work, serving its apartment. Made with the first command
// under a time-out; it goes with the module, which no worker outlives.
HANDLE PlaceFreed() noexcept
{
    static const unique_handle freed(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    return freed.get();
}

bool TryTakePlace() noexcept
{
    for (long taken = g_inFlight.load(); taken < kMaxLateWork;)
        if (g_inFlight.compare_exchange_weak(taken, taken + 1)) return true;
    return false;
}

void FreePlace() noexcept
{
    --g_inFlight;
    if (g_waiting.load() > 0) ::SetEvent(PlaceFreed());
}

// Starting a thread is the dearest part of a command under a time-out (several
// milliseconds under Wine), so workers stay for a while after their work, ready for the
// next. Each one lives in the multithreaded apartment and holds its own reference to this
// module, which it gives up only as it ends.
class Workers {
public:
    // Hands `ticket` to an idle worker, or to a new one. False when no thread can be started.
    bool Submit(const std::shared_ptr<Ticket>& ticket) noexcept
    {
        bool spawn;
        ::AcquireSRWLockExclusive(&m_lock);
        try {
            m_queue.push_back(ticket);
        } catch (...) {
            ::ReleaseSRWLockExclusive(&m_lock);
            return false;
        }
        // Every queued ticket needs a worker of its own: one that hangs must not hold up
        // the next.
        spawn = m_queue.size() > m_idle;
        ::ReleaseSRWLockExclusive(&m_lock);
        ::WakeConditionVariable(&m_ready);
        if (!spawn || Start()) return true;
        // No thread could be started: take the ticket back, unless an idle worker got it.
        ::AcquireSRWLockExclusive(&m_lock);
        const auto queued = std::find(m_queue.begin(), m_queue.end(), ticket);
        const bool taken = queued == m_queue.end();
        if (!taken) m_queue.erase(queued);
        ::ReleaseSRWLockExclusive(&m_lock);
        return taken;
    }

    static Workers& Get() noexcept
    {
        static Workers workers;
        return workers;
    }

private:
    static constexpr DWORD kIdleMs = 10000;

    bool Start() noexcept
    {
        HMODULE module = nullptr;
        if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&Main),
                                  &module))
            return false;
        const unique_handle thread(::CreateThread(nullptr, 0, &Main, module, 0, nullptr));
        if (!thread) ::FreeLibrary(module);
        return static_cast<bool>(thread);
    }

    static DWORD WINAPI Main(void* module) noexcept
    {
        const HRESULT init = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        while (std::shared_ptr<Ticket> ticket = Get().Next())
            Work(*ticket);
        if (SUCCEEDED(init)) ::CoUninitialize();
        // The module may have been let go meanwhile: the thread's own reference keeps the
        // code it runs loaded until the very end.
        ::FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
        return 0;
    }

    // The next ticket, or null once the worker has been idle long enough to go.
    std::shared_ptr<Ticket> Next() noexcept
    {
        std::shared_ptr<Ticket> next;
        ::AcquireSRWLockExclusive(&m_lock);
        const ULONGLONG idleUntil = ::GetTickCount64() + kIdleMs;
        while (m_queue.empty()) {
            const ULONGLONG now = ::GetTickCount64();
            if (now >= idleUntil) break;
            ++m_idle;
            ::SleepConditionVariableSRW(&m_ready, &m_lock, static_cast<DWORD>(idleUntil - now), 0);
            --m_idle;
        }
        if (!m_queue.empty()) {
            next = std::move(m_queue.front());
            m_queue.pop_front();
        }
        ::ReleaseSRWLockExclusive(&m_lock);
        return next;
    }

    static void Work(Ticket& ticket) noexcept
    {
        ticket.work->Run();
        if (ticket.fate.exchange(Fate::Finished) == Fate::Abandoned) {
            ticket.work->FinishLate();
            // Fewer late ones first: a caller that then finds every place taken waits for
            // this one instead of giving up.
            --g_late;
        } else {
            ticket.work->HandOver();
            ::SetEvent(ticket.done.get());
        }
        ticket.work.reset();
        FreePlace();
        --g_running;
    }

    SRWLOCK m_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_ready = CONDITION_VARIABLE_INIT;
    std::deque<std::shared_ptr<Ticket>> m_queue;
    size_t m_idle = 0;
};

// Waits on `event` (or takes a semaphore's count) as the calling thread's apartment allows:
// a single-threaded apartment keeps serving calls to its objects while it waits.
bool WaitFor(HANDLE event, DWORD timeoutMs) noexcept
{
    DWORD index = 0;
    const HRESULT hr = ::CoWaitForMultipleHandles(0, timeoutMs, 1, &event, &index);
    if (hr == CO_E_NOTINITIALIZED) return ::WaitForSingleObject(event, timeoutMs) == WAIT_OBJECT_0;
    return hr == S_OK;
}

HRESULT LastErrorResult() noexcept
{
    const DWORD error = ::GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_OUTOFMEMORY;
}

} // namespace

HRESULT RunDetached(std::shared_ptr<DetachedWork> work, DWORD timeoutMs) noexcept
{
    // Every place held by work that is late already: none will come free in time.
    if (g_late.load() >= kMaxLateWork) return RPC_E_TIMEOUT;
    DWORD left = timeoutMs;
    if (!TryTakePlace()) {
        if (!PlaceFreed()) return LastErrorResult();
        const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
        ++g_waiting;
        bool taken = false;
        for (ULONGLONG now = ::GetTickCount64(); !(taken = TryTakePlace()) && now < deadline;
             now = ::GetTickCount64()) {
            // A wake-up may go to another waiter, or come between a look and the wait: look
            // again now and then.
            WaitFor(PlaceFreed(), static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 50)));
        }
        --g_waiting;
        if (!taken) return RPC_E_TIMEOUT;
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) {
            // Free just as the time ran out: nothing is started that nobody would wait for.
            FreePlace();
            return RPC_E_TIMEOUT;
        }
        left = static_cast<DWORD>(deadline - now);
    }

    std::shared_ptr<Ticket> ticket;
    try {
        ticket = std::make_shared<Ticket>();
    } catch (...) {
        FreePlace();
        return E_OUTOFMEMORY;
    }
    ticket->work = std::move(work);
    ticket->done.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!ticket->done) {
        const HRESULT hr = LastErrorResult();
        FreePlace();
        return hr;
    }

    ++g_running;
    if (!Workers::Get().Submit(ticket)) {
        const HRESULT hr = LastErrorResult();
        FreePlace();
        --g_running;
        return hr;
    }
    if (WaitFor(ticket->done.get(), left)) return S_OK;
    ++g_late;
    Fate running = Fate::Running;
    if (ticket->fate.compare_exchange_strong(running, Fate::Abandoned)) return RPC_E_TIMEOUT;
    // Finished just as the wait ran out: it was on time after all, and its hand-over is
    // a moment away.
    --g_late;
    WaitFor(ticket->done.get(), INFINITE);
    return S_OK;
}

long RunningDetachedWork() noexcept
{
    return g_running.load();
}

} // namespace vela
