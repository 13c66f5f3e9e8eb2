// DNS zone commands, forwarded to the agent's DnsAdmin class.
#include "access/Commands.h"
#include "log/RegistrySettings.h"

namespace vela {

using DnsConnection = RemoteConnection<IDnsAdmin>;

STDMETHODIMP CVelaServerAccess::AlterCompleteDNSEntries(BSTR RemoteServer, BSTR DomainName, BSTR AdminEmail,
                                                        BSTR NSHost, BSTR AIP, short* pVal) noexcept
{
    return Forward<IDnsAdmin>(
        commands::AlterCompleteDNSEntries, RemoteServer, {DomainName},
        Exchange(
            [](DnsConnection& dns, short namedBased, BSTR domain, BSTR adminEmail, BSTR nsHost, BSTR ip,
               short soaEnabled, BSTR ns1, BSTR ns2, BSTR soaMail, short* result) {
                dns->put_NamedBasedDomain(namedBased);
                {
                    // The secondary DNS server's address travels in the reverse-zone setting.
                    CRegistrySettings settings;
                    if (settings.ReadDWORD(kServersKey, "SecondaryDNS") == 1)
                        dns->put_ReverseZoneIP(
                            Widen(settings.ReadString(kServersKey, "SecDNSServerIP")).get());
                }
                return dns->AlterCompleteDNSEntries(domain, adminEmail, nsHost, ip, soaEnabled, ns1, ns2,
                                                    soaMail, result);
            },
            m_NamedBasedDomain, DomainName, AdminEmail, NSHost, AIP, m_resellersoaEnabled,
            Copied(m_resellerns1), Copied(m_resellerns2), Copied(m_resellersoamail), Into(&m_nResult)),
        OneOrZero(pVal));
}

STDMETHODIMP CVelaServerAccess::CreateAEntry(BSTR RemoteServer, BSTR ADomain, BSTR AHost, BSTR AIP,
                                             short* pVal) noexcept
{
    return Forward<IDnsAdmin>(commands::CreateAEntry, RemoteServer, {ADomain},
                              Call(&IDnsAdmin::CreateAEntry, ADomain, AHost, AIP, Into(&m_nResult)),
                              ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::AddMXRecord(BSTR RemoteHost, BSTR soaname, BSTR DomainName, BSTR hostname,
                                            BSTR priority, short* pVal) noexcept
{
    return Forward<IDnsAdmin>(
        commands::AddMXRecord, RemoteHost, {DomainName},
        Call(&IDnsAdmin::AddMXRecord, soaname, DomainName, hostname, priority, Into(&m_nResult)),
        ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::DeletePrimaryDomain(BSTR RemoteHost, BSTR DomainName, short* pVal) noexcept
{
    return Forward<IDnsAdmin>(commands::DeletePrimaryDomain, RemoteHost, {DomainName},
                              Exchange(
                                  [](DnsConnection& dns, BSTR reverseZone, BSTR domain, short* result) {
                                      dns->put_ReverseZoneIP(reverseZone);
                                      return dns->DeletePrimaryDomain(domain, result);
                                  },
                                  Kept(m_ReverseZoneIP), DomainName, Into(&m_nResult)),
                              ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::DeleteThirdLevelDomain(BSTR RemoteHost, BSTR DomainName, BSTR hostname,
                                                       short* pVal) noexcept
{
    return Forward<IDnsAdmin>(
        commands::DeleteThirdLevelDomain, RemoteHost, {DomainName},
        Call(&IDnsAdmin::DeleteThirdLevelDomain, DomainName, hostname, Into(&m_nResult)),
        ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::GetDNSFile(BSTR RemoteServer, BSTR strFileName, BSTR* pVal) noexcept
{
    unique_bstr contents;
    return Forward<IDnsAdmin>(commands::GetDNSFile, RemoteServer, {strFileName},
                              Call(&IDnsAdmin::GetDNSFile, strFileName, Into(contents.put())),
                              TextOrErrorText{pVal, contents});
}

STDMETHODIMP CVelaServerAccess::SetDNSFile(BSTR RemoteServer, BSTR strFileName, BSTR strSourceFile,
                                           short* pVal) noexcept
{
    // On failure the caller still gets whatever m_nResult holds, possibly from an
    // earlier command: panels compare it, not strError, to decide.
    return Forward<IDnsAdmin>(commands::SetDNSFile, RemoteServer, {strFileName},
                              Call(&IDnsAdmin::SetDNSFile, strFileName, strSourceFile, Into(&m_nResult)),
                              SetValue<short>{pVal, m_nResult, m_nResult});
}

STDMETHODIMP CVelaServerAccess::CreateCNAMEEntry(BSTR RemoteServer, BSTR ADomain, BSTR AHost,
                                                 short* pVal) noexcept
{
    return Forward<IDnsAdmin>(commands::CreateCNAMEEntry, RemoteServer, {ADomain},
                              Call(&IDnsAdmin::CreateCNAMEEntry, ADomain, AHost, Into(&m_nResult)),
                              ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::CreateCNAMEEntryEx(BSTR RemoteServer, BSTR CDomain, BSTR CHost1, BSTR CHost2,
                                                   short* pVal) noexcept
{
    return Forward<IDnsAdmin>(commands::CreateCNAMEEntryEx, RemoteServer, {CDomain},
                              Call(&IDnsAdmin::CreateCNAMEEntryEx, CDomain, CHost1, CHost2, Into(&m_nResult)),
                              ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::DeleteCNAMEEntryEx(BSTR RemoteServer, BSTR CDomain, BSTR CHost,
                                                   short* pVal) noexcept
{
    return Forward<IDnsAdmin>(commands::DeleteCNAMEEntryEx, RemoteServer, {CDomain},
                              Call(&IDnsAdmin::DeleteCNAMEEntryEx, CDomain, CHost, Into(&m_nResult)),
                              ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::DeleteMXRecord(BSTR RemoteHost, BSTR DomainName, BSTR hostname,
                                               short* pVal) noexcept
{
    return Forward<IDnsAdmin>(commands::DeleteMXRecord, RemoteHost, {DomainName},
                              Call(&IDnsAdmin::DeleteMXRecord, DomainName, hostname, Into(&m_nResult)),
                              ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::DeleteAEntry(BSTR RemoteServer, BSTR ADomain, BSTR AHost,
                                             short* pVal) noexcept
{
    return Forward<IDnsAdmin>(commands::DeleteAEntry, RemoteServer, {ADomain},
                              Call(&IDnsAdmin::DeleteAEntry, ADomain, AHost, Into(&m_nResult)),
                              ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::ChangeIP(BSTR RemoteServer, BSTR DomainName, BSTR oldIP, BSTR newIP,
                                         short iisORmail, short* pVal) noexcept
{
    return Forward<IDnsAdmin>(commands::ChangeIP, RemoteServer, {DomainName},
                              Call(&IDnsAdmin::ChangeIP, DomainName, oldIP, newIP, iisORmail, Into(pVal)),
                              HandedThrough{pVal});
}

STDMETHODIMP CVelaServerAccess::CheckDNSExistance(BSTR RemoteServer, BSTR DomainName, short* pVal) noexcept
{
    return Forward<IDnsAdmin>(commands::CheckDNSExistance, RemoteServer, {DomainName},
                              Call(&IDnsAdmin::CheckDNSExistance, DomainName, Into(pVal)),
                              HandedThrough{pVal});
}

STDMETHODIMP CVelaServerAccess::CreateSPFEntry(BSTR RemoteServer, BSTR ADomain, BSTR SPFRecord,
                                               short* pVal) noexcept
{
    return Forward<IDnsAdmin>(commands::CreateSPFEntry, RemoteServer, {ADomain},
                              Call(&IDnsAdmin::CreateSPFEntry, ADomain, SPFRecord, Into(&m_nResult)),
                              ValueOrZero(pVal, m_nResult));
}

} // namespace vela
