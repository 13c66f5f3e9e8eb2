// Shared ground for the server-access tests: the object with a stand-in for its COM frame, a
// private install directory for its action log, the in-process test agent behind a replaced
// activation function, and raw reads of what came out.
#pragma once

#include "access/VelaServerAccess.h"
#include "remote/Activation.h"
#include "remote/Detached.h"
#include "LogTestSupport.h"
#include "TestAgent.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

namespace vela::test {

// The frame supplies IUnknown and IDispatch in the product; these tests enter the members
// through the interface's function table alone.
template <typename T> class Bare final : public T {
public:
    STDMETHODIMP QueryInterface(REFIID, void**) noexcept override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return 1; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) noexcept override
    {
        return E_NOTIMPL;
    }
};

// An owned BSTR (a literal is none: it has no length prefix).
class Text {
public:
    Text(const wchar_t* text) : m_bstr(::SysAllocString(text)) {}
    Text(const std::wstring& text) : m_bstr(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
    {
    }
    operator BSTR() const noexcept { return m_bstr.get(); }

private:
    unique_bstr m_bstr;
};

// Out-values start poisoned, so that whatever the component leaves alone stays recognisable.
constexpr short kPoisonShort = static_cast<short>(0xbeef);
constexpr long kPoisonLong = static_cast<long>(0xdeadbeef);
constexpr double kPoisonDouble = 3735928559.0;
inline BSTR PoisonText()
{
    return reinterpret_cast<BSTR>(static_cast<uintptr_t>(0xdeadbeef));
}

// The tests' texts are ASCII: a plain element-wise copy reads them back.
inline std::string Ascii(BSTR text)
{
    if (!text) return "<null>";
    std::string ascii;
    for (UINT i = 0; i < ::SysStringLen(text); ++i)
        ascii += static_cast<char>(text[i]);
    return ascii;
}

// How the component reports a failure: the system's message less its CR LF (Wine has none
// for some HRESULTs, such as RPC_E_TIMEOUT: then the fallback), then the HRESULT in hex.
inline std::string ErrorText(HRESULT hr)
{
    char* text = nullptr;
    ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                     static_cast<DWORD>(hr), 0x400, reinterpret_cast<char*>(&text), 0, nullptr);
    char fallback[32];
    std::snprintf(fallback, sizeof fallback, "Unknown error 0x%lX", static_cast<unsigned long>(hr));
    std::string message = text ? text : fallback;
    ::LocalFree(text);
    if (message.size() > 2 && message.compare(message.size() - 2, 2, "\r\n") == 0)
        message.resize(message.size() - 2);
    char hex[16];
    std::snprintf(hex, sizeof hex, "[%lx]", static_cast<unsigned long>(hr));
    return message + hex;
}

// The agent's calls since its last Reset, without class and instance: "put_Type(7); SetupSecDNS(&out)".
inline std::string Journal()
{
    std::string joined;
    for (const testagent::Call& call : testagent::Calls()) {
        const std::string line = call.ToString();
        joined += (joined.empty() ? "" : "; ") + line.substr(line.find('.') + 1);
    }
    return joined;
}

struct Activation {
    GUID clsid, iid;
    DWORD context;
    bool named; // a server name was given
    std::wstring host;
    unsigned long long token; // the activating thread's impersonation token (ThreadTokenId), or 0
};

// Stands in for CoCreateInstanceEx: records each activation, then fails the call, refuses
// the interface, or creates the in-process agent.
struct Activator {
    HRESULT fail = S_OK;
    HRESULT refuse = S_OK;
    std::vector<Activation> seen;
    // Runs while the activation is under way, as a caller's apartment may serve calls then.
    std::function<void()> during;

