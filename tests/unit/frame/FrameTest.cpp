// The component as COM sees it: the built library, copied into a folder whose name holds a
// quote, is loaded with LoadLibrary and driven only through its four exports. Registry and
// type library results are read back with raw calls.
#include "AgentControl.h"
#include "LogTestSupport.h"
#include "common/Unique.h"
#include "frame/Resource.h"
#include "platform/WinIncludes.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <utility>
#include <vector>

namespace {

using vela::com_ptr;
using vela::unique_bstr;
using vela::unique_hkey;
using vela::unique_hmodule;
using namespace vela::test;

constexpr DWORD kPoison = 0xdeadbeef;
void* const kPoisoned = reinterpret_cast<void*>(static_cast<UINT_PTR>(kPoison));
const std::string kLibid = "{7A3F1C20-5B0E-4D2A-9C11-3E5F00000001}";
// The key of the registered library's file: each architecture's build holds its own kind.
const std::string kLibraryFile = sizeof(void*) == 8 ? "\\0\\win64" : "\\0\\win32";

GUID Guid(const std::string& text)
{
    GUID guid = {};
    EXPECT_EQ(::IIDFromString(std::wstring(text.begin(), text.end()).c_str(), &guid), S_OK) << text;
    return guid;
}

// The two classes as registered, with the interface that each one refuses.
const struct Class {
    const char* name;
    std::string clsid, dual, foreign;
} kClasses[] = {
    {"SecDNSAdmin", "{7A3F1C20-5B0E-4D2A-9C11-3E5F00000003}", "{7A3F1C20-5B0E-4D2A-9C11-3E5F00000002}",
     "{7A3F1C20-5B0E-4D2A-9C11-3E5F00000004}"},
    {"VelaServerAccess", "{7A3F1C20-5B0E-4D2A-9C11-3E5F00000005}", "{7A3F1C20-5B0E-4D2A-9C11-3E5F00000004}",
     "{7A3F1C20-5B0E-4D2A-9C11-3E5F00000002}"},
};

// A REG_SZ value below HKEY_CLASSES_ROOT, "<no key>" or "<no value>" when there is none.
std::string Read(const std::string& key, const char* value = nullptr)
{
    unique_hkey handle;
    char data[MAX_PATH * 2] = {};
    DWORD size = sizeof(data) - 1, type = kPoison;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, handle.put())) return "<no key>";
    if (::RegQueryValueExA(handle.get(), value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size))
        return "<no value>";
    return type == REG_SZ ? data : "<type " + std::to_string(type) + ">";
}

// An aggregating object: it answers IUnknown itself and hands other requests to the inner one.
struct TestOuter final : IUnknown {
    STDMETHODIMP QueryInterface(REFIID iid, void** result) noexcept override
    {
        if (iid != IID_IUnknown) return inner->QueryInterface(iid, result);
        *result = this;
        return AddRef(), S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return --refs; }

    ULONG refs = 1;
    IUnknown* inner = nullptr;
};

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t exe[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
        const std::wstring folder(exe, std::wcsrchr(exe, L'\\') + 1);
        m_module = ::LoadLibraryW((folder + L"it's\\VeladcomClient.dll").c_str());
        ASSERT_NE(m_module, nullptr) << ::GetLastError();
        char path[MAX_PATH] = {};
        ::GetModuleFileNameA(m_module, path, MAX_PATH);
        m_path = path;
    }
    void TearDown() override { ::FreeLibrary(m_module); }

    void* Export(const char* name) { return reinterpret_cast<void*>(::GetProcAddress(m_module, name)); }
    HRESULT Call(const char* name) { return reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(Export(name))(); }
    HRESULT GetClassObject(const std::string& clsid, REFIID iid, void** out)
    {
        using Fn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
        return reinterpret_cast<Fn>(Export("DllGetClassObject"))(Guid(clsid), iid, out);
    }
    com_ptr<IClassFactory> Factory(const Class& c)
    {
        com_ptr<IClassFactory> factory;
        EXPECT_EQ(GetClassObject(c.clsid, IID_IClassFactory, factory.put_void()), S_OK);
        return factory;
    }
    template <typename T = IDispatch> com_ptr<T> Create(const Class& c)
    {
        com_ptr<T> object;
        EXPECT_EQ(Factory(c)->CreateInstance(nullptr, Guid(c.dual), object.put_void()), S_OK);
        return object;
    }

    std::string m_path; // as the system reports it
    HMODULE m_module = nullptr;
};

