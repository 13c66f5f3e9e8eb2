// Every command method on its three paths: the remote operation succeeds, it fails with
// an HRESULT, or the agent cannot be activated. Each row states the contract of one
// member; the test checks the action text, the remote class and host, the calls in
// order, the out-value, strError and the log record.
#include "AccessFixture.h"

#include <cmath>
#include <functional>

namespace vela::test {
namespace {

using testagent::Outcome;

enum class Out {
    One,          // 1 on success, 0 on failure
    Result,       // the agent's result (through m_nResult or a call-local value), 0 on failure
    ResultAlways, // the agent's result on success, m_nResult as it stood on failure
    Text,         // a copy of the returned text, the error text on failure
    HandedShort,  // written by the agent alone
    HandedLong,
    HandedDouble,
    HandedText,
    HandedVariant,
    None,
};
enum class Err { Member, Local, Success };

// Poisoned out-values: whatever the component leaves untouched stays recognisable.
constexpr short kPoisonShort = static_cast<short>(0xbeef);
constexpr long kPoisonLong = static_cast<long>(0xdeadbeef);
const BSTR kPoisonText = reinterpret_cast<BSTR>(static_cast<uintptr_t>(0xdeadbeef));

struct Outs {
    short s = kPoisonShort;
    long l = kPoisonLong;
    double d = -12345.5;
    BSTR b = kPoisonText;
    VARIANT v;
    Outs()
    {
        ::VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = kPoisonLong;
    }
};

struct Args {
    Text host{L"host1"};
    Text a1{L"a1"}, a2{L"a2"}, a3{L"a3"}, a4{L"a4"}, a5{L"a5"};
};

using Invoke = std::function<HRESULT(IVelaServerAccess*, const Args&, Outs&)>;

struct Row {
    const char* member;
    const char* remoteClass;
    const char* operation; // whose programmed HRESULT takes the failure path
    Out out;
    Err err;
    const char* action; // after "Command for Remote Server 'host1' : ", or whole when it starts with '='
    Invoke invoke;
    std::vector<std::string> calls; // on success, without the class prefix
};

#define CALL(member, ...) [](IVelaServerAccess* o, const Args& a, Outs& v) { return o->member(__VA_ARGS__); }

const std::vector<Row>& Rows()
{
    static const std::vector<Row> rows = {
        {"SetupSecDNS",
         "ServerAdmin",
         "SetupSecDNS",
         Out::One,
         Err::Member,
         "Set Secondary DNS for Domain 'a1'",
         CALL(SetupSecDNS, a.host, a.a1, a.a2, a.a3, 7, &v.s),
         {R"(put_DomainName("a1"))", R"(put_MasterServers("a2"))", R"(put_ZoneName("a1"))", "put_Type(7)",
          "SetupSecDNS(&out)", "get_strError(&out)"}},
        {"MailSetup",
         "ServerAdmin",
         "MailSetup",
         Out::One,
         Err::Local,
         "Mail Setup for Domain 'a2' : Mail Server is 'a1'",
         CALL(MailSetup, a.host, a.a1, a.a2, a.a3, a.a4, a.a5, &v.s),
         {"put_lMaxMailusers(0)", R"(MailSetup("a1", "a2", "a3", "a4", "a5", &out))", "get_strError(&out)"}},
        {"AlterCompleteDNSEntries",
         "DnsAdmin",
         "AlterCompleteDNSEntries",
         Out::One,
         Err::Member,
         "Alter Complete DNS Entries for Domain 'a1'",
         CALL(AlterCompleteDNSEntries, a.host, a.a1, a.a2, a.a3, a.a4, &v.s),
         {"put_NamedBasedDomain(0)",
          R"(AlterCompleteDNSEntries("a1", "a2", "a3", "a4", 0, "", "", "", &out))", "get_strError(&out)"}},
        {"CreateAEntry",
         "DnsAdmin",
         "CreateAEntry",
         Out::Result,
         Err::Member,
         "Create A Record for Domain 'a1'",
         CALL(CreateAEntry, a.host, a.a1, a.a2, a.a3, &v.s),
         {R"(CreateAEntry("a1", "a2", "a3", &out))", "get_strError(&out)"}},
        {"AddMXRecord",
         "DnsAdmin",
         "AddMXRecord",
         Out::Result,
         Err::Member,
         "Add MX Record for Domain 'a2'",
         CALL(AddMXRecord, a.host, a.a1, a.a2, a.a3, a.a4, &v.s),
         {R"(AddMXRecord("a1", "a2", "a3", "a4", &out))", "get_strError(&out)"}},
        {"DeletePrimaryDomain",
         "DnsAdmin",
         "get_strError",
         Out::Result,
         Err::Member,
         "Delete Primary Domain 'a1'",
         CALL(DeletePrimaryDomain, a.host, a.a1, &v.s),
         {"put_ReverseZoneIP(null)", R"(DeletePrimaryDomain("a1", &out))", "get_strError(&out)"}},
        {"DeleteThirdLevelDomain",
         "DnsAdmin",
         "DeleteThirdLevelDomain",
         Out::Result,
         Err::Success,
         "Delete Third Level Domain 'a1'",
         CALL(DeleteThirdLevelDomain, a.host, a.a1, a.a2, &v.s),
         {R"(DeleteThirdLevelDomain("a1", "a2", &out))"}},
        {"CBindDNSDomain",
         "BindDnsAdmin",
         "CBindDNSDomain",
         Out::Result,
         Err::Success,
         "Alter Bind DNS Entries for Domain 'a1'",
         CALL(CBindDNSDomain, a.host, a.a1, a.a2, &v.s),
         {R"(CBindDNSDomain("a1", "a2", 0, "", "", "", &out))"}},
        {"CreateBindARecord",
         "BindDnsAdmin",
         "CreateBindARecord",
         Out::Result,
         Err::Success,
         "Create Bind A Record for Domain 'a1'",
         CALL(CreateBindARecord, a.host, a.a1, a.a2, a.a3, &v.s),
         {R"(CreateBindARecord("a1", "a2", "a3", &out))"}},
        {"CreateBindMXRecord",
         "BindDnsAdmin",
         "CreateBindMXRecord",
         Out::Result,
         Err::Success,
         "Create Bind MX Record for Domain 'a1'",
         CALL(CreateBindMXRecord, a.host, a.a1, a.a2, &v.s),
         {R"(CreateBindMXRecord("a1", "a2", &out))"}},
        {"DeleteBindSoa",
         "BindDnsAdmin",
         "DeleteBindSoa",
         Out::Result,
         Err::Success,
         "Delete Bind SOA Record for Domain 'a1'",
         CALL(DeleteBindSoa, a.host, a.a1, &v.s),
         {R"(DeleteBindSoa("a1", &out))"}},
        {"DeleteBindARec",
         "BindDnsAdmin",
         "DeleteBindARec",
         Out::Result,
         Err::Success,
         "Delete Bind A Record for Domain 'a1'",
         CALL(DeleteBindARec, a.host, a.a1, a.a2, &v.s),
         {R"(DeleteBindARec("a1", "a2", &out))"}},
        {"DeleteBindMX",
         "BindDnsAdmin",
         "DeleteBindMX",
         Out::Result,
         Err::Success,
         "Delete Bind MX Record for Domain 'a1'",
         CALL(DeleteBindMX, a.host, a.a1, a.a2, &v.s),
         {R"(DeleteBindMX("a1", "a2", &out))"}},
        {"ControlService",
         "BindDnsAdmin",
         "ControlService",
         Out::Result,
         Err::Success,
         "Control Service : a1 Service 'a2'",
         CALL(ControlService, a.host, a.a1, a.a2, &v.s),
         {R"(ControlService("a1", "a2", &out))"}},
        {"DeleteMailDomain",
         "ServerAdmin",
         "DeleteMailDomain",
         Out::Result,
         Err::Local,
         "Delete Mail Domain 'a2' : Mail Server is 'a1'",
         CALL(DeleteMailDomain, a.host, a.a1, a.a2, &v.s),
         {R"(DeleteMailDomain("a1", "a2", &out))", "get_strError(&out)"}},
        {"delslavedns",
         "ServerAdmin",
         "delslavedns",
         Out::One,
         Err::Member,
         "Delete Slave DNS for Zone 'a1'",
         CALL(delslavedns, a.host, a.a1, 7, &v.s),
         {"put_Type(7)", R"(delslavedns("a1", &out))", "get_strError(&out)"}},
        {"GetDNSFile",
         "DnsAdmin",
         "GetDNSFile",
         Out::Text,
         Err::Success,
         "Get DNS File 'a1'",
         CALL(GetDNSFile, a.host, a.a1, &v.b),
         {R"(GetDNSFile("a1", &out))"}},
        {"SetDNSFile",
         "DnsAdmin",
         "SetDNSFile",
         Out::ResultAlways,
         Err::Success,
         "Set DNS File 'a1'",
         CALL(SetDNSFile, a.host, a.a1, a.a2, &v.s),
         {R"(SetDNSFile("a1", "a2", &out))"}},
        {"GetMEUsersList",
         "ServerAdmin",
         "GetMEUsersList",
         Out::HandedVariant,
         Err::Local,
         "Get MailEnable Users List for Domain 'a1'",
         CALL(GetMEUsersList, a.host, a.a1, &v.v),
         {R"(GetMEUsersList("a1", &out))", "get_strError(&out)"}},
        {"AddUpdateDeleteMEUser",
         "ServerAdmin",
         "AddUpdateDeleteMEUser",
         Out::HandedShort,
         Err::Local,
         "Add MailEnable User 'a1' : Domain is 'a3'",
         CALL(AddUpdateDeleteMEUser, a.host, a.a1, a.a2, a.a3, 1, &v.s),
         {R"(AddUpdateDeleteMEUser("a1", "a2", "a3", 1, &out))", "get_strError(&out)"}},
        {"GetMailFolderSize",
         "ServerAdmin",
         "GetMailFolderSize",
         Out::HandedDouble,
         Err::Local,
         "Get Mail Folder Size for Domain 'a2' : Mail Server is 'a1'",
         CALL(GetMailFolderSize, a.host, a.a1, a.a2, &v.d),
         {R"(GetMailFolderSize("a1", "a2", &out))", "get_strError(&out)"}},
        {"ReloadSecDNS",
         "ServerAdmin",
         "ReloadSecDNS",
         Out::One,
         Err::Member,
         "Reload Secondary DNS for Domain 'a1'",
         CALL(ReloadSecDNS, a.host, a.a1, 7, &v.s),
         {R"(put_DomainName("a1"))", "put_Type(7)", "ReloadSecDNS(&out)", "get_strError(&out)"}},
        {"ResetMailBoxes",
         "ServerAdmin",
         "ResetMailBoxes",
         Out::HandedShort,
         Err::Local,
         "Reset Mailboxes for Domain 'a2' : Mail Server is 'a1' with MailboxCount is '-5'",
         CALL(ResetMailBoxes, a.host, a.a1, a.a2, -5, &v.s),
         {R"(ResetMailBoxes("a1", "a2", -5, &out))", "get_strError(&out)"}},
        {"CreateCNAMEEntry",
         "DnsAdmin",
         "CreateCNAMEEntry",
         Out::Result,
         Err::Member,
         "Create CNAME Record for Domain 'a1'",
         CALL(CreateCNAMEEntry, a.host, a.a1, a.a2, &v.s),
         {R"(CreateCNAMEEntry("a1", "a2", &out))", "get_strError(&out)"}},
        {"GetMailBoxCount",
         "ServerAdmin",
         "GetMailBoxCount",
         Out::HandedLong,
         Err::Local,
         "GetMailboxCount for Domain 'a2' : Mail Server is 'a1'",
         CALL(GetMailBoxCount, a.host, a.a1, a.a2, &v.l),
         {R"(GetMailBoxCount("a1", "a2", &out))", "get_strError(&out)"}},
        {"CreateCNAMEEntryEx",
         "DnsAdmin",
         "CreateCNAMEEntryEx",
         Out::Result,
         Err::Member,
         "Create CNAME Record for Domain 'a1'",
         CALL(CreateCNAMEEntryEx, a.host, a.a1, a.a2, a.a3, &v.s),
         {R"(CreateCNAMEEntryEx("a1", "a2", "a3", &out))", "get_strError(&out)"}},
        {"DeleteCNAMEEntryEx",
         "DnsAdmin",
         "DeleteCNAMEEntryEx",
         Out::Result,
         Err::Member,
         "Delete CNAME Record for Domain 'a1'",
         CALL(DeleteCNAMEEntryEx, a.host, a.a1, a.a2, &v.s),
         {R"(DeleteCNAMEEntryEx("a1", "a2", &out))", "get_strError(&out)"}},
        {"DeleteMXRecord",
         "DnsAdmin",
         "DeleteMXRecord",
         Out::Result,
         Err::Member,
         "Delete MX Record for Domain 'a1'",
         CALL(DeleteMXRecord, a.host, a.a1, a.a2, &v.s),
         {R"(DeleteMXRecord("a1", "a2", &out))", "get_strError(&out)"}},
        {"DeleteAEntry",
         "DnsAdmin",
         "DeleteAEntry",
         Out::Result,
         Err::Member,
         "Delete A Record for Domain 'a1'",
         CALL(DeleteAEntry, a.host, a.a1, a.a2, &v.s),
         {R"(DeleteAEntry("a1", "a2", &out))", "get_strError(&out)"}},
        {"AddUser",
         "ServerAdmin",
         "AddUser",
         Out::One,
         Err::Local,
         "Add User for Domain 'a2' : Mail Server is 'a1'",
         CALL(AddUser, a.host, a.a1, a.a2, a.a3, a.a4, &v.s),
         {R"(AddUser("a1", "a2", "a3", "a4", &out))", "get_strError(&out)"}},
        {"BackupMailDomain",
         "ServerAdmin",
         "BackupMailDomain",
         Out::HandedText,
         Err::Local,
         "Backup Mail Domain 'a2' : Mail Server is 'a1'",
         CALL(BackupMailDomain, a.host, a.a1, a.a2, &v.b),
         {R"(BackupMailDomain("a1", "a2", &out))", "get_strError(&out)"}},
        {"Restart",
         "ServerAdmin",
         "Restart",
         Out::None,
         Err::Local,
         nullptr,
         [](IVelaServerAccess* o, const Args& a, Outs&) { return o->Restart(a.host); },
         {"Restart()", "get_strError(&out)"}},
        {"TestDComCommunication",
         "ServerAdmin",
         "TestDComCommunication",
         Out::One,
         Err::Local,
         "=Test DCom Communication",
         CALL(TestDComCommunication, a.host, &v.s),
         {"TestDComCommunication()", "get_strError(&out)"}},
        {"ChangeIP",
         "DnsAdmin",
         "ChangeIP",
         Out::HandedShort,
         Err::Local,
         "Change IP of Domain 'a1'",
         CALL(ChangeIP, a.host, a.a1, a.a2, a.a3, 3, &v.s),
         {R"(ChangeIP("a1", "a2", "a3", 3, &out))", "get_strError(&out)"}},
        {"CheckDNSExistance",
         "DnsAdmin",
         "CheckDNSExistance",
         Out::HandedShort,
         Err::Local,
         "Check DNS Existance of Domain 'a1'",
         CALL(CheckDNSExistance, a.host, a.a1, &v.s),
         {R"(CheckDNSExistance("a1", &out))", "get_strError(&out)"}},
        {"SetDefaultResources",
         "ServerAdmin",
         "SetDefaultResources",
         Out::HandedShort,
         Err::Local,
         "Set default resources enabled for Domain 'a1'",
         CALL(SetDefaultResources, a.host, a.a1, &v.s),
         {R"(SetDefaultResources("a1", &out))", "get_strError(&out)"}},
        {"CreateSPFEntry",
         "DnsAdmin",
         "CreateSPFEntry",
         Out::Result,
         Err::Member,
         "Create SPF Record for Domain 'a1'",
         CALL(CreateSPFEntry, a.host, a.a1, a.a2, &v.s),
         {R"(CreateSPFEntry("a1", "a2", &out))", "get_strError(&out)"}},
        {"CreateBindSPFRecord",
         "BindDnsAdmin",
         "CreateBindSPFRecord",
         Out::Result,
         Err::Success,
         "Create Bind SPF Record for Domain 'a1'",
         CALL(CreateBindSPFRecord, a.host, a.a1, a.a2, &v.s),
         {R"(CreateBindSPFRecord("a1", "a2", &out))"}},
    };
    return rows;
}

#undef CALL

const CLSID& ClassId(const std::string& name)
{
    if (name == "ServerAdmin") return CLSID_ServerAdmin;
    if (name == "DnsAdmin") return CLSID_DnsAdmin;
    return CLSID_BindDnsAdmin;
}

std::string ExpectedAction(const Row& row)
{
    if (!row.action) return {};
    if (row.action[0] == '=') return row.action + 1;
    return std::string("Command for Remote Server 'host1' : ") + row.action;
}

enum class Path { Success, RemoteFailure, ActivationFailure };

constexpr short kEarlierResult = 9;
constexpr HRESULT kRemoteFailure = E_ACCESSDENIED;
constexpr HRESULT kActivationFailure = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);

class CommandTable : public AccessTest, public ::testing::WithParamInterface<Row> {
protected:
    // An earlier failed command leaves "earlier" in strError and 9 in m_nResult, so that
    // the rows can show which members leave them alone.
    void Prime(IVelaServerAccess* object)
    {
        Outcome earlier;
        earlier.result = kEarlierResult;
        earlier.errorText = L"earlier";
        testagent::SetOutcome("DnsAdmin", "CreateAEntry", earlier);
        Text host(L"prime"), zone(L"z"), name(L"n"), ip(L"i");
        short result = 0;
        ASSERT_EQ(S_OK, object->CreateAEntry(host, zone, name, ip, &result));
        ASSERT_EQ("earlier", StrError(object));
        testagent::Reset();
        Activations().seen.clear();
    }