    static Activator& Get()
    {
        static Activator activator;
        return activator;
    }
    static HRESULT Activate(REFCLSID clsid, DWORD context, COSERVERINFO* server, MULTI_QI* request)
    {
        Activator& a = Get();
        const wchar_t* name = server->pwszName;
        {
            // Commands with a time-out activate on threads of their own, several at once.
            static std::mutex lock;
            const std::lock_guard<std::mutex> guard(lock);
            a.seen.push_back({clsid, *request->pIID, context, name != nullptr, name ? name : L"",
                              testagent::ThreadTokenId()});
        }
        if (a.during) a.during();
        if (FAILED(a.fail)) return a.fail;
        request->pItf = nullptr;
        request->hr = a.refuse;
        if (FAILED(a.refuse)) return S_OK; // the request's own result tells
        return request->hr =
                   testagent::CreateAgent(clsid, *request->pIID, reinterpret_cast<void**>(&request->pItf));
    }
};

constexpr const char kServersKey[] = "SOFTWARE\\Corvane\\NT Vela Console\\Servers";
constexpr const char kGeneralKey[] = "SOFTWARE\\Corvane\\Nt Vela Console\\General";

// "CommandTimeoutSeconds" for the objects created while it lives; 0 leaves none.
class ScopedCommandTimeout {
public:
    explicit ScopedCommandTimeout(DWORD seconds)
    {
        if (seconds)
            ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, kGeneralKey, "CommandTimeoutSeconds", REG_DWORD, &seconds,
                              sizeof seconds);
    }
    ~ScopedCommandTimeout()
    {
        ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kGeneralKey, "CommandTimeoutSeconds");
    }
    ScopedCommandTimeout(const ScopedCommandTimeout&) = delete;
    ScopedCommandTimeout& operator=(const ScopedCommandTimeout&) = delete;
};

// Polls `done` until it holds or a generous time has passed; false then.
template <typename Done> bool Eventually(Done&& done)
{
    const ULONGLONG end = ::GetTickCount64() + 30000;
    while (!done()) {
        if (::GetTickCount64() > end) return false;
        ::Sleep(10);
    }
    return true;
}

// Commands that timed out still run their exchange; a test waits for them to end.
inline bool LateExchangesEnd()
{
    return Eventually([] { return RunningDetachedWork() == 0; });
}

class AccessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::CreateDirectoryA((m_dir / "web").c_str(), nullptr);
        ::CreateDirectoryA((m_dir / "web\\admin").c_str(), nullptr);
        m_installPath = std::make_unique<ScopedInstallPath>(m_dir.path());
        ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kServersKey);
        testagent::Reset();
        Activator::Get() = {};
        m_previous = SetActivationFunction(&Activator::Activate);
    }
    void TearDown() override
    {
        testagent::ReleaseStalls();
        EXPECT_TRUE(LateExchangesEnd());
        m_objects.clear();
        ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kServersKey);
        SetActivationFunction(m_previous);
    }

    // Each object opens the log in this test's install directory.
    IVelaServerAccess* NewObject()
    {
        m_objects.push_back(std::make_unique<Bare<CVelaServerAccess>>());
        return m_objects.back().get();
    }
    static std::string StrError(IVelaServerAccess* object)
    {
        BSTR text = PoisonText();
        EXPECT_EQ(S_OK, object->get_strError(&text));
        const std::string error = text == PoisonText() ? "<poison>" : Ascii(text);
        if (text != PoisonText()) ::SysFreeString(text);
        return error;
    }

    // The log's lines, read with plain file reads.
    std::vector<std::string> LogLines() const
    {
        return SplitLines(ReadFileBytes(m_dir / "web\\admin\\Logs\\VelaDComClient.csv"));
    }
    // The lines after the first `before`, each without its date and time.
    std::vector<std::string> RecordsSince(size_t before) const
    {
        static const std::regex stamp(R"(^\d\d/\d\d/\d\d,\d\d:\d\d:\d\d,)");
        std::vector<std::string> records;
        const std::vector<std::string> lines = LogLines();
        std::smatch match;
        for (size_t i = before; i < lines.size(); ++i)
            records.push_back(std::regex_search(lines[i], match, stamp) ? match.suffix().str()
                                                                        : "<no stamp>" + lines[i]);
        return records;
    }

    TempDir m_dir;
    std::unique_ptr<ScopedInstallPath> m_installPath;
    std::vector<std::unique_ptr<Bare<CVelaServerAccess>>> m_objects; // closed before the folder goes
    ActivationFunction m_previous = nullptr;
};

} // namespace vela::test
