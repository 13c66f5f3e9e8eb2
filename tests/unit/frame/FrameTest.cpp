// The component as COM sees it: the library is loaded with LoadLibrary and driven only
// through its four exports; results are read back through raw registry, type-library
// and version-resource calls.
#include "common/Unique.h"
#include "platform/WinIncludes.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using vela::com_ptr;
using vela::unique_bstr;
using vela::unique_hkey;

constexpr const char* kSecDnsClsid = "{7A3F1C20-5B0E-4D2A-9C11-3E5F00000003}";
constexpr const char* kAccessClsid = "{7A3F1C20-5B0E-4D2A-9C11-3E5F00000005}";
constexpr const char* kLibid = "{7A3F1C20-5B0E-4D2A-9C11-3E5F00000001}";
constexpr DWORD kPoison = 0xdeadbeef;

// The build passes Linux paths; Wine shows the Linux root as drive Z:.
std::wstring WinePath(const char* linuxPath)
{
    std::wstring path = L"Z:";
    for (const char* c = linuxPath; *c; ++c)
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

template <typename T> T* Poisoned()
{
    return reinterpret_cast<T*>(static_cast<UINT_PTR>(kPoison));
}

std::optional<std::string> ReadString(const std::string& path, const char* value = nullptr)
{
    unique_hkey key;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return std::nullopt;
    char data[1024] = {};
    DWORD size = sizeof(data) - 1;
    DWORD type = 0;
    if (::RegQueryValueExA(key.get(), value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    return std::string(data);
}

bool KeyExists(const std::string& path)
{
    unique_hkey key;
    return ::RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::wstring Doc(ITypeInfo* info, MEMBERID id, bool helpString)
{
    unique_bstr name, help;
    if (FAILED(info->GetDocumentation(id, name.put(), help.put(), nullptr, nullptr))) return L"<failed>";
    const BSTR text = helpString ? help.get() : name.get();
    return text ? text : L"";
}

// An outer object that aggregates the component: it answers IUnknown itself and hands
// every other request to the inner object.
class TestOuter final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** result) noexcept override
    {
        if (iid == IID_IUnknown) {
            *result = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(iid, result) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return --refs; }

    ULONG refs = 1;
    IUnknown* inner = nullptr;
};

class FrameTest : public ::testing::Test {
protected:
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using NoArgumentFn = HRESULT(STDAPICALLTYPE*)();

    void SetUp() override
    {
        m_path = WinePath(VELA_FRAME_DLL);
        m_module = ::LoadLibraryW(m_path.c_str());
        ASSERT_NE(m_module, nullptr) << ::GetLastError();
        m_getClassObject = Export<GetClassObjectFn>("DllGetClassObject");
        m_canUnloadNow = Export<NoArgumentFn>("DllCanUnloadNow");
        m_register = Export<NoArgumentFn>("DllRegisterServer");
        m_unregister = Export<NoArgumentFn>("DllUnregisterServer");
        ASSERT_TRUE(m_getClassObject && m_canUnloadNow && m_register && m_unregister);
        char path[MAX_PATH] = {};
        ::GetModuleFileNameA(m_module, path, MAX_PATH);
        m_pathA = path;
    }

    void TearDown() override
    {
        if (!m_module) return;
        ::FreeLibrary(m_module);
        // Nothing the module handed out may keep it loaded, so each test starts fresh.
        EXPECT_EQ(::GetModuleHandleW(m_path.c_str()), nullptr);
    }

    template <typename Fn> Fn Export(const char* name)
    {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(m_module, name)));
    }

    com_ptr<IClassFactory> Factory(REFCLSID clsid)
    {
        com_ptr<IClassFactory> factory;
        EXPECT_EQ(m_getClassObject(clsid, IID_IClassFactory, factory.put_void()), S_OK);
        return factory;
    }

    template <typename T> com_ptr<T> Create(REFCLSID clsid)
    {
        com_ptr<T> object;
        auto factory = Factory(clsid);
        if (factory) {
            EXPECT_EQ(factory->CreateInstance(nullptr, __uuidof(T), object.put_void()), S_OK);
        }
        return object;
    }

    std::wstring m_path;
    std::string m_pathA;
    HMODULE m_module = nullptr;
    GetClassObjectFn m_getClassObject = nullptr;
    NoArgumentFn m_canUnloadNow = nullptr;
    NoArgumentFn m_register = nullptr;
    NoArgumentFn m_unregister = nullptr;
};

// --- Class objects and the lock count ---------------------------------------------------

TEST_F(FrameTest, GetClassObjectChecksItsArguments)
{
    EXPECT_EQ(m_getClassObject(CLSID_VelaServerAccess, IID_IClassFactory, nullptr), E_POINTER);

    void* out = Poisoned<void>();
    EXPECT_EQ(m_getClassObject(IID_IVelaServerAccess, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);

    out = Poisoned<void>();
    EXPECT_EQ(m_getClassObject(CLSID_SecDNSAdmin, IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(m_canUnloadNow(), S_OK);
}

TEST_F(FrameTest, ClassObjectIsCreatedOnceAndCached)
{
    com_ptr<IClassFactory> first, second, other;
    ASSERT_EQ(m_getClassObject(CLSID_VelaServerAccess, IID_IClassFactory, first.put_void()), S_OK);
    ASSERT_EQ(m_getClassObject(CLSID_VelaServerAccess, IID_IClassFactory, second.put_void()), S_OK);
    ASSERT_EQ(m_getClassObject(CLSID_SecDNSAdmin, IID_IClassFactory, other.put_void()), S_OK);
    EXPECT_EQ(first.get(), second.get());
    EXPECT_NE(first.get(), other.get());

    com_ptr<IUnknown> unknown;
    EXPECT_EQ(first->QueryInterface(IID_IUnknown, unknown.put_void()), S_OK);
    EXPECT_EQ(unknown.get(), static_cast<IUnknown*>(first.get()));
    void* out = Poisoned<void>();
    EXPECT_EQ(first->QueryInterface(IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
}

TEST_F(FrameTest, HeldClassObjectsAndObjectsLockTheModule)
{
    EXPECT_EQ(m_canUnloadNow(), S_OK);
    {
        auto factory = Factory(CLSID_VelaServerAccess);
        EXPECT_EQ(m_canUnloadNow(), S_FALSE);
    }
    // The module's own cached reference does not count.
    EXPECT_EQ(m_canUnloadNow(), S_OK);

    auto object = Create<IVelaServerAccess>(CLSID_VelaServerAccess);
    ASSERT_TRUE(object);
    EXPECT_EQ(m_canUnloadNow(), S_FALSE);
    object.reset();
    EXPECT_EQ(m_canUnloadNow(), S_OK);

    auto factory = Factory(CLSID_SecDNSAdmin);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory.reset();
    EXPECT_EQ(m_canUnloadNow(), S_FALSE);
    Factory(CLSID_SecDNSAdmin)->LockServer(FALSE);
    EXPECT_EQ(m_canUnloadNow(), S_OK);
}

// --- Creation, identity, aggregation ----------------------------------------------------

TEST_F(FrameTest, CreateInstanceChecksItsArguments)
{
    auto factory = Factory(CLSID_VelaServerAccess);
    ASSERT_TRUE(factory);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IVelaServerAccess, nullptr), E_POINTER);

    TestOuter outer;
    void* out = Poisoned<void>();
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);

    // A refused interface destroys the fresh object again: only the factory is held.
    out = Poisoned<void>();
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    out = Poisoned<void>();
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_ISecDNSAdmin, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    factory.reset();
    EXPECT_EQ(m_canUnloadNow(), S_OK);
    EXPECT_EQ(outer.refs, 1u);
}

TEST_F(FrameTest, InterfacesShareOneIdentityAndCount)
{
    auto object = Create<IVelaServerAccess>(CLSID_VelaServerAccess);
    ASSERT_TRUE(object);
    com_ptr<ISupportErrorInfo> errorInfo;
    ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, errorInfo.put_void()), S_OK);
    com_ptr<IUnknown> viaErrorInfo, viaDual;
    com_ptr<IDispatch> dispatch;
    ASSERT_EQ(errorInfo->QueryInterface(IID_IUnknown, viaErrorInfo.put_void()), S_OK);
    ASSERT_EQ(object->QueryInterface(IID_IUnknown, viaDual.put_void()), S_OK);
    ASSERT_EQ(errorInfo->QueryInterface(IID_IDispatch, dispatch.put_void()), S_OK);
    EXPECT_EQ(viaErrorInfo.get(), viaDual.get());
    EXPECT_EQ(viaDual.get(), static_cast<IUnknown*>(object.get()));
    EXPECT_EQ(static_cast<IDispatch*>(dispatch.get()), static_cast<IDispatch*>(object.get()));

    // One count: object, errorInfo, viaErrorInfo, viaDual, dispatch hold five references.
    EXPECT_EQ(errorInfo->AddRef(), 6u);
    EXPECT_EQ(object->Release(), 5u);

    EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    void* out = Poisoned<void>();
    EXPECT_EQ(object->QueryInterface(IID_ISecDNSAdmin, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IVelaServerAccess), S_OK);
    EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_ISecDNSAdmin), S_FALSE);

    auto secDns = Create<ISecDNSAdmin>(CLSID_SecDNSAdmin);
    ASSERT_TRUE(secDns);
    com_ptr<ISupportErrorInfo> secDnsErrorInfo;
    ASSERT_EQ(secDns->QueryInterface(IID_ISupportErrorInfo, secDnsErrorInfo.put_void()), S_OK);
    EXPECT_EQ(secDnsErrorInfo->InterfaceSupportsErrorInfo(IID_ISecDNSAdmin), S_OK);
    EXPECT_EQ(secDnsErrorInfo->InterfaceSupportsErrorInfo(IID_IVelaServerAccess), S_FALSE);
    out = Poisoned<void>();
    EXPECT_EQ(secDns->QueryInterface(IID_IVelaServerAccess, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
}

TEST_F(FrameTest, AggregatedObjectDelegatesToItsOuterObject)
{
    for (const CLSID* clsid : {&CLSID_VelaServerAccess, &CLSID_SecDNSAdmin}) {
        auto factory = Factory(*clsid);
        ASSERT_TRUE(factory);
        TestOuter outer;
        ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)),
                  S_OK);
        ASSERT_NE(outer.inner, nullptr);
        EXPECT_NE(outer.inner, static_cast<IUnknown*>(&outer));
        EXPECT_EQ(outer.refs, 1u);
        EXPECT_EQ(m_canUnloadNow(), S_FALSE);

        // The inner IUnknown answers for itself and owns its own count.
        com_ptr<IUnknown> innerUnknown;
        ASSERT_EQ(outer.inner->QueryInterface(IID_IUnknown, innerUnknown.put_void()), S_OK);
        EXPECT_EQ(innerUnknown.get(), outer.inner);
        innerUnknown.reset();

        // Its other interfaces count on, and answer IUnknown with, the outer object.
        com_ptr<IDispatch> dispatch;
        ASSERT_EQ(outer.QueryInterface(IID_IDispatch, dispatch.put_void()), S_OK);
        EXPECT_EQ(outer.refs, 2u);
        com_ptr<IUnknown> identity;
        ASSERT_EQ(dispatch->QueryInterface(IID_IUnknown, identity.put_void()), S_OK);
        EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer));
        EXPECT_EQ(outer.refs, 3u);
        identity.reset();
        com_ptr<ISupportErrorInfo> errorInfo;
        ASSERT_EQ(dispatch->QueryInterface(IID_ISupportErrorInfo, errorInfo.put_void()), S_OK);
        EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
        errorInfo.reset();
        dispatch.reset();
        EXPECT_EQ(outer.refs, 1u);

        EXPECT_EQ(outer.inner->Release(), 0u);
        outer.inner = nullptr;
        factory.reset();
        EXPECT_EQ(m_canUnloadNow(), S_OK);
    }
}

