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
        [&](ServerConnection& server) {
            server->put_DomainName(DomainName);
            server->put_MasterServers(MasterServers);
            server->put_ZoneName(DomainName);
            server->put_Type(Type);
            return server->SetupSecDNS(&m_nResult);
        },
        OneOrZero(pVal));
}

STDMETHODIMP CVelaServerAccess::delslavedns(BSTR RemoteServer, BSTR zonename, short Type,
                                            short* pVal) noexcept
{
    return Forward<IServerAdmin>(
        commands::delslavedns, RemoteServer, {zonename},
        [&](ServerConnection& server) {
            server->put_Type(Type);
            short ignored = 0;
            return server->delslavedns(zonename, &ignored);
        },
        OneOrZero(pVal));
}

STDMETHODIMP CVelaServerAccess::ReloadSecDNS(BSTR RemoteServer, BSTR DomainName, short Type,
                                             short* pVal) noexcept
{
    return Forward<IServerAdmin>(
        commands::ReloadSecDNS, RemoteServer, {DomainName},
        [&](ServerConnection& server) {
            server->put_DomainName(DomainName);
            server->put_Type(Type);
            return server->ReloadSecDNS(&m_nResult);
        },
        OneOrZero(pVal));
}

STDMETHODIMP CVelaServerAccess::GetMEUsersList(BSTR RemoteServer, BSTR DomainName, VARIANT* pVal) noexcept
{
    return Forward<IServerAdmin>(
        commands::GetMEUsersList, RemoteServer, {DomainName},
        [&](ServerConnection& server) { return server->GetMEUsersList(DomainName, pVal); },
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
    return Forward<IServerAdmin>(
        command, RemoteServer, {username, DomainName},
        [&](ServerConnection& server) {
            return server->AddUpdateDeleteMEUser(username, password, DomainName, AddUpdateDeleteFlag, pVal);
        },
        HandedThrough{pVal});
}

STDMETHODIMP CVelaServerAccess::SetDefaultResources(BSTR RemoteServer, BSTR DomainName, short* pVal) noexcept
{
    return Forward<IServerAdmin>(
        commands::SetDefaultResources, RemoteServer, {DomainName},
        [&](ServerConnection& server) { return server->SetDefaultResources(DomainName, pVal); },
        HandedThrough{pVal});
}

STDMETHODIMP CVelaServerAccess::TestDComCommunication(BSTR RemoteServer, short* pVal) noexcept
{
    return Forward<IServerAdmin>(
        commands::TestDComCommunication, RemoteServer, {},
        [&](ServerConnection& server) { return server->TestDComCommunication(); }, OneOrZero(pVal));
}

STDMETHODIMP CVelaServerAccess::Restart(BSTR RemoteServer) noexcept
{
    // The caller learns nothing of a restart: no record, no error text, no out-value.
    return Forward<IServerAdmin>(
        commands::Restart, RemoteServer, {}, [&](ServerConnection& server) { return server->Restart(); },
        NoOutValue());
}

} // namespace vela
