// Secondary DNS, MailEnable users and agent maintenance, forwarded to the agent's
// ServerAdmin class.
#include "access/Commands.h"

namespace vela {

using ServerConnection = RemoteConnection<IServerAdmin>;

STDMETHODIMP CVelaServerAccess::SetupSecDNS(BSTR RemoteServer, BSTR DomainName, BSTR MasterServers,
                                            BSTR /*DataBaseFile: accepted, not used*/, short Type,
                                            short* pVal) noexcept
{
    return Forward<IServerAdmin>(
        commands::SetupSecDNS, RemoteServer, {DomainName},
        Exchange(
            [](ServerConnection& server, BSTR domain, BSTR masters, short type, short* result) {
                server->put_DomainName(domain);
                server->put_MasterServers(masters);
                server->put_ZoneName(domain);
                server->put_Type(type);
                return server->SetupSecDNS(result);
            },
            DomainName, MasterServers, Type, Into(&m_nResult)),
        OneOrZero(pVal));
}

STDMETHODIMP CVelaServerAccess::delslavedns(BSTR RemoteServer, BSTR zonename, short Type,
                                            short* pVal) noexcept
{
    return Forward<IServerAdmin>(commands::delslavedns, RemoteServer, {zonename},
                                 Exchange(
                                     [](ServerConnection& server, BSTR zone, short type) {
                                         server->put_Type(type);
                                         short ignored = 0;
                                         return server->delslavedns(zone, &ignored);
                                     },
                                     zonename, Type),
                                 OneOrZero(pVal));
}

STDMETHODIMP CVelaServerAccess::ReloadSecDNS(BSTR RemoteServer, BSTR DomainName, short Type,
                                             short* pVal) noexcept
{
    return Forward<IServerAdmin>(commands::ReloadSecDNS, RemoteServer, {DomainName},
                                 Exchange(
                                     [](ServerConnection& server, BSTR domain, short type, short* result) {
                                         server->put_DomainName(domain);
                                         server->put_Type(type);
                                         return server->ReloadSecDNS(result);
                                     },
                                     DomainName, Type, Into(&m_nResult)),
                                 OneOrZero(pVal));
}

STDMETHODIMP CVelaServerAccess::GetMEUsersList(BSTR RemoteServer, BSTR DomainName, VARIANT* pVal) noexcept
{
    return Forward<IServerAdmin>(commands::GetMEUsersList, RemoteServer, {DomainName},
                                 Call(&IServerAdmin::GetMEUsersList, DomainName, Into(pVal)),
                                 HandedThrough{pVal});
}

STDMETHODIMP CVelaServerAccess::AddUpdateDeleteMEUser(BSTR RemoteServer, BSTR username, BSTR password,
                                                      BSTR DomainName, short AddUpdateDeleteFlag,
                                                      short* pVal) noexcept
{
    // The flag picks the action text; an unknown flag still goes to the agent unchanged.
    static constexpr const Command* kByFlag[] = {&commands::DeleteMEUser, &commands::AddMEUser,
                                                 &commands::UpdateMEUser};
    const Command& command = AddUpdateDeleteFlag >= 0 && AddUpdateDeleteFlag <= 2
                                 ? *kByFlag[AddUpdateDeleteFlag]
                                 : commands::OtherMEUserFlag;
    return Forward<IServerAdmin>(command, RemoteServer, {username, DomainName},
                                 Call(&IServerAdmin::AddUpdateDeleteMEUser, username, password, DomainName,
                                      AddUpdateDeleteFlag, Into(pVal)),
                                 HandedThrough{pVal});
}

STDMETHODIMP CVelaServerAccess::SetDefaultResources(BSTR RemoteServer, BSTR DomainName, short* pVal) noexcept
{
    return Forward<IServerAdmin>(commands::SetDefaultResources, RemoteServer, {DomainName},
                                 Call(&IServerAdmin::SetDefaultResources, DomainName, Into(pVal)),
                                 HandedThrough{pVal});
}

STDMETHODIMP CVelaServerAccess::TestDComCommunication(BSTR RemoteServer, short* pVal) noexcept
{
    return Forward<IServerAdmin>(commands::TestDComCommunication, RemoteServer, {},
                                 Call(&IServerAdmin::TestDComCommunication), OneOrZero(pVal));
}

STDMETHODIMP CVelaServerAccess::Restart(BSTR RemoteServer) noexcept
{
    // The caller learns nothing of a restart: no record, no error text, no out-value.
    return Forward<IServerAdmin>(commands::Restart, RemoteServer, {}, Call(&IServerAdmin::Restart),
                                 NoOutValue());
}

} // namespace vela
