#include "frame/Module.h"

#include "access/VelaServerAccess.h"
#include "frame/ClassFactory.h"
#include "frame/ComObject.h"
#include "frame/Registration.h"
#include "frame/Resource.h"
#include "remote/Detached.h"

namespace vela {

namespace {

// No class needs work when the module starts or stops.
void NoObjectMain(bool /*starting*/) noexcept {}
const wchar_t* NoObjectDescription() noexcept
{
    return nullptr;
}
const void* NoCategories() noexcept
{
    return nullptr;
}

// The classes this library serves, in the order they are registered and searched.
ObjectMapEntry g_objectMap[] = {
    {&CLSID_SecDNSAdmin, &UpdateRegistryFromScript<IDR_SECDNSADMIN>, &CClassFactory::Create,
     &CreateComponent<CSecDNSAdmin>, nullptr, 0, &NoObjectDescription, &NoCategories, &NoObjectMain},
    {&CLSID_VelaServerAccess, &UpdateRegistryFromScript<IDR_VELASERVERACCESS>, &CClassFactory::Create,
     &CreateComponent<CVelaServerAccess>, nullptr, 0, &NoObjectDescription, &NoCategories, &NoObjectMain},
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
};

CComponentModule g_module;
CComponentApp g_app;

} // namespace

CComponentModule& Module() noexcept
{
    return g_module;
}

void ModuleLock() noexcept
{
    g_module.Lock();
}

void ModuleUnlock() noexcept
{
    g_module.Unlock();
}

void CComponentModule::Init(ObjectMapEntry* objectMap, HINSTANCE instance, const GUID* libid) noexcept
{
    m_objectMap = objectMap;
    m_instance = instance;
    m_lockCount = 0;
    m_typeInfoLock.Initialize();
    m_objectMapLock.Initialize();
    m_termCallbacks.clear();
    for (ObjectMapEntry* entry = m_objectMap; entry->clsid; ++entry)
        if (entry->objectMain) entry->objectMain(true);
    m_libid = *libid;
}

void CComponentModule::Term() noexcept
{
    if (!m_objectMap) return;
    for (ObjectMapEntry* entry = m_objectMap; entry->clsid; ++entry) {
        if (IUnknown* classObject = entry->classObject.exchange(nullptr)) classObject->Release();
        if (entry->objectMain) entry->objectMain(false);
    }
    m_typeInfoLock.Delete();
    m_objectMapLock.Delete();
    // Newest first: whatever registered later may depend on what registered earlier.
    while (!m_termCallbacks.empty()) {
        const auto callback = m_termCallbacks.front();
        m_termCallbacks.pop_front();
        callback.first(callback.second);
    }
    m_objectMap = nullptr;
}

HRESULT CComponentModule::AddTermCallback(TermCallback callback, void* argument) noexcept
{
    CriticalSection::Guard guard(m_typeInfoLock);
    try {
        m_termCallbacks.emplace_front(callback, argument);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CComponentModule::GetClassObject(REFCLSID clsid, REFIID iid, void** result) noexcept
{
    if (!result) return E_POINTER;
    *result = nullptr;
    HRESULT hr = S_OK;
    for (ObjectMapEntry* entry = m_objectMap; entry && entry->clsid; ++entry) {
        if (!entry->createClassObject || !::IsEqualCLSID(*entry->clsid, clsid)) continue;
        IUnknown* classObject = entry->classObject.load(std::memory_order_acquire);
        if (!classObject) {
            CriticalSection::Guard guard(m_objectMapLock);
            classObject = entry->classObject.load(std::memory_order_relaxed);
            if (!classObject) {
                hr = entry->createClassObject(entry->createInstance, IID_IUnknown,
                                              reinterpret_cast<void**>(&classObject));
                if (FAILED(hr)) classObject = nullptr;
                entry->classObject.store(classObject, std::memory_order_release);
            }
        }
        if (classObject) hr = classObject->QueryInterface(iid, result);
        break;
    }
    if (!*result && SUCCEEDED(hr)) hr = CLASS_E_CLASSNOTAVAILABLE;
    return hr;
}

BOOL CComponentApp::InitInstance(HINSTANCE instance) noexcept
{
    g_module.Init(g_objectMap, instance, &LIBID_VELADCOMCLIENTLib);
    return TRUE;
}

int CComponentApp::ExitInstance() noexcept
{
    g_module.Term();
    return 0;
}

} // namespace vela

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        ::DisableThreadLibraryCalls(instance);
        return vela::g_app.InitInstance(instance);
    case DLL_PROCESS_DETACH:
        // At process exit (reserved not null) the libraries the termination would call
        // into may already be gone, and the loader lock is held: the system takes back
        // memory and handles by itself. An unload through FreeLibrary terminates in full.
        if (!reserved) vela::g_app.ExitInstance();
        break;
    default:
        break;
    }
    return TRUE;
}

STDAPI DllCanUnloadNow()
{
    // A command that timed out may still run its exchange on a thread of ours.
    return vela::Module().LockCount() == 0 && vela::RunningDetachedWork() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* result)
{
    return vela::Module().GetClassObject(clsid, iid, result);
}
