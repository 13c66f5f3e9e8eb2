// The recording stand-in for the remote agent, and the control object that lets scripts
// program it. All state is process-wide and guarded by one mutex: the component under
// test, the agent objects and a script's control object may share one process.
#include "TestAgent.h"

#include "common/Result.h"
#include "common/Unique.h"

#include <atomic>
#include <cwchar>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace vela::testagent {

// {7A3F1C20-5B0E-4D2A-9C11-3E5F000000A1}
const CLSID CLSID_VelaTestAgentControl = {
    0x7a3f1c20, 0x5b0e, 0x4d2a, {0x9c, 0x11, 0x3e, 0x5f, 0x00, 0x00, 0x00, 0xa1}};

namespace {

// Every operation of each class, in interface order; names that SetOutcome accepts.
struct AgentClass {
    const char* name;
    std::initializer_list<std::string_view> operations;
};

const AgentClass kClasses[] = {
    {"ServerAdmin",
     {"MailSetup",
      "put_imail_domainAlias",
      "put_imail_databasetype",
      "DeleteMailDomain",
      "put_mailmax_domainAlias",
      "put_mailmax_dbPath",
      "SetupSecDNS",
      "put_DomainName",
      "put_ZoneName",
      "put_MasterServers",
      "put_Type",
      "Reserved12",
      "get_strError",
      "delslavedns",
      "Reserved15",
      "put_lMaxMailusers",
      "Reserved17",
      "Reserved18",
      "Reserved19",
      "Reserved20",
      "GetMEUsersList",
      "AddUpdateDeleteMEUser",
      "GetMailFolderSize",
      "Reserved24",
      "Reserved25",
      "ReloadSecDNS",
      "ResetMailBoxes",
      "put_SmarterMailAccountLimit",
      "GetMailBoxCount",
      "AddUser",
      "BackupMailDomain",
      "Restart",
      "TestDComCommunication",
      "SetDefaultResources"}},
    {"DnsAdmin",
     {"Reserved1",
      "AlterCompleteDNSEntries",
      "CreateAEntry",
      "AddMXRecord",
      "DeletePrimaryDomain",
      "DeleteThirdLevelDomain",
      "get_strError",
      "Reserved8",
      "Reserved9",
      "Reserved10",
      "Reserved11",
      "GetDNSFile",
      "SetDNSFile",
      "put_NamedBasedDomain",
      "put_ReverseZoneIP",
      "CreateCNAMEEntry",
      "CreateCNAMEEntryEx",
      "DeleteCNAMEEntryEx",
      "DeleteMXRecord",
      "DeleteAEntry",
      "ChangeIP",
      "CheckDNSExistance",
      "CreateSPFEntry"}},
    {"BindDnsAdmin",
     {"CBindDNSDomain", "CreateBindARecord", "CreateBindMXRecord", "DeleteBindSoa", "DeleteBindARec",
      "DeleteBindMX", "ControlService", "Reserved8", "Reserved9", "Reserved10", "Reserved11",
      "CreateBindSPFRecord"}},
};

struct State {
    std::mutex lock;
    std::vector<Call> calls;
    std::map<std::pair<std::string, std::string>, Outcome> outcomes;
    std::map<int, std::map<std::string, Arg>> puts;
    int activations = 0;
    std::atomic<int> liveObjects{0};
    std::atomic<int> liveControls{0};
};

State& TheState()
{
    static State state;
    return state;
}

std::string Narrow(std::wstring_view text)
{
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int needed = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, result.data(), needed, nullptr, nullptr);
    return result;
}

std::wstring Widen(std::string_view text)
{
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int needed = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring result(static_cast<size_t>(needed), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, result.data(), needed);
    return result;
}

