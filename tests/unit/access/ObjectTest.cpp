// The object's own state and the corners of the command contract that one row of the
// command table cannot show: stored settings reaching the agent, the members that test
// a different HRESULT, the flag-chosen action texts, and bad input.
#include "AccessFixture.h"

namespace vela::test {
namespace {

using testagent::Outcome;

class ObjectTest : public AccessTest {
protected:
    void SetServersValue(const char* name, DWORD type, const void* data, DWORD size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kServersKey, 0, nullptr, 0, KEY_WRITE,
                                                   nullptr, &key, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size));
        ::RegCloseKey(key);
    }
    void ClearServersKey() { ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kServersKey); }

    std::vector<std::string> CallsOf(const std::string& operation)
    {
        std::vector<std::string> hits;
        for (const std::string& call : Journal())
            if (call.find("." + operation + "(") != std::string::npos) hits.push_back(call);
        return hits;
    }
};

TEST_F(ObjectTest, FreshObjectReportsEmptyErrorAndAnswersReporting)
{
    IVelaServerAccess* object = NewObject();
    EXPECT_EQ("", StrError(object));
    short value = static_cast<short>(0xbeef);
    EXPECT_EQ(S_OK, object->Reporting(nullptr, -1, &value));
    EXPECT_EQ(1, value);
    EXPECT_EQ(S_OK, object->Reporting(Text(L"x"), 7, nullptr));
    EXPECT_TRUE(Journal().empty());
    EXPECT_EQ(1u, LogLines().size()) << "a created object leaves only the header";
}

TEST_F(ObjectTest, AppendingPutsRunTogetherAndReplacingPutReplaces)
{
    IVelaServerAccess* object = NewObject();
    object->put_resellerns1(Text(L"a"));
    object->put_resellerns1(nullptr);
    object->put_resellerns1(Text(L"b"));
    object->put_resellersoamail(Text(L"m"));
    object->put_resellersoaEnabled(5);
    object->put_ReverseZoneIP(Text(L"first"));
    object->put_ReverseZoneIP(Text(L"second"));
    short out = 0;
    object->CBindDNSDomain(Text(L"h"), Text(L"d"), Text(L"ip"), &out);
    object->DeletePrimaryDomain(Text(L"h"), Text(L"d"), &out);
    EXPECT_EQ((std::vector<std::string>{R"(BindDnsAdmin.CBindDNSDomain("d", "ip", 0, "ab", "", "m", &out))"}),
              CallsOf("CBindDNSDomain"));
    EXPECT_EQ((std::vector<std::string>{R"(DnsAdmin.put_ReverseZoneIP("second"))"}),
              CallsOf("put_ReverseZoneIP"));

    testagent::Reset();
    object->put_resellersoaEnabled(1);
    object->put_ReverseZoneIP(nullptr);
    object->CBindDNSDomain(Text(L"h"), Text(L"d"), Text(L"ip"), &out);
    object->DeletePrimaryDomain(Text(L"h"), Text(L"d"), &out);
    EXPECT_EQ((std::vector<std::string>{R"(BindDnsAdmin.CBindDNSDomain("d", "ip", 1, "ab", "", "m", &out))"}),
              CallsOf("CBindDNSDomain"));
    EXPECT_EQ((std::vector<std::string>{"DnsAdmin.put_ReverseZoneIP(null)"}), CallsOf("put_ReverseZoneIP"));
}

