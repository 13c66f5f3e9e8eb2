// The object's stored settings as the agent receives them, and the corners of the command
// contract that a row of the command table cannot show.
#include "AccessFixture.h"
#include "remote/Text.h"

#include <gmock/gmock.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <new>
#include <tuple>

// Every operator new of this program, the component's and the agent's, counts down: the one
// that finds the count at 0 fails. A negative count fails none.
static std::atomic<long> g_newsBeforeFailure{-1};
void* operator new(std::size_t size)
{
    if (g_newsBeforeFailure.fetch_sub(1) == 0) throw std::bad_alloc();
    if (void* p = ::HeapAlloc(::GetProcessHeap(), 0, size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    if (p) ::HeapFree(::GetProcessHeap(), 0, p);
}
void operator delete(void* p, std::size_t) noexcept
{
    operator delete(p);
}

namespace vela::test {
namespace {

using namespace std::string_literals;

void SetServersValue(const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kServersKey, 0, nullptr, 0, KEY_WRITE,
                                               nullptr, &key, nullptr));
    const unique_hkey owned(key);
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size));
}
void Servers(const char* name, DWORD value)
{
    SetServersValue(name, REG_DWORD, &value, sizeof value);
}
void Servers(const char* name, const char* text)
{
    SetServersValue(name, REG_SZ, text, static_cast<DWORD>(std::strlen(text) + 1));
}

short g_out;
void Alter(IVelaServerAccess* o)
{
    o->put_ReverseZoneIP(Text(L"stored")); // not this member's: the address comes from the registry
    o->AlterCompleteDNSEntries(Text(L"h"), Text(L"d"), nullptr, nullptr, nullptr, &g_out);
}
void Bind(IVelaServerAccess* o)
{
    o->CBindDNSDomain(Text(L"h"), Text(L"d"), Text(L"ip"), &g_out);
}
void DeletePrimary(IVelaServerAccess* o)
{
    o->DeletePrimaryDomain(Text(L"h"), Text(L"d"), &g_out);
}
void Mail(IVelaServerAccess* o, const wchar_t* type)
{
    o->put_lMaxMailusers(40);
    o->put_imail_databasetype(7);
    o->put_imail_domainAlias(Text(L"al"));
    o->put_imail_domainAlias(Text(L"ias"));
    o->put_mailmax_domainAlias(Text(L"unused"));
    o->put_mailmax_dbPath(Text(L"unused"));
    o->put_SmarterMailAccountLimit(12);
    o->MailSetup(Text(L"h"), Text(type), Text(L"shop"), Text(L"u"), Text(L"p"), Text(L"ip"), &g_out);
}

struct Forwarded {
    const char* what;
    void (*run)(IVelaServerAccess*);
    std::string calls;
};

// clang-format off
#define RUN(...) [](IVelaServerAccess* o) { __VA_ARGS__; }
#define ALTER_CALL(soa, ns1, ns2, mail) "AlterCompleteDNSEntries(\"d\", null, null, null, " soa ", " ns1 ", " ns2 ", " mail ", &out); get_strError(&out)"
#define MAIL_CALL(type) "MailSetup(" type ", \"shop\", \"u\", \"p\", \"ip\", &out); get_strError(&out)"