// A BSTR keeps its length, so embedded nulls survive the copy.
BSTR AllocText(const std::wstring& text) noexcept
{
    return ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// --- Recording the arguments ----------------------------------------------------------

Arg MakeArg(BSTR text)
{
    Arg arg;
    if (text) {
        arg.kind = Arg::Kind::Text;
        arg.text.assign(text, ::SysStringLen(text));
    }
    return arg;
}

Arg MakeInteger(long long value) noexcept
{
    Arg arg;
    arg.kind = Arg::Kind::Integer;
    arg.integer = value;
    return arg;
}
Arg MakeArg(short value) noexcept
{
    return MakeInteger(value);
}
Arg MakeArg(LONG value) noexcept
{
    return MakeInteger(value);
}

template <typename T> Arg MakeArg(T* out) noexcept
{
    Arg arg;
    arg.kind = out ? Arg::Kind::OutPointer : Arg::Kind::NullOutPointer;
    arg.pointer = out;
    return arg;
}

// --- Writing the programmed out-values (never through a null pointer) -----------------

void WriteOut(const Outcome&, BSTR, HRESULT&) noexcept {}
void WriteOut(const Outcome&, short, HRESULT&) noexcept {}
void WriteOut(const Outcome&, LONG, HRESULT&) noexcept {}

void WriteOut(const Outcome& o, short* out, HRESULT&) noexcept
{
    if (out && o.result) *out = *o.result;
}
void WriteOut(const Outcome& o, LONG* out, HRESULT&) noexcept
{
    if (out && o.count) *out = *o.count;
}
void WriteOut(const Outcome& o, double* out, HRESULT&) noexcept
{
    if (out && o.size) *out = *o.size;
}
void WriteOut(const Outcome& o, BSTR* out, HRESULT& hr) noexcept
{
    if (!out || !o.text) return;
    *out = AllocText(*o.text);
    if (!*out) hr = E_OUTOFMEMORY;
}
void WriteOut(const Outcome& o, VARIANT* out, HRESULT& hr) noexcept
{
    if (!out || !o.userList) return;
    ::VariantInit(out);
    V_VT(out) = VT_BSTR;
    V_BSTR(out) = AllocText(*o.userList);
    if (!V_BSTR(out)) hr = E_OUTOFMEMORY;
}

const AgentClass* FindClass(std::string_view name) noexcept
{
    for (const auto& c : kClasses) {
        if (name == c.name) return &c;
    }
    return nullptr;
}

// Caller holds the lock.
Outcome FindOutcome(State& s, const char* className, const char* operation)
{
    const auto found = s.outcomes.find({className, operation});
    return found == s.outcomes.end() ? Outcome{} : found->second;
}

// --- The agent objects ------------------------------------------------------------------

// IUnknown for the agent and control objects: `self` answers IUnknown, IDispatch and
// `own`.
template <typename Self>
HRESULT QueryDispatchObject(Self* self, const IID& own, REFIID iid, void** result) noexcept
{
    if (!result) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == own) {
        *result = self;
        self->AddRef();
        return S_OK;
    }
    *result = nullptr;
    return E_NOINTERFACE;
}

template <typename Object, typename Count> ULONG ReleaseObject(Object* object, Count& refs) noexcept
{
    const ULONG left = --refs;
    if (left == 0) delete object;
    return left;
}

// IUnknown, IDispatch and the recording shared by the three classes. The dispatch entries
// are recorded too: the component must never reach them, and a journal line shows it if
// a call lands on the wrong place of the function table.
template <typename Interface> class AgentObject : public Interface {
public:
    AgentObject(const char* className, const IID& iid) : m_class(className), m_iid(iid)
    {
        State& s = TheState();
        std::lock_guard<std::mutex> guard(s.lock);
        m_instance = ++s.activations;
        ++s.liveObjects;
    }
    virtual ~AgentObject() { --TheState().liveObjects; }
    AgentObject(const AgentObject&) = delete;
    AgentObject& operator=(const AgentObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) noexcept override
    {
        return QueryDispatchObject(static_cast<Interface*>(this), m_iid, iid, result);
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return ReleaseObject(this, m_refs); }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override
    {
        const HRESULT hr = Record("GetTypeInfoCount", {MakeArg(count)});
        if (count) *count = 0;
        return FAILED(hr) ? hr : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) noexcept override
    {
        Record("GetTypeInfo", {MakeInteger(index), MakeArg(info)});
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID*) noexcept override
    {
        Record("GetIDsOfNames", {MakeInteger(count)});
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) noexcept override
    {
        Record("Invoke", {MakeInteger(id), MakeInteger(flags)});
        return E_NOTIMPL;
    }

protected:
    // Records the call, then answers as programmed: the outcome's out-values go to the
    // out-pointers among `args`, its error text becomes this object's last error.
    template <typename... A> HRESULT Op(const char* operation, A... args) noexcept
    {
        return ComBoundary([&] {
            State& s = TheState();
            std::lock_guard<std::mutex> guard(s.lock);
            Append(s, operation, {MakeArg(args)...});
            const Outcome outcome = FindOutcome(s, m_class, operation);
            m_lastError = outcome.errorText.value_or(std::wstring());
            HRESULT hr = outcome.hr;
            (WriteOut(outcome, args, hr), ...);
            return hr;
        });
    }

    template <typename T> HRESULT Put(const char* operation, T value) noexcept
    {
        const HRESULT hr = Op(operation, value);
        const HRESULT stored = ComBoundary([&] {
            State& s = TheState();
            std::lock_guard<std::mutex> guard(s.lock);
            s.puts[m_instance][operation] = MakeArg(value);
            return S_OK;
        });
        return FAILED(stored) ? stored : hr;
    }

    HRESULT GetError(BSTR* value) noexcept
    {
        return ComBoundary([&] {
            State& s = TheState();
            std::lock_guard<std::mutex> guard(s.lock);
            Append(s, "get_strError", {MakeArg(value)});
            const Outcome outcome = FindOutcome(s, m_class, "get_strError");
            if (value) {
                *value = AllocText(outcome.errorText.value_or(m_lastError));
                if (!*value) return E_OUTOFMEMORY;
            }
            return outcome.hr;
        });
    }

private:
    HRESULT Record(const char* operation, std::vector<Arg> args) noexcept
    {
        return ComBoundary([&] {
            State& s = TheState();
            std::lock_guard<std::mutex> guard(s.lock);
            Append(s, operation, std::move(args));
            return S_OK;
        });
    }

    // Caller holds the lock.
    void Append(State& s, const char* operation, std::vector<Arg> args)
    {
        s.calls.push_back(Call{m_class, m_instance, operation, std::move(args)});
    }

    std::atomic<ULONG> m_refs{1};
    const char* m_class;
    const IID& m_iid;
    int m_instance = 0;
    std::wstring m_lastError; // guarded by the state's lock
};

