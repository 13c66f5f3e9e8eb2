// VelaTestAgent.dll: serves the test agent's three classes and its control object as an
// in-process COM server, so that the component activates it like the real agent and a
// script in the same process programs it through "VelaTestAgent.Control".
#include "TestAgent.h"

#include "common/Result.h"
#include "common/Unique.h"

#include <atomic>
#include <string>

using namespace vela;
using namespace vela::testagent;

namespace {

const wchar_t kControlProgId[] = L"VelaTestAgent.Control";

struct ServedClass {
    const CLSID* clsid;
    const wchar_t* name;
};

const ServedClass kServed[] = {
    {&CLSID_ServerAdmin, L"ServerAdmin"},
    {&CLSID_DnsAdmin, L"DnsAdmin"},
    {&CLSID_BindDnsAdmin, L"BindDnsAdmin"},
    {&CLSID_VelaTestAgentControl, kControlProgId},
};

std::atomic<long> g_locks{0};

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(const CLSID& clsid) noexcept : m_clsid(clsid) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) noexcept override
    {
        if (!result) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *result = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *result = nullptr;
        return E_NOINTERFACE;
    }
    // The factories are static; their references keep nothing alive.
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return 2; }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** result) noexcept override
    {
        if (!result) return E_POINTER;
        *result = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return m_clsid == CLSID_VelaTestAgentControl ? CreateControl(iid, result)
                                                     : CreateAgent(m_clsid, iid, result);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override
    {
        lock ? ++g_locks : --g_locks;
        return S_OK;
    }

private:
    const CLSID& m_clsid;
};

// One factory per row of kServed, in the same order.
ClassFactory g_factories[] = {
    ClassFactory(CLSID_ServerAdmin),
    ClassFactory(CLSID_DnsAdmin),
    ClassFactory(CLSID_BindDnsAdmin),
    ClassFactory(CLSID_VelaTestAgentControl),
};

HMODULE ThisModule() noexcept
{
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

std::wstring ModulePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = ::GetModuleFileNameW(ThisModule(), path.data(), static_cast<DWORD>(path.size()));
        if (size == 0) ThrowHResult(HRESULT_FROM_WIN32(::GetLastError()));
        if (size < path.size()) return path.substr(0, size);
        path.resize(path.size() * 2);
    }
}

std::wstring GuidText(const GUID& guid)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

void SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value)
{
    unique_hkey hkey;
    THROW_IF_FAILED(HRESULT_FROM_WIN32(::RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0,
                                                         KEY_SET_VALUE, nullptr, hkey.put(), nullptr)));
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    THROW_IF_FAILED(HRESULT_FROM_WIN32(
        ::RegSetValueExW(hkey.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes)));
}

void DeleteTree(const std::wstring& key) noexcept
{
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
}

} // namespace

extern "C" {

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** result)
{
    if (!result) return E_POINTER;
    *result = nullptr;
    for (size_t i = 0; i < ARRAYSIZE(kServed); ++i) {
        if (clsid == *kServed[i].clsid) return g_factories[i].QueryInterface(iid, result);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return LiveObjects() == 0 && LiveControls() == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

// Registers the classes (apartment model), the control's ProgID and, so that the agent's
// interfaces can cross apartments through the standard marshaler, the embedded type
// library.
HRESULT STDAPICALLTYPE DllRegisterServer()
{
    return ComBoundary([] {
        const std::wstring path = ModulePath();
        for (const auto& served : kServed) {
            const std::wstring key = L"CLSID\\" + GuidText(*served.clsid);
            SetValue(key, nullptr, served.name);
            SetValue(key + L"\\InprocServer32", nullptr, path);
            SetValue(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
        }
        const std::wstring control = GuidText(CLSID_VelaTestAgentControl);
        SetValue(L"CLSID\\" + control + L"\\ProgID", nullptr, kControlProgId);
        SetValue(kControlProgId, nullptr, kControlProgId);
        SetValue(std::wstring(kControlProgId) + L"\\CLSID", nullptr, control);

        com_ptr<ITypeLib> typeLib;
        THROW_IF_FAILED(::LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, typeLib.put()));
        return S_OK;
    });
}

HRESULT STDAPICALLTYPE DllUnregisterServer()
{
#ifdef _WIN64
    constexpr SYSKIND kSysKind = SYS_WIN64;
#else
    constexpr SYSKIND kSysKind = SYS_WIN32;
#endif
    return ComBoundary([] {
        for (const auto& served : kServed)
            DeleteTree(L"CLSID\\" + GuidText(*served.clsid));
        DeleteTree(kControlProgId);
        ::UnRegisterTypeLib(LIBID_VelaAgentLib, 1, 0, LOCALE_NEUTRAL, kSysKind);
        return S_OK;
    });
}

} // extern "C"