    void Run(Path path)
    {
        const Row& row = GetParam();
        IVelaServerAccess* object = NewObject();
        Prime(object);
        const size_t linesBefore = LogLines().size();

        Outcome outcome;
        if (path == Path::Success) {
            outcome.result = 5;
            outcome.text = L"zone text";
            outcome.size = 2.5;
            outcome.count = 42;
            outcome.userList = L"u1;u2";
        } else {
            outcome.hr = kRemoteFailure;
        }
        // Remote operations bear their member's name; a failure is programmed on the
        // operation whose HRESULT the member tests.
        testagent::SetOutcome(row.remoteClass, path == Path::Success ? row.member : row.operation, outcome);
        if (path == Path::ActivationFailure) Activations().activationResult = kActivationFailure;

        Args args;
        Outs outs;
        EXPECT_EQ(S_OK, row.invoke(object, args, outs));

        // One activation of the member's class on the named host, however it ended.
        ASSERT_EQ(1u, Activations().seen.size());
        const Activation& activation = Activations().seen[0];
        EXPECT_TRUE(IsEqualCLSID(ClassId(row.remoteClass), activation.clsid));
        EXPECT_EQ(21u, activation.context);
        EXPECT_EQ(L"host1", activation.serverName);
        EXPECT_EQ(0, testagent::LiveObjects()) << "the connection was not released";

        // The calls, in order.
        std::vector<std::string> expected;
        if (path != Path::ActivationFailure) {
            for (const std::string& call : row.calls) {
                expected.push_back(std::string(row.remoteClass) + "." + call);
                // The main call's failure ends the exchange unless the member fetches the
                // error text before testing it.
                const std::string member = row.member;
                const bool testsLater =
                    member == "SetupSecDNS" || member == "delslavedns" || member == "ReloadSecDNS";
                if (path == Path::RemoteFailure && call.rfind(row.operation, 0) == 0 && !testsLater &&
                    std::string(row.operation) != "get_strError")
                    break;
            }
        }
        EXPECT_EQ(expected, Journal());

        const bool failed = path != Path::Success;
        const std::string errorText =
            ErrorTextFor(path == Path::RemoteFailure ? kRemoteFailure : kActivationFailure);
        CheckOut(row, outs, failed, errorText);

        // strError: the member's own error text, "Success", or what the earlier command left.
        switch (row.err) {
        case Err::Member:
            EXPECT_EQ(failed ? errorText : "", StrError(object));
            break;
        case Err::Success:
            EXPECT_EQ(failed ? errorText : "Success", StrError(object));
            break;
        case Err::Local:
            EXPECT_EQ("earlier", StrError(object));
            break;
        }

        // One record, unless the member never logs.
        const std::vector<std::string> lines = LogLines();
        if (!row.action) {
            EXPECT_EQ(linesBefore, lines.size());
            return;
        }
        ASSERT_EQ(linesBefore + 1, lines.size());
        const std::string result =
            failed ? "Operation Failed : Error is '" + errorText + "'" : "Operation Successful";
        EXPECT_EQ(ExpectedAction(row) + "," + result + ",", LastRecord());
    }