class ServerAdminAgent final : public AgentObject<IServerAdmin> {
public:
    ServerAdminAgent() : AgentObject("ServerAdmin", IID_IServerAdmin) {}

    HRESULT STDMETHODCALLTYPE MailSetup(BSTR servertype, BSTR newdomain, BSTR username, BSTR password,
                                        BSTR IPAddress, short* result) noexcept override
    {
        return Op("MailSetup", servertype, newdomain, username, password, IPAddress, result);
    }
    HRESULT STDMETHODCALLTYPE put_imail_domainAlias(BSTR value) noexcept override
    {
        return Put("put_imail_domainAlias", value);
    }
    HRESULT STDMETHODCALLTYPE put_imail_databasetype(short value) noexcept override
    {
        return Put("put_imail_databasetype", value);
    }
    HRESULT STDMETHODCALLTYPE DeleteMailDomain(BSTR DomainType, BSTR DomainName,
                                               short* result) noexcept override
    {
        return Op("DeleteMailDomain", DomainType, DomainName, result);
    }
    HRESULT STDMETHODCALLTYPE put_mailmax_domainAlias(BSTR value) noexcept override
    {
        return Put("put_mailmax_domainAlias", value);
    }
    HRESULT STDMETHODCALLTYPE put_mailmax_dbPath(BSTR value) noexcept override
    {
        return Put("put_mailmax_dbPath", value);
    }
    HRESULT STDMETHODCALLTYPE SetupSecDNS(short* result) noexcept override
    {
        return Op("SetupSecDNS", result);
    }
    HRESULT STDMETHODCALLTYPE put_DomainName(BSTR value) noexcept override
    {
        return Put("put_DomainName", value);
    }
    HRESULT STDMETHODCALLTYPE put_ZoneName(BSTR value) noexcept override
    {
        return Put("put_ZoneName", value);
    }
    HRESULT STDMETHODCALLTYPE put_MasterServers(BSTR value) noexcept override
    {
        return Put("put_MasterServers", value);
    }
    HRESULT STDMETHODCALLTYPE put_Type(short value) noexcept override { return Put("put_Type", value); }
    HRESULT STDMETHODCALLTYPE Reserved12() noexcept override { return Op("Reserved12"); }
    HRESULT STDMETHODCALLTYPE get_strError(BSTR* value) noexcept override { return GetError(value); }
    HRESULT STDMETHODCALLTYPE delslavedns(BSTR zonename, short* result) noexcept override
    {
        return Op("delslavedns", zonename, result);
    }
    HRESULT STDMETHODCALLTYPE Reserved15() noexcept override { return Op("Reserved15"); }
    HRESULT STDMETHODCALLTYPE put_lMaxMailusers(LONG value) noexcept override
    {
        return Put("put_lMaxMailusers", value);
    }
    HRESULT STDMETHODCALLTYPE Reserved17() noexcept override { return Op("Reserved17"); }
    HRESULT STDMETHODCALLTYPE Reserved18() noexcept override { return Op("Reserved18"); }
    HRESULT STDMETHODCALLTYPE Reserved19() noexcept override { return Op("Reserved19"); }
    HRESULT STDMETHODCALLTYPE Reserved20() noexcept override { return Op("Reserved20"); }
    HRESULT STDMETHODCALLTYPE GetMEUsersList(BSTR DomainName, VARIANT* userList) noexcept override
    {
        return Op("GetMEUsersList", DomainName, userList);
    }
    HRESULT STDMETHODCALLTYPE AddUpdateDeleteMEUser(BSTR username, BSTR password, BSTR DomainName,
                                                    short AddUpdateDeleteFlag,
                                                    short* result) noexcept override
    {
        return Op("AddUpdateDeleteMEUser", username, password, DomainName, AddUpdateDeleteFlag, result);
    }
    HRESULT STDMETHODCALLTYPE GetMailFolderSize(BSTR servertype, BSTR DomainName,
                                                double* size) noexcept override
    {
        return Op("GetMailFolderSize", servertype, DomainName, size);
    }
    HRESULT STDMETHODCALLTYPE Reserved24() noexcept override { return Op("Reserved24"); }
    HRESULT STDMETHODCALLTYPE Reserved25() noexcept override { return Op("Reserved25"); }
    HRESULT STDMETHODCALLTYPE ReloadSecDNS(short* result) noexcept override
    {
        return Op("ReloadSecDNS", result);
    }
    HRESULT STDMETHODCALLTYPE ResetMailBoxes(BSTR servertype, BSTR DomainName, LONG MailBoxCount,
                                             short* result) noexcept override
    {
        return Op("ResetMailBoxes", servertype, DomainName, MailBoxCount, result);
    }
    HRESULT STDMETHODCALLTYPE put_SmarterMailAccountLimit(LONG value) noexcept override
    {
        return Put("put_SmarterMailAccountLimit", value);
    }
    HRESULT STDMETHODCALLTYPE GetMailBoxCount(BSTR servertype, BSTR DomainName, LONG* count) noexcept override
    {
        return Op("GetMailBoxCount", servertype, DomainName, count);
    }
    HRESULT STDMETHODCALLTYPE AddUser(BSTR servertype, BSTR newdomain, BSTR username, BSTR password,
                                      short* result) noexcept override
    {
        return Op("AddUser", servertype, newdomain, username, password, result);
    }
    HRESULT STDMETHODCALLTYPE BackupMailDomain(BSTR servertype, BSTR DomainName, BSTR* list) noexcept override
    {
        return Op("BackupMailDomain", servertype, DomainName, list);
    }
    HRESULT STDMETHODCALLTYPE Restart() noexcept override { return Op("Restart"); }
    HRESULT STDMETHODCALLTYPE TestDComCommunication() noexcept override
    {
        return Op("TestDComCommunication");
    }
    HRESULT STDMETHODCALLTYPE SetDefaultResources(BSTR DomainName, short* result) noexcept override
    {
        return Op("SetDefaultResources", DomainName, result);
    }
};

