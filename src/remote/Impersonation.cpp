#include "remote/Impersonation.h"

#include "remote/Failure.h"

namespace vela {

namespace {

[[noreturn]] void RaiseLastError()
{
    const DWORD error = ::GetLastError();
    Raise(error ? HRESULT_FROM_WIN32(error) : E_UNEXPECTED);
}

} // namespace

unique_handle CallingThreadToken()
{
    unique_handle token;
    // Checked against the process's own rights: a thread that impersonates at identification
    // level could not open its token with its own.
    if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_IMPERSONATE | TOKEN_QUERY, TRUE, token.put())) {
        token.release(); // the platform may have left anything there
        if (::GetLastError() != ERROR_NO_TOKEN) RaiseLastError();
    }
    return token;
}

Impersonation::Impersonation(HANDLE token)
{
    if (!token) return;
    if (!::SetThreadToken(nullptr, token)) RaiseLastError();
    m_impersonating = true;
}

Impersonation::~Impersonation()
{
    // Workers serve one exchange after another: none may keep the last caller's account.
    if (m_impersonating) ::SetThreadToken(nullptr, nullptr);
}

} // namespace vela