const Forwarded kForwarded[] = {
    {"appending puts; a null appends nothing; soaEnabled 5 stores 0", RUN(o->put_resellerns1(Text(L"a")); o->put_resellerns1(nullptr); o->put_resellerns1(Text(L"b")); o->put_resellersoamail(Text(L"m")); o->put_resellersoaEnabled(5); Bind(o)), R"(CBindDNSDomain("d", "ip", 0, "ab", "", "m", &out))"},
    {"soaEnabled 1 stores 1", RUN(o->put_resellersoaEnabled(1); o->put_resellerns2(Text(L"x")); o->put_resellerns2(Text(L"y")); Bind(o)), R"(CBindDNSDomain("d", "ip", 1, "", "xy", "", &out))"},
    {"no Servers key", RUN(o->put_NamedBasedDomain(3); o->put_resellersoaEnabled(1); o->put_resellerns1(Text(L"n")); o->put_resellersoamail(Text(L"m1")); o->put_resellersoamail(Text(L"m2")); Alter(o)), "put_NamedBasedDomain(3); " ALTER_CALL("1", "\"n\"", "\"\"", "\"m1m2\"")},
    {"SecondaryDNS 1", RUN(Servers("SecondaryDNS", 1); Servers("SecDNSServerIP", "192.0.2.7"); Alter(o)), R"(put_NamedBasedDomain(0); put_ReverseZoneIP("192.0.2.7"); )" ALTER_CALL("0", "\"\"", "\"\"", "\"\"")},
    {"SecondaryDNS 1 without an address", RUN(Servers("SecondaryDNS", 1); Alter(o)), R"(put_NamedBasedDomain(0); put_ReverseZoneIP(""); )" ALTER_CALL("0", "\"\"", "\"\"", "\"\"")},
    {"SecondaryDNS 2", RUN(Servers("SecondaryDNS", 2); Servers("SecDNSServerIP", "192.0.2.7"); Alter(o)), "put_NamedBasedDomain(0); " ALTER_CALL("0", "\"\"", "\"\"", "\"\"")},
    {"SecondaryDNS \"1\" as text", RUN(Servers("SecondaryDNS", "1"); Servers("SecDNSServerIP", "192.0.2.7"); Alter(o)), "put_NamedBasedDomain(0); " ALTER_CALL("0", "\"\"", "\"\"", "\"\"")},
    {"ReverseZoneIP replaces", RUN(o->put_ReverseZoneIP(Text(L"first")); o->put_ReverseZoneIP(Text(L"second")); DeletePrimary(o)), R"(put_ReverseZoneIP("second"); DeletePrimaryDomain("d", &out); get_strError(&out))"},
    {"ReverseZoneIP null", RUN(o->put_ReverseZoneIP(Text(L"first")); o->put_ReverseZoneIP(nullptr); DeletePrimary(o)), R"(put_ReverseZoneIP(null); DeletePrimaryDomain("d", &out); get_strError(&out))"},
    {"IMail in lower case", RUN(Mail(o, L"imail server")), R"(put_lMaxMailusers(40); put_imail_databasetype(1); put_imail_domainAlias("alias"); )" MAIL_CALL("\"imail server\"")},
    {"MailMax", RUN(Mail(o, L"MailMax Server")), R"(put_lMaxMailusers(40); put_mailmax_domainAlias("alias"); put_mailmax_dbPath("c:\mailmax\shop"); )" MAIL_CALL("\"MailMax Server\"")},
    {"SmarterMail in upper case", RUN(Mail(o, L"SMARTERMAIL SERVER")), "put_lMaxMailusers(40); put_SmarterMailAccountLimit(12); " MAIL_CALL("\"SMARTERMAIL SERVER\"")},
    {"IMail with a trailing blank", RUN(Mail(o, L"IMail Server ")), "put_lMaxMailusers(40); " MAIL_CALL("\"IMail Server \"")},
    {"null server type", RUN(Mail(o, nullptr)), "put_lMaxMailusers(40); " MAIL_CALL("\"\"")},
    {"widened texts pass the ANSI code page", RUN(o->AddUser(Text(L"h"), Text(std::wstring(L"t\0u", 3)), Text(L"caf\x00e9"), Text(L"\x4e2d"), nullptr, &g_out)), "AddUser(\"t\", \"caf\xc3\xa9\", \"?\", \"\", &out); get_strError(&out)"},
    {"no look-alike for a character the code page lacks", RUN(o->DeleteMailDomain(Text(L"h"), Text(L"IMail Server"), Text(L"ex\x0101mple.org"), &g_out)), R"(DeleteMailDomain("IMail Server", "ex?mple.org", &out); get_strError(&out))"},
    {"texts as received", RUN(double size; o->GetMailFolderSize(Text(L"h"), nullptr, Text(std::wstring(L"t\0u", 3)), &size)), "GetMailFolderSize(null, \"t\0u\", &out); get_strError(&out)"s},
};
// clang-format on
#undef RUN

TEST_F(AccessTest, StoredSettingsAndTextsReachTheAgent)
{
    for (const Forwarded& c : kForwarded) {
        ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kServersKey);
        testagent::Reset();
        c.run(NewObject());
        EXPECT_EQ(c.calls, Journal()) << c.what;
    }
}