class DnsAdminAgent final : public AgentObject<IDnsAdmin> {
public:
    DnsAdminAgent() : AgentObject("DnsAdmin", IID_IDnsAdmin) {}

    HRESULT STDMETHODCALLTYPE Reserved1() noexcept override { return Op("Reserved1"); }
    HRESULT STDMETHODCALLTYPE AlterCompleteDNSEntries(BSTR DomainName, BSTR AdminEmail, BSTR NSHost, BSTR AIP,
                                                      short resellersoaEnabled, BSTR resellerns1,
                                                      BSTR resellerns2, BSTR resellersoamail,
                                                      short* result) noexcept override
    {
        return Op("AlterCompleteDNSEntries", DomainName, AdminEmail, NSHost, AIP, resellersoaEnabled,
                  resellerns1, resellerns2, resellersoamail, result);
    }
    HRESULT STDMETHODCALLTYPE CreateAEntry(BSTR ADomain, BSTR AHost, BSTR AIP,
                                           short* result) noexcept override
    {
        return Op("CreateAEntry", ADomain, AHost, AIP, result);
    }
    HRESULT STDMETHODCALLTYPE AddMXRecord(BSTR soaname, BSTR DomainName, BSTR hostname, BSTR priority,
                                          short* result) noexcept override
    {
        return Op("AddMXRecord", soaname, DomainName, hostname, priority, result);
    }
    HRESULT STDMETHODCALLTYPE DeletePrimaryDomain(BSTR DomainName, short* result) noexcept override
    {
        return Op("DeletePrimaryDomain", DomainName, result);
    }
    HRESULT STDMETHODCALLTYPE DeleteThirdLevelDomain(BSTR DomainName, BSTR hostname,
                                                     short* result) noexcept override
    {
        return Op("DeleteThirdLevelDomain", DomainName, hostname, result);
    }
    HRESULT STDMETHODCALLTYPE get_strError(BSTR* value) noexcept override { return GetError(value); }
    HRESULT STDMETHODCALLTYPE Reserved8() noexcept override { return Op("Reserved8"); }
    HRESULT STDMETHODCALLTYPE Reserved9() noexcept override { return Op("Reserved9"); }
    HRESULT STDMETHODCALLTYPE Reserved10() noexcept override { return Op("Reserved10"); }
    HRESULT STDMETHODCALLTYPE Reserved11() noexcept override { return Op("Reserved11"); }
    HRESULT STDMETHODCALLTYPE GetDNSFile(BSTR strFileName, BSTR* contents) noexcept override
    {
        return Op("GetDNSFile", strFileName, contents);
    }
    HRESULT STDMETHODCALLTYPE SetDNSFile(BSTR strFileName, BSTR strSourceFile,
                                         short* result) noexcept override
    {
        return Op("SetDNSFile", strFileName, strSourceFile, result);
    }
    HRESULT STDMETHODCALLTYPE put_NamedBasedDomain(short value) noexcept override
    {
        return Put("put_NamedBasedDomain", value);
    }
    HRESULT STDMETHODCALLTYPE put_ReverseZoneIP(BSTR value) noexcept override
    {
        return Put("put_ReverseZoneIP", value);
    }
    HRESULT STDMETHODCALLTYPE CreateCNAMEEntry(BSTR ADomain, BSTR AHost, short* result) noexcept override
    {
        return Op("CreateCNAMEEntry", ADomain, AHost, result);
    }
    HRESULT STDMETHODCALLTYPE CreateCNAMEEntryEx(BSTR CDomain, BSTR CHost1, BSTR CHost2,
                                                 short* result) noexcept override
    {
        return Op("CreateCNAMEEntryEx", CDomain, CHost1, CHost2, result);
    }
    HRESULT STDMETHODCALLTYPE DeleteCNAMEEntryEx(BSTR CDomain, BSTR CHost, short* result) noexcept override
    {
        return Op("DeleteCNAMEEntryEx", CDomain, CHost, result);
    }
    HRESULT STDMETHODCALLTYPE DeleteMXRecord(BSTR DomainName, BSTR hostname, short* result) noexcept override
    {
        return Op("DeleteMXRecord", DomainName, hostname, result);
    }
    HRESULT STDMETHODCALLTYPE DeleteAEntry(BSTR ADomain, BSTR AHost, short* result) noexcept override
    {
        return Op("DeleteAEntry", ADomain, AHost, result);
    }
    HRESULT STDMETHODCALLTYPE ChangeIP(BSTR DomainName, BSTR oldIP, BSTR newIP, short iisORmail,
                                       short* result) noexcept override
    {
        return Op("ChangeIP", DomainName, oldIP, newIP, iisORmail, result);
    }
    HRESULT STDMETHODCALLTYPE CheckDNSExistance(BSTR DomainName, short* result) noexcept override
    {
        return Op("CheckDNSExistance", DomainName, result);
    }
    HRESULT STDMETHODCALLTYPE CreateSPFEntry(BSTR ADomain, BSTR SPFRecord, short* result) noexcept override
    {
        return Op("CreateSPFEntry", ADomain, SPFRecord, result);
    }
};

