// The forwarding procedure that every command method runs, written once. A command
// method supplies only its own choices: a Command (below), its action-text
// placeholders, the exchange with the remote object (settings, then the main call) and
// what its out-value receives on success and on failure.
#pragma once

#include "access/VelaServerAccess.h"
#include "common/Format.h"
#include "remote/RemoteConnection.h"
#include "remote/Text.h"

#include <cstring>
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

// What an out-value holds once emptied.
inline void Empty(BSTR& value) noexcept
{
    ::SysFreeString(std::exchange(value, nullptr));
}
inline void Empty(VARIANT& value) noexcept
{
    // One the system cannot clear (a locked array, say) is left empty all the same.
    if (FAILED(::VariantClear(&value))) ::VariantInit(&value);
}
template <typename Number> void Empty(Number& value) noexcept
{
    value = Number{};
}

// Handed straight to the remote agent, which alone writes it. Should memory run out after
// the agent wrote it, it is emptied: COM lets the caller of a failed call ignore its
// out-values, so a text would leak and an object in a VARIANT would stay alive. What the
// agent did not write is the caller's, and stays as it was.
template <typename T> struct HandedThrough {
    T* out;
    T given{}; // the caller's value, to tell whether the agent wrote one
    void Start() noexcept
    {
        if (out) std::memcpy(&given, out, sizeof(T));
    }
    void Succeeded() noexcept {}
    void Failed(const std::string&) noexcept {}
    void Abandon() noexcept
    {
        if (out && std::memcmp(&given, out, sizeof(T)) != 0) Empty(*out);
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

// A fresh BSTR with the text of `stored`: a null one (a setting never put, a text the
// agent left unset) gives an empty text.
inline unique_bstr CopyOf(const unique_bstr& stored)
{
    const BSTR text = stored.get();
    unique_bstr copy = AllocText(text, text ? ::SysStringLen(text) : 0);
    if (!copy) throw std::bad_alloc();
    return copy;
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

template <typename Interface, typename Exchange, typename Out>
HRESULT CVelaServerAccess::Forward(const Command& command, BSTR host,
                                   std::initializer_list<Placeholder> placeholders, Exchange&& exchange,
                                   Out out) noexcept
{
    return ComBoundary([&]() -> HRESULT {
        out.Start();
        try {
            std::string action = ActionText(command, host, placeholders);
            std::string result = kOperationSuccessful;
            std::string localError;
            std::string& errorText = command.errorTarget == ErrorTarget::CallLocal ? localError : m_strError;
            try {
                RemoteConnection<Interface> connection;
                unique_bstr widenedHost;
                if (command.host == HostName::Widened) widenedHost = Rewiden(host);
                connection.Open(command.host == HostName::Widened ? widenedHost.get() : host);

                const HRESULT hr = exchange(connection);
                if (command.test == TestPoint::AfterCall) RAISE_IF_FAILED(hr);

                if (command.errorTarget == ErrorTarget::Success) {
                    errorText = kSuccess;
                } else if constexpr (kHasErrorText<Interface>) {
                    unique_bstr remoteError;
                    const HRESULT errorHr = connection->get_strError(remoteError.put());
                    if (command.test == TestPoint::ErrorTextHResult) RAISE_IF_FAILED(errorHr);
                    if (command.test == TestPoint::AfterErrorText) RAISE_IF_FAILED(hr);
                    errorText = Narrow(remoteError.get());
                }

                out.Succeeded();
                if (command.test == TestPoint::AfterOutValue) RAISE_IF_FAILED(hr);

                // A remote error text with a successful HRESULT still counts as failed in the log.
                if (command.errorTarget != ErrorTarget::Success && !errorText.empty())
                    result = Format(kOperationFailed, {errorText});
                if (command.logged) m_log.Log(action, result);
                connection.Release();
            } catch (const Failure& failure) {
                // The connection was released as the failure left the block.
                errorText = failure.ErrorText();
                out.Failed(errorText);
                result = Format(kOperationFailed, {errorText});
                if (command.logged) m_log.Log(std::move(action), std::move(result));
            }
        } catch (...) {
            out.Abandon();
            throw;
        }
        return S_OK;
    });
}

} // namespace vela