TEST_F(FrameTest, OnlyClassObjectsHandedOutAndLocksKeepTheModule)
{
    void* out = kPoisoned;
    EXPECT_EQ(GetClassObject(kClasses[0].dual, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    out = kPoisoned;
    EXPECT_EQ(GetClassObject(kClasses[1].clsid, IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(Call("DllCanUnloadNow"), S_OK); // the cache's own reference does not count
    {
        auto first = Factory(kClasses[1]), second = Factory(kClasses[1]);
        EXPECT_EQ(first.get(), second.get());
        first.reset();
        EXPECT_EQ(Call("DllCanUnloadNow"), S_FALSE);
    }
    EXPECT_EQ(Call("DllCanUnloadNow"), S_OK);
    for (const BOOL lock : {TRUE, TRUE, FALSE})
        EXPECT_EQ(Factory(kClasses[0])->LockServer(lock), S_OK);
    EXPECT_EQ(Call("DllCanUnloadNow"), S_FALSE);
    Factory(kClasses[0])->LockServer(FALSE);
    EXPECT_EQ(Call("DllCanUnloadNow"), S_OK);
}

TEST_F(FrameTest, ObjectsLockTheModuleShareOneIdentityAndAggregate)
{
    for (const Class& c : kClasses) {
        SCOPED_TRACE(c.name);
        auto factory = Factory(c);
        // A new object whose interface is refused is destroyed again (the lock is checked below).
        for (const GUID& refused : {Guid(c.foreign), IID_IClassFactory}) {
            void* out = kPoisoned;
            EXPECT_EQ(factory->CreateInstance(nullptr, refused, &out), E_NOINTERFACE);
            EXPECT_EQ(out, nullptr);
        }
        auto object = Create(c);
        com_ptr<ISupportErrorInfo> errorInfo;
        com_ptr<IUnknown> identity;
        com_ptr<IDispatch> dispatch;
        ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, errorInfo.put_void()), S_OK);
        ASSERT_EQ(errorInfo->QueryInterface(IID_IUnknown, identity.put_void()), S_OK);
        ASSERT_EQ(errorInfo->QueryInterface(IID_IDispatch, dispatch.put_void()), S_OK);
        EXPECT_EQ(identity.get(), static_cast<IUnknown*>(object.get()));
        EXPECT_EQ(dispatch.get(), object.get());
        void* out = kPoisoned;
        EXPECT_EQ(object->QueryInterface(Guid(c.foreign), &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(Guid(c.dual)), S_OK);
        EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);

        // Aggregated only as IUnknown, which counts for itself; the other interfaces count on,
        // and answer IUnknown with, the outer object.
        TestOuter outer;
        out = kPoisoned;
        EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, &out), CLASS_E_NOAGGREGATION);
        EXPECT_EQ(out, nullptr);
        ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)),
                  S_OK);
        ASSERT_EQ(outer.inner->QueryInterface(IID_IUnknown, identity.put_void()), S_OK);
        EXPECT_EQ(identity.get(), outer.inner);
        ASSERT_EQ(outer.QueryInterface(Guid(c.dual), dispatch.put_void()), S_OK);
        ASSERT_EQ(dispatch->QueryInterface(IID_IUnknown, identity.put_void()), S_OK);
        EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer));
        EXPECT_EQ(outer.refs, 3u);
        identity = nullptr;
        dispatch = nullptr;
        EXPECT_EQ(outer.inner->Release(), 0u);
        errorInfo = nullptr;
        factory = nullptr;
        EXPECT_EQ(Call("DllCanUnloadNow"), S_FALSE); // the plain object
        object = nullptr;
        EXPECT_EQ(Call("DllCanUnloadNow"), S_OK);
    }
}

