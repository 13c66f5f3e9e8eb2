// The object behind VelaServerAccess: stored settings, the last error text, and the
// command methods that forward one command each to the remote agent on a named host.
#pragma once

#include "frame/ComObject.h"
#include "log/ActionLog.h"

#include <initializer_list>
#include <memory>
#include <string>

namespace vela {

struct Command;
class Placeholder;

class CVelaServerAccess : public SupportErrorInfo<IVelaServerAccess>, public IVelaServerAccess {
public:
    using Dual = IVelaServerAccess;

    // Reads the install directory from the registry and opens the action log.
    CVelaServerAccess();
    virtual ~CVelaServerAccess() = default;
    CVelaServerAccess(const CVelaServerAccess&) = delete;
    CVelaServerAccess& operator=(const CVelaServerAccess&) = delete;

    // For tests and diagnostics: the object's action log.
    const CActionLog& ActionLog() const noexcept { return *m_log; }

    STDMETHODIMP SetupSecDNS(BSTR RemoteServer, BSTR DomainName, BSTR MasterServers, BSTR DataBaseFile,
                             short Type, short* pVal) noexcept override;
    STDMETHODIMP MailSetup(BSTR RemoteServer, BSTR servertype, BSTR newdomain, BSTR username, BSTR password,
                           BSTR IPAddress, short* pVal) noexcept override;
    STDMETHODIMP put_imail_databasetype(short newVal) noexcept override;
    STDMETHODIMP put_imail_domainAlias(BSTR newVal) noexcept override;
    STDMETHODIMP put_mailmax_dbPath(BSTR newVal) noexcept override;
    STDMETHODIMP put_mailmax_domainAlias(BSTR newVal) noexcept override;
    STDMETHODIMP AlterCompleteDNSEntries(BSTR RemoteServer, BSTR DomainName, BSTR AdminEmail, BSTR NSHost,
                                         BSTR AIP, short* pVal) noexcept override;
    STDMETHODIMP CreateAEntry(BSTR RemoteServer, BSTR ADomain, BSTR AHost, BSTR AIP,
                              short* pVal) noexcept override;
    STDMETHODIMP AddMXRecord(BSTR RemoteHost, BSTR soaname, BSTR DomainName, BSTR hostname, BSTR priority,
                             short* pVal) noexcept override;
    STDMETHODIMP DeletePrimaryDomain(BSTR RemoteHost, BSTR DomainName, short* pVal) noexcept override;
    STDMETHODIMP DeleteThirdLevelDomain(BSTR RemoteHost, BSTR DomainName, BSTR hostname,
                                        short* pVal) noexcept override;
    STDMETHODIMP CBindDNSDomain(BSTR RemoteHost, BSTR DomainName, BSTR IPAddress,
                                short* pVal) noexcept override;
    STDMETHODIMP CreateBindARecord(BSTR RemoteHost, BSTR DomainName, BSTR hostname, BSTR IPAddress,
                                   short* pVal) noexcept override;
    STDMETHODIMP CreateBindMXRecord(BSTR RemoteHost, BSTR DomainName, BSTR hostname,
                                    short* pVal) noexcept override;
    STDMETHODIMP DeleteBindSoa(BSTR RemoteHost, BSTR DomainName, short* pVal) noexcept override;
    STDMETHODIMP DeleteBindARec(BSTR RemoteHost, BSTR DomainName, BSTR hostname,
                                short* pVal) noexcept override;
    STDMETHODIMP DeleteBindMX(BSTR RemoteHost, BSTR DomainName, BSTR hostname, short* pVal) noexcept override;
    STDMETHODIMP get_strError(BSTR* pVal) noexcept override;
    STDMETHODIMP ControlService(BSTR RemoteHost, BSTR Action, BSTR ServiceName,
                                short* pVal) noexcept override;
    STDMETHODIMP DeleteMailDomain(BSTR RemoteServer, BSTR DomainType, BSTR DomainName,
                                  short* pVal) noexcept override;
    STDMETHODIMP put_resellersoaEnabled(short newVal) noexcept override;
    STDMETHODIMP put_resellerns1(BSTR newVal) noexcept override;
    STDMETHODIMP put_resellerns2(BSTR newVal) noexcept override;
    STDMETHODIMP put_resellersoamail(BSTR newVal) noexcept override;
    STDMETHODIMP delslavedns(BSTR RemoteServer, BSTR zonename, short Type, short* pVal) noexcept override;
    STDMETHODIMP GetDNSFile(BSTR RemoteServer, BSTR strFileName, BSTR* pVal) noexcept override;
    STDMETHODIMP SetDNSFile(BSTR RemoteServer, BSTR strFileName, BSTR strSourceFile,
                            short* pVal) noexcept override;
    STDMETHODIMP Reporting(BSTR strComName, long lComID, short* pVal) noexcept override;
    STDMETHODIMP put_lMaxMailusers(long newVal) noexcept override;
    STDMETHODIMP put_NamedBasedDomain(short newVal) noexcept override;
    STDMETHODIMP put_ReverseZoneIP(BSTR newVal) noexcept override;
    STDMETHODIMP GetMEUsersList(BSTR RemoteServer, BSTR DomainName, VARIANT* pVal) noexcept override;
    STDMETHODIMP AddUpdateDeleteMEUser(BSTR RemoteServer, BSTR username, BSTR password, BSTR DomainName,
                                       short AddUpdateDeleteFlag, short* pVal) noexcept override;
    STDMETHODIMP GetMailFolderSize(BSTR RemoteServer, BSTR servertype, BSTR DomainName,
                                   double* pVal) noexcept override;
    STDMETHODIMP ReloadSecDNS(BSTR RemoteServer, BSTR DomainName, short Type, short* pVal) noexcept override;
    STDMETHODIMP ResetMailBoxes(BSTR RemoteServer, BSTR servertype, BSTR DomainName, long MailBoxCount,
                                short* pVal) noexcept override;
    STDMETHODIMP CreateCNAMEEntry(BSTR RemoteServer, BSTR ADomain, BSTR AHost, short* pVal) noexcept override;
    STDMETHODIMP put_SmarterMailAccountLimit(long newVal) noexcept override;
    STDMETHODIMP GetMailBoxCount(BSTR RemoteServer, BSTR servertype, BSTR DomainName,
                                 long* MailBoxCount) noexcept override;
    STDMETHODIMP CreateCNAMEEntryEx(BSTR RemoteServer, BSTR CDomain, BSTR CHost1, BSTR CHost2,
                                    short* pVal) noexcept override;
    STDMETHODIMP DeleteCNAMEEntryEx(BSTR RemoteServer, BSTR CDomain, BSTR CHost,
                                    short* pVal) noexcept override;
    STDMETHODIMP DeleteMXRecord(BSTR RemoteHost, BSTR DomainName, BSTR hostname,
                                short* pVal) noexcept override;
    STDMETHODIMP DeleteAEntry(BSTR RemoteServer, BSTR ADomain, BSTR AHost, short* pVal) noexcept override;
    STDMETHODIMP AddUser(BSTR RemoteServer, BSTR servertype, BSTR newdomain, BSTR username, BSTR password,
                         short* pVal) noexcept override;
    STDMETHODIMP BackupMailDomain(BSTR RemoteServer, BSTR servertype, BSTR DomainName,
                                  BSTR* list) noexcept override;
    STDMETHODIMP Restart(BSTR RemoteServer) noexcept override;
    STDMETHODIMP TestDComCommunication(BSTR RemoteServer, short* pVal) noexcept override;
    STDMETHODIMP ChangeIP(BSTR RemoteServer, BSTR DomainName, BSTR oldIP, BSTR newIP, short iisORmail,
                          short* pVal) noexcept override;
    STDMETHODIMP CheckDNSExistance(BSTR RemoteServer, BSTR DomainName, short* pVal) noexcept override;
    STDMETHODIMP SetDefaultResources(BSTR RemoteServer, BSTR DomainName, short* pVal) noexcept override;
    STDMETHODIMP CreateSPFEntry(BSTR RemoteServer, BSTR ADomain, BSTR SPFRecord,
                                short* pVal) noexcept override;
    STDMETHODIMP CreateBindSPFRecord(BSTR RemoteHost, BSTR DomainName, BSTR SPFRecord,
                                     short* pVal) noexcept override;

private:
    template <typename Interface, typename Exchange, typename Out>
    HRESULT Forward(const Command& command, BSTR host, std::initializer_list<Placeholder> placeholders,
                    Exchange&& exchange, Out out) noexcept;