class BindDnsAdminAgent final : public AgentObject<IBindDnsAdmin> {
public:
    BindDnsAdminAgent() : AgentObject("BindDnsAdmin", IID_IBindDnsAdmin) {}

    HRESULT STDMETHODCALLTYPE CBindDNSDomain(BSTR DomainName, BSTR IPAddress, short resellersoaEnabled,
                                             BSTR resellerns1, BSTR resellerns2, BSTR resellersoamail,
                                             short* result) noexcept override
    {
        return Op("CBindDNSDomain", DomainName, IPAddress, resellersoaEnabled, resellerns1, resellerns2,
                  resellersoamail, result);
    }
    HRESULT STDMETHODCALLTYPE CreateBindARecord(BSTR DomainName, BSTR hostname, BSTR IPAddress,
                                                short* result) noexcept override
    {
        return Op("CreateBindARecord", DomainName, hostname, IPAddress, result);
    }
    HRESULT STDMETHODCALLTYPE CreateBindMXRecord(BSTR DomainName, BSTR hostname,
                                                 short* result) noexcept override
    {
        return Op("CreateBindMXRecord", DomainName, hostname, result);
    }
    HRESULT STDMETHODCALLTYPE DeleteBindSoa(BSTR DomainName, short* result) noexcept override
    {
        return Op("DeleteBindSoa", DomainName, result);
    }
    HRESULT STDMETHODCALLTYPE DeleteBindARec(BSTR DomainName, BSTR hostname, short* result) noexcept override
    {
        return Op("DeleteBindARec", DomainName, hostname, result);
    }
    HRESULT STDMETHODCALLTYPE DeleteBindMX(BSTR DomainName, BSTR hostname, short* result) noexcept override
    {
        return Op("DeleteBindMX", DomainName, hostname, result);
    }
    HRESULT STDMETHODCALLTYPE ControlService(BSTR Action, BSTR ServiceName, short* result) noexcept override
    {
        return Op("ControlService", Action, ServiceName, result);
    }
    HRESULT STDMETHODCALLTYPE Reserved8() noexcept override { return Op("Reserved8"); }
    HRESULT STDMETHODCALLTYPE Reserved9() noexcept override { return Op("Reserved9"); }
    HRESULT STDMETHODCALLTYPE Reserved10() noexcept override { return Op("Reserved10"); }
    HRESULT STDMETHODCALLTYPE Reserved11() noexcept override { return Op("Reserved11"); }
    HRESULT STDMETHODCALLTYPE CreateBindSPFRecord(BSTR DomainName, BSTR SPFRecord,
                                                  short* result) noexcept override
    {
        return Op("CreateBindSPFRecord", DomainName, SPFRecord, result);
    }
};