TEST_F(FrameTest, EarlyBoundMembersWork)
{
    auto secDns = Create<ISecDNSAdmin>(CLSID_SecDNSAdmin);
    ASSERT_TRUE(secDns);
    short value = static_cast<short>(0x7eef);
    EXPECT_EQ(secDns->SetupSecDNS(nullptr, nullptr, nullptr, nullptr, 0, &value), S_OK);
    EXPECT_EQ(value, 0x7eef);

    auto access = Create<IVelaServerAccess>(CLSID_VelaServerAccess);
    ASSERT_TRUE(access);
    value = 0;
    EXPECT_EQ(access->Reporting(nullptr, 0, &value), S_OK);
    EXPECT_EQ(value, 1);
    unique_bstr error;
    EXPECT_EQ(access->get_strError(error.put()), S_OK);
    ASSERT_NE(error.get(), nullptr);
    EXPECT_EQ(::SysStringLen(error.get()), 0u);

    UINT count = kPoison;
    EXPECT_EQ(access->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(access->GetTypeInfoCount(nullptr), E_POINTER);
    count = kPoison;
    EXPECT_EQ(secDns->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
}

// --- Registration -------------------------------------------------------------------------

void ExpectClassRegistered(const std::string& name, const char* clsid, const std::string& modulePath)
{
    const std::string progId = "VeladcomClient." + name;
    const std::string description = name + " Class";
    const std::string key = std::string("CLSID\\") + clsid;
    EXPECT_EQ(ReadString(progId + ".1"), description);
    EXPECT_EQ(ReadString(progId + ".1\\CLSID"), clsid);
    EXPECT_EQ(ReadString(progId), description);
    EXPECT_EQ(ReadString(progId + "\\CLSID"), clsid);
    EXPECT_EQ(ReadString(progId + "\\CurVer"), progId + ".1");
    EXPECT_EQ(ReadString(key), description);
    EXPECT_EQ(ReadString(key + "\\ProgID"), progId + ".1");
    EXPECT_EQ(ReadString(key + "\\VersionIndependentProgID"), progId);
    EXPECT_TRUE(KeyExists(key + "\\Programmable"));
    EXPECT_EQ(ReadString(key + "\\InprocServer32"), modulePath);
    EXPECT_EQ(ReadString(key + "\\InprocServer32", "ThreadingModel"), std::string("Apartment"));
    EXPECT_EQ(ReadString(key + "\\TypeLib"), kLibid);
}

void ExpectClassUnregistered(const std::string& name, const char* clsid)
{
    EXPECT_FALSE(KeyExists("VeladcomClient." + name + ".1"));
    EXPECT_FALSE(KeyExists("VeladcomClient." + name));
    EXPECT_FALSE(KeyExists(std::string("CLSID\\") + clsid));
}

TEST_F(FrameTest, RegisterWritesClassesAndTypeLibraryAndUnregisterRemovesThem)
{
    ASSERT_EQ(m_register(), S_OK);
    ASSERT_EQ(m_register(), S_OK); // a second run rewrites the same keys
    ExpectClassRegistered("SecDNSAdmin", kSecDnsClsid, m_pathA);
    ExpectClassRegistered("VelaServerAccess", kAccessClsid, m_pathA);

    const std::string library = std::string("TypeLib\\") + kLibid + "\\1.0";
    EXPECT_EQ(ReadString(library), std::string("VeladcomClient 1.0 Type Library"));
    const char* platform = sizeof(void*) == 8 ? "\\0\\win64" : "\\0\\win32";
    EXPECT_EQ(ReadString(library + platform), m_pathA);
    EXPECT_EQ(ReadString(library + "\\HELPDIR"), m_pathA.substr(0, m_pathA.find_last_of('\\') + 1));

    EXPECT_EQ(m_unregister(), S_OK);
    ExpectClassUnregistered("SecDNSAdmin", kSecDnsClsid);
    ExpectClassUnregistered("VelaServerAccess", kAccessClsid);
    EXPECT_TRUE(KeyExists("CLSID"));
    EXPECT_FALSE(KeyExists(library));
    com_ptr<ITypeLib> lib;
    EXPECT_TRUE(FAILED(::LoadRegTypeLib(LIBID_VELADCOMCLIENTLib, 1, 0, 0, lib.put())));

    // Nothing left to remove is no failure.
    EXPECT_EQ(m_unregister(), S_OK);
    ExpectClassUnregistered("VelaServerAccess", kAccessClsid);
}

// --- Type library -------------------------------------------------------------------------

struct MemberRow {
    const wchar_t* name;
    INVOKEKIND kind;
};

const MemberRow kAccessMembers[] = {
    {L"SetupSecDNS", INVOKE_FUNC},
    {L"MailSetup", INVOKE_FUNC},
    {L"imail_databasetype", INVOKE_PROPERTYPUT},
    {L"imail_domainAlias", INVOKE_PROPERTYPUT},
    {L"mailmax_dbPath", INVOKE_PROPERTYPUT},
    {L"mailmax_domainAlias", INVOKE_PROPERTYPUT},
    {L"AlterCompleteDNSEntries", INVOKE_FUNC},
    {L"CreateAEntry", INVOKE_FUNC},
    {L"AddMXRecord", INVOKE_FUNC},
    {L"DeletePrimaryDomain", INVOKE_FUNC},
    {L"DeleteThirdLevelDomain", INVOKE_FUNC},
    {L"CBindDNSDomain", INVOKE_FUNC},
    {L"CreateBindARecord", INVOKE_FUNC},
    {L"CreateBindMXRecord", INVOKE_FUNC},
    {L"DeleteBindSoa", INVOKE_FUNC},
    {L"DeleteBindARec", INVOKE_FUNC},
    {L"DeleteBindMX", INVOKE_FUNC},
    {L"strError", INVOKE_PROPERTYGET},
    {L"ControlService", INVOKE_FUNC},
    {L"DeleteMailDomain", INVOKE_FUNC},
    {L"resellersoaEnabled", INVOKE_PROPERTYPUT},
    {L"resellerns1", INVOKE_PROPERTYPUT},
    {L"resellerns2", INVOKE_PROPERTYPUT},
    {L"resellersoamail", INVOKE_PROPERTYPUT},
    {L"delslavedns", INVOKE_FUNC},
    {L"GetDNSFile", INVOKE_FUNC},
    {L"SetDNSFile", INVOKE_FUNC},
    {L"Reporting", INVOKE_FUNC},
    {L"lMaxMailusers", INVOKE_PROPERTYPUT},
    {L"NamedBasedDomain", INVOKE_PROPERTYPUT},
    {L"ReverseZoneIP", INVOKE_PROPERTYPUT},
    {L"GetMEUsersList", INVOKE_FUNC},
    {L"AddUpdateDeleteMEUser", INVOKE_FUNC},
    {L"GetMailFolderSize", INVOKE_FUNC},
    {L"ReloadSecDNS", INVOKE_FUNC},
    {L"ResetMailBoxes", INVOKE_FUNC},
    {L"CreateCNAMEEntry", INVOKE_FUNC},
    {L"SmarterMailAccountLimit", INVOKE_PROPERTYPUT},
    {L"GetMailBoxCount", INVOKE_FUNC},
    {L"CreateCNAMEEntryEx", INVOKE_FUNC},
    {L"DeleteCNAMEEntryEx", INVOKE_FUNC},
    {L"DeleteMXRecord", INVOKE_FUNC},
    {L"DeleteAEntry", INVOKE_FUNC},
    {L"AddUser", INVOKE_FUNC},
    {L"BackupMailDomain", INVOKE_FUNC},
    {L"Restart", INVOKE_FUNC},
    {L"TestDComCommunication", INVOKE_FUNC},
    {L"ChangeIP", INVOKE_FUNC},
    {L"CheckDNSExistance", INVOKE_FUNC},
    {L"SetDefaultResources", INVOKE_FUNC},
    {L"CreateSPFEntry", INVOKE_FUNC},
    {L"CreateBindSPFRecord", INVOKE_FUNC},
};

// The interface half of a dual interface, reached from its dispatch description.
com_ptr<ITypeInfo> InterfaceHalf(ITypeInfo* dispatch)
{
    com_ptr<ITypeInfo> half;
    HREFTYPE ref = 0;
    if (SUCCEEDED(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)))
        dispatch->GetRefTypeInfo(ref, half.put());
    return half;
}

// Both halves of a dual interface carry FDUAL, FOLEAUTOMATION and FDISPATCHABLE. The
// platform's type attributes leave FOLEAUTOMATION out for any dispatch description, so
// its stored flags are read through ITypeInfo2.
void ExpectDualFlags(ITypeInfo* dispatch)
{
    auto dispatch2 = com_ptr<ITypeInfo>(dispatch).try_query<ITypeInfo2>();
    ASSERT_TRUE(dispatch2);
    ULONG flags = kPoison;
    ASSERT_EQ(dispatch2->GetTypeFlags(&flags), S_OK);
    EXPECT_EQ(flags, 0x1140u);
    auto half = InterfaceHalf(dispatch);
    ASSERT_TRUE(half);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(half->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attributes->wTypeFlags, 0x1140);
    half->ReleaseTypeAttr(attributes);
}

void ExpectLibraryContents(ITypeLib* library)
{
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, LIBID_VELADCOMCLIENTLib));
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    EXPECT_EQ(attributes->lcid, 0u);
    library->ReleaseTLibAttr(attributes);
    unique_bstr name, help;
    ASSERT_EQ(library->GetDocumentation(-1, name.put(), help.put(), nullptr, nullptr), S_OK);
    EXPECT_STREQ(name.get(), L"VELADCOMCLIENTLib");
    EXPECT_STREQ(help.get(), L"VeladcomClient 1.0 Type Library");

    struct {
        const wchar_t* name;
        const wchar_t* help;
        const GUID* guid;
        TYPEKIND kind;
    } const types[] = {
        {L"SecDNSAdmin", L"SecDNSAdmin Class", &CLSID_SecDNSAdmin, TKIND_COCLASS},
        {L"ISecDNSAdmin", L"ISecDNSAdmin Interface", &IID_ISecDNSAdmin, TKIND_DISPATCH},
        {L"VelaServerAccess", L"VelaServerAccess Class", &CLSID_VelaServerAccess, TKIND_COCLASS},
        {L"IVelaServerAccess", L"IVelaServerAccess Interface", &IID_IVelaServerAccess, TKIND_DISPATCH},
    };
    ASSERT_EQ(library->GetTypeInfoCount(), 4u);
    for (UINT i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        com_ptr<ITypeInfo> info;
        ASSERT_EQ(library->GetTypeInfo(i, info.put()), S_OK);
        EXPECT_EQ(Doc(info.get(), MEMBERID_NIL, false), types[i].name);
        EXPECT_EQ(Doc(info.get(), MEMBERID_NIL, true), types[i].help);
        TYPEATTR* type = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&type), S_OK);
        EXPECT_TRUE(IsEqualGUID(type->guid, *types[i].guid));
        EXPECT_EQ(type->typekind, types[i].kind);
        if (type->typekind == TKIND_COCLASS) {
            EXPECT_EQ(type->wTypeFlags, TYPEFLAG_FCANCREATE);
            EXPECT_EQ(type->cImplTypes, 1);
            INT implFlags = 0;
            EXPECT_EQ(info->GetImplTypeFlags(0, &implFlags), S_OK);
            EXPECT_EQ(implFlags, IMPLTYPEFLAG_FDEFAULT);
        } else {
            ExpectDualFlags(info.get());
        }
        info->ReleaseTypeAttr(type);
    }
}

