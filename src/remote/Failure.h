// The failure that every activation or remote call raises: an HRESULT, and on request
// the system's message text for it.
#pragma once

#include "common/Result.h"

#include <memory>
#include <string>

namespace vela {

class Failure : public HResultException {
public:
    explicit Failure(HRESULT hr) noexcept : HResultException(hr) {}

    // The system's text for the HRESULT without its one trailing CR LF, else
    // "IDispatch error #%d" or "Unknown error 0x%0lX". Computed on first request and
    // kept; null only when even the fallback text could not be allocated.
    const char* MessageText() const noexcept;

    // "%s[%x]": the message text directly followed by the HRESULT in lower-case hex.
    std::string ErrorText() const;

private:
    struct LocalFreeDeleter {
        void operator()(char* p) const noexcept { ::LocalFree(p); }
    };
    // Shared, because an exception object must stay copyable.
    mutable std::shared_ptr<char> m_message;
    mutable bool m_computed = false;
};

[[noreturn]] void Raise(HRESULT hr);

} // namespace vela

#define RAISE_IF_FAILED(expr)                                                                                \
    do {                                                                                                     \
        const HRESULT vela_hr_ = (expr);                                                                     \
        if (FAILED(vela_hr_)) ::vela::Raise(vela_hr_);                                                       \
    } while (0)
