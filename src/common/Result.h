// HRESULT plumbing: macros that evaluate their argument once, the exception that
// carries an HRESULT, and the one mapping from a caught exception to an HRESULT that
// every COM boundary uses.
#pragma once

#include "platform/WinIncludes.h"

#include <exception>

namespace vela {

class HResultException : public std::exception {
public:
    explicit HResultException(HRESULT hr) noexcept : m_hr(hr) {}
    HRESULT code() const noexcept { return m_hr; }
    const char* what() const noexcept override { return "HRESULT failure"; }

private:
    HRESULT m_hr;
};

[[noreturn]] void ThrowHResult(HRESULT hr);

// Call only inside a catch block: maps the exception in flight to an HRESULT.
HRESULT ResultFromCaughtException() noexcept;

// The one exception boundary of a COM method: nothing thrown by `body` escapes.
template <typename F> HRESULT ComBoundary(F&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        return ResultFromCaughtException();
    }
}

} // namespace vela

#define RETURN_IF_FAILED(expr)                                                                               \
    do {                                                                                                     \
        const HRESULT vela_hr_ = (expr);                                                                     \
        if (FAILED(vela_hr_)) return vela_hr_;                                                               \
    } while (0)

#define THROW_IF_FAILED(expr)                                                                                \
    do {                                                                                                     \
        const HRESULT vela_hr_ = (expr);                                                                     \
        if (FAILED(vela_hr_)) ::vela::ThrowHResult(vela_hr_);                                                \
    } while (0)
