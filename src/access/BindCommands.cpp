// BIND zone and service commands, forwarded to the agent's BindDnsAdmin class. The
// agent reports their outcome only through the result value: no error text is fetched.
#include "access/Commands.h"

namespace vela {

using BindConnection = RemoteConnection<IBindDnsAdmin>;

STDMETHODIMP CVelaServerAccess::CBindDNSDomain(BSTR RemoteHost, BSTR DomainName, BSTR IPAddress,
                                               short* pVal) noexcept
{
    return Forward<IBindDnsAdmin>(commands::CBindDNSDomain, RemoteHost, {DomainName},
                                  Call(&IBindDnsAdmin::CBindDNSDomain, DomainName, IPAddress,
                                       m_resellersoaEnabled, Copied(m_resellerns1), Copied(m_resellerns2),
                                       Copied(m_resellersoamail), Into(&m_nResult)),
                                  ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::CreateBindARecord(BSTR RemoteHost, BSTR DomainName, BSTR hostname,
                                                  BSTR IPAddress, short* pVal) noexcept
{
    return Forward<IBindDnsAdmin>(
        commands::CreateBindARecord, RemoteHost, {DomainName},
        Call(&IBindDnsAdmin::CreateBindARecord, DomainName, hostname, IPAddress, Into(&m_nResult)),
        ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::CreateBindMXRecord(BSTR RemoteHost, BSTR DomainName, BSTR hostname,
                                                   short* pVal) noexcept
{
    return Forward<IBindDnsAdmin>(
        commands::CreateBindMXRecord, RemoteHost, {DomainName},
        Call(&IBindDnsAdmin::CreateBindMXRecord, DomainName, hostname, Into(&m_nResult)),
        ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::DeleteBindSoa(BSTR RemoteHost, BSTR DomainName, short* pVal) noexcept
{
    return Forward<IBindDnsAdmin>(commands::DeleteBindSoa, RemoteHost, {DomainName},
                                  Call(&IBindDnsAdmin::DeleteBindSoa, DomainName, Into(&m_nResult)),
                                  ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::DeleteBindARec(BSTR RemoteHost, BSTR DomainName, BSTR hostname,
                                               short* pVal) noexcept
{
    return Forward<IBindDnsAdmin>(
        commands::DeleteBindARec, RemoteHost, {DomainName},
        Call(&IBindDnsAdmin::DeleteBindARec, DomainName, hostname, Into(&m_nResult)),
        ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::DeleteBindMX(BSTR RemoteHost, BSTR DomainName, BSTR hostname,
                                             short* pVal) noexcept
{
    return Forward<IBindDnsAdmin>(commands::DeleteBindMX, RemoteHost, {DomainName},
                                  Call(&IBindDnsAdmin::DeleteBindMX, DomainName, hostname, Into(&m_nResult)),
                                  ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::ControlService(BSTR RemoteHost, BSTR Action, BSTR ServiceName,
                                               short* pVal) noexcept
{
    // The service's status is not a zone result: it leaves m_nResult alone.
    short status = 0;
    return Forward<IBindDnsAdmin>(commands::ControlService, RemoteHost, {Action, ServiceName},
                                  Call(&IBindDnsAdmin::ControlService, Action, ServiceName, Into(&status)),
                                  ValueOrZero(pVal, status));
}

STDMETHODIMP CVelaServerAccess::CreateBindSPFRecord(BSTR RemoteHost, BSTR DomainName, BSTR SPFRecord,
                                                    short* pVal) noexcept
{
    return Forward<IBindDnsAdmin>(
        commands::CreateBindSPFRecord, RemoteHost, {DomainName},
        Call(&IBindDnsAdmin::CreateBindSPFRecord, DomainName, SPFRecord, Into(&m_nResult)),
        ValueOrZero(pVal, m_nResult));
}

} // namespace vela