// Hands out the new object's only reference as `iid`, or destroys it.
template <typename T> HRESULT Hand(T* object, REFIID iid, void** result) noexcept
{
    const HRESULT hr = object->QueryInterface(iid, result);
    object->Release();
    return hr;
}

// --- The control object -------------------------------------------------------------

// Late-bound members, found by name in any letter case. Arguments in order:
//   Reset()
//   SetOutcome(className, operation, hr [, result [, errorText]])   missing: left unset
//   SetText(className, operation, text)      BSTR out-value (and GetMEUsersList's list)
//   SetNumber(className, operation, value)   GetMailFolderSize's size, GetMailBoxCount's count
//   Journal, CallCount, Activations, LiveObjects   (read-only properties)
// SetText and SetNumber add to the operation's outcome; SetOutcome replaces hr, result
// and errorText and keeps the rest.
enum ControlId : DISPID {
    kReset = 1,
    kSetOutcome,
    kSetText,
    kSetNumber,
    kJournal,
    kCallCount,
    kActivations,
    kLiveObjects
};

struct ControlMember {
    const wchar_t* name;
    DISPID id;
    UINT minArgs;
    UINT maxArgs;
};

const ControlMember kControlMembers[] = {
    {L"Reset", kReset, 0, 0},
    {L"SetOutcome", kSetOutcome, 3, 5},
    {L"SetText", kSetText, 3, 3},
    {L"SetNumber", kSetNumber, 3, 3},
    {L"Journal", kJournal, 0, 0},
    {L"CallCount", kCallCount, 0, 0},
    {L"Activations", kActivations, 0, 0},
    {L"LiveObjects", kLiveObjects, 0, 0},
};

struct Variant {
    VARIANT v;
    Variant() noexcept { ::VariantInit(&v); }
    ~Variant() { ::VariantClear(&v); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
};

// The script's argument `index` (in the script's order) converted to `type`; false when
// the script left it out (absent, VT_EMPTY or a VT_ERROR "missing" marker).
class ScriptArgs {
public:
    explicit ScriptArgs(const DISPPARAMS& params) noexcept : m_params(params) {}

    bool Get(UINT index, VARTYPE type, Variant& out, UINT* argErr) const
    {
        if (index >= m_params.cArgs) return false;
        const UINT position = m_params.cArgs - 1 - index; // rgvarg runs last to first
        Variant direct;
        THROW_IF_FAILED(::VariantCopyInd(&direct.v, &m_params.rgvarg[position]));
        if (V_VT(&direct.v) == VT_EMPTY || V_VT(&direct.v) == VT_ERROR) return false;
        if (FAILED(::VariantChangeType(&out.v, &direct.v, 0, type))) {
            if (argErr) *argErr = position;
            ThrowHResult(DISP_E_TYPEMISMATCH);
        }
        return true;
    }

