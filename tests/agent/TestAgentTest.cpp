// The test agent is what every forwarding test trusts, so its journal, its programmed
// answers and its COM server are checked here against raw COM and registry calls.
#include "TestAgent.h"

#include "common/Unique.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

using namespace vela;
using namespace vela::testagent;

namespace {

const short kPoison = static_cast<short>(0xbeef);
const BSTR kPoisonBstr = reinterpret_cast<BSTR>(static_cast<INT_PTR>(0xdeadbeef));

template <typename T> com_ptr<T> Create(REFCLSID clsid, REFIID iid)
{
    com_ptr<T> object;
    EXPECT_EQ(S_OK, CreateAgent(clsid, iid, object.put_void()));
    return object;
}

std::wstring Text(BSTR b)
{
    return b ? std::wstring(b, ::SysStringLen(b)) : L"<null>";
}

class TestAgent : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override
    {
        EXPECT_EQ(0, LiveObjects());
        Reset();
    }
};

TEST_F(TestAgent, RecordsEveryCallInOrderWithNullAndEmptyTextsApart)
{
    auto dns = Create<IDnsAdmin>(CLSID_DnsAdmin, IID_IDnsAdmin);
    unique_bstr zone(::SysAllocString(L"zone1")), empty(::SysAllocString(L""));
    short result = kPoison;
    BSTR error = kPoisonBstr;

    EXPECT_EQ(S_OK, dns->put_ReverseZoneIP(nullptr));
    EXPECT_EQ(S_OK, dns->put_NamedBasedDomain(1));
    EXPECT_EQ(S_OK, dns->CreateAEntry(zone.get(), empty.get(), nullptr, &result));
    EXPECT_EQ(S_OK, dns->get_strError(&error));
    EXPECT_EQ(S_OK, dns->Reserved8());

    EXPECT_EQ("DnsAdmin#1.put_ReverseZoneIP(null)\n"
              "DnsAdmin#1.put_NamedBasedDomain(1)\n"
              "DnsAdmin#1.CreateAEntry(\"zone1\", \"\", null, &out)\n"
              "DnsAdmin#1.get_strError(&out)\n"
              "DnsAdmin#1.Reserved8()\n",
              Journal());
    const auto calls = Calls();
    ASSERT_EQ(5u, calls.size());
    EXPECT_EQ(&result, calls[2].args[3].pointer);
    EXPECT_EQ(Arg::Kind::Text, calls[2].args[1].kind);
    EXPECT_EQ(Arg::Kind::NullText, calls[2].args[2].kind);

    // Unprogrammed: S_OK, out-values untouched, an empty (not null) error text.
    EXPECT_EQ(kPoison, result);
    ASSERT_NE(nullptr, error);
    EXPECT_EQ(0u, ::SysStringLen(error));
    ::SysFreeString(error);
}

TEST_F(TestAgent, AnswersAsProgrammedAndStrErrorFollowsTheLastOperation)
{
    auto dns = Create<IDnsAdmin>(CLSID_DnsAdmin, IID_IDnsAdmin);
    Outcome failing;
    failing.hr = E_FAIL;
    failing.result = 7;
    failing.errorText = std::wstring(L"bo\0om", 5);
    SetOutcome("DnsAdmin", "CreateAEntry", failing);

    short result = kPoison;
    EXPECT_EQ(E_FAIL, dns->CreateAEntry(nullptr, nullptr, nullptr, &result));
    EXPECT_EQ(7, result);
    unique_bstr error;
    EXPECT_EQ(S_OK, dns->get_strError(error.put()));
    EXPECT_EQ(std::wstring(L"bo\0om", 5), Text(error.get()));
    EXPECT_EQ(S_OK, dns->get_strError(error.put())); // asking again does not forget it
    EXPECT_EQ(std::wstring(L"bo\0om", 5), Text(error.get()));

    // A later put is an operation too, and one without error text clears it.
    EXPECT_EQ(S_OK, dns->put_NamedBasedDomain(0));
    EXPECT_EQ(S_OK, dns->get_strError(error.put()));
    EXPECT_EQ(L"", Text(error.get()));

    Outcome strError;
    strError.hr = E_ACCESSDENIED;
    strError.errorText = L"override";
    SetOutcome("DnsAdmin", "get_strError", strError);
    EXPECT_EQ(E_ACCESSDENIED, dns->get_strError(error.put()));
    EXPECT_EQ(L"override", Text(error.get()));
    EXPECT_EQ(Outcome().hr, GetOutcome("DnsAdmin", "DeleteAEntry").hr);
    EXPECT_THROW(SetOutcome("DnsAdmin", "MailSetup", failing), std::invalid_argument);
    EXPECT_THROW(SetOutcome("DNSAdmin", "CreateAEntry", failing), std::invalid_argument);
}

