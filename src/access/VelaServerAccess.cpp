// Construction, the property members and the members that answer without a remote call.
#include "access/VelaServerAccess.h"

#include "common/Result.h"
#include "log/RegistrySettings.h"
#include "remote/Text.h"

#include <climits>
#include <cstring>

namespace vela {

namespace {

// Appending puts let a panel build a text from several pieces; a text that cannot grow
// stays as it was.
void Append(unique_bstr& stored, BSTR text) noexcept
{
    const UINT added = text ? ::SysStringLen(text) : 0;
    if (added == 0) return;
    const UINT kept = stored ? ::SysStringLen(stored.get()) : 0;
    if (kept > UINT_MAX / sizeof(OLECHAR) - added) return;
    unique_bstr joined = AllocText(nullptr, kept + added);
    if (!joined) return;
    if (kept) std::memcpy(joined.get(), stored.get(), kept * sizeof(OLECHAR));
    std::memcpy(joined.get() + kept, text, added * sizeof(OLECHAR));
    stored = std::move(joined);
}

} // namespace

CVelaServerAccess::CVelaServerAccess()
    : m_log(std::make_shared<CActionLog>()), m_commandTimeoutMs(GetCommandTimeoutSeconds() * 1000)
{
    m_log->Open(GetLogFilePath());
}

STDMETHODIMP CVelaServerAccess::put_imail_databasetype(short newVal) noexcept
{
    m_imail_databasetype = newVal;
    return S_OK;
}

STDMETHODIMP CVelaServerAccess::put_imail_domainAlias(BSTR newVal) noexcept
{
    Append(m_imail_domainAlias, newVal);
    return S_OK;
}

STDMETHODIMP CVelaServerAccess::put_mailmax_dbPath(BSTR newVal) noexcept
{
    Append(m_mailmax_dbPath, newVal);
    return S_OK;
}

STDMETHODIMP CVelaServerAccess::put_mailmax_domainAlias(BSTR newVal) noexcept
{
    Append(m_mailmax_domainAlias, newVal);
    return S_OK;
}

STDMETHODIMP CVelaServerAccess::put_resellersoaEnabled(short newVal) noexcept
{
    m_resellersoaEnabled = newVal == 1 ? 1 : 0;
    return S_OK;
}

STDMETHODIMP CVelaServerAccess::put_resellerns1(BSTR newVal) noexcept
{
    Append(m_resellerns1, newVal);
    return S_OK;
}

STDMETHODIMP CVelaServerAccess::put_resellerns2(BSTR newVal) noexcept
{
    Append(m_resellerns2, newVal);
    return S_OK;
}

STDMETHODIMP CVelaServerAccess::put_resellersoamail(BSTR newVal) noexcept
{
    Append(m_resellersoamail, newVal);
    return S_OK;
}

STDMETHODIMP CVelaServerAccess::put_lMaxMailusers(long newVal) noexcept
{
    m_lMaxMailusers = newVal;
    return S_OK;
}

STDMETHODIMP CVelaServerAccess::put_NamedBasedDomain(short newVal) noexcept
{
    m_NamedBasedDomain = newVal;
    return S_OK;
}

STDMETHODIMP CVelaServerAccess::put_ReverseZoneIP(BSTR newVal) noexcept
{
    if (!newVal) {
        m_ReverseZoneIP.reset();
        return S_OK;
    }
    // A copy that cannot be made leaves the stored text, as the appending puts do.
    if (unique_bstr copy = AllocText(newVal, ::SysStringLen(newVal))) m_ReverseZoneIP = std::move(copy);
    return S_OK;
}

STDMETHODIMP CVelaServerAccess::put_SmarterMailAccountLimit(long newVal) noexcept
{
    m_SmarterMailAccountLimit = newVal;
    return S_OK;
}

STDMETHODIMP CVelaServerAccess::get_strError(BSTR* pVal) noexcept
{
    return ComBoundary([&] {
        if (!pVal) return S_OK;
        // Null first: a caller that gets E_OUTOFMEMORY must not free what it passed in.
        *pVal = nullptr;
        *pVal = Widen(m_strError).release();
        return S_OK;
    });
}

STDMETHODIMP CVelaServerAccess::Reporting(BSTR, long, short* pVal) noexcept
{
    if (pVal) *pVal = 1;
    return S_OK;
}

STDMETHODIMP CSecDNSAdmin::SetupSecDNS(BSTR, BSTR, BSTR, BSTR, short, short*) noexcept
{
    return S_OK;
}

} // namespace vela
