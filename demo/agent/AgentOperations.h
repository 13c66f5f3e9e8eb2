// The remote agent's three interfaces, one line per operation with its slot: its place in
// the function table after the seven IUnknown/IDispatch entries (slot 1 is the eighth
// entry). The component calls the agent by place, never by name, so these places are the
// agent's contract; places the component never calls stay listed as ReservedN so that the
// later ones keep their place. The stand-in agent builds its function tables from these
// lists, and a unit test holds them against the agent's compiled type information.
// put_X and get_X are the property accessors of X.
#pragma once

// CLASS(name, OPERATIONS): the class `name`, its interface I<name>, its operation list.
#define VELA_AGENT_CLASSES(CLASS)                                                                            \
    CLASS(ServerAdmin, VELA_SERVER_ADMIN_OPERATIONS)                                                         \
    CLASS(DnsAdmin, VELA_DNS_ADMIN_OPERATIONS)                                                               \
    CLASS(BindDnsAdmin, VELA_BIND_DNS_ADMIN_OPERATIONS)

#define VELA_SERVER_ADMIN_OPERATIONS(OP)                                                                     \
    OP(1, MailSetup)                                                                                         \
    OP(2, put_imail_domainAlias)                                                                             \
    OP(3, put_imail_databasetype)                                                                            \
    OP(4, DeleteMailDomain)                                                                                  \
    OP(5, put_mailmax_domainAlias)                                                                           \
    OP(6, put_mailmax_dbPath)                                                                                \
    OP(7, SetupSecDNS)                                                                                       \
    OP(8, put_DomainName)                                                                                    \
    OP(9, put_ZoneName)                                                                                      \
    OP(10, put_MasterServers)                                                                                \
    OP(11, put_Type)                                                                                         \
    OP(12, Reserved12)                                                                                       \
    OP(13, get_strError)                                                                                     \
    OP(14, delslavedns)                                                                                      \
    OP(15, Reserved15)                                                                                       \
    OP(16, put_lMaxMailusers)                                                                                \
    OP(17, Reserved17)                                                                                       \
    OP(18, Reserved18)                                                                                       \
    OP(19, Reserved19)                                                                                       \
    OP(20, Reserved20)                                                                                       \
    OP(21, GetMEUsersList)                                                                                   \
    OP(22, AddUpdateDeleteMEUser)                                                                            \
    OP(23, GetMailFolderSize)                                                                                \
    OP(24, Reserved24)                                                                                       \
    OP(25, Reserved25)                                                                                       \
    OP(26, ReloadSecDNS)                                                                                     \
    OP(27, ResetMailBoxes)                                                                                   \
    OP(28, put_SmarterMailAccountLimit)                                                                      \
    OP(29, GetMailBoxCount)                                                                                  \
    OP(30, AddUser)                                                                                          \
    OP(31, BackupMailDomain)                                                                                 \
    OP(32, Restart)                                                                                          \
    OP(33, TestDComCommunication)                                                                            \
    OP(34, SetDefaultResources)

#define VELA_DNS_ADMIN_OPERATIONS(OP)                                                                        \
    OP(1, Reserved1)                                                                                         \
    OP(2, AlterCompleteDNSEntries)                                                                           \
    OP(3, CreateAEntry)                                                                                      \
    OP(4, AddMXRecord)                                                                                       \
    OP(5, DeletePrimaryDomain)                                                                               \
    OP(6, DeleteThirdLevelDomain)                                                                            \
    OP(7, get_strError)                                                                                      \
    OP(8, Reserved8)                                                                                         \
    OP(9, Reserved9)                                                                                         \
    OP(10, Reserved10)                                                                                       \
    OP(11, Reserved11)                                                                                       \
    OP(12, GetDNSFile)                                                                                       \
    OP(13, SetDNSFile)                                                                                       \
    OP(14, put_NamedBasedDomain)                                                                             \
    OP(15, put_ReverseZoneIP)                                                                                \
    OP(16, CreateCNAMEEntry)                                                                                 \
    OP(17, CreateCNAMEEntryEx)                                                                               \
    OP(18, DeleteCNAMEEntryEx)                                                                               \
    OP(19, DeleteMXRecord)                                                                                   \
    OP(20, DeleteAEntry)                                                                                     \
    OP(21, ChangeIP)                                                                                         \
    OP(22, CheckDNSExistance)                                                                                \
    OP(23, CreateSPFEntry)

#define VELA_BIND_DNS_ADMIN_OPERATIONS(OP)                                                                   \
    OP(1, CBindDNSDomain)                                                                                    \
    OP(2, CreateBindARecord)                                                                                 \
    OP(3, CreateBindMXRecord)                                                                                \
    OP(4, DeleteBindSoa)                                                                                     \
    OP(5, DeleteBindARec)                                                                                    \
    OP(6, DeleteBindMX)                                                                                      \
    OP(7, ControlService)                                                                                    \
    OP(8, Reserved8)                                                                                         \
    OP(9, Reserved9)                                                                                         \
    OP(10, Reserved10)                                                                                       \
    OP(11, Reserved11)                                                                                       \
    OP(12, CreateBindSPFRecord)