TEST_F(FrameTest, RegisteredTypeLibraryDescribesBothClasses)
{
    ASSERT_EQ(m_register(), S_OK);
    com_ptr<ITypeLib> library;
    ASSERT_EQ(::LoadRegTypeLib(LIBID_VELADCOMCLIENTLib, 1, 0, 0, library.put()), S_OK);
    ExpectLibraryContents(library.get());
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    library->ReleaseTLibAttr(attributes);

    // Members of the interface half: DISPID = position, help strings, parameters.
    com_ptr<ITypeInfo> dispatch;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID_IVelaServerAccess, dispatch.put()), S_OK);
    auto half = InterfaceHalf(dispatch.get());
    ASSERT_TRUE(half);
    for (UINT i = 0; i < 52; ++i) {
        const MemberRow& row = kAccessMembers[i];
        SCOPED_TRACE(testing::Message() << "member " << (i + 1));
        FUNCDESC* function = nullptr;
        ASSERT_EQ(half->GetFuncDesc(i, &function), S_OK);
        EXPECT_EQ(function->memid, static_cast<MEMBERID>(i + 1));
        EXPECT_EQ(function->invkind, row.kind);
        EXPECT_EQ(function->funckind, FUNC_PUREVIRTUAL);
        EXPECT_EQ(function->callconv, CC_STDCALL);
        EXPECT_EQ(function->wFuncFlags, 0);
        EXPECT_EQ(function->elemdescFunc.tdesc.vt, VT_HRESULT);
        EXPECT_EQ(Doc(half.get(), function->memid, false), row.name);
        const std::wstring prefix = row.kind == INVOKE_FUNC ? L"method " : L"property ";
        EXPECT_EQ(Doc(half.get(), function->memid, true), prefix + row.name);
        // Every parameter is an input but a final out-value, which is the retval.
        for (SHORT p = 0; p < function->cParams; ++p) {
            const USHORT flags = function->lprgelemdescParam[p].paramdesc.wParamFlags;
            const bool last = p + 1 == function->cParams;
            const bool outValue = function->lprgelemdescParam[p].tdesc.vt == VT_PTR;
            EXPECT_EQ(flags, outValue && last ? PARAMFLAG_FOUT | PARAMFLAG_FRETVAL : PARAMFLAG_FIN) << p;
        }
        half->ReleaseFuncDesc(function);
    }
    FUNCDESC* none = nullptr;
    EXPECT_EQ(half->GetFuncDesc(52, &none), TYPE_E_ELEMENTNOTFOUND);

    // Parameter names as late-bound callers use them: CreateAEntry and Restart.
    BSTR names[8] = {};
    UINT count = 0;
    ASSERT_EQ(half->GetNames(8, names, 8, &count), S_OK);
    const wchar_t* expected[] = {L"CreateAEntry", L"RemoteServer", L"ADomain", L"AHost", L"AIP", L"pVal"};
    ASSERT_EQ(count, 6u);
    for (UINT i = 0; i < count; ++i) {
        EXPECT_STREQ(names[i], expected[i]);
        ::SysFreeString(names[i]);
    }
    ASSERT_EQ(half->GetNames(46, names, 8, &count), S_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_STREQ(names[1], L"RemoteServer");
    for (UINT i = 0; i < count; ++i)
        ::SysFreeString(names[i]);

    com_ptr<ITypeInfo> secDns;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID_ISecDNSAdmin, secDns.put()), S_OK);
    auto secDnsHalf = InterfaceHalf(secDns.get());
    ASSERT_TRUE(secDnsHalf);
    ASSERT_EQ(secDnsHalf->GetNames(1, names, 8, &count), S_OK);
    const wchar_t* setup[] = {L"SetupSecDNS",  L"RemoteServer", L"DomainName", L"MasterServers",
                              L"DataBaseFile", L"Type",         L"pVal"};
    ASSERT_EQ(count, 7u);
    for (UINT i = 0; i < count; ++i) {
        EXPECT_STREQ(names[i], setup[i]);
        ::SysFreeString(names[i]);
    }
}

