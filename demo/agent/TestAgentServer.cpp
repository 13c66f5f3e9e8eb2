// VelaTestAgent.dll: serves the stand-in agent's three classes and its control object as
// an in-process COM server, so that the component activates the stand-in like the real
// agent and a script in the same process programs it through "VelaTestAgent.Control".
#include "TestAgent.h"

#include "AgentControl.h"
#include "common/Result.h"
#include "common/Unique.h"

#include <atomic>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

using namespace vela;

namespace {

std::atomic<long> g_locks{0}; // control objects and server locks

std::wstring ModulePath()
{
    HMODULE module = nullptr;
    wchar_t path[MAX_PATH + 1] = {};
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&ModulePath), &module);
    ::GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

std::string Narrow(BSTR text)
{
    std::string result;
    for (UINT i = 0; text && i < ::SysStringLen(text); ++i)
        result += static_cast<char>(text[i]); // class and operation names are ASCII
    return result;
}

BSTR AllocText(const std::string& utf8)
{
    const int size = static_cast<int>(utf8.size());
    const int needed = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    BSTR text = ::SysAllocStringLen(nullptr, static_cast<UINT>(needed));
    if (!text) ThrowHResult(E_OUTOFMEMORY);
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, text, needed);
    return text;
}

// A script's optional argument converted to `type`; false when the script left it out.
bool Given(VARIANT& argument, VARTYPE type, VARIANT& converted)
{
    if (V_VT(&argument) == VT_EMPTY || V_VT(&argument) == VT_ERROR) return false;
    THROW_IF_FAILED(::VariantChangeType(&converted, &argument, 0, type));
    return true;
}

// Fails the call with `description` for the script to show.
HRESULT Raise(const std::string& description)
{
    com_ptr<ICreateErrorInfo> create;
    THROW_IF_FAILED(::CreateErrorInfo(create.put()));
    unique_bstr text(AllocText(description));
    create->SetDescription(text.get());
    ::SetErrorInfo(0, create.try_query<IErrorInfo>().get());
    return E_INVALIDARG;
}

// The script control object; its type information finds the members by name, in any
// letter case, and converts the arguments.
class Control final : public IVelaTestAgentControl {
public:
    explicit Control(com_ptr<ITypeInfo> info) noexcept : m_info(std::move(info)) { ++g_locks; }
    ~Control() { --g_locks; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) noexcept override
    {
        if (!result) return E_POINTER;
        *result = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_IVelaTestAgentControl)
            return E_NOINTERFACE;
        *result = static_cast<IVelaTestAgentControl*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() noexcept override
    {
        const ULONG left = --m_refs;
        if (left == 0) delete this;
        return left;
    }

