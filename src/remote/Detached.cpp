#include "remote/Detached.h"

#include "common/Unique.h"

#include <atomic>

namespace vela {

namespace {

enum class Fate : long { Running, Finished, Abandoned };

// What the caller and the worker share. Whoever of them moves Running on first decides
// whether the work was on time.
struct Ticket {
    std::shared_ptr<DetachedWork> work;
    unique_handle done; // set when the work finished in time
    std::atomic<Fate> fate{Fate::Running};
    HMODULE module = nullptr; // the thread's own reference to this module
};

std::atomic<long> g_running{0};
std::atomic<long> g_late{0};

DWORD WINAPI Worker(void* parameter) noexcept
{
    HMODULE module = nullptr;
    {
        const std::unique_ptr<std::shared_ptr<Ticket>> owned(
            static_cast<std::shared_ptr<Ticket>*>(parameter));
        const std::shared_ptr<Ticket> ticket = std::move(*owned);
        module = ticket->module;
        // An apartment of the thread's own: nothing of the agent ever enters the caller's.
        const HRESULT init = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ticket->work->Run();
        if (ticket->fate.exchange(Fate::Finished) == Fate::Abandoned) {
            ticket->work->Discard();
            --g_late;
        } else {
            ticket->work->HandOver();
            ::SetEvent(ticket->done.get());
        }
        ticket->work.reset();
        if (SUCCEEDED(init)) ::CoUninitialize();
    }
    --g_running;
    // The caller may have let the module go meanwhile: the thread's own reference keeps the
    // code it still runs loaded until the very end.
    ::FreeLibraryAndExitThread(module, 0);
    return 0;
}

HRESULT LastErrorResult() noexcept
{
    const DWORD error = ::GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// Waits on `event` as the calling thread's apartment allows: a single-threaded apartment
// keeps serving calls to its objects while it waits.
bool WaitFor(HANDLE event, DWORD timeoutMs) noexcept
{
    DWORD index = 0;
    const HRESULT hr = ::CoWaitForMultipleHandles(0, timeoutMs, 1, &event, &index);
    if (hr == CO_E_NOTINITIALIZED) return ::WaitForSingleObject(event, timeoutMs) == WAIT_OBJECT_0;
    return hr == S_OK;
}

} // namespace

HRESULT RunDetached(std::shared_ptr<DetachedWork> work, DWORD timeoutMs) noexcept
{
    if (g_late.load() >= kMaxLateWork) return RPC_E_TIMEOUT;
    std::shared_ptr<Ticket> ticket;
    std::unique_ptr<std::shared_ptr<Ticket>> handedOver;
    try {
        ticket = std::make_shared<Ticket>();
        handedOver = std::make_unique<std::shared_ptr<Ticket>>(ticket);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    ticket->work = std::move(work);
    ticket->done.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!ticket->done) return LastErrorResult();
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&Worker),
                              &ticket->module))
        return LastErrorResult();

    ++g_running;
    const unique_handle thread(::CreateThread(nullptr, 0, &Worker, handedOver.get(), 0, nullptr));
    if (!thread) {
        const HRESULT hr = LastErrorResult();
        --g_running;
        ::FreeLibrary(ticket->module);
        return hr;
    }
    handedOver.release(); // the worker owns it now

    if (WaitFor(ticket->done.get(), timeoutMs)) return S_OK;
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