    std::optional<std::wstring> Text(UINT index, UINT* argErr) const
    {
        Variant v;
        if (!Get(index, VT_BSTR, v, argErr)) return std::nullopt;
        const BSTR b = V_BSTR(&v.v);
        return b ? std::wstring(b, ::SysStringLen(b)) : std::wstring();
    }

    std::optional<double> Number(UINT index, UINT* argErr) const
    {
        Variant v;
        if (!Get(index, VT_R8, v, argErr)) return std::nullopt;
        return V_R8(&v.v);
    }

private:
    const DISPPARAMS& m_params;
};

class Control final : public IDispatch {
public:
    Control() noexcept { ++TheState().liveControls; }
    ~Control() { --TheState().liveControls; }
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) noexcept override
    {
        return QueryDispatchObject(static_cast<IDispatch*>(this), IID_IDispatch, iid, result);
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return ReleaseObject(this, m_refs); }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override
    {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override
    {
        if (info) *info = nullptr;
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) noexcept override
    {
        if (!names || !ids) return E_POINTER;
        if (count == 0) return S_OK;
        for (UINT i = 1; i < count; ++i)
            ids[i] = DISPID_UNKNOWN; // no named arguments
        ids[0] = DISPID_UNKNOWN;
        const ControlMember* member = Find(names[0]);
        if (!member) return DISP_E_UNKNOWNNAME;
        ids[0] = member->id;
        return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excepInfo, UINT* argErr) noexcept override
    {
        return ComBoundary([&]() -> HRESULT {
            const ControlMember* member = Find(id);
            if (!member) return DISP_E_MEMBERNOTFOUND;
            if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
            static DISPPARAMS noParams = {nullptr, nullptr, 0, 0};
            const DISPPARAMS& p = params ? *params : noParams;
            if (p.cNamedArgs != 0) return DISP_E_NONAMEDARGS;
            if (p.cArgs < member->minArgs || p.cArgs > member->maxArgs) return DISP_E_BADPARAMCOUNT;
            if (result) ::VariantInit(result);
            return Dispatch(id, ScriptArgs(p), result, excepInfo, argErr);
        });
    }

private:
    static const ControlMember* Find(const wchar_t* name) noexcept
    {
        for (const auto& m : kControlMembers) {
            if (name && ::lstrcmpiW(name, m.name) == 0) return &m;
        }
        return nullptr;
    }
    static const ControlMember* Find(DISPID id) noexcept
    {
        for (const auto& m : kControlMembers) {
            if (m.id == id) return &m;
        }
        return nullptr;
    }

    static HRESULT Dispatch(DISPID id, const ScriptArgs& args, VARIANT* result, EXCEPINFO* excepInfo,
                            UINT* argErr)
    {
        switch (id) {
        case kReset:
            Reset();
            return S_OK;
        case kSetOutcome:
        case kSetText:
        case kSetNumber:
            return Program(id, args, excepInfo, argErr);
        case kJournal:
            if (result) {
                V_VT(result) = VT_BSTR;
                V_BSTR(result) = AllocText(Widen(testagent::Journal()));
                if (!V_BSTR(result)) return E_OUTOFMEMORY;
            }
            return S_OK;
        case kCallCount:
            return Number(result, static_cast<LONG>(Calls().size()));
        case kActivations:
            return Number(result, testagent::Activations());
        case kLiveObjects:
            return Number(result, testagent::LiveObjects());
        }
        return DISP_E_MEMBERNOTFOUND;
    }

    static HRESULT Number(VARIANT* result, LONG value) noexcept
    {
        if (result) {
            V_VT(result) = VT_I4;
            V_I4(result) = value;
        }
        return S_OK;
    }

    static HRESULT Program(DISPID id, const ScriptArgs& args, EXCEPINFO* excepInfo, UINT* argErr)
    {
        const std::string className = Narrow(args.Text(0, argErr).value_or(L""));
        const std::string operation = Narrow(args.Text(1, argErr).value_or(L""));
        if (!IsOperation(className, operation)) {
            return Raise(excepInfo, L"VelaTestAgent.Control: unknown operation " + Widen(className) + L"." +
                                        Widen(operation));
        }
        Outcome outcome = GetOutcome(className, operation);
        if (id == kSetOutcome) {
            // JScript hands 0x80004005 over as a double above 2^31; wrap it to 32 bits.
            const double hr = args.Number(2, argErr).value_or(0);
            outcome.hr = static_cast<HRESULT>(static_cast<ULONG>(static_cast<long long>(hr)));
            const std::optional<double> value = args.Number(3, argErr);
            outcome.result = value ? std::optional<short>(static_cast<short>(static_cast<long long>(*value)))
                                   : std::nullopt;
            outcome.errorText = args.Text(4, argErr);
        } else if (id == kSetText) {
            outcome.text = args.Text(2, argErr).value_or(L"");
            outcome.userList = outcome.text;
        } else {
            const double value = args.Number(2, argErr).value_or(0);
            outcome.size = value;
            outcome.count = static_cast<long>(static_cast<long long>(value));
        }
        SetOutcome(className, operation, outcome);
        return S_OK;
    }

    static HRESULT Raise(EXCEPINFO* excepInfo, const std::wstring& description) noexcept
    {
        if (excepInfo) {
            *excepInfo = EXCEPINFO{};
            excepInfo->bstrSource = ::SysAllocString(L"VelaTestAgent.Control");
            excepInfo->bstrDescription = AllocText(description);
            excepInfo->scode = E_INVALIDARG;
        }
        return DISP_E_EXCEPTION;
    }

    std::atomic<ULONG> m_refs{1};
};

} // namespace

