// The forwarding procedure that every command method runs, written once. A command
// method supplies only its own choices: a Command (below), its action-text
// placeholders, the exchange with the remote object (settings, then the main call, with
// the values bound to it; see Exchange.h) and what its out-value receives on success and
// on failure. With a command time-out the remote part of the procedure runs on a thread
// of its own; everything else stays on the caller's.
#pragma once

#include "access/Exchange.h"
#include "access/VelaServerAccess.h"
#include "common/Format.h"
#include "remote/Detached.h"
#include "remote/Impersonation.h"
#include "remote/RemoteConnection.h"
#include "remote/Text.h"

#include <exception>
#include <memory>
#include <type_traits>
#include <utility>

namespace vela {

enum class HostName {
    AsReceived, // the caller's BSTR itself
    Widened,    // a new BSTR widened back from its narrowed copy
};

enum class ErrorTarget {
    Member,    // the remote error text goes to m_strError, which strError reports
    CallLocal, // the remote error text only decides the log record; m_strError is untouched
    Success,   // no error text is fetched; m_strError becomes "Success"
};

// When the main call's HRESULT decides between success and the failure path.
enum class TestPoint {
    AfterCall,        // right after the main call
    AfterErrorText,   // after the remote error text has been fetched
    ErrorTextHResult, // the error-text fetch's own HRESULT is tested; the main call's is not
    AfterOutValue,    // after the out-value has been set
};

struct Command {
    const char* action; // template whose first placeholder is the host; null: no action text
    HostName host;
    ErrorTarget errorTarget;
    TestPoint test;
    bool logged = true;
};

constexpr const char kOperationSuccessful[] = "Operation Successful";
constexpr const char kOperationFailed[] = "Operation Failed : Error is '%s'";
constexpr const char kSuccess[] = "Success";

// --- Out-values ------------------------------------------------------------------------
// Each writes only through a non-null out-pointer: a caller that passes none gets nothing.
// Start runs first and Abandon when memory runs out on the way (the member then returns
// E_OUTOFMEMORY): an out-value the component writes is then a valid value or null.

// Handed straight to the remote agent, which alone writes it. Should memory run out after
// the agent wrote it, it is emptied: COM lets the caller of a failed call ignore its
// out-values, so a text would leak and an object in a VARIANT would stay alive. What the
// agent did not write is the caller's, and stays as it was.
template <typename T> struct HandedThrough {
    T* out;
    Given<T> given{}; // the caller's value, to tell whether the agent wrote one
    void Start() noexcept { given = Given<T>(out); }
    void Succeeded() noexcept {}
    void Failed(const std::string&) noexcept {}
    void Abandon() noexcept
    {
        if (out && given.ChangedIn(*out)) Empty(*out);
    }
};
template <typename T> HandedThrough(T*) -> HandedThrough<T>;
// A member without an out-value.
inline HandedThrough<short> NoOutValue() noexcept
{
    return {nullptr};
}

// `onSuccess` (1 or a result value) when the command completes, `onFailure` otherwise.
template <typename T> struct SetValue {
    T* out;
    const T& onSuccess;
    const T& onFailure;
    void Start() noexcept {}
    void Succeeded() noexcept
    {
        if (out) *out = onSuccess;
    }
    void Failed(const std::string&) noexcept
    {
        if (out) *out = onFailure;
    }
    void Abandon() noexcept {}
};

inline const short kOne = 1;
inline const short kZero = 0;

inline SetValue<short> OneOrZero(short* out) noexcept
{
    return {out, kOne, kZero};
}
inline SetValue<short> ValueOrZero(short* out, const short& value) noexcept
{
    return {out, value, kZero};
}

// A fresh BSTR with the text of `text`: a null one (a setting never put, a text the agent
// left unset) gives an empty text.
inline unique_bstr CopyOf(BSTR text)
{
    unique_bstr copy = AllocText(text, text ? ::SysStringLen(text) : 0);
    if (!copy) throw std::bad_alloc();
    return copy;
}
inline unique_bstr CopyOf(const unique_bstr& stored)
{
    return CopyOf(stored.get());
}

// A copy of a text the remote agent returned; on failure, the error text itself. From
// Start on, the out-value holds null or a text of ours, never the caller's old value.
struct TextOrErrorText {
    BSTR* out;
    const unique_bstr& received;
    void Start() noexcept
    {
        if (out) *out = nullptr;
    }
    void Succeeded()
    {
        if (out) *out = CopyOf(received).release();
    }
    void Failed(const std::string& errorText)
    {
        if (!out) return;
        // The new text first: should it fail, the out-value still holds a live text.
        unique_bstr text = Widen(errorText);
        // Frees the copy made before the failure was raised.
        const unique_bstr copied(std::exchange(*out, text.release()));
    }
    void Abandon() noexcept
    {
        if (out) ::SysFreeString(std::exchange(*out, nullptr));
    }
};

// --- Procedure ---------------------------------------------------------------------------

template <typename Interface> constexpr bool kHasErrorText = !std::is_same_v<Interface, IBindDnsAdmin>;

// An action-text placeholder after the host: a caller's text, or a number.
class Placeholder {
public:
    Placeholder(BSTR text) noexcept : m_text(text), m_isText(true) {}
    Placeholder(long number) noexcept : m_number(number) {}
    std::string Text() const { return m_isText ? Narrow(m_text) : std::string(); }
    bool IsText() const noexcept { return m_isText; }
    long Number() const noexcept { return m_number; }

private:
    BSTR m_text = nullptr;
    long m_number = 0;
    bool m_isText = false;
};

std::string ActionText(const Command& command, BSTR host, std::initializer_list<Placeholder> placeholders);

// A copy of a caller's BSTR that passes through the ANSI code page, as the mail and
// maintenance commands hand their texts on.
inline unique_bstr Rewiden(BSTR text)
{
    return Widen(Narrow(text));
}

// The texts an exchange makes before activation: a stored setting's copy (empty, or null
// kept null), a caller's text through the code page. A stored setting is never handed on
// as it is: a put_ that a single-threaded caller serves while it waits for the activation
// would free it under the exchange.
inline Made<&CopyOf> Copied(const unique_bstr& stored) noexcept
{
    return {stored.get()};
}
inline Made<&Duplicate> Kept(const unique_bstr& stored) noexcept
{
    return {stored.get()};
}
inline Made<&Rewiden> Rewidened(BSTR text) noexcept
{
    return {text};
}

// What the remote part of a command leaves for the caller to judge.
struct RemoteOutcome {
    HRESULT failure = S_OK;       // raised: activation, an unusable connection, or a test of the command's
    HRESULT afterOutValue = S_OK; // the main call's, for a command that judges it after its out-value
    unique_bstr errorText;        // the agent's error text, when the command fetches it
};

// The remote part of a command: activation on the host, the exchange, the error text, each
// call in the command's order. On a failure the connection is released at once.
template <typename Interface, typename Exchange>
RemoteOutcome RunRemote(const Command& command, BSTR host, Exchange& exchange,
                        RemoteConnection<Interface>& connection)
{
    RemoteOutcome outcome;
    try {
        unique_bstr widenedHost;
        if (command.host == HostName::Widened) widenedHost = Rewiden(host);
        connection.Open(command.host == HostName::Widened ? widenedHost.get() : host);

        const HRESULT hr = exchange(connection);
        if (command.test == TestPoint::AfterCall) RAISE_IF_FAILED(hr);
        if constexpr (kHasErrorText<Interface>) {
            if (command.errorTarget != ErrorTarget::Success) {
                const HRESULT errorHr = connection->get_strError(outcome.errorText.put());
                if (command.test == TestPoint::ErrorTextHResult) RAISE_IF_FAILED(errorHr);
                if (command.test == TestPoint::AfterErrorText) RAISE_IF_FAILED(hr);
            }
        }
        if (command.test == TestPoint::AfterOutValue) outcome.afterOutValue = hr;
    } catch (const Failure& failure) {
        connection.Release();
        outcome.failure = failure.code();
    }
    return outcome;
}

// What a command keeps as its error text and logs as its result, for what its remote part
// left: the same whether the exchange ended in time or after the caller stopped waiting.
struct Verdict {
    HRESULT failure = S_OK; // the command's failure, if any
    std::string errorText;  // what m_strError or the call-local text receives
    std::string result;     // the record's result text
};

template <typename Interface> Verdict Judge(const Command& command, const RemoteOutcome& remote)
{
    Verdict verdict;
    verdict.failure = FAILED(remote.failure) ? remote.failure : remote.afterOutValue;
    if (FAILED(verdict.failure)) {
        verdict.errorText = Failure(verdict.failure).ErrorText();
        verdict.result = Format(kOperationFailed, {verdict.errorText});
        return verdict;
    }
    if (command.errorTarget == ErrorTarget::Success || !kHasErrorText<Interface>) {
        verdict.errorText = kSuccess;
        verdict.result = kOperationSuccessful;
        return verdict;
    }
    verdict.errorText = Narrow(remote.errorText.get());
    // A remote error text with a successful HRESULT still counts as failed in the log.
    verdict.result = verdict.errorText.empty() ? std::string(kOperationSuccessful)
                                               : Format(kOperationFailed, {verdict.errorText});
    return verdict;
}

constexpr const char kAfterTheTimeout[] = "After the time-out : ";

// The remote part run on a thread of its own, on copies, so that it can go on after the
// caller stopped waiting for it. It runs as its caller; once late, it still records how
// it ended, in its object's log, which it keeps open for as long as it needs it.
template <typename Interface, typename Exchange> class DetachedExchange final : public DetachedWork {
public:
    DetachedExchange(const Command& command, BSTR host, Exchange exchange, const std::string& action,
                     std::shared_ptr<CActionLog> log)
        : m_command(command), m_host(Detach(host)), m_exchange(std::move(exchange)),
          m_token(CallingThreadToken()), m_action(action), m_log(std::move(log))
    {
    }

    void Run() noexcept override
    {
        try {
            const Impersonation as(m_token.get());
            RemoteConnection<Interface> connection;
            m_outcome = RunRemote<Interface>(m_command, m_host.get(), m_exchange, connection);
        } catch (const Failure& failure) {
            m_outcome.failure = failure.code();
        } catch (...) {
            m_error = std::current_exception();
        }
    }
    void HandOver() noexcept override { m_exchange.HandOver(); }
    void FinishLate() noexcept override
    {
        try {
            // What the agent handed back goes as the caller would let it go.
            const Impersonation as(m_token.get());
            m_exchange.Discard();
        } catch (const Failure&) {
            m_exchange.Discard();
        }
        // The record the command would have left in time, marked as late. A command that
        // ran out of memory on the way would have left none.
        if (!m_command.logged || m_error) return;
        try {
            m_log->Log(m_action, kAfterTheTimeout + Judge<Interface>(m_command, m_outcome).result);
        } catch (...) {
            // No memory for the record: it is lost, as a record that cannot be written is.
        }
    }

    // On the caller's thread, when the exchange was on time: its results are the caller's.
    RemoteOutcome Adopt()
    {
        m_exchange.Adopt();
        if (m_error) std::rethrow_exception(m_error);
        return std::move(m_outcome);
    }

private:
    const Command m_command;
    const unique_bstr m_host;
    Exchange m_exchange;
    const unique_handle m_token; // the caller's, or none; for as long as the exchange lives
    const std::string m_action;
    const std::shared_ptr<CActionLog> m_log;
    RemoteOutcome m_outcome;
    std::exception_ptr m_error;
};

// The remote part under a time-out: past it the command fails as if the host could not be
// reached, and nothing the exchange does afterwards reaches the caller or the object; only
// the log learns how it ended.
template <typename Interface, typename Exchange>
RemoteOutcome RunRemoteWithin(DWORD timeoutMs, const Command& command, BSTR host, Exchange&& exchange,
                              const std::string& action, const std::shared_ptr<CActionLog>& log)
{
    using Detached = DetachedExchange<Interface, decltype(std::move(exchange).Detach())>;
    RemoteOutcome outcome;
    std::shared_ptr<Detached> work;
    try {
        work = std::make_shared<Detached>(command, host, std::move(exchange).Detach(), action, log);
    } catch (const Failure& failure) {
        // The caller's account cannot be carried over: the exchange does not run as anyone else.
        outcome.failure = failure.code();
        return outcome;
    }
    outcome.failure = RunDetached(work, timeoutMs);
    return FAILED(outcome.failure) ? std::move(outcome) : work->Adopt();
}

template <typename Interface, typename Exchange, typename Out>
HRESULT CVelaServerAccess::Forward(const Command& command, BSTR host,
                                   std::initializer_list<Placeholder> placeholders, Exchange&& exchange,
                                   Out out) noexcept
{
    return ComBoundary([&]() -> HRESULT {
        out.Start();
        try {
            const std::string action = ActionText(command, host, placeholders);
            auto bound = std::move(exchange).Resolve();
            // Held here, without a time-out, so that the agent object goes only after the record.
            RemoteConnection<Interface> connection;
            const RemoteOutcome remote = m_commandTimeoutMs
                                             ? RunRemoteWithin<Interface>(m_commandTimeoutMs, command, host,
                                                                          std::move(bound), action, m_log)
                                             : RunRemote<Interface>(command, host, bound, connection);
            const Verdict verdict = Judge<Interface>(command, remote);
            if (command.errorTarget != ErrorTarget::CallLocal) m_strError = verdict.errorText;
            if (FAILED(verdict.failure))
                out.Failed(verdict.errorText);
            else
                out.Succeeded();
            if (command.logged) m_log->Log(action, verdict.result);
        } catch (...) {
            out.Abandon();
            throw;
        }
        return S_OK;
    });
}

} // namespace vela
