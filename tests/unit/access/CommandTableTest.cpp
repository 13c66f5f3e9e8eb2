// Every command method on four paths: the agent succeeds; it succeeds and leaves an error
// text; its operation fails; it cannot be activated. One row per member states its contract,
// and each path checks the activation, the agent's calls in order, the out-value, strError,
// the one log record and that the agent object was released. Every path runs without and
// with a command time-out, which an agent that answers at once must not change; a fifth
// path, for one member of each kind, has the agent answer only after the time-out: the call
// fails with the time-out, and the late answer reaches only the log.
#include "AccessFixture.h"

#include <algorithm>
#include <tuple>

namespace vela::test {
namespace {

// The out-value: 1 or 0; the agent's result or 0; the agent's result or, unreachable, what
// m_nResult held; the returned text or the error text; written by the agent alone (by type).
enum class Out { One, Result, Kept, Text, HandS, HandL, HandD, HandB, HandV, None };
// Where the error text goes: m_strError (tested right after the main call, after fetching the
// text, or by get_strError's own HRESULT), a call-local text, or nowhere, with "Success" set.
enum class Err { Member, Late, ErrHr, Local, Success };
enum class Path { Success, RemoteText, RemoteFailure, Unreachable, Late };

struct Outs {
    short s = kPoisonShort;
    long l = kPoisonLong;
    double d = kPoisonDouble;
    BSTR b = PoisonText();
    VARIANT v{};
    Outs()
    {
        v.vt = VT_I4;
        v.lVal = kPoisonLong;
    }
};
using Seen = std::tuple<short, long, double, std::string, std::string>;

struct Row {
    const char* member;
    const char* agentClass;
    Out out;
    Err err;
    const char* action; // after "Command for Remote Server 'host1' : "; "=" starts a whole text; null: none
    const char* calls;  // on success, less the get_strError that follows where the text is fetched
    HRESULT (*invoke)(IVelaServerAccess*, Outs&);
};

const Text h(L"host1"), a1(L"a1"), a2(L"a2"), a3(L"a3"), a4(L"a4"), a5(L"a5");
constexpr const char *Srv = "ServerAdmin", *Dns = "DnsAdmin", *Bind = "BindDnsAdmin";

// clang-format off
#define ROW(m, agentClass, out, err, action, calls, ...) \
    Row{#m, agentClass, Out::out, Err::err, action, calls, [](IVelaServerAccess* o, [[maybe_unused]] Outs& v) { return o->m(__VA_ARGS__); }}

const Row kRows[] = {
    ROW(SetupSecDNS, Srv, One, Late, "Set Secondary DNS for Domain 'a1'", R"(put_DomainName("a1"); put_MasterServers("a2"); put_ZoneName("a1"); put_Type(7); SetupSecDNS(&out))", h, a1, a2, a3, 7, &v.s),
    ROW(delslavedns, Srv, One, Late, "Delete Slave DNS for Zone 'a1'", R"(put_Type(7); delslavedns("a1", &out))", h, a1, 7, &v.s),
    ROW(ReloadSecDNS, Srv, One, Late, "Reload Secondary DNS for Domain 'a1'", R"(put_DomainName("a1"); put_Type(7); ReloadSecDNS(&out))", h, a1, 7, &v.s),
    ROW(AlterCompleteDNSEntries, Dns, One, Member, "Alter Complete DNS Entries for Domain 'a1'", R"(put_NamedBasedDomain(0); AlterCompleteDNSEntries("a1", "a2", "a3", "a4", 0, "", "", "", &out))", h, a1, a2, a3, a4, &v.s),
    ROW(CreateAEntry, Dns, Result, Member, "Create A Record for Domain 'a1'", R"(CreateAEntry("a1", "a2", "a3", &out))", h, a1, a2, a3, &v.s),
    ROW(AddMXRecord, Dns, Result, Member, "Add MX Record for Domain 'a2'", R"(AddMXRecord("a1", "a2", "a3", "a4", &out))", h, a1, a2, a3, a4, &v.s),
    ROW(DeletePrimaryDomain, Dns, Result, ErrHr, "Delete Primary Domain 'a1'", R"(put_ReverseZoneIP(null); DeletePrimaryDomain("a1", &out))", h, a1, &v.s),
    ROW(DeleteThirdLevelDomain, Dns, Result, Success, "Delete Third Level Domain 'a1'", R"(DeleteThirdLevelDomain("a1", "a2", &out))", h, a1, a2, &v.s),
    ROW(GetDNSFile, Dns, Text, Success, "Get DNS File 'a1'", R"(GetDNSFile("a1", &out))", h, a1, &v.b),
    ROW(SetDNSFile, Dns, Kept, Success, "Set DNS File 'a1'", R"(SetDNSFile("a1", "a2", &out))", h, a1, a2, &v.s),
    ROW(CreateCNAMEEntry, Dns, Result, Member, "Create CNAME Record for Domain 'a1'", R"(CreateCNAMEEntry("a1", "a2", &out))", h, a1, a2, &v.s),
    ROW(CreateCNAMEEntryEx, Dns, Result, Member, "Create CNAME Record for Domain 'a1'", R"(CreateCNAMEEntryEx("a1", "a2", "a3", &out))", h, a1, a2, a3, &v.s),
    ROW(DeleteCNAMEEntryEx, Dns, Result, Member, "Delete CNAME Record for Domain 'a1'", R"(DeleteCNAMEEntryEx("a1", "a2", &out))", h, a1, a2, &v.s),
    ROW(DeleteMXRecord, Dns, Result, Member, "Delete MX Record for Domain 'a1'", R"(DeleteMXRecord("a1", "a2", &out))", h, a1, a2, &v.s),
    ROW(DeleteAEntry, Dns, Result, Member, "Delete A Record for Domain 'a1'", R"(DeleteAEntry("a1", "a2", &out))", h, a1, a2, &v.s),
    ROW(CreateSPFEntry, Dns, Result, Member, "Create SPF Record for Domain 'a1'", R"(CreateSPFEntry("a1", "a2", &out))", h, a1, a2, &v.s),
    ROW(ChangeIP, Dns, HandS, Local, "Change IP of Domain 'a1'", R"(ChangeIP("a1", "a2", "a3", 3, &out))", h, a1, a2, a3, 3, &v.s),
    ROW(CheckDNSExistance, Dns, HandS, Local, "Check DNS Existance of Domain 'a1'", R"(CheckDNSExistance("a1", &out))", h, a1, &v.s),
    ROW(CBindDNSDomain, Bind, Result, Success, "Alter Bind DNS Entries for Domain 'a1'", R"(CBindDNSDomain("a1", "a2", 0, "", "", "", &out))", h, a1, a2, &v.s),
    ROW(CreateBindARecord, Bind, Result, Success, "Create Bind A Record for Domain 'a1'", R"(CreateBindARecord("a1", "a2", "a3", &out))", h, a1, a2, a3, &v.s),
    ROW(CreateBindMXRecord, Bind, Result, Success, "Create Bind MX Record for Domain 'a1'", R"(CreateBindMXRecord("a1", "a2", &out))", h, a1, a2, &v.s),
    ROW(DeleteBindSoa, Bind, Result, Success, "Delete Bind SOA Record for Domain 'a1'", R"(DeleteBindSoa("a1", &out))", h, a1, &v.s),
    ROW(DeleteBindARec, Bind, Result, Success, "Delete Bind A Record for Domain 'a1'", R"(DeleteBindARec("a1", "a2", &out))", h, a1, a2, &v.s),
    ROW(DeleteBindMX, Bind, Result, Success, "Delete Bind MX Record for Domain 'a1'", R"(DeleteBindMX("a1", "a2", &out))", h, a1, a2, &v.s),
    ROW(ControlService, Bind, Result, Success, "Control Service : a1 Service 'a2'", R"(ControlService("a1", "a2", &out))", h, a1, a2, &v.s),
    ROW(CreateBindSPFRecord, Bind, Result, Success, "Create Bind SPF Record for Domain 'a1'", R"(CreateBindSPFRecord("a1", "a2", &out))", h, a1, a2, &v.s),
    ROW(MailSetup, Srv, One, Local, "Mail Setup for Domain 'a2' : Mail Server is 'a1'", R"(put_lMaxMailusers(0); MailSetup("a1", "a2", "a3", "a4", "a5", &out))", h, a1, a2, a3, a4, a5, &v.s),
    ROW(AddUser, Srv, One, Local, "Add User for Domain 'a2' : Mail Server is 'a1'", R"(AddUser("a1", "a2", "a3", "a4", &out))", h, a1, a2, a3, a4, &v.s),
    ROW(DeleteMailDomain, Srv, Result, Local, "Delete Mail Domain 'a2' : Mail Server is 'a1'", R"(DeleteMailDomain("a1", "a2", &out))", h, a1, a2, &v.s),
    ROW(GetMailFolderSize, Srv, HandD, Local, "Get Mail Folder Size for Domain 'a2' : Mail Server is 'a1'", R"(GetMailFolderSize("a1", "a2", &out))", h, a1, a2, &v.d),
    ROW(ResetMailBoxes, Srv, HandS, Local, "Reset Mailboxes for Domain 'a2' : Mail Server is 'a1' with MailboxCount is '-5'", R"(ResetMailBoxes("a1", "a2", -5, &out))", h, a1, a2, -5, &v.s),
    ROW(GetMailBoxCount, Srv, HandL, Local, "GetMailboxCount for Domain 'a2' : Mail Server is 'a1'", R"(GetMailBoxCount("a1", "a2", &out))", h, a1, a2, &v.l),
    ROW(BackupMailDomain, Srv, HandB, Local, "Backup Mail Domain 'a2' : Mail Server is 'a1'", R"(BackupMailDomain("a1", "a2", &out))", h, a1, a2, &v.b),
    ROW(GetMEUsersList, Srv, HandV, Local, "Get MailEnable Users List for Domain 'a1'", R"(GetMEUsersList("a1", &out))", h, a1, &v.v),
    ROW(AddUpdateDeleteMEUser, Srv, HandS, Local, "Delete MailEnable User 'a1' : Domain is 'a3'", R"(AddUpdateDeleteMEUser("a1", "a2", "a3", 0, &out))", h, a1, a2, a3, 0, &v.s),
    ROW(AddUpdateDeleteMEUser, Srv, HandS, Local, "Add MailEnable User 'a1' : Domain is 'a3'", R"(AddUpdateDeleteMEUser("a1", "a2", "a3", 1, &out))", h, a1, a2, a3, 1, &v.s),
    ROW(AddUpdateDeleteMEUser, Srv, HandS, Local, "Update MailEnable User 'a1' : Domain is 'a3'", R"(AddUpdateDeleteMEUser("a1", "a2", "a3", 2, &out))", h, a1, a2, a3, 2, &v.s),
    ROW(AddUpdateDeleteMEUser, Srv, HandS, Local, "=", R"(AddUpdateDeleteMEUser("a1", "a2", "a3", -1, &out))", h, a1, a2, a3, -1, &v.s),
    ROW(TestDComCommunication, Srv, One, Local, "=Test DCom Communication", "TestDComCommunication()", h, &v.s),
    ROW(SetDefaultResources, Srv, HandS, Local, "Set default resources enabled for Domain 'a1'", R"(SetDefaultResources("a1", &out))", h, a1, &v.s),
    ROW(Restart, Srv, None, Local, nullptr, "Restart()", h),
};
// clang-format on
#undef ROW

// The agents' identities: {7A3F1C20-5B0E-4D2A-9C11-3E5F000000cn}, c the class, n 1 for
// the class and 2 for its interface.
GUID AgentGuid(const std::string& agentClass, BYTE n)
{
    const BYTE c = agentClass == Srv ? 0x10 : agentClass == Dns ? 0x20 : 0x30;
    return {0x7A3F1C20, 0x5B0E, 0x4D2A, {0x9C, 0x11, 0x3E, 0x5F, 0, 0, 0, static_cast<BYTE>(c + n)}};
}

Seen Read(Outs& v)
{
    Seen seen{v.s, v.l, v.d, v.b == PoisonText() ? "poison" : Ascii(v.b), "poison"};
    if (v.b != PoisonText()) ::SysFreeString(v.b);
    if (v.v.vt != VT_I4 || v.v.lVal != kPoisonLong)
        std::get<4>(seen) = v.v.vt == VT_BSTR ? Ascii(v.v.bstrVal) : "vt " + std::to_string(v.v.vt);
    ::VariantClear(&v.v);
    return seen;
}

constexpr short kEarlierResult = 9;
constexpr HRESULT kUnreachable = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);

class CommandTable : public AccessTest, public ::testing::WithParamInterface<std::tuple<Row, Path, DWORD>> {};

TEST_P(CommandTable, ForwardsReportsAndLogs)
{
    const auto& [row, path, timeout] = GetParam();
    const ScopedCommandTimeout timeoutSetting(timeout);
    IVelaServerAccess* object = NewObject();
    // An earlier command leaves "earlier" in strError and 9 in m_nResult.
    testagent::Outcome earlier;
    earlier.result = kEarlierResult;
    earlier.errorText = L"earlier";
    testagent::SetOutcome(Dns, "CreateAEntry", earlier);
    short ignored = 0;
    ASSERT_EQ(S_OK, object->CreateAEntry(h, a1, a2, a3, &ignored));
    testagent::Reset();
    Activator::Get() = {};
    const size_t before = LogLines().size();

    const bool late = path == Path::Late, reached = path != Path::Unreachable && !late,
               failed = path == Path::RemoteFailure || !reached;
    testagent::Outcome outcome;
    outcome.result = 5;
    outcome.text = L"zone text";
    outcome.size = 2.5;
    outcome.count = 42;
    outcome.userList = L"u1;u2";
    if (path != Path::Success) outcome.errorText = L"zone missing";
    if (late) outcome.stallMs = testagent::kUntilReleased;
    testagent::SetOutcome(row.agentClass, row.member, outcome);
    if (path == Path::RemoteFailure) { // on the operation whose HRESULT the member tests
        outcome.hr = E_ACCESSDENIED;
        testagent::SetOutcome(row.agentClass, row.err == Err::ErrHr ? "get_strError" : row.member, outcome);
    }
    if (path == Path::Unreachable) Activator::Get().fail = kUnreachable;

    Outs outs;
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_EQ(S_OK, row.invoke(object, outs));
    if (late) {
        EXPECT_EQ(1, testagent::Stalled()) << "the call waited for the agent";
        EXPECT_GE(::GetTickCount64() - start, 900u) << "the call did not wait for its time-out";
        // The agent answers now, with values that must reach nobody.
        testagent::ReleaseStalls();
        ASSERT_TRUE(LateExchangesEnd());
    }

    ASSERT_EQ(1u, Activator::Get().seen.size());
    const Activation& activation = Activator::Get().seen[0];
    EXPECT_EQ(AgentGuid(row.agentClass, 1), activation.clsid);
    EXPECT_EQ(AgentGuid(row.agentClass, 2), activation.iid);
    EXPECT_EQ(21u, activation.context);
    EXPECT_EQ(L"host1", activation.host);
    EXPECT_EQ(0, testagent::LiveObjects()) << "the agent object was not released";

    // The error text is fetched unless the member sets "Success"; a failing main call ends
    // the exchange unless the member tests it only after fetching.
    // A late exchange runs on to its end, unseen.
    std::string calls = path != Path::Unreachable ? row.calls : "";
    if (path != Path::Unreachable && row.err != Err::Success &&
        (path != Path::RemoteFailure || row.err == Err::Late || row.err == Err::ErrHr))
        calls += "; get_strError(&out)";
    EXPECT_EQ(calls, Journal());
    // Without a time-out the agent is called on the caller's thread, with one on another.
    for (const testagent::Call& call : testagent::Calls())
        EXPECT_EQ(timeout == 0, call.thread == ::GetCurrentThreadId()) << call.ToString();

    const std::string error = ErrorText(path == Path::RemoteFailure ? E_ACCESSDENIED
                                        : late                      ? RPC_E_TIMEOUT
                                                                    : kUnreachable);
    Seen expected{kPoisonShort, kPoisonLong, kPoisonDouble, "poison", "poison"};
    auto& [s, l, d, b, v] = expected;
    // clang-format off
    switch (row.out) {
    case Out::One:    s = failed ? 0 : 1; break;
    case Out::Result: s = failed ? 0 : 5; break;
    case Out::Kept:   s = reached ? 5 : kEarlierResult; break;
    case Out::Text:   b = failed ? error : "zone text"; break;
    case Out::HandS:  s = reached ? 5 : s; break;
    case Out::HandL:  l = reached ? 42 : l; break;
    case Out::HandD:  d = reached ? 2.5 : d; break;
    case Out::HandB:  b = reached ? "zone text" : b; break;
    case Out::HandV:  v = reached ? "u1;u2" : v; break;
    case Out::None:   break;
    }
    // clang-format on
    EXPECT_EQ(expected, Read(outs));

    const std::string remote = path == Path::RemoteText ? "zone missing" : "";
    const std::string strError = row.err == Err::Local     ? "earlier"
                                 : failed                  ? error
                                 : row.err == Err::Success ? "Success"
                                                           : remote;
    EXPECT_EQ(strError, StrError(object));

    std::vector<std::string> records;
    if (row.action) {
        const auto result = [](const std::string& shown) {
            return shown.empty() ? "Operation Successful" : "Operation Failed : Error is '" + shown + "'";
        };
        const std::string shown = failed ? error : row.err == Err::Success ? "" : remote;
        const std::string action = row.action[0] == '='
                                       ? row.action + 1
                                       : std::string("Command for Remote Server 'host1' : ") + row.action;
        records.push_back(action + "," + result(shown) + ",");
        // The late answer is recorded as the same answer in time would have been.
        if (late)
            records.push_back(action + ",After the time-out : " +
                              result(row.err == Err::Success ? "" : "zone missing") + ",");
    }
    EXPECT_EQ(records, RecordsSince(before));

    // What m_nResult holds shows in SetDNSFile's out-value when its host is unreachable.
    Activator::Get().fail = kUnreachable;
    short result = kPoisonShort;
    object->SetDNSFile(h, a1, a2, &result);
    if (late) {
        EXPECT_EQ(kEarlierResult, result) << "the late answer reached the object";
    }
}

std::string Name(const ::testing::TestParamInfo<std::tuple<Row, Path, DWORD>>& info)
{
    static const char* const paths[] = {"Success", "RemoteText", "RemoteFailure", "Unreachable", "Late"};
    const auto& [row, path, timeout] = info.param;
    return std::to_string(info.index) + "_" + row.member + "_" + paths[static_cast<int>(path)] +
           (timeout ? "_within" + std::to_string(timeout) + "s" : "");
}

INSTANTIATE_TEST_SUITE_P(Commands, CommandTable,
                         ::testing::Combine(::testing::ValuesIn(kRows),
                                            ::testing::Values(Path::Success, Path::RemoteText,
                                                              Path::RemoteFailure, Path::Unreachable),
                                            ::testing::Values(0, 1)),
                         Name);

// One member of each kind: its out-value the agent's result, 1, kept, a text, call-local,
// or written by the agent; strError from the agent, "Success" or untouched; no record.
std::vector<Row> OneOfEachKind()
{
    std::vector<Row> rows;
    for (const char* member : {"CreateAEntry", "SetupSecDNS", "SetDNSFile", "GetDNSFile", "DeleteMailDomain",
                               "BackupMailDomain", "GetMEUsersList", "Restart"})
        rows.push_back(*std::find_if(std::begin(kRows), std::end(kRows),
                                     [&](const Row& row) { return row.member == std::string(member); }));
    return rows;
}

INSTANTIATE_TEST_SUITE_P(LateAgent, CommandTable,
                         ::testing::Combine(::testing::ValuesIn(OneOfEachKind()),
                                            ::testing::Values(Path::Late), ::testing::Values(1)),
                         Name);

} // namespace
} // namespace vela::test