    // Scripts bind by name only; they need no type information of their own.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) noexcept override
    {
        return m_info->GetIDsOfNames(names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excepInfo, UINT* argErr) noexcept override
    {
        return m_info->Invoke(static_cast<IVelaTestAgentControl*>(this), id, flags, params, result, excepInfo,
                              argErr);
    }

    HRESULT STDMETHODCALLTYPE Reset() noexcept override
    {
        testagent::Reset();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetOutcome(BSTR className, BSTR operation, double hr, VARIANT result,
                                         VARIANT errorText) noexcept override
    {
        return Program(className, operation, [&](testagent::Outcome& outcome) {
            // Wrapped to 32 bits: JScript's 0x80004005 is 2147500037, VBScript's &H80004005 negative.
            outcome.hr = static_cast<HRESULT>(static_cast<ULONG>(static_cast<long long>(hr)));
            VARIANT number, text;
            ::VariantInit(&number);
            ::VariantInit(&text);
            outcome.result =
                Given(result, VT_I2, number) ? std::optional<short>(V_I2(&number)) : std::nullopt;
            outcome.errorText.reset();
            if (Given(errorText, VT_BSTR, text)) {
                const unique_bstr owned(V_BSTR(&text));
                outcome.errorText.emplace(owned.get(), ::SysStringLen(owned.get()));
            }
        });
    }
    HRESULT STDMETHODCALLTYPE SetText(BSTR className, BSTR operation, BSTR text) noexcept override
    {
        return Program(className, operation, [&](testagent::Outcome& outcome) {
            outcome.text.emplace(text ? text : L"", ::SysStringLen(text));
            outcome.userList = outcome.text;
        });
    }
    HRESULT STDMETHODCALLTYPE SetNumber(BSTR className, BSTR operation, double value) noexcept override
    {
        return Program(className, operation, [&](testagent::Outcome& outcome) {
            outcome.size = value;
            outcome.count = static_cast<long>(static_cast<long long>(value));
        });
    }
    HRESULT STDMETHODCALLTYPE get_Journal(BSTR* journal) noexcept override
    {
        if (!journal) return E_POINTER;
        *journal = nullptr;
        return ComBoundary([&] {
            *journal = AllocText(testagent::Journal());
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_CallCount(LONG* count) noexcept override
    {
        return ComBoundary([&] { return Number(count, static_cast<LONG>(testagent::Calls().size())); });
    }
    HRESULT STDMETHODCALLTYPE get_Activations(LONG* count) noexcept override
    {
        return Number(count, testagent::Activations());
    }
    HRESULT STDMETHODCALLTYPE get_LiveObjects(LONG* count) noexcept override
    {
        return Number(count, testagent::LiveObjects());
    }
    HRESULT STDMETHODCALLTYPE Stall(BSTR className, BSTR operation, LONG milliseconds) noexcept override
    {
        return Program(className, operation, [&](testagent::Outcome& outcome) {
            outcome.stallMs = milliseconds < 0 ? testagent::kUntilReleased : static_cast<DWORD>(milliseconds);
        });
    }
    HRESULT STDMETHODCALLTYPE ReleaseStalls() noexcept override
    {
        testagent::ReleaseStalls();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Stalled(LONG* count) noexcept override
    {
        return Number(count, testagent::Stalled());
    }

private:
    // SetText and SetNumber add to the operation's outcome; SetOutcome replaces its HRESULT,
    // result value and error text.
    template <typename F> static HRESULT Program(BSTR className, BSTR operation, F&& change) noexcept
    {
        return ComBoundary([&] {
            const std::string name = Narrow(className), op = Narrow(operation);
            testagent::Outcome outcome = testagent::GetOutcome(name, op);
            change(outcome);
            try {
                testagent::SetOutcome(name, op, outcome);
            } catch (const std::invalid_argument& e) {
                return Raise(std::string("VelaTestAgent.Control: ") + e.what());
            }
            return S_OK;
        });
    }
    static HRESULT Number(LONG* out, LONG value) noexcept
    {
        if (!out) return E_POINTER;
        *out = value;
        return S_OK;
    }

    com_ptr<ITypeInfo> m_info;
    std::atomic<ULONG> m_refs{1};
};

// The control's type information comes from the library embedded in this DLL.
HRESULT CreateControl(REFIID iid, void** result)
{
    com_ptr<ITypeLib> library;
    com_ptr<ITypeInfo> info;
    RETURN_IF_FAILED(::LoadTypeLibEx((ModulePath() + L"\\2").c_str(), REGKIND_NONE, library.put()));
    RETURN_IF_FAILED(library->GetTypeInfoOfGuid(IID_IVelaTestAgentControl, info.put()));
    const auto control = com_ptr<Control>::attach(new Control(std::move(info)));
    return control->QueryInterface(iid, result);
}

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(const CLSID& clsid) noexcept : clsid(clsid) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** result) noexcept override
    {
        if (!result) return E_POINTER;
        *result = iid == IID_IUnknown || iid == IID_IClassFactory ? this : nullptr;
        return *result ? S_OK : E_NOINTERFACE;
    }
    // The factories are static; their references keep nothing alive.
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return 2; }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** result) noexcept override
    {
        if (!result) return E_POINTER;
        *result = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (clsid != CLSID_VelaTestAgentControl) return testagent::CreateAgent(clsid, iid, result);
        return ComBoundary([&] { return CreateControl(iid, result); });
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override
    {
        lock ? ++g_locks : --g_locks;
        return S_OK;
    }

    const CLSID& clsid;
};

ClassFactory g_factories[] = {ClassFactory(CLSID_ServerAdmin), ClassFactory(CLSID_DnsAdmin),
                              ClassFactory(CLSID_BindDnsAdmin), ClassFactory(CLSID_VelaTestAgentControl)};
const std::wstring kControlProgId = L"VelaTestAgent.Control";

std::wstring GuidText(const GUID& guid)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

void SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value)
{
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    THROW_IF_FAILED(HRESULT_FROM_WIN32(
        ::RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, value.c_str(), bytes)));
}

} // namespace

extern "C" {

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** result)
{
    if (!result) return E_POINTER;
    *result = nullptr;
    for (ClassFactory& factory : g_factories) {
        if (clsid == factory.clsid) return factory.QueryInterface(iid, result);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return testagent::LiveObjects() == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

// Registers the classes, the control's ProgID and both embedded type libraries: the
// agent's lets the standard marshaler carry its interfaces between apartments. The classes
// take callers of both apartment kinds directly, as a remote agent serves each call on a
// thread of its own: a stalled call then holds only the thread that made it.
HRESULT STDAPICALLTYPE DllRegisterServer()
{
    return ComBoundary([] {
        const std::wstring path = ModulePath();
        for (const ClassFactory& served : g_factories) {
            const std::wstring key = L"CLSID\\" + GuidText(served.clsid) + L"\\InprocServer32";
            SetValue(key, nullptr, path);
            SetValue(key, L"ThreadingModel", L"Both");
        }
        const std::wstring control = GuidText(CLSID_VelaTestAgentControl);
        SetValue(L"CLSID\\" + control + L"\\ProgID", nullptr, kControlProgId);
        SetValue(kControlProgId + L"\\CLSID", nullptr, control);
        for (std::wstring library : {path, path + L"\\2"}) {
            com_ptr<ITypeLib> typeLib;
            THROW_IF_FAILED(::LoadTypeLibEx(library.c_str(), REGKIND_NONE, typeLib.put()));
            // Registered with its resource number: REGKIND_REGISTER would drop it.
            THROW_IF_FAILED(::RegisterTypeLib(typeLib.get(), library.data(), nullptr));
        }
        return S_OK;
    });
}

HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    constexpr SYSKIND kSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
    return ComBoundary([] {
        for (const ClassFactory& served : g_factories)
            ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidText(served.clsid)).c_str());
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kControlProgId.c_str());
        for (const GUID* library : {&LIBID_VelaAgentLib, &LIBID_VelaTestAgentLib})
            ::UnRegisterTypeLib(*library, 1, 0, LOCALE_NEUTRAL, kSysKind);
        return S_OK;
    });
}

} // extern "C"
