// Mail domain commands, forwarded to the agent's ServerAdmin class. Their error text is
// only for the log: strError keeps what the last DNS command left there.
#include "access/Commands.h"

namespace vela {

using ServerConnection = RemoteConnection<IServerAdmin>;

namespace {

constexpr const char kIMail[] = "IMail Server";
constexpr const char kMailMax[] = "MailMax Server";
constexpr const char kSmarterMail[] = "SmarterMail Server";
constexpr const char kMailMaxFolder[] = "c:\\mailmax\\";

bool SameText(const std::string& text, const char* name) noexcept
{
    return ::lstrcmpiA(text.c_str(), name) == 0;
}

} // namespace

STDMETHODIMP CVelaServerAccess::MailSetup(BSTR RemoteServer, BSTR servertype, BSTR newdomain, BSTR username,
                                          BSTR password, BSTR IPAddress, short* pVal) noexcept
{
    return Forward<IServerAdmin>(
        commands::MailSetup, RemoteServer, {newdomain, servertype},
        [&](ServerConnection& server) {
            const std::string alias = Narrow(m_imail_domainAlias.get());
            const std::string type = Narrow(servertype);
            server->put_lMaxMailusers(m_lMaxMailusers);
            // Each mail server takes its own settings; the agent chooses by the same text.
            if (SameText(type, kIMail)) {
                server->put_imail_databasetype(1);
                server->put_imail_domainAlias(Widen(alias).get());
            }
            if (SameText(type, kMailMax)) {
                server->put_mailmax_domainAlias(Widen(alias).get());
                server->put_mailmax_dbPath(Widen(kMailMaxFolder + Narrow(newdomain)).get());
            }
            if (SameText(type, kSmarterMail)) server->put_SmarterMailAccountLimit(m_SmarterMailAccountLimit);
            short ignored = 0;
            return server->MailSetup(Widen(type).get(), Rewiden(newdomain).get(), Rewiden(username).get(),
                                     Rewiden(password).get(), Rewiden(IPAddress).get(), &ignored);
        },
        OneOrZero(pVal));
}

STDMETHODIMP CVelaServerAccess::AddUser(BSTR RemoteServer, BSTR servertype, BSTR newdomain, BSTR username,
                                        BSTR password, short* pVal) noexcept
{
    return Forward<IServerAdmin>(
        commands::AddUser, RemoteServer, {newdomain, servertype},
        [&](ServerConnection& server) {
            short ignored = 0;
            return server->AddUser(Rewiden(servertype).get(), Rewiden(newdomain).get(),
                                   Rewiden(username).get(), Rewiden(password).get(), &ignored);
        },
        OneOrZero(pVal));
}

STDMETHODIMP CVelaServerAccess::DeleteMailDomain(BSTR RemoteServer, BSTR DomainType, BSTR DomainName,
                                                 short* pVal) noexcept
{
    short result = 0;
    return Forward<IServerAdmin>(
        commands::DeleteMailDomain, RemoteServer, {DomainName, DomainType},
        [&](ServerConnection& server) {
            return server->DeleteMailDomain(Rewiden(DomainType).get(), Rewiden(DomainName).get(), &result);
        },
        ValueOrZero(pVal, result));
}

STDMETHODIMP CVelaServerAccess::GetMailFolderSize(BSTR RemoteServer, BSTR servertype, BSTR DomainName,
                                                  double* pVal) noexcept
{
    return Forward<IServerAdmin>(
        commands::GetMailFolderSize, RemoteServer, {DomainName, servertype},
        [&](ServerConnection& server) { return server->GetMailFolderSize(servertype, DomainName, pVal); },
        HandedThrough{pVal});
}

STDMETHODIMP CVelaServerAccess::ResetMailBoxes(BSTR RemoteServer, BSTR servertype, BSTR DomainName,
                                               long MailBoxCount, short* pVal) noexcept
{
    return Forward<IServerAdmin>(
        commands::ResetMailBoxes, RemoteServer, {DomainName, servertype, MailBoxCount},
        [&](ServerConnection& server) {
            return server->ResetMailBoxes(servertype, DomainName, MailBoxCount, pVal);
        },
        HandedThrough{pVal});
}

STDMETHODIMP CVelaServerAccess::GetMailBoxCount(BSTR RemoteServer, BSTR servertype, BSTR DomainName,
                                                long* MailBoxCount) noexcept
{
    return Forward<IServerAdmin>(
        commands::GetMailBoxCount, RemoteServer, {DomainName, servertype},
        [&](ServerConnection& server) {
            return server->GetMailBoxCount(servertype, DomainName, MailBoxCount);
        },
        HandedThrough{MailBoxCount});
}

STDMETHODIMP CVelaServerAccess::BackupMailDomain(BSTR RemoteServer, BSTR servertype, BSTR DomainName,
                                                 BSTR* list) noexcept
{
    return Forward<IServerAdmin>(
        commands::BackupMailDomain, RemoteServer, {DomainName, servertype},
        [&](ServerConnection& server) { return server->BackupMailDomain(servertype, DomainName, list); },
        HandedThrough{list});
}

} // namespace vela