// A single-threaded caller serves calls to its objects while it waits for an activation, so
// a page may change a setting of the very object whose command is under way. The agent still
// receives the settings as they stood when the command began, never a freed text (the puts
// free the old ones, and the texts allocated next take their place).
TEST_F(AccessTest, SettingsChangedDuringTheActivationReachTheAgentAsTheyStood)
{
    for (const DWORD timeout : {0u, 1u}) {
        SCOPED_TRACE(timeout);
        const ScopedCommandTimeout timeoutSetting(timeout);
        const struct {
            void (*run)(IVelaServerAccess*);
            std::string calls;
        } rows[] = {
            {[](IVelaServerAccess* o) { Mail(o, L"IMail Server"); },
             R"(put_lMaxMailusers(40); put_imail_databasetype(1); put_imail_domainAlias("alias"); )" MAIL_CALL(
                 "\"IMail Server\"")},
            {[](IVelaServerAccess* o) {
                 o->put_ReverseZoneIP(Text(L"first"));
                 DeletePrimary(o);
             },
             R"(put_ReverseZoneIP("first"); DeletePrimaryDomain("d", &out); get_strError(&out))"},
            {[](IVelaServerAccess* o) {
                 o->put_resellerns1(Text(L"n"));
                 o->put_resellersoamail(Text(L"m1m2"));
                 Alter(o);
             },
             "put_NamedBasedDomain(0); " ALTER_CALL("0", "\"n\"", "\"\"", "\"m1m2\"")},
        };
        for (const auto& row : rows) {
            testagent::Reset();
            IVelaServerAccess* o = NewObject();
            std::vector<unique_bstr> reused;
            Activator::Get().during = [o, &reused] {
                o->put_imail_domainAlias(Text(L"-later"));
                o->put_ReverseZoneIP(Text(L"later"));
                o->put_resellerns1(Text(L"-later"));
                o->put_resellersoamail(Text(L"-later"));
                for (const wchar_t* text : {L"#", L"##", L"#####", L"####", L"######", L"#####"})
                    reused.emplace_back(::SysAllocString(text));
            };
            row.run(o);
            Activator::Get().during = nullptr;
            EXPECT_EQ(row.calls, Journal());
        }
    }
}

#undef ALTER_CALL
#undef MAIL_CALL

TEST_F(AccessTest, FreshObjectPutsAndReporting)
{
    IVelaServerAccess* o = NewObject();
    EXPECT_EQ("", StrError(o));
    const Text t(L"t");
    for (const HRESULT hr :
         {o->put_imail_databasetype(1), o->put_imail_domainAlias(t), o->put_mailmax_dbPath(t),
          o->put_mailmax_domainAlias(t), o->put_resellersoaEnabled(1), o->put_resellerns1(t),
          o->put_resellerns2(t), o->put_resellersoamail(t), o->put_lMaxMailusers(1),
          o->put_NamedBasedDomain(1), o->put_ReverseZoneIP(t), o->put_SmarterMailAccountLimit(1)})
        EXPECT_EQ(S_OK, hr);
    short value = kPoisonShort;
    EXPECT_EQ(S_OK, o->Reporting(nullptr, -1, &value));
    EXPECT_EQ(1, value);
    EXPECT_EQ("", Journal());
    EXPECT_EQ(std::vector<std::string>{}, RecordsSince(1)) << "neither puts nor Reporting log";
}

TEST_F(AccessTest, OutcomesBeyondTheTable)
{
    IVelaServerAccess* object = NewObject();
    // DeletePrimaryDomain judges by get_strError's HRESULT alone.
    testagent::Outcome failing;
    failing.hr = E_FAIL;
    failing.result = 4;
    testagent::SetOutcome("DnsAdmin", "DeletePrimaryDomain", failing);
    short out = kPoisonShort;
    object->DeletePrimaryDomain(Text(L"h"), Text(std::wstring(L"z\0y", 3)),
                                &out); // the action text ends at a NUL
    EXPECT_EQ(4, out);
    EXPECT_EQ("", StrError(object));
    EXPECT_EQ(
        std::vector<std::string>{
            "Command for Remote Server 'h' : Delete Primary Domain 'z',Operation Successful,"},
        RecordsSince(1));

    // A file the agent does not return is an empty text, not a null one.
    BSTR file = PoisonText();
    object->GetDNSFile(Text(L"h"), Text(L"f"), &file);
    ASSERT_NE(PoisonText(), file);
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(0u, ::SysStringLen(file));
    ::SysFreeString(file);
    EXPECT_EQ("Success", StrError(object));

    // An agent that refuses the interface fails the call.
    Activator::Get().refuse = E_NOINTERFACE;
    out = kPoisonShort;
    object->ReloadSecDNS(Text(L"h"), Text(L"d"), 1, &out);
    EXPECT_EQ(0, out);
    EXPECT_THAT(StrError(object), ::testing::EndsWith("[80004002]"));
}

// Out of memory on the way ends a member with E_OUTOFMEMORY; an out-value of the component's
// own is then null, never the caller's old value nor freed memory, and ReverseZoneIP keeps
// the text it had.
int g_allocations; // left before allocation fails
BSTR Limited(const OLECHAR* text, UINT length)
{
    return g_allocations-- > 0 ? ::SysAllocStringLen(text, length) : nullptr;
}