TEST_F(FrameTest, RegistrationWritesTheScriptsKeysAndUnregistrationRemovesThem)
{
    const std::string library = "TypeLib\\" + kLibid + "\\1.0";
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    for (const Class& c : kClasses) {
        const std::string progId = std::string("VeladcomClient.") + c.name, clsid = "CLSID\\" + c.clsid;
        const struct {
            std::string key;
            const char* value;
            std::string expected;
        } rows[] = {
            {progId + ".1", nullptr, std::string(c.name) + " Class"},
            {progId + "\\CurVer", nullptr, progId + ".1"},
            {clsid + "\\ProgID", nullptr, progId + ".1"},
            {clsid + "\\InprocServer32", nullptr, m_path},
            {clsid + "\\InprocServer32", "ThreadingModel", "Apartment"},
            {clsid + "\\TypeLib", nullptr, kLibid},
        };
        for (const auto& row : rows)
            EXPECT_EQ(Read(row.key, row.value), row.expected) << row.key;
    }
    EXPECT_EQ(Read(library + kLibraryFile), m_path);
    EXPECT_EQ(Read(library + "\\HELPDIR"), m_path.substr(0, m_path.rfind('\\') + 1));

    // What others added to a program-id key stays, with the key.
    unique_hkey key;
    ASSERT_EQ(::RegCreateKeyA(HKEY_CLASSES_ROOT, "VeladcomClient.SecDNSAdmin\\Foreign", key.put()),
              ERROR_SUCCESS);
    EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
    for (const Class& c : kClasses) {
        EXPECT_EQ(Read(std::string("VeladcomClient.") + c.name + "\\CLSID"), "<no key>");
        EXPECT_EQ(Read("CLSID\\" + c.clsid), "<no key>");
    }
    EXPECT_EQ(Read("VeladcomClient.SecDNSAdmin\\Foreign"), "<no value>");
    EXPECT_EQ(Read("VeladcomClient.VelaServerAccess"), "<no key>");
    EXPECT_EQ(Read(library), "<no key>");
}

TEST_F(FrameTest, LateBindingNeedsTheRegisteredTypeLibraryEarlyBindingDoesNot)
{
    EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
    auto object = Create<IVelaServerAccess>(kClasses[1]);
    LPOLESTR name = const_cast<LPOLESTR>(L"Reporting");
    DISPID id = kPoison;
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), TYPE_E_LIBNOTREGISTERED);
    VARIANT arguments[2] = {}; // Reporting(strComName, lComID): empty converts to both
    DISPPARAMS params = {arguments, nullptr, 2, 0};
    VARIANT result = {};
    EXPECT_EQ(object->Invoke(28, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
              TYPE_E_LIBNOTREGISTERED);
    short value = 0;
    EXPECT_EQ(object->Reporting(nullptr, 7, &value), S_OK);
    EXPECT_EQ(value, 1);

    // A failed load is retried: once registered, the same object answers.
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    const struct {
        std::vector<const wchar_t*> names;
        std::vector<DISPID> ids;
        HRESULT hr;
    } lookups[] = {
        {{L"createaentry"}, {8}, S_OK},
        {{L"CreateAEntry", L"AHost"}, {8, 2}, S_OK},
        {{L"NoSuchMember"}, {DISPID_UNKNOWN}, DISP_E_UNKNOWNNAME},
    };
    for (const auto& lookup : lookups) {
        std::vector<DISPID> ids(lookup.names.size(), static_cast<DISPID>(kPoison));
        auto names = const_cast<LPOLESTR*>(lookup.names.data());
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, UINT(ids.size()), 0, ids.data()), lookup.hr);
        EXPECT_EQ(ids, lookup.ids) << lookup.names[0];
    }
    ASSERT_EQ(object->Invoke(28, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.vt, VT_I2);
    EXPECT_EQ(result.iVal, 1);

    // Both dispatch descriptions carry the dual interface's flags, as automation clients read them.
    for (const Class& c : kClasses) {
        com_ptr<ITypeInfo> dispatch;
        ASSERT_EQ(Create(c)->GetTypeInfo(0, 0, dispatch.put()), S_OK);
        ULONG flags = kPoison;
        ASSERT_EQ(dispatch.try_query<ITypeInfo2>()->GetTypeFlags(&flags), S_OK);
        EXPECT_EQ(flags, 0x1140u) << c.name;
    }
}

