// Failures and their text, the text conversions, and the connection's use of activation.
#include "remote/RemoteConnection.h"
#include "remote/Text.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace vela;

// "<message>[<lower-case hex>]": the system's text less its trailing CR LF, else the
// sentence for the dispatch range or for an unknown error (Wine has no text for these).
TEST(FailureText, MessageThenHResultInLowerCaseHex)
{
    const std::tuple<DWORD, const char*, const char*> rows[] = {
        {0x80070005, "80070005", ""}, // "": the system has a text
        {0x80040200, "80040200", "Unknown error 0x80040200"},
        {0x80040201, "80040201", "IDispatch error #1"},
        {0x8004FFFF, "8004ffff", "IDispatch error #65023"},
        {0x80050000, "80050000", "Unknown error 0x80050000"},
        {0x8005ABCD, "8005abcd", "Unknown error 0x8005ABCD"},
    };
    for (const auto& [hr, hex, fallback] : rows) {
        char* raw = nullptr;
        ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, hr, 0x400,
                         reinterpret_cast<char*>(&raw), 0, nullptr);
        const unique_hlocal owner(raw);
        const std::string text = raw ? raw : "";
        const std::string expected = raw ? text.substr(0, text.rfind("\r\n")) : fallback;
        EXPECT_EQ(expected + "[" + hex + "]", Failure(static_cast<HRESULT>(hr)).ErrorText());
    }
}

TEST(Conversion, NarrowAndWidenThroughTheAnsiCodePage)
{
    ASSERT_EQ(1252u, ::GetACP()) << "the rows are written for code page 1252";
    const std::tuple<const wchar_t*, UINT, const char*, const wchar_t*> rows[] = {
        {nullptr, 0, "", L""},
        {L"", 0, "", L""},
        {L"caf\x00e9 \x20ac", 6, "caf\xe9 \x80", L"caf\x00e9 \x20ac"},
        {L"\x4e2d", 1, "?", L"?"},
        // Look-alikes that best-fit mapping would pick are no substitute either.
        {L"\x0101", 1, "?", L"?"}, // a with macron, not "a"
        {L"\xff0c", 1, "?", L"?"}, // fullwidth comma, not ","
        {L"\x2032", 1, "?", L"?"}, // prime, not "'"
        {L"\xff11", 1, "?", L"?"}, // fullwidth digit one, not "1"
        {L"a\0b", 3, "a", L"a"},
    };
    for (const auto& [wide, length, narrow, back] : rows) {
        const unique_bstr text(wide ? ::SysAllocStringLen(wide, length) : nullptr);
        EXPECT_EQ(narrow, Narrow(text.get()));
        const unique_bstr widened = Widen(narrow);
        ASSERT_NE(nullptr, widened.get()) << "even the empty text widens to a BSTR";
        EXPECT_EQ(back, std::wstring(widened.get(), ::SysStringLen(widened.get())));
    }
    // Code pages that take no flags and lack no character: UTF-8, which "Use Unicode UTF-8"
    // makes the ANSI code page, and (refused by Wine too) UTF-7.
    const unique_bstr text(::SysAllocString(L"ex\x0101mple.org"));
    EXPECT_EQ("ex\xc4\x81mple.org", NarrowTo(CP_UTF8, text.get()));
    EXPECT_EQ("ex+AQE-mple.org", NarrowTo(CP_UTF7, text.get()));
}

// The stand-in activation, handing out itself: an object that counts its references.
static struct Seen : IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT result = S_OK, request = S_OK; // what activation and interface request answer
    int refs = 0;
    std::wstring server;
} g_seen;

static HRESULT Recording(REFCLSID clsid, DWORD context, COSERVERINFO* server, MULTI_QI* request)
{
    EXPECT_EQ(21u, context);
    EXPECT_TRUE(::IsEqualCLSID(CLSID_DnsAdmin, clsid) && ::IsEqualIID(IID_IDnsAdmin, *request->pIID));
    g_seen.server = server->pwszName ? server->pwszName : L"<null>";
    if (FAILED(g_seen.result)) return g_seen.result;
    ++g_seen.refs; // a second activation shows as a second reference
    *request = {request->pIID, &g_seen, g_seen.request};
    return g_seen.result;
}

// One activation however often Open is called, on the host as named (none for ""); the
// activation's HRESULT, or a refused interface's, is raised; each object handed out is
// released once, by Release or by the connection's end; unopened, use raises E_POINTER.
TEST(Connection, ActivatesOnceRaisesAndReleasesOnce)
{
    const auto raisedBy = [](const auto& call) {
        try {
            call();
        } catch (const Failure& failure) {
            return failure.code();
        }
        return S_OK;
    };
    const ActivationFunction previous = SetActivationFunction(&Recording);
    const struct {
        const wchar_t *host, *server; // as named, and as activation sees it
        HRESULT result, request, raised;
        bool release; // by Release rather than by the connection's end
    } rows[] = {
        {L"ns1", L"ns1", S_OK, S_OK, S_OK, false},
        {L"", L"<null>", S_OK, S_OK, S_OK, true},
        {L"h", L"h", CO_E_SERVER_EXEC_FAILURE, S_OK, CO_E_SERVER_EXEC_FAILURE, false},
        {L"h", L"h", CO_S_NOTALLINTERFACES, E_NOINTERFACE, E_NOINTERFACE, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("row " + std::to_string(&row - rows));
        g_seen.refs = 0, g_seen.result = row.result, g_seen.request = row.request;
        const unique_bstr host(row.host ? ::SysAllocString(row.host) : nullptr);
        {
            RemoteConnection<IDnsAdmin> connection;
            EXPECT_EQ(row.raised,
                      raisedBy([&] { connection.Open(host.get()), connection.Open(host.get()); }));
            EXPECT_EQ(SUCCEEDED(row.raised) ? 1 : 0, g_seen.refs);
            if (row.release) connection.Release(), connection.Release();
            const bool usable = SUCCEEDED(row.raised) && !row.release;
            EXPECT_EQ(usable ? S_OK : E_POINTER, raisedBy([&] { connection.operator->(); }));
        }
        EXPECT_EQ(0, g_seen.refs);
        EXPECT_EQ(row.server, g_seen.server);
    }
    SetActivationFunction(previous);
}