TEST_F(ObjectTest, MailSetupSettingsFollowTheServerType)
{
    IVelaServerAccess* object = NewObject();
    object->put_lMaxMailusers(40);
    object->put_imail_databasetype(7);
    object->put_imail_domainAlias(Text(L"al"));
    object->put_imail_domainAlias(Text(L"ias"));
    object->put_mailmax_domainAlias(Text(L"unused"));
    object->put_mailmax_dbPath(Text(L"unused"));
    object->put_SmarterMailAccountLimit(12);
    const struct {
        const wchar_t* type;
        std::vector<std::string> settings;
    } cases[] = {
        {L"imail server",
         {"put_lMaxMailusers(40)", "put_imail_databasetype(1)", R"(put_imail_domainAlias("alias"))"}},
        {L"MailMax Server",
         {"put_lMaxMailusers(40)", R"(put_mailmax_domainAlias("alias"))",
          R"(put_mailmax_dbPath("c:\mailmax\shop"))"}},
        {L"SMARTERMAIL SERVER", {"put_lMaxMailusers(40)", "put_SmarterMailAccountLimit(12)"}},
        {L"IMail Server ", {"put_lMaxMailusers(40)"}},
        {L"", {"put_lMaxMailusers(40)"}},
    };
    for (const auto& c : cases) {
        testagent::Reset();
        short out = 0;
        object->MailSetup(Text(L"h"), Text(c.type), Text(L"shop"), Text(L"u"), Text(L"p"), Text(L"ip"), &out);
        std::vector<std::string> calls = Journal();
        ASSERT_EQ(c.settings.size() + 2, calls.size()) << testagent::Journal();
        for (size_t i = 0; i < c.settings.size(); ++i)
            EXPECT_EQ("ServerAdmin." + c.settings[i], calls[i]);
        EXPECT_EQ(1, out);
    }

    // A null server type goes on as an empty text, while the pass-through members hand it on null.
    testagent::Reset();
    short out = 0;
    double size = 0;
    object->MailSetup(Text(L"h"), nullptr, nullptr, nullptr, nullptr, nullptr, &out);
    object->GetMailFolderSize(Text(L"h"), nullptr, nullptr, &size);
    EXPECT_EQ((std::vector<std::string>{R"(ServerAdmin.MailSetup("", "", "", "", "", &out))"}),
              CallsOf("MailSetup"));
    EXPECT_EQ((std::vector<std::string>{"ServerAdmin.GetMailFolderSize(null, null, &out)"}),
              CallsOf("GetMailFolderSize"));
}

TEST_F(ObjectTest, RemoteErrorTextWithSuccessfulCallKeepsTheOutValue)
{
    IVelaServerAccess* object = NewObject();
    Outcome outcome;
    outcome.result = 0;
    outcome.errorText = L"zone missing";
    testagent::SetOutcome("ServerAdmin", "SetupSecDNS", outcome);
    testagent::SetOutcome("ServerAdmin", "MailSetup", outcome);
    testagent::SetOutcome("DnsAdmin", "AlterCompleteDNSEntries", outcome);
    short out = 0;
    object->SetupSecDNS(Text(L"H"), Text(L"D"), Text(L"m"), Text(L"any"), 1, &out);
    EXPECT_EQ(1, out);
    EXPECT_EQ("zone missing", StrError(object));
    EXPECT_EQ(
        "Command for Remote Server 'H' : Set Secondary DNS for Domain 'D',Operation Failed : Error is 'zone "
        "missing',",
        LastRecord());

    object->AlterCompleteDNSEntries(Text(L"H"), Text(L"D"), nullptr, nullptr, nullptr, &out);
    EXPECT_EQ(1, out);

    // MailSetup keeps its error text for the log alone.
    testagent::SetOutcome("DnsAdmin", "AlterCompleteDNSEntries", Outcome{});
    object->AlterCompleteDNSEntries(Text(L"H"), Text(L"D"), nullptr, nullptr, nullptr, &out);
    object->MailSetup(Text(L"H"), Text(L"t"), Text(L"D"), nullptr, nullptr, nullptr, &out);
    EXPECT_EQ(1, out);
    EXPECT_EQ("", StrError(object));
    EXPECT_EQ(
        "Command for Remote Server 'H' : Mail Setup for Domain 'D' : Mail Server is 't',Operation Failed : "
        "Error is 'zone missing',",
        LastRecord());
}

TEST_F(ObjectTest, DeletePrimaryDomainIgnoresItsMainCallsHResult)
{
    IVelaServerAccess* object = NewObject();
    Outcome failing;
    failing.hr = E_FAIL;
    failing.result = 4;
    testagent::SetOutcome("DnsAdmin", "DeletePrimaryDomain", failing);
    short out = 0;
    object->DeletePrimaryDomain(Text(L"h"), Text(L"zone"), &out);
    EXPECT_EQ(4, out);
    EXPECT_EQ("", StrError(object));
    EXPECT_EQ("Command for Remote Server 'h' : Delete Primary Domain 'zone',Operation Successful,",
              LastRecord());
}