// --- Arg and Call ----------------------------------------------------------------------

std::string Arg::ToString() const
{
    switch (kind) {
    case Kind::NullText:
        return "null";
    case Kind::Text:
        return "\"" + Narrow(text) + "\"";
    case Kind::Integer:
        return std::to_string(integer);
    case Kind::Real: {
        std::ostringstream out;
        out << real;
        return out.str();
    }
    case Kind::OutPointer:
        return "&out";
    case Kind::NullOutPointer:
        return "null-out";
    }
    return "?";
}

std::string Call::ToString() const
{
    std::string line = className + "#" + std::to_string(instance) + "." + operation + "(";
    for (size_t i = 0; i < args.size(); ++i) {
        if (i) line += ", ";
        line += args[i].ToString();
    }
    return line + ")";
}

// --- Process-wide state -----------------------------------------------------------------

void Reset()
{
    State& s = TheState();
    std::lock_guard<std::mutex> guard(s.lock);
    s.calls.clear();
    s.outcomes.clear();
    s.puts.clear();
    s.activations = 0;
}

bool IsOperation(const std::string& className, const std::string& operation) noexcept
{
    const AgentClass* c = FindClass(className);
    if (!c) return false;
    for (const auto& op : c->operations) {
        if (op == operation) return true;
    }
    return false;
}

void SetOutcome(const std::string& className, const std::string& operation, const Outcome& outcome)
{
    if (!IsOperation(className, operation)) {
        throw std::invalid_argument("no agent operation " + className + "." + operation);
    }
    State& s = TheState();
    std::lock_guard<std::mutex> guard(s.lock);
    s.outcomes[{className, operation}] = outcome;
}

Outcome GetOutcome(const std::string& className, const std::string& operation)
{
    State& s = TheState();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto found = s.outcomes.find({className, operation});
    return found == s.outcomes.end() ? Outcome{} : found->second;
}

std::vector<Call> Calls()
{
    State& s = TheState();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.calls;
}

std::string Journal()
{
    std::string journal;
    for (const Call& call : Calls())
        journal += call.ToString() + "\n";
    return journal;
}

int LiveObjects()
{
    return TheState().liveObjects;
}
int LiveControls()
{
    return TheState().liveControls;
}

int Activations()
{
    State& s = TheState();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.activations;
}

std::map<std::string, Arg> StoredPuts(int instance)
{
    State& s = TheState();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto found = s.puts.find(instance);
    return found == s.puts.end() ? std::map<std::string, Arg>{} : found->second;
}

HRESULT CreateAgent(REFCLSID clsid, REFIID iid, void** result)
{
    if (!result) return E_POINTER;
    *result = nullptr;
    return ComBoundary([&]() -> HRESULT {
        if (clsid == CLSID_ServerAdmin) return Hand(new ServerAdminAgent, iid, result);
        if (clsid == CLSID_DnsAdmin) return Hand(new DnsAdminAgent, iid, result);
        if (clsid == CLSID_BindDnsAdmin) return Hand(new BindDnsAdminAgent, iid, result);
        return CLASS_E_CLASSNOTAVAILABLE;
    });
}

HRESULT CreateControl(REFIID iid, void** result)
{
    if (!result) return E_POINTER;
    *result = nullptr;
    return ComBoundary([&] { return Hand(new Control, iid, result); });
}

} // namespace vela::testagent