TEST_F(TestAgent, WritesEveryKindOfOutValueButNeverThroughNull)
{
    auto server = Create<IServerAdmin>(CLSID_ServerAdmin, IID_IServerAdmin);
    Outcome o;
    o.hr = S_FALSE;
    o.result = -2;
    o.text = L"backup";
    o.size = 1.5;
    o.count = 70000;
    o.userList = L"a;b";
    for (const char* op : {"BackupMailDomain", "GetMailFolderSize", "GetMailBoxCount", "GetMEUsersList",
                           "AddUser", "get_strError"}) {
        SetOutcome("ServerAdmin", op, o);
    }

    unique_bstr list;
    double size = -1;
    LONG count = -1;
    VARIANT users;
    ::VariantInit(&users);
    short result = kPoison;
    EXPECT_EQ(S_FALSE, server->BackupMailDomain(nullptr, nullptr, list.put()));
    EXPECT_EQ(L"backup", Text(list.get()));
    EXPECT_EQ(S_FALSE, server->GetMailFolderSize(nullptr, nullptr, &size));
    EXPECT_EQ(1.5, size);
    EXPECT_EQ(S_FALSE, server->GetMailBoxCount(nullptr, nullptr, &count));
    EXPECT_EQ(70000, count);
    EXPECT_EQ(S_FALSE, server->GetMEUsersList(nullptr, &users));
    ASSERT_EQ(VT_BSTR, V_VT(&users));
    EXPECT_EQ(L"a;b", Text(V_BSTR(&users)));
    ::VariantClear(&users);
    EXPECT_EQ(S_FALSE, server->AddUser(nullptr, nullptr, nullptr, nullptr, &result));
    EXPECT_EQ(-2, result);

    // Null out-pointers: the programmed HRESULT, no write, and the journal says so.
    Reset();
    for (const char* op : {"BackupMailDomain", "GetMailFolderSize", "GetMailBoxCount", "GetMEUsersList",
                           "AddUser", "get_strError"}) {
        SetOutcome("ServerAdmin", op, o);
    }
    EXPECT_EQ(S_FALSE, server->BackupMailDomain(nullptr, nullptr, nullptr));
    EXPECT_EQ(S_FALSE, server->GetMailFolderSize(nullptr, nullptr, nullptr));
    EXPECT_EQ(S_FALSE, server->GetMailBoxCount(nullptr, nullptr, nullptr));
    EXPECT_EQ(S_FALSE, server->GetMEUsersList(nullptr, nullptr));
    EXPECT_EQ(S_FALSE, server->AddUser(nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(S_FALSE, server->get_strError(nullptr));
    EXPECT_EQ("ServerAdmin#1.BackupMailDomain(null, null, null-out)\n"
              "ServerAdmin#1.GetMailFolderSize(null, null, null-out)\n"
              "ServerAdmin#1.GetMailBoxCount(null, null, null-out)\n"
              "ServerAdmin#1.GetMEUsersList(null, null-out)\n"
              "ServerAdmin#1.AddUser(null, null, null, null, null-out)\n"
              "ServerAdmin#1.get_strError(null-out)\n",
              Journal());
}

TEST_F(TestAgent, KeepsPutsAndErrorTextPerObject)
{
    auto first = Create<IServerAdmin>(CLSID_ServerAdmin, IID_IServerAdmin);
    auto second = Create<IServerAdmin>(CLSID_ServerAdmin, IID_IServerAdmin);
    auto bind = Create<IBindDnsAdmin>(CLSID_BindDnsAdmin, IID_IBindDnsAdmin);
    unique_bstr zone(::SysAllocString(L"zone1"));
    Outcome failing;
    failing.errorText = L"no zone";
    SetOutcome("ServerAdmin", "delslavedns", failing);

    first->put_Type(1);
    second->put_Type(2);
    first->put_lMaxMailusers(100000);
    first->put_Type(3);
    EXPECT_EQ(S_OK, first->delslavedns(zone.get(), nullptr));
    EXPECT_EQ(S_OK, bind->Reserved11());

    const auto puts1 = StoredPuts(1), puts2 = StoredPuts(2);
    ASSERT_EQ(2u, puts1.size());
    EXPECT_EQ(3, puts1.at("put_Type").integer);
    EXPECT_EQ(100000, puts1.at("put_lMaxMailusers").integer);
    ASSERT_EQ(1u, puts2.size());
    EXPECT_EQ(2, puts2.at("put_Type").integer);

    unique_bstr error1, error2;
    first->get_strError(error1.put());
    second->get_strError(error2.put());
    EXPECT_EQ(L"no zone", Text(error1.get()));
    EXPECT_EQ(L"", Text(error2.get()));
    EXPECT_EQ("BindDnsAdmin#3.Reserved11()", Calls()[5].ToString());
    EXPECT_EQ("ServerAdmin#2.get_strError(&out)", Calls().back().ToString());
}

TEST_F(TestAgent, CountsObjectsAndAnswersQueryInterfaceLikeCom)
{
    com_ptr<IUnknown> unknown;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, CreateAgent(IID_IDnsAdmin, IID_IUnknown, unknown.put_void()));
    void* none = kPoisonBstr;
    EXPECT_EQ(E_NOINTERFACE, CreateAgent(CLSID_DnsAdmin, IID_IServerAdmin, &none));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ(0, LiveObjects());

    auto dns = Create<IDnsAdmin>(CLSID_DnsAdmin, IID_IDnsAdmin);
    EXPECT_EQ(1, LiveObjects());
    com_ptr<IDispatch> dispatch = dns.try_query<IDispatch>();
    ASSERT_TRUE(dispatch);
    EXPECT_EQ(3u, dns->AddRef());
    EXPECT_EQ(2u, dns->Release());
    dispatch.reset();
    EXPECT_EQ(1, LiveObjects());
    dns.reset();
    EXPECT_EQ(0, LiveObjects());
    EXPECT_EQ(2, Activations());
    Reset();
    EXPECT_EQ(0, Activations());
    EXPECT_TRUE(Calls().empty());
}

// --- The COM server and its control object ------------------------------------------------

std::wstring ServerPath()
{
    wchar_t exe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path = exe;
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"VelaTestAgent.dll";
}

DWORD RunRegsvr32(const std::wstring& path)
{
    std::wstring command = L"regsvr32.exe /s \"" + path + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        return ::GetLastError();
    }
    unique_handle thread(process.hThread), handle(process.hProcess);
    ::WaitForSingleObject(handle.get(), INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(handle.get(), &code);
    return code;
}

std::wstring RegText(const std::wstring& key, const wchar_t* name)
{
    wchar_t value[MAX_PATH] = {};
    DWORD bytes = sizeof value;
    if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &bytes) != 0) {
        return L"<missing>";
    }
    return value;
}

