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
        [&](DnsConnection& dns) {
            dns->put_NamedBasedDomain(m_NamedBasedDomain);
            {
                // The secondary DNS server's address travels in the reverse-zone setting.
                CRegistrySettings settings;
                if (settings.ReadDWORD(kServersKey, "SecondaryDNS") == 1)
                    dns->put_ReverseZoneIP(Widen(settings.ReadString(kServersKey, "SecDNSServerIP")).get());
            }
            return dns->AlterCompleteDNSEntries(DomainName, AdminEmail, NSHost, AIP, m_resellersoaEnabled,
                                                CopyOf(m_resellerns1).get(), CopyOf(m_resellerns2).get(),
                                                CopyOf(m_resellersoamail).get(), &m_nResult);
        },
        OneOrZero(pVal));
}

STDMETHODIMP CVelaServerAccess::CreateAEntry(BSTR RemoteServer, BSTR ADomain, BSTR AHost, BSTR AIP,
                                             short* pVal) noexcept
{
    return Forward<IDnsAdmin>(
        commands::CreateAEntry, RemoteServer, {ADomain},
        [&](DnsConnection& dns) { return dns->CreateAEntry(ADomain, AHost, AIP, &m_nResult); },
        ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::AddMXRecord(BSTR RemoteHost, BSTR soaname, BSTR DomainName, BSTR hostname,
                                            BSTR priority, short* pVal) noexcept
{
    return Forward<IDnsAdmin>(
        commands::AddMXRecord, RemoteHost, {DomainName},
        [&](DnsConnection& dns) {
            return dns->AddMXRecord(soaname, DomainName, hostname, priority, &m_nResult);
        },
        ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::DeletePrimaryDomain(BSTR RemoteHost, BSTR DomainName, short* pVal) noexcept
{
    return Forward<IDnsAdmin>(
        commands::DeletePrimaryDomain, RemoteHost, {DomainName},
        [&](DnsConnection& dns) {
            dns->put_ReverseZoneIP(m_ReverseZoneIP.get());
            return dns->DeletePrimaryDomain(DomainName, &m_nResult);
        },
        ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::DeleteThirdLevelDomain(BSTR RemoteHost, BSTR DomainName, BSTR hostname,
                                                       short* pVal) noexcept
{
    return Forward<IDnsAdmin>(
        commands::DeleteThirdLevelDomain, RemoteHost, {DomainName},
        [&](DnsConnection& dns) { return dns->DeleteThirdLevelDomain(DomainName, hostname, &m_nResult); },
        ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::GetDNSFile(BSTR RemoteServer, BSTR strFileName, BSTR* pVal) noexcept
{
    unique_bstr contents;
    return Forward<IDnsAdmin>(
        commands::GetDNSFile, RemoteServer, {strFileName},
        [&](DnsConnection& dns) { return dns->GetDNSFile(strFileName, contents.put()); },
        TextOrErrorText{pVal, contents});
}

STDMETHODIMP CVelaServerAccess::SetDNSFile(BSTR RemoteServer, BSTR strFileName, BSTR strSourceFile,
                                           short* pVal) noexcept
{
    // On failure the caller still gets whatever m_nResult holds, possibly from an
    // earlier command: panels compare it, not strError, to decide.
    return Forward<IDnsAdmin>(
        commands::SetDNSFile, RemoteServer, {strFileName},
        [&](DnsConnection& dns) { return dns->SetDNSFile(strFileName, strSourceFile, &m_nResult); },
        SetValue<short>{pVal, m_nResult, m_nResult});
}

STDMETHODIMP CVelaServerAccess::CreateCNAMEEntry(BSTR RemoteServer, BSTR ADomain, BSTR AHost,
                                                 short* pVal) noexcept
{
    return Forward<IDnsAdmin>(
        commands::CreateCNAMEEntry, RemoteServer, {ADomain},
        [&](DnsConnection& dns) { return dns->CreateCNAMEEntry(ADomain, AHost, &m_nResult); },
        ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::CreateCNAMEEntryEx(BSTR RemoteServer, BSTR CDomain, BSTR CHost1, BSTR CHost2,
                                                   short* pVal) noexcept
{
    return Forward<IDnsAdmin>(
        commands::CreateCNAMEEntryEx, RemoteServer, {CDomain},
        [&](DnsConnection& dns) { return dns->CreateCNAMEEntryEx(CDomain, CHost1, CHost2, &m_nResult); },
        ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::DeleteCNAMEEntryEx(BSTR RemoteServer, BSTR CDomain, BSTR CHost,
                                                   short* pVal) noexcept
{
    return Forward<IDnsAdmin>(
        commands::DeleteCNAMEEntryEx, RemoteServer, {CDomain},
        [&](DnsConnection& dns) { return dns->DeleteCNAMEEntryEx(CDomain, CHost, &m_nResult); },
        ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::DeleteMXRecord(BSTR RemoteHost, BSTR DomainName, BSTR hostname,
                                               short* pVal) noexcept
{
    return Forward<IDnsAdmin>(
        commands::DeleteMXRecord, RemoteHost, {DomainName},
        [&](DnsConnection& dns) { return dns->DeleteMXRecord(DomainName, hostname, &m_nResult); },
        ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::DeleteAEntry(BSTR RemoteServer, BSTR ADomain, BSTR AHost,
                                             short* pVal) noexcept
{
    return Forward<IDnsAdmin>(
        commands::DeleteAEntry, RemoteServer, {ADomain},
        [&](DnsConnection& dns) { return dns->DeleteAEntry(ADomain, AHost, &m_nResult); },
        ValueOrZero(pVal, m_nResult));
}

STDMETHODIMP CVelaServerAccess::ChangeIP(BSTR RemoteServer, BSTR DomainName, BSTR oldIP, BSTR newIP,
                                         short iisORmail, short* pVal) noexcept
{
    return Forward<IDnsAdmin>(
        commands::ChangeIP, RemoteServer, {DomainName},
        [&](DnsConnection& dns) { return dns->ChangeIP(DomainName, oldIP, newIP, iisORmail, pVal); },
        HandedThrough{pVal});
}

STDMETHODIMP CVelaServerAccess::CheckDNSExistance(BSTR RemoteServer, BSTR DomainName, short* pVal) noexcept
{
    return Forward<IDnsAdmin>(
        commands::CheckDNSExistance, RemoteServer, {DomainName},
        [&](DnsConnection& dns) { return dns->CheckDNSExistance(DomainName, pVal); }, HandedThrough{pVal});
}

STDMETHODIMP CVelaServerAccess::CreateSPFEntry(BSTR RemoteServer, BSTR ADomain, BSTR SPFRecord,
                                               short* pVal) noexcept
{
    return Forward<IDnsAdmin>(
        commands::CreateSPFEntry, RemoteServer, {ADomain},
        [&](DnsConnection& dns) { return dns->CreateSPFEntry(ADomain, SPFRecord, &m_nResult); },
        ValueOrZero(pVal, m_nResult));
}

} // namespace vela