TEST_F(FrameTest, Win32BuildCarriesA32BitTypeLibrary)
{
    const std::wstring path = WinePath(VELA_FRAME_DLL_X86);
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no i686 build at " << VELA_FRAME_DLL_X86;
    com_ptr<ITypeLib> library;
    ASSERT_EQ(::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()), S_OK);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->syskind, SYS_WIN32);
    library->ReleaseTLibAttr(attributes);
    ExpectLibraryContents(library.get());
}

// --- Late binding -----------------------------------------------------------------------

DISPID IdOf(IDispatch* object, std::vector<const wchar_t*> names, HRESULT* hr,
            std::vector<DISPID>* all = nullptr)
{
    std::vector<DISPID> ids(names.size(), static_cast<DISPID>(kPoison));
    *hr = object->GetIDsOfNames(IID_NULL, const_cast<LPOLESTR*>(names.data()),
                                static_cast<UINT>(names.size()), LOCALE_USER_DEFAULT, ids.data());
    if (all) *all = ids;
    return ids[0];
}

TEST_F(FrameTest, LateBindingNeedsTheRegisteredLibraryEarlyBindingDoesNot)
{
    EXPECT_EQ(m_unregister(), S_OK);
    com_ptr<ITypeLib> missing;
    const HRESULT notRegistered = ::LoadRegTypeLib(LIBID_VELADCOMCLIENTLib, 1, 0, 0, missing.put());
    ASSERT_TRUE(FAILED(notRegistered));

    auto object = Create<IVelaServerAccess>(CLSID_VelaServerAccess);
    ASSERT_TRUE(object);
    HRESULT hr = S_OK;
    IdOf(object.get(), {L"Reporting"}, &hr);
    EXPECT_EQ(hr, notRegistered);
    ITypeInfo* info = Poisoned<ITypeInfo>();
    EXPECT_EQ(object->GetTypeInfo(0, 0, &info), notRegistered);
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(object->GetTypeInfo(0, 0, nullptr), E_POINTER);
    DISPPARAMS noArguments = {};
    VARIANT result;
    ::VariantInit(&result);
    EXPECT_EQ(object->Invoke(28, IID_NULL, 0, DISPATCH_METHOD, &noArguments, &result, nullptr, nullptr),
              notRegistered);
    short value = 0;
    EXPECT_EQ(object->Reporting(nullptr, 7, &value), S_OK);
    EXPECT_EQ(value, 1);

    // A failed load is retried: registering makes the same object answer, no reload needed.
    ASSERT_EQ(m_register(), S_OK);
    EXPECT_EQ(IdOf(object.get(), {L"CreateAEntry"}, &hr), 8);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(IdOf(object.get(), {L"createaentry"}, &hr), 8);
    EXPECT_EQ(hr, S_OK);
    std::vector<DISPID> ids;
    IdOf(object.get(), {L"CreateAEntry", L"AHost"}, &hr, &ids);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(ids, (std::vector<DISPID>{8, 2}));
    EXPECT_EQ(IdOf(object.get(), {L"strError"}, &hr), 18);
    IdOf(object.get(), {L"NoSuchMember"}, &hr);
    EXPECT_EQ(hr, DISP_E_UNKNOWNNAME);

    com_ptr<ITypeInfo> first, other;
    ASSERT_EQ(object->GetTypeInfo(0, 0, first.put()), S_OK);
    ASSERT_EQ(object->GetTypeInfo(5, 0, other.put()), S_OK);
    EXPECT_EQ(first.get(), other.get());
    TYPEATTR* type = nullptr;
    ASSERT_EQ(first->GetTypeAttr(&type), S_OK);
    EXPECT_TRUE(IsEqualGUID(type->guid, IID_IVelaServerAccess));
    first->ReleaseTypeAttr(type);

    // Reporting(strComName, lComID): arguments in reverse order.
    VARIANT arguments[2];
    arguments[0].vt = VT_I4;
    arguments[0].lVal = 5;
    arguments[1].vt = VT_BSTR;
    arguments[1].bstrVal = nullptr;
    DISPPARAMS params = {arguments, nullptr, 2, 0};
    ASSERT_EQ(object->Invoke(28, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.vt, VT_I2);
    EXPECT_EQ(result.iVal, 1);
    ::VariantClear(&result);

    ASSERT_EQ(object->Invoke(18, IID_NULL, 0, DISPATCH_PROPERTYGET, &noArguments, &result, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(::SysStringLen(result.bstrVal), 0u);
    ::VariantClear(&result);

    EXPECT_EQ(object->Invoke(999, IID_NULL, 0, DISPATCH_METHOD, &noArguments, &result, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);

    auto secDns = Create<ISecDNSAdmin>(CLSID_SecDNSAdmin);
    ASSERT_TRUE(secDns);
    EXPECT_EQ(IdOf(secDns.get(), {L"SetupSecDNS"}, &hr), 1);
    EXPECT_EQ(hr, S_OK);
}

// --- Version resource -------------------------------------------------------------------

TEST_F(FrameTest, VersionResourceDescribesTheModule)
{
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(m_path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(::GetFileVersionInfoW(m_path.c_str(), 0, size, data.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));

    WORD* translation = nullptr;
    ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                                 reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 1200);

    const std::pair<const wchar_t*, const wchar_t*> texts[] = {
        {L"CompanyName", L""},
        {L"FileDescription", L"VeladcomClient Module"},
        {L"FileVersion", L"1, 0, 0, 1"},
        {L"InternalName", L"VeladcomClient"},
        {L"OriginalFilename", L"VeladcomClient.DLL"},
        {L"ProductName", L"VeladcomClient Module"},
        {L"ProductVersion", L"1, 0, 0, 1"},
        {L"OLESelfRegister", L""},
    };
    for (const auto& [name, expected] : texts) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        wchar_t* text = nullptr;
        length = 0;
        ASSERT_TRUE(::VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&text), &length))
            << name;
        EXPECT_STREQ(length ? text : L"", expected) << name;
    }

    // Scripts and type library stand in US English like the rest.
    const WORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    EXPECT_NE(::FindResourceExW(m_module, L"REGISTRY", MAKEINTRESOURCEW(102), english), nullptr);
    EXPECT_NE(::FindResourceExW(m_module, L"REGISTRY", MAKEINTRESOURCEW(103), english), nullptr);
    EXPECT_NE(::FindResourceExW(m_module, L"TYPELIB", MAKEINTRESOURCEW(1), english), nullptr);
}

} // namespace