    // Declared first so that it is destroyed last: the log outlives every other member.
    // Shared with the object's exchanges that run late, which record how they ended.
    const std::shared_ptr<CActionLog> m_log;
    short m_NamedBasedDomain = 0;
    short m_imail_databasetype = 0;
    long m_lMaxMailusers = 0;
    unique_bstr m_imail_domainAlias;
    unique_bstr m_mailmax_domainAlias;
    unique_bstr m_mailmax_dbPath;
    long m_SmarterMailAccountLimit = 0;
    unique_bstr m_ReverseZoneIP;
    std::string m_strError;
    short m_nResult = 0;
    unique_bstr m_resellerns1;
    unique_bstr m_resellerns2;
    unique_bstr m_resellersoamail;
    short m_resellersoaEnabled = 0;
    // Read once, at creation: 0 forwards on the caller's thread with no limit, as by default.
    const DWORD m_commandTimeoutMs = 0;
};

// The object behind SecDNSAdmin. Its one method does nothing; the working SetupSecDNS
// is VelaServerAccess's.
class CSecDNSAdmin : public SupportErrorInfo<ISecDNSAdmin>, public ISecDNSAdmin {
public:
    using Dual = ISecDNSAdmin;
    virtual ~CSecDNSAdmin() = default;

    STDMETHODIMP SetupSecDNS(BSTR RemoteServer, BSTR DomainName, BSTR MasterServers, BSTR DataBaseFile,
                             short Type, short* pVal) noexcept override;
};

} // namespace vela
