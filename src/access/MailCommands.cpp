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
        Exchange(
            [](ServerConnection& server, BSTR servertype, BSTR newdomain, BSTR username, BSTR password,
               BSTR IPAddress, BSTR domainAlias, long maxMailUsers, long accountLimit) {
                const std::string alias = Narrow(domainAlias);
                const std::string type = Narrow(servertype);
                server->put_lMaxMailusers(maxMailUsers);
                // Each mail server takes its own settings; the agent chooses by the same text.
                if (SameText(type, kIMail)) {
                    server->put_imail_databasetype(1);
                    server->put_imail_domainAlias(Widen(alias).get());
                }
                if (SameText(type, kMailMax)) {
                    server->put_mailmax_domainAlias(Widen(alias).get());
                    server->put_mailmax_dbPath(Widen(kMailMaxFolder + Narrow(newdomain)).get());
                }
                if (SameText(type, kSmarterMail)) server->put_SmarterMailAccountLimit(accountLimit);
                short ignored = 0;
                return server->MailSetup(Widen(type).get(), Rewiden(newdomain).get(), Rewiden(username).get(),
                                         Rewiden(password).get(), Rewiden(IPAddress).get(), &ignored);
            },
            servertype, newdomain, username, password, IPAddress, Kept(m_imail_domainAlias), m_lMaxMailusers,
            m_SmarterMailAccountLimit),
        OneOrZero(pVal));
}

STDMETHODIMP CVelaServerAccess::AddUser(BSTR RemoteServer, BSTR servertype, BSTR newdomain, BSTR username,
                                        BSTR password, short* pVal) noexcept
{
    return Forward<IServerAdmin>(
        commands::AddUser, RemoteServer, {newdomain, servertype},
        Exchange(
            [](ServerConnection& server, BSTR servertype, BSTR newdomain, BSTR username, BSTR password) {
                short ignored = 0;
                return server->AddUser(servertype, newdomain, username, password, &ignored);
            },
            Rewidened(servertype), Rewidened(newdomain), Rewidened(username), Rewidened(password)),
        OneOrZero(pVal));
}

STDMETHODIMP CVelaServerAccess::DeleteMailDomain(BSTR RemoteServer, BSTR DomainType, BSTR DomainName,
                                                 short* pVal) noexcept
{
    short result = 0;
    return Forward<IServerAdmin>(
        commands::DeleteMailDomain, RemoteServer, {DomainName, DomainType},
        Call(&IServerAdmin::DeleteMailDomain, Rewidened(DomainType), Rewidened(DomainName), Into(&result)),
        ValueOrZero(pVal, result));
}

STDMETHODIMP CVelaServerAccess::GetMailFolderSize(BSTR RemoteServer, BSTR servertype, BSTR DomainName,
                                                  double* pVal) noexcept
{
    return Forward<IServerAdmin>(commands::GetMailFolderSize, RemoteServer, {DomainName, servertype},
                                 Call(&IServerAdmin::GetMailFolderSize, servertype, DomainName, Into(pVal)),
                                 HandedThrough{pVal});
}

STDMETHODIMP CVelaServerAccess::ResetMailBoxes(BSTR RemoteServer, BSTR servertype, BSTR DomainName,
                                               long MailBoxCount, short* pVal) noexcept
{
    return Forward<IServerAdmin>(
        commands::ResetMailBoxes, RemoteServer, {DomainName, servertype, MailBoxCount},
        Call(&IServerAdmin::ResetMailBoxes, servertype, DomainName, MailBoxCount, Into(pVal)),
        HandedThrough{pVal});
}

STDMETHODIMP CVelaServerAccess::GetMailBoxCount(BSTR RemoteServer, BSTR servertype, BSTR DomainName,
                                                long* MailBoxCount) noexcept
{
    return Forward<IServerAdmin>(
        commands::GetMailBoxCount, RemoteServer, {DomainName, servertype},
        Call(&IServerAdmin::GetMailBoxCount, servertype, DomainName, Into(MailBoxCount)),
        HandedThrough{MailBoxCount});
}

STDMETHODIMP CVelaServerAccess::BackupMailDomain(BSTR RemoteServer, BSTR servertype, BSTR DomainName,
                                                 BSTR* list) noexcept
{
    return Forward<IServerAdmin>(commands::BackupMailDomain, RemoteServer, {DomainName, servertype},
                                 Call(&IServerAdmin::BackupMailDomain, servertype, DomainName, Into(list)),
                                 HandedThrough{list});
}

} // namespace vela