    static void CheckOut(const Row& row, Outs& outs, bool failed, const std::string& errorText)
    {
        switch (row.out) {
        case Out::One:
            EXPECT_EQ(failed ? 0 : 1, outs.s);
            break;
        case Out::Result:
            EXPECT_EQ(failed ? 0 : 5, outs.s);
            break;
        case Out::ResultAlways:
            EXPECT_EQ(failed ? kEarlierResult : 5, outs.s);
            break;
        case Out::Text:
            ASSERT_NE(kPoisonText, outs.b);
            EXPECT_EQ(failed ? Wide(errorText) : L"zone text", std::wstring(outs.b, ::SysStringLen(outs.b)));
            ::SysFreeString(outs.b);
            break;
        case Out::HandedShort:
            EXPECT_EQ(failed ? kPoisonShort : 5, outs.s);
            break;
        case Out::HandedLong:
            EXPECT_EQ(failed ? kPoisonLong : 42, outs.l);
            break;
        case Out::HandedDouble:
            EXPECT_EQ(failed ? -12345.5 : 2.5, outs.d);
            break;
        case Out::HandedText:
            if (failed) {
                EXPECT_EQ(kPoisonText, outs.b);
            } else {
                EXPECT_EQ(L"zone text", std::wstring(outs.b, ::SysStringLen(outs.b)));
                ::SysFreeString(outs.b);
            }
            break;
        case Out::HandedVariant:
            if (failed) {
                EXPECT_EQ(VT_I4, outs.v.vt);
                EXPECT_EQ(kPoisonLong, outs.v.lVal);
            } else {
                ASSERT_EQ(VT_BSTR, outs.v.vt);
                EXPECT_EQ(L"u1;u2", std::wstring(outs.v.bstrVal));
                ::VariantClear(&outs.v);
            }
            break;
        case Out::None:
            break;
        }
    }
};

TEST_P(CommandTable, Success)
{
    Run(Path::Success);
}
TEST_P(CommandTable, RemoteFailure)
{
    Run(Path::RemoteFailure);
}
TEST_P(CommandTable, ActivationFailure)
{
    Run(Path::ActivationFailure);
}

INSTANTIATE_TEST_SUITE_P(AllCommands, CommandTable, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             return std::string(info.param.member);
                         });

TEST(CommandTableCoverage, EveryCommandMethodHasARow)
{
    EXPECT_EQ(38u, Rows().size());
}

} // namespace
} // namespace vela::test