TEST_F(ObjectTest, GetDNSFileWithoutTextGivesAnEmptyString)
{
    IVelaServerAccess* object = NewObject();
    BSTR text = nullptr;
    object->GetDNSFile(Text(L"h"), Text(L"f"), &text);
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(0u, ::SysStringLen(text));
    ::SysFreeString(text);
    EXPECT_EQ("Success", StrError(object));
}

TEST_F(ObjectTest, AlterCompleteDNSEntriesHandsOnTheSecondaryDnsServer)
{
    const auto reversePuts = [&](IVelaServerAccess* object) {
        testagent::Reset();
        short out = 0;
        object->AlterCompleteDNSEntries(Text(L"h"), Text(L"d"), nullptr, nullptr, nullptr, &out);
        return CallsOf("put_ReverseZoneIP");
    };
    IVelaServerAccess* object = NewObject();
    object->put_ReverseZoneIP(Text(L"stored"));

    ClearServersKey();
    EXPECT_TRUE(reversePuts(object).empty());

    const DWORD one = 1, two = 2;
    SetServersValue("SecondaryDNS", REG_DWORD, &one, sizeof one);
    EXPECT_EQ((std::vector<std::string>{R"(DnsAdmin.put_ReverseZoneIP(""))"}), reversePuts(object));
    SetServersValue("SecDNSServerIP", REG_SZ, "192.0.2.7", 10);
    const std::vector<std::string> calls = (reversePuts(object), Journal());
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ("DnsAdmin.put_NamedBasedDomain(0)", calls[0]);
    EXPECT_EQ(R"(DnsAdmin.put_ReverseZoneIP("192.0.2.7"))", calls[1]);
    EXPECT_EQ(0u, calls[2].find("DnsAdmin.AlterCompleteDNSEntries("));

    SetServersValue("SecondaryDNS", REG_DWORD, &two, sizeof two);
    EXPECT_TRUE(reversePuts(object).empty());
    SetServersValue("SecondaryDNS", REG_SZ, "1", 2);
    EXPECT_TRUE(reversePuts(object).empty());
    ClearServersKey();
}

TEST_F(ObjectTest, MailEnableUserFlagChoosesTheActionText)
{
    IVelaServerAccess* object = NewObject();
    const struct {
        short flag;
        const char* action;
    } cases[] = {
        {0, "Command for Remote Server 'h' : Delete MailEnable User 'u' : Domain is 'd'"},
        {1, "Command for Remote Server 'h' : Add MailEnable User 'u' : Domain is 'd'"},
        {2, "Command for Remote Server 'h' : Update MailEnable User 'u' : Domain is 'd'"},
        {3, ""},
        {-1, ""},
    };
    for (const auto& c : cases) {
        testagent::Reset();
        short out = 0;
        object->AddUpdateDeleteMEUser(Text(L"h"), Text(L"u"), Text(L"p"), Text(L"d"), c.flag, &out);
        EXPECT_EQ(std::string(c.action) + ",Operation Successful,", LastRecord());
        EXPECT_EQ("ServerAdmin.AddUpdateDeleteMEUser(\"u\", \"p\", \"d\", " + std::to_string(c.flag) +
                      ", &out)",
                  Journal().at(0));
    }
}

TEST_F(ObjectTest, HostNamesReachActivationAsGiven)
{
    IVelaServerAccess* object = NewObject();
    short out = 0;
    object->CreateAEntry(nullptr, nullptr, nullptr, nullptr, &out);
    object->CreateAEntry(Text(L""), nullptr, nullptr, nullptr, &out);
    object->CreateAEntry(Text(L" spaced host "), nullptr, nullptr, nullptr, &out);
    object->TestDComCommunication(nullptr, &out);
    const std::vector<Activation>& seen = Activations().seen;
    ASSERT_EQ(4u, seen.size());
    EXPECT_TRUE(seen[0].serverNameNull);
    EXPECT_TRUE(seen[1].serverNameNull);
    EXPECT_EQ(L" spaced host ", seen[2].serverName);
    EXPECT_TRUE(seen[3].serverNameNull) << "a widened empty host still asks for this machine";
    EXPECT_TRUE(IsEqualIID(IID_IDnsAdmin, seen[0].iid));
    EXPECT_EQ(1, out);
}

