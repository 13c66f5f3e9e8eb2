// Failures and their text, the conversions, and the connection's use of activation.
#include "remote/RemoteConnection.h"
#include "remote/Text.h"
#include "TestAgent.h"

#include <gtest/gtest.h>

namespace vela {
namespace {

// The system's own text for an HRESULT, read without the code under test; empty when
// the system has none (Wine has none for several COM codes).
std::string SystemText(HRESULT hr)
{
    char* text = nullptr;
    if (!::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                          static_cast<DWORD>(hr), 0x400, reinterpret_cast<char*>(&text), 0, nullptr))
        return {};
    std::string s(text);
    ::LocalFree(text);
    return s;
}

TEST(FailureText, SystemMessagesLoseExactlyOneTrailingLineEnd)
{
    for (HRESULT hr :
         {E_ACCESSDENIED, HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), E_OUTOFMEMORY, E_POINTER}) {
        std::string expected = SystemText(hr);
        if (expected.empty()) continue;
        ASSERT_GE(expected.size(), 2u);
        if (expected.back() == '\n') {
            expected.pop_back();
            if (expected.back() == '\r') expected.pop_back();
        }
        Failure failure(hr);
        ASSERT_NE(nullptr, failure.MessageText());
        EXPECT_EQ(expected, failure.MessageText());
        char hex[12];
        std::snprintf(hex, sizeof hex, "%lx", static_cast<unsigned long>(hr));
        EXPECT_EQ(expected + "[" + hex + "]", failure.ErrorText());
    }
    EXPECT_EQ(SystemText(E_ACCESSDENIED).size() > 0 ? "[80070005]" : "",
              Failure(E_ACCESSDENIED).ErrorText().substr(Failure(E_ACCESSDENIED).ErrorText().size() - 10));
}

TEST(FailureText, WithoutSystemTextTheFallbackFormsApply)
{
    const struct {
        HRESULT hr;
        const char* text;
    } cases[] = {
        {static_cast<HRESULT>(0x80040200), "Unknown error 0x80040200"},
        {static_cast<HRESULT>(0x80040201), "IDispatch error #1"},
        {static_cast<HRESULT>(0x80041234), "IDispatch error #4148"},
        {static_cast<HRESULT>(0x8004FFFF), "IDispatch error #65023"},
        {static_cast<HRESULT>(0x80050001), "Unknown error 0x80050001"},
        {REGDB_E_CLASSNOTREG, "Unknown error 0x80040154"},
    };
    for (const auto& c : cases) {
        if (!SystemText(c.hr).empty()) continue; // this system knows the code
        Failure failure(c.hr);
        EXPECT_STREQ(c.text, failure.MessageText()) << std::hex << c.hr;
        EXPECT_EQ(failure.MessageText(), failure.MessageText()) << "computed once, then kept";
    }
    char hex[12];
    std::snprintf(hex, sizeof hex, "%lx", static_cast<unsigned long>(0x80050001));
    if (SystemText(static_cast<HRESULT>(0x80050001)).empty()) {
        EXPECT_EQ(std::string("Unknown error 0x80050001[") + hex + "]", Failure(0x80050001).ErrorText());
    }
}

TEST(FailureText, RaiseCarriesItsHResult)
{
    try {
        RAISE_IF_FAILED(E_ABORT);
        FAIL();
    } catch (const Failure& failure) {
        EXPECT_EQ(E_ABORT, failure.code());
    }
    int evaluated = 0;
    RAISE_IF_FAILED((++evaluated, S_FALSE));
    EXPECT_EQ(1, evaluated);
}

TEST(Conversion, NarrowAndWidenUseTheAnsiCodePage)
{
    EXPECT_EQ("", Narrow(nullptr));
    unique_bstr empty(::SysAllocString(L""));
    EXPECT_EQ("", Narrow(empty.get()));
    unique_bstr accented(::SysAllocString(L"caf\x00e9 \x4e2d"));
    EXPECT_EQ(::GetACP() == 1252 ? "caf\xe9 ?" : Narrow(accented.get()), Narrow(accented.get()));
    unique_bstr wide = Widen("caf\xe9");
    ASSERT_TRUE(wide);
    if (::GetACP() == 1252) {
        EXPECT_EQ(std::wstring(L"caf\x00e9"), std::wstring(wide.get(), ::SysStringLen(wide.get())));
    }
    unique_bstr none = Widen("");
    ASSERT_TRUE(none) << "the empty text widens to an empty, non-null BSTR";
    EXPECT_EQ(0u, ::SysStringLen(none.get()));
}

struct Seen {
    int calls = 0;
    DWORD context = 0;
    const wchar_t* server = reinterpret_cast<const wchar_t*>(1);
    std::wstring serverName;
};
Seen g_seen;
HRESULT g_activation = S_OK;

HRESULT Recording(REFCLSID clsid, DWORD context, COSERVERINFO* server, MULTI_QI* request)
{
    ++g_seen.calls;
    g_seen.context = context;
    g_seen.server = server->pwszName;
    g_seen.serverName = server->pwszName ? server->pwszName : L"";
    if (FAILED(g_activation)) return g_activation;
    request->hr = testagent::CreateAgent(clsid, *request->pIID, reinterpret_cast<void**>(&request->pItf));
    return request->hr;
}

class Connection : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_seen = Seen{};
        g_activation = S_OK;
        testagent::Reset();
        m_previous = SetActivationFunction(&Recording);
    }
    void TearDown() override { SetActivationFunction(m_previous); }
    ActivationFunction m_previous = nullptr;
};

TEST_F(Connection, OpensOnceAndReleasesOnce)
{
    {
        RemoteConnection<IDnsAdmin> connection;
        EXPECT_FALSE(connection.created());
        unique_bstr host(::SysAllocString(L"ns1"));
        connection.Open(host.get());
        connection.Open(host.get());
        EXPECT_EQ(1, g_seen.calls);
        EXPECT_EQ(21u, g_seen.context);
        EXPECT_EQ(L"ns1", g_seen.serverName);
        EXPECT_NE(host.get(), g_seen.server) << "the server name is a copy of the host";
        EXPECT_EQ(1, testagent::LiveObjects());
        connection.Release();
        connection.Release();
        EXPECT_EQ(0, testagent::LiveObjects());
        EXPECT_FALSE(connection.created());
        connection.Open(nullptr);
        EXPECT_EQ(nullptr, g_seen.server);
    }
    EXPECT_EQ(0, testagent::LiveObjects()) << "destruction releases";
}

TEST_F(Connection, FailuresAreRaised)
{
    RemoteConnection<IServerAdmin> connection;
    try {
        connection->TestDComCommunication();
        FAIL() << "an empty connection must not be used";
    } catch (const Failure& failure) {
        EXPECT_EQ(E_POINTER, failure.code());
    }
    g_activation = CO_E_SERVER_EXEC_FAILURE;
    try {
        connection.Open(nullptr);
        FAIL();
    } catch (const Failure& failure) {
        EXPECT_EQ(CO_E_SERVER_EXEC_FAILURE, failure.code());
    }
    EXPECT_FALSE(connection.created());
}

} // namespace
} // namespace vela