// Late-bound call by name, arguments in the script's order.
HRESULT CallByName(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> args,
                   VARIANT* result = nullptr)
{
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (SUCCEEDED(hr)) {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
    }
    for (VARIANT& v : args)
        ::VariantClear(&v);
    return hr;
}

VARIANT Str(const wchar_t* text)
{
    VARIANT v;
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = ::SysAllocString(text);
    return v;
}
VARIANT Num(double value)
{
    VARIANT v;
    V_VT(&v) = VT_R8;
    V_R8(&v) = value;
    return v;
}
VARIANT Missing()
{
    VARIANT v;
    V_VT(&v) = VT_ERROR;
    V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
    return v;
}

TEST(TestAgentServer, RegistersAndServesTheAgentAndTheControlToLateBoundCallers)
{
    const std::wstring path = ServerPath();
    ASSERT_EQ(0u, RunRegsvr32(path));
    const std::wstring dnsKey = L"CLSID\\{7A3F1C20-5B0E-4D2A-9C11-3E5F00000021}\\InprocServer32";
    EXPECT_EQ(0, ::lstrcmpiW(path.c_str(), RegText(dnsKey, nullptr).c_str()));
    EXPECT_EQ(L"Apartment", RegText(dnsKey, L"ThreadingModel"));
    EXPECT_EQ(L"{7A3F1C20-5B0E-4D2A-9C11-3E5F000000A1}", RegText(L"VelaTestAgent.Control\\CLSID", nullptr));

    CLSID controlClsid = {};
    ASSERT_EQ(S_OK, ::CLSIDFromProgID(L"VelaTestAgent.Control", &controlClsid));
    com_ptr<IDispatch> control;
    ASSERT_EQ(S_OK, ::CoCreateInstance(controlClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                       control.put_void()));
    ASSERT_EQ(S_OK, CallByName(control.get(), L"reset", DISPATCH_METHOD, {}));
    // 0x80004005 as JScript hands it over: a double above 2^31.
    ASSERT_EQ(S_OK,
              CallByName(control.get(), L"SETOUTCOME", DISPATCH_METHOD,
                         {Str(L"DnsAdmin"), Str(L"CreateAEntry"), Num(2147500037.0), Num(7), Str(L"boom")}));
    ASSERT_EQ(S_OK, CallByName(control.get(), L"SetOutcome", DISPATCH_METHOD,
                               {Str(L"DnsAdmin"), Str(L"DeleteAEntry"), Num(0), Missing(), Str(L"gone")}));
    ASSERT_EQ(S_OK, CallByName(control.get(), L"SetText", DISPATCH_METHOD,
                               {Str(L"DnsAdmin"), Str(L"GetDNSFile"), Str(L"zone text")}));
    EXPECT_EQ(DISP_E_EXCEPTION, CallByName(control.get(), L"SetNumber", DISPATCH_METHOD,
                                           {Str(L"DnsAdmin"), Str(L"NoSuchOperation"), Num(1)}));
    EXPECT_EQ(DISP_E_BADPARAMCOUNT,
              CallByName(control.get(), L"SetText", DISPATCH_METHOD, {Str(L"DnsAdmin"), Str(L"GetDNSFile")}));
    DISPID id = 0;
    LPOLESTR unknownName[] = {const_cast<LPOLESTR>(L"Frobnicate")};
    EXPECT_EQ(DISP_E_UNKNOWNNAME, control->GetIDsOfNames(IID_NULL, unknownName, 1, LOCALE_USER_DEFAULT, &id));

    // The component's way in: class context 21 and a host name, which Wine ignores.
    COSERVERINFO host = {0, const_cast<LPWSTR>(L"agenthost"), nullptr, 0};
    MULTI_QI query = {&IID_IDnsAdmin, nullptr, 0};
    ASSERT_EQ(S_OK, ::CoCreateInstanceEx(CLSID_DnsAdmin, nullptr, static_cast<DWORD>(21), &host, 1, &query));
    ASSERT_EQ(S_OK, query.hr);
    com_ptr<IDnsAdmin> dns = com_ptr<IDnsAdmin>::attach(static_cast<IDnsAdmin*>(query.pItf));

    unique_bstr zone(::SysAllocString(L"zone1")), file;
    short result = kPoison;
    EXPECT_EQ(E_FAIL, dns->CreateAEntry(zone.get(), nullptr, nullptr, &result));
    EXPECT_EQ(7, result);
    result = kPoison;
    EXPECT_EQ(S_OK, dns->DeleteAEntry(zone.get(), nullptr, &result));
    EXPECT_EQ(kPoison, result);
    EXPECT_EQ(S_OK, dns->GetDNSFile(zone.get(), file.put()));
    EXPECT_EQ(L"zone text", Text(file.get()));

    VARIANT value;
    ::VariantInit(&value);
    ASSERT_EQ(S_OK, CallByName(control.get(), L"journal", DISPATCH_PROPERTYGET, {}, &value));
    ASSERT_EQ(VT_BSTR, V_VT(&value));
    EXPECT_EQ(L"DnsAdmin#1.CreateAEntry(\"zone1\", null, null, &out)\n"
              L"DnsAdmin#1.DeleteAEntry(\"zone1\", null, &out)\n"
              L"DnsAdmin#1.GetDNSFile(\"zone1\", &out)\n",
              Text(V_BSTR(&value)));
    ::VariantClear(&value);
    const std::pair<const wchar_t*, LONG> counts[] = {
        {L"CallCount", 3}, {L"Activations", 1}, {L"LiveObjects", 1}};
    for (const auto& [name, expected] : counts) {
        ASSERT_EQ(S_OK, CallByName(control.get(), name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, &value));
        EXPECT_EQ(VT_I4, V_VT(&value)) << name;
        EXPECT_EQ(expected, V_I4(&value)) << name;
    }
    dns.reset();
    ASSERT_EQ(S_OK, CallByName(control.get(), L"LiveObjects", DISPATCH_PROPERTYGET, {}, &value));
    EXPECT_EQ(0, V_I4(&value));
    // The server keeps its own state: nothing reached this program's linked-in agent.
    EXPECT_TRUE(Calls().empty());
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = RUN_ALL_TESTS();
    ::CoUninitialize();
    return result;
}