TEST_F(ObjectTest, RefusedInterfaceTakesTheFailurePath)
{
    IVelaServerAccess* object = NewObject();
    Activations().interfaceResult = E_NOINTERFACE;
    short out = static_cast<short>(0xbeef);
    object->ReloadSecDNS(Text(L"h"), Text(L"d"), 1, &out);
    EXPECT_EQ(0, out);
    EXPECT_EQ(ErrorTextFor(E_NOINTERFACE), StrError(object));
}

TEST_F(ObjectTest, RestartLeavesNoTrace)
{
    IVelaServerAccess* object = NewObject();
    Activations().activationResult = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
    const size_t lines = LogLines().size();
    EXPECT_EQ(S_OK, object->Restart(Text(L"unreachable")));
    EXPECT_EQ(lines, LogLines().size());
    EXPECT_EQ("", StrError(object));
}

// Bad input: every text argument null, then huge, with an embedded NUL and with
// characters outside the ANSI code page. Each member still forwards, logs and returns
// S_OK, and a null out-pointer is never written through.
TEST_F(ObjectTest, BadInputNeverCrashes)
{
    IVelaServerAccess* object = NewObject();
    const std::wstring huge(1 << 20, L'x');
    const std::wstring withNul(L"ab\0cd", 5);
    const std::wstring foreign = L"\x0416\x4e2d\x0394";
    const Text texts[] = {Text(nullptr), Text(huge), Text(withNul), Text(foreign)};
    for (const Text& text : texts) {
        testagent::Reset();
        const size_t lines = LogLines().size();
        EXPECT_EQ(S_OK, object->SetupSecDNS(text, text, text, text, 1, nullptr));
        EXPECT_EQ(S_OK, object->MailSetup(text, text, text, text, text, text, nullptr));
        EXPECT_EQ(S_OK, object->GetDNSFile(text, text, nullptr));
        EXPECT_EQ(S_OK, object->ControlService(text, text, text, nullptr));
        EXPECT_EQ(S_OK, object->ResetMailBoxes(text, text, text, 1, nullptr));
        EXPECT_EQ(S_OK, object->GetMEUsersList(text, text, nullptr));
        EXPECT_EQ(S_OK, object->get_strError(nullptr));
        EXPECT_EQ(S_OK, object->put_resellerns1(text));
        EXPECT_EQ(lines + 6, LogLines().size());
        EXPECT_EQ(6, testagent::Activations());
    }
    // Handed-through null out-pointers reach the agent as they came.
    const std::string handedThrough = Journal().at(Journal().size() - 2);
    EXPECT_EQ(0u, handedThrough.find("ServerAdmin.GetMEUsersList(")) << handedThrough;
    EXPECT_NE(std::string::npos, handedThrough.find(", null-out)")) << handedThrough;
}

TEST_F(ObjectTest, TextsPassTheAnsiCodePage)
{
    IVelaServerAccess* object = NewObject();
    short out = 0;
    object->CreateAEntry(Text(L"h"), Text(std::wstring(L"ab\0cd", 5)), nullptr, nullptr, &out);
    EXPECT_EQ("Command for Remote Server 'h' : Create A Record for Domain 'ab',Operation Successful,",
              LastRecord());
    // Widened texts stop at the embedded NUL; texts handed on as received keep it.
    testagent::Reset();
    object->AddUser(Text(L"h"), Text(std::wstring(L"t\0u", 3)), Text(L"caf\x00e9"), Text(L"\x4e2d"), nullptr,
                    &out);
    EXPECT_EQ(R"(ServerAdmin.AddUser("t", "caf)" + std::string("\xc3\xa9") + R"(", "?", "", &out))",
              Journal().at(0));
}

} // namespace
} // namespace vela::test