TEST_F(AccessTest, OutOfMemoryLeavesNullOrLiveOutValues)
{
    const TextAllocator previous = SetTextAllocator(&Limited);
    IVelaServerAccess* object = NewObject();
    g_allocations = 1;
    object->put_ReverseZoneIP(Text(L"kept"));
    EXPECT_EQ(S_OK, object->put_ReverseZoneIP(Text(L"lost")));
    BSTR text = PoisonText();
    EXPECT_EQ(E_OUTOFMEMORY, object->get_strError(&text));
    EXPECT_EQ(nullptr, text);
    g_allocations = 100;
    object->DeletePrimaryDomain(Text(L"h"), Text(L"d"), &g_out);
    EXPECT_EQ(R"(put_ReverseZoneIP("kept"); DeletePrimaryDomain("d", &out); get_strError(&out))", Journal());

    // GetDNSFile's allocations: the host's copy, then the file's copy or the error text.
    const struct {
        int allowed;
        HRESULT agent;
    } rows[] = {{1, S_OK}, {1, E_FAIL}, {1, HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE)}};
    for (const auto& row : rows) {
        testagent::Outcome outcome;
        outcome.hr = row.agent;
        outcome.text = L"zone";
        testagent::SetOutcome("DnsAdmin", "GetDNSFile", outcome);
        Activator::Get().fail = row.agent == E_FAIL ? S_OK : row.agent;
        g_allocations = row.allowed;
        text = PoisonText();
        EXPECT_EQ(E_OUTOFMEMORY, object->GetDNSFile(Text(L"h"), Text(L"f"), &text)) << row.allowed;
        EXPECT_EQ(nullptr, text) << row.allowed;
    }

    // Members whose exchange makes texts of its own (copies of stored settings, texts
    // through the code page), with and without a time-out: wherever memory runs out, the
    // member fails or reports it, and the host process lives on.
    Activator::Get().fail = S_OK;
    for (const DWORD timeout : {0u, 5u}) {
        const ScopedCommandTimeout timeoutSetting(timeout);
        IVelaServerAccess* timed = NewObject();
        const std::function<HRESULT(short*)> members[] = {
            [&](short* out) {
                return timed->AlterCompleteDNSEntries(Text(L"h"), Text(L"d"), nullptr, nullptr, nullptr, out);
            },
            [&](short* out) { return timed->CBindDNSDomain(Text(L"h"), Text(L"d"), Text(L"ip"), out); },
            [&](short* out) { return timed->DeleteMailDomain(Text(L"h"), Text(L"t"), Text(L"d"), out); },
            [&](short* out) {
                return timed->AddUser(Text(L"h"), Text(L"t"), Text(L"d"), Text(L"u"), Text(L"p"), out);
            },
        };
        for (const auto& member : members) {
            SCOPED_TRACE(testing::Message() << "timeout " << timeout << ", member " << &member - members);
            int failed = 0;
            for (int allowed = 0; allowed < 6; ++allowed) {
                g_allocations = allowed;
                short out = kPoisonShort;
                const HRESULT hr = member(&out);
                EXPECT_TRUE(hr == S_OK || hr == E_OUTOFMEMORY) << hr;
                EXPECT_EQ(0, testagent::LiveObjects());
                failed += hr == E_OUTOFMEMORY;
            }
            EXPECT_GT(failed, 0);
        }
    }
    SetTextAllocator(previous);
}