// A module whose own type library cannot be loaded registers, and serves late binding from,
// the ".tlb" file of its name beside it.
TEST_F(FrameTest, TypeLibraryFromTheFileBesideAModuleWithoutOne)
{
    ::FreeLibrary(std::exchange(m_module, nullptr));
    const std::string folder = m_path.substr(0, m_path.rfind("it's\\")) + "beside\\";
    const std::string dll = folder + "VeladcomClient.dll", library = "TypeLib\\" + kLibid + "\\1.0";
    ASSERT_TRUE(::CopyFileA(m_path.c_str(), dll.c_str(), FALSE));
    // Its resources all removed, the registry scripts put back: Wine's EndUpdateResource
    // brings back a resource removed alone (it reads the file's resources after the updates).
    const vela::unique_hmodule original(::LoadLibraryExA(m_path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    const HANDLE update = ::BeginUpdateResourceA(dll.c_str(), TRUE);
    ASSERT_NE(update, nullptr);
    for (const WORD script : {IDR_SECDNSADMIN, IDR_VELASERVERACCESS}) {
        const HRSRC found = ::FindResourceA(original.get(), MAKEINTRESOURCEA(script), "REGISTRY");
        ASSERT_NE(found, nullptr);
        ASSERT_TRUE(::UpdateResourceA(
            update, "REGISTRY", MAKEINTRESOURCEA(script), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
            ::LockResource(::LoadResource(original.get(), found)), ::SizeofResource(original.get(), found)));
    }
    ASSERT_TRUE(::EndUpdateResourceA(update, FALSE));
    com_ptr<ITypeLib> own;
    ASSERT_TRUE(FAILED(::LoadTypeLib(std::wstring(dll.begin(), dll.end()).c_str(), own.put())));
    m_module = ::LoadLibraryA(dll.c_str());
    ASSERT_NE(m_module, nullptr);

    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    EXPECT_EQ(Read(library + kLibraryFile), folder + "VeladcomClient.tlb");
    EXPECT_EQ(Read(library + "\\HELPDIR"), folder);
    auto object = Create(kClasses[1]);
    VARIANT arguments[2] = {};
    DISPPARAMS params = {arguments, nullptr, 2, 0};
    VARIANT result = {};
    ASSERT_EQ(object->Invoke(28, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.vt, VT_I2);
    EXPECT_EQ(result.iVal, 1);
    EXPECT_EQ(Call("DllUnregisterServer"), S_OK);
    EXPECT_EQ(Read(library), "<no key>");
}

// Unloading through FreeLibrary terminates the module: the type information it loaded for
// late binding is released, and with it its hold on the type library.
TEST_F(FrameTest, UnloadReleasesTheTypeInformation)
{
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    GUID libid = Guid(kLibid);
    com_ptr<ITypeLib> library;
    ASSERT_EQ(::LoadRegTypeLib(libid, 1, 0, 0, library.put()), S_OK);
    const auto references = [&] { return library->AddRef(), library->Release(); };
    const ULONG before = references();
    {
        auto object = Create(kClasses[1]);
        LPOLESTR name = const_cast<LPOLESTR>(L"Reporting");
        DISPID id = kPoison;
        ASSERT_EQ(object->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
    }
    ASSERT_GT(references(), before);
    ASSERT_TRUE(::FreeLibrary(std::exchange(m_module, nullptr)));
    EXPECT_EQ(references(), before);
}

// Argument blocks that cannot describe a call are refused before the system's dispatcher
// reads through them, in the host's process.
TEST_F(FrameTest, ImpossibleArgumentBlocksAreRefused)
{
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    VARIANT args[1] = {};
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS rows[] = {
        {args, nullptr, 1, 1},    // a named argument without its DISPID
        {nullptr, nullptr, 2, 0}, // arguments without their array
        {args, &named, 1, 2},     // more named arguments than arguments
    };
    for (const Class& c : kClasses) {
        auto object = Create(c);
        for (DISPPARAMS& params : rows) {
            VARIANT result = {};
            EXPECT_EQ(object->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
                      E_INVALIDARG)
                << c.name << " row " << &params - rows;
        }
        EXPECT_EQ(object->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
                  E_INVALIDARG);
    }
}

// Argument contents that the system's converter cannot take are refused before it reads
// them, with the first bad argument named as Invoke names one (its place in rgvarg, which
// runs from the last argument to the first). The member is not entered: nothing is logged.
// Well-formed shapes of the same kinds still reach the member.
TEST_F(FrameTest, MalformedArgumentContentsAreRefused)
{
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    TempDir dir;
    ::CreateDirectoryA((dir / "web").c_str(), nullptr);
    ::CreateDirectoryA((dir / "web\\admin").c_str(), nullptr);
    const ScopedInstallPath installPath(dir.path());
    const auto make = [](VARTYPE vt, void* ref) {
        VARIANT v;
        ::VariantInit(&v);
        v.vt = vt, v.byref = ref;
        return v;
    };
    const auto decimal = [](BYTE scale, BYTE sign) {
        VARIANT v;
        v.decVal = {};
        v.decVal.scale = scale, v.decVal.sign = sign, v.decVal.Lo32 = 12345;
        v.vt = VT_DECIMAL; // after the DECIMAL, which overlays it
        return v;
    };
    BSTR text = ::SysAllocString(L"x");
    VARIANT nullText = make(VT_BSTR | VT_BYREF, nullptr), nullArray = make(VT_ARRAY | VT_VARIANT, nullptr);
    VARIANT textVariant = make(VT_BSTR, text), cycle = make(VT_VARIANT | VT_BYREF, nullptr);
    cycle.pvarVal = &cycle;
    DECIMAL scale29 = decimal(29, 0).decVal;
    SAFEARRAY* noArray = nullptr;
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_VARIANT, 0, 1);
    LONGLONG number = 1LL << 40;
    const struct {
        const char* what;
        std::vector<std::pair<UINT, VARIANT>> args; // in place of the defaults, by rgvarg index
        HRESULT hr;
        UINT argErr;
    } rows[] = {
        // clang-format off
        {"reference to a null reference", {{3, make(VT_VARIANT | VT_BYREF, &nullText)}}, DISP_E_TYPEMISMATCH, 3},
        {"DECIMAL of scale 29", {{1, decimal(29, 0)}}, DISP_E_TYPEMISMATCH, 1},
        {"reference to a DECIMAL of scale 29", {{2, make(VT_DECIMAL | VT_BYREF, &scale29)}}, DISP_E_TYPEMISMATCH, 2},
        {"DECIMAL of sign 1", {{4, decimal(0, 1)}}, DISP_E_TYPEMISMATCH, 4},
        {"null reference", {{0, make(VT_I2 | VT_BYREF, nullptr)}}, DISP_E_TYPEMISMATCH, 0},
        {"null reference to a VARIANT", {{2, make(VT_VARIANT | VT_BYREF, nullptr)}}, DISP_E_TYPEMISMATCH, 2},
        {"null array", {{1, nullArray}}, DISP_E_TYPEMISMATCH, 1},
        {"reference to a null array", {{1, make(VT_ARRAY | VT_BSTR | VT_BYREF, &noArray)}}, DISP_E_TYPEMISMATCH, 1},
        {"reference to a null array in a VARIANT", {{3, make(VT_VARIANT | VT_BYREF, &nullArray)}}, DISP_E_TYPEMISMATCH, 3},
        {"type 15", {{1, make(15, nullptr)}}, DISP_E_BADVARTYPE, 1},
        {"VT_BSTR_BLOB", {{1, make(VT_BSTR_BLOB, nullptr)}}, DISP_E_BADVARTYPE, 1},
        {"VT_EMPTY by reference", {{4, make(VT_EMPTY | VT_BYREF, &number)}}, DISP_E_BADVARTYPE, 4},
        {"array of VT_NULL", {{4, make(VT_NULL | VT_ARRAY, array)}}, DISP_E_BADVARTYPE, 4},
        {"vector", {{2, make(VT_VECTOR | VT_I4, &number)}}, DISP_E_BADVARTYPE, 2},
        {"VT_RESERVED", {{2, make(VT_RESERVED | VT_BSTR, text)}}, DISP_E_BADVARTYPE, 2},
        {"VT_VARIANT by value", {{2, make(VT_VARIANT, &textVariant)}}, DISP_E_BADVARTYPE, 2},
        {"reference to itself", {{3, cycle}}, DISP_E_BADVARTYPE, 3},
        {"two bad: the first named", {{1, make(15, nullptr)}, {3, make(VT_BSTR | VT_BYREF, nullptr)}}, DISP_E_TYPEMISMATCH, 3},
        {"reference to a text", {{3, make(VT_VARIANT | VT_BYREF, &textVariant)}}, S_OK, kPoison},
        {"DECIMAL of scale 28, negative", {{1, decimal(28, DECIMAL_NEG)}}, S_OK, kPoison},
        {"VT_I8 by reference", {{1, make(VT_I8 | VT_BYREF, &number)}}, S_OK, kPoison},
        // An array is no text: Wine's dispatcher refuses it, naming no argument.
        {"array", {{1, make(VT_ARRAY | VT_VARIANT, array)}}, DISP_E_TYPEMISMATCH, kPoison},
        // clang-format on
    };
    for (const Class& c : kClasses) {
        auto object = Create(c);
        for (const auto& row : rows) {
            // Calls that reach the system's dispatcher go to SecDNSAdmin alone: on
            // VelaServerAccess one that converts would run a command.
            if (row.argErr == kPoison && c.name != std::string("SecDNSAdmin")) continue;
            SCOPED_TRACE(std::string(c.name) + ": " + row.what);
            VARIANT args[5] = {make(VT_I2, nullptr), {}, {}, {}, {}}; // SetupSecDNS, DISPID 1 in both
            for (const auto& [index, arg] : row.args)
                args[index] = arg;
            DISPPARAMS params = {args, nullptr, 5, 0};
            VARIANT result;
            ::VariantInit(&result);
            UINT argErr = kPoison;
            EXPECT_EQ(object->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, &argErr),
                      row.hr);
            EXPECT_EQ(argErr, row.argErr);
            if (row.argErr != kPoison) { // without a place for the argument's index
                EXPECT_EQ(object->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
                          row.hr);
            }
            ::VariantClear(&result);
        }
    }
    const std::string log = dir / "web\\admin\\Logs\\VelaDComClient.csv";
    EXPECT_EQ(SplitLines(ReadFileBytes(log)).size(), 1u)
        << "the log of VelaServerAccess holds its header alone";
    ::SafeArrayDestroy(array);
    ::SysFreeString(text);
}

// A command that timed out may still run its exchange on a thread of the module's: the
// module cannot be unloaded until it ends, even when no object is left.
TEST_F(FrameTest, LateExchangeKeepsTheModuleLoaded)
{
    // The stand-in agent, registered as regsvr32 would and programmed through its control object.
    const unique_hmodule agent(::LoadLibraryW(VELA_AGENT_DLL));
    ASSERT_TRUE(agent);
    const auto agentExport = [&](const char* name) {
        void* function = reinterpret_cast<void*>(::GetProcAddress(agent.get(), name));
        return reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(function)();
    };
    ASSERT_EQ(agentExport("DllRegisterServer"), S_OK);
    com_ptr<IVelaTestAgentControl> control;
    ASSERT_EQ(::CoCreateInstance(CLSID_VelaTestAgentControl, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_IVelaTestAgentControl, control.put_void()),
              S_OK);
    const unique_bstr dns(::SysAllocString(L"DnsAdmin")), operation(::SysAllocString(L"CreateAEntry")),
        host(::SysAllocString(L"host1"));
    ASSERT_EQ(control->Stall(dns.get(), operation.get(), -1), S_OK);
    const char general[] = "SOFTWARE\\Corvane\\Nt Vela Console\\General";
    const DWORD seconds = 1;
    ASSERT_EQ(::RegSetKeyValueA(HKEY_LOCAL_MACHINE, general, "CommandTimeoutSeconds", REG_DWORD, &seconds,
                                sizeof seconds),
              ERROR_SUCCESS);
    {
        auto object = Create<IVelaServerAccess>(kClasses[1]);
        short result = static_cast<short>(kPoison);
        EXPECT_EQ(object->CreateAEntry(host.get(), host.get(), host.get(), host.get(), &result), S_OK);
        EXPECT_EQ(result, 0);
    }
    EXPECT_EQ(Call("DllCanUnloadNow"), S_FALSE);
    ASSERT_EQ(control->ReleaseStalls(), S_OK);
    HRESULT unload = S_FALSE;
    for (int i = 0; i < 3000 && unload != S_OK; ++i, ::Sleep(10))
        unload = Call("DllCanUnloadNow");
    EXPECT_EQ(unload, S_OK);
    LONG live = kPoison;
    EXPECT_EQ(control->get_LiveObjects(&live), S_OK);
    EXPECT_EQ(live, 0);

    ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, general, "CommandTimeoutSeconds");
    control->Reset();
    control.reset();
    EXPECT_EQ(agentExport("DllUnregisterServer"), S_OK);
}

} // namespace