// Out of memory at any allocation of a member whose out-value the agent writes: E_OUTOFMEMORY
// then hands back nothing of the agent's (a text nobody would free, an object kept alive),
// and leaves what the agent did not write as the caller had it.
TEST_F(AccessTest, OutOfMemoryEmptiesWhatTheAgentWrote)
{
    testagent::Outcome outcome;
    outcome.text = L"backup";
    outcome.userList = L"u1";
    testagent::SetOutcome("ServerAdmin", "BackupMailDomain", outcome);
    testagent::SetOutcome("ServerAdmin", "GetMEUsersList", outcome);
    IVelaServerAccess* object = NewObject();
    const Text host(L"h"), type(L"IMail Server"), domain(L"d");
    int emptied[2] = {};              // per member
    Activator::Get().seen.reserve(2); // the stand-in for activation must not fail to record
    for (long failing = 0;; ++failing) {
        Activator::Get().seen.clear();
        BSTR text = PoisonText();
        VARIANT list;
        list.vt = VT_I4, list.lVal = kPoisonLong;
        g_newsBeforeFailure = failing;
        const HRESULT textHr = object->BackupMailDomain(host, type, domain, &text);
        const HRESULT listHr = object->GetMEUsersList(host, domain, &list);
        const HRESULT noOutHr = object->GetMEUsersList(host, domain, nullptr);
        const bool failedOne = g_newsBeforeFailure.exchange(-1) < 0;
        SCOPED_TRACE(failing);
        EXPECT_EQ(0, testagent::LiveObjects());
        EXPECT_TRUE(noOutHr == S_OK || noOutHr == E_OUTOFMEMORY) << noOutHr;
        const std::string textSeen = text == PoisonText() ? "poison" : Ascii(text);
        const std::string listSeen = list.vt == VT_I4 && list.lVal == kPoisonLong ? "poison"
                                     : list.vt == VT_BSTR                         ? Ascii(list.bstrVal)
                                                          : "vt " + std::to_string(list.vt);
        if (text != PoisonText()) ::SysFreeString(text);
        ::VariantClear(&list);
        const std::tuple<HRESULT, std::string, const char*, const char*> results[] = {
            {textHr, textSeen, "backup", "<null>"}, {listHr, listSeen, "u1", "vt 0"}};
        for (int i = 0; i < 2; ++i) {
            const auto& [hr, seen, value, empty] = results[i];
            if (hr == E_OUTOFMEMORY) {
                EXPECT_TRUE(seen == "poison" || seen == empty) << seen;
                emptied[i] += seen == empty;
            } else {
                EXPECT_EQ(S_OK, hr);
                EXPECT_TRUE(seen == "poison" || seen == value) << seen;
            }
        }
        if (!failedOne) break;
    }
    EXPECT_GT(emptied[0], 0) << "no allocation failed after the agent wrote a text";
    EXPECT_GT(emptied[1], 0) << "no allocation failed after the agent wrote a VARIANT";
}

// The host goes to activation unchanged, as received or through the ANSI code page.
TEST_F(AccessTest, HostNamesReachActivation)
{
    IVelaServerAccess* object = NewObject();
    const struct {
        const wchar_t* host;
        bool named;
        const wchar_t *asReceived, *widened;
    } cases[] = {{nullptr, false, L"", L""},
                 {L"", false, L"", L""},
                 {L" spaced host ", true, L" spaced host ", L" spaced host "},
                 {L"\x4e2d", true, L"\x4e2d", L"?"}};
    for (const auto& c : cases) {
        Activator::Get().seen.clear();
        object->CreateAEntry(Text(c.host), nullptr, nullptr, nullptr, &g_out);
        object->TestDComCommunication(Text(c.host), &g_out);
        ASSERT_EQ(2u, Activator::Get().seen.size());
        EXPECT_EQ(c.named, Activator::Get().seen[0].named);
        EXPECT_EQ(c.named, Activator::Get().seen[1].named);
        EXPECT_EQ(c.asReceived, Activator::Get().seen[0].host);
        EXPECT_EQ(c.widened, Activator::Get().seen[1].host);
    }
}

// Null, huge, embedded-NUL and non-ANSI texts with null out-pointers, reachable or not:
// every member answers S_OK, forwards, logs once and releases the agent.
TEST_F(AccessTest, BadInputNeverCrashes)
{
    IVelaServerAccess* object = NewObject();
    const Text texts[] = {Text(nullptr), Text(std::wstring(1 << 16, L'x')), Text(std::wstring(L"ab\0cd", 5)),
                          Text(L"\x0416\x4e2d\x0394")};
    for (const HRESULT activation : {S_OK, HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE)})
        for (const Text& t : texts) {
            Activator::Get() = {};
            Activator::Get().fail = activation;
            const size_t before = LogLines().size();
            EXPECT_EQ(S_OK, object->SetupSecDNS(t, t, t, t, 1, nullptr));
            EXPECT_EQ(S_OK, object->MailSetup(t, t, t, t, t, t, nullptr));
            EXPECT_EQ(S_OK, object->GetDNSFile(t, t, nullptr));
            EXPECT_EQ(S_OK, object->ControlService(t, t, t, nullptr));
            EXPECT_EQ(S_OK, object->ResetMailBoxes(t, t, t, 1, nullptr));
            EXPECT_EQ(S_OK, object->GetMEUsersList(t, t, nullptr));
            EXPECT_EQ(S_OK, object->get_strError(nullptr));
            EXPECT_EQ(S_OK, object->put_resellerns1(t));
            EXPECT_EQ(S_OK, object->Reporting(t, 1, nullptr));
            EXPECT_EQ(6u, Activator::Get().seen.size());
            EXPECT_EQ(before + 6, LogLines().size());
            EXPECT_EQ(0, testagent::LiveObjects());
        }
}

} // namespace
} // namespace vela::test
