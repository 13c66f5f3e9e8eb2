// The module's state from load to unload: the classes it serves (the object map), the
// count that says whether it may be unloaded, the locks around one-time initialisation,
// and the callbacks that release shared resources at unload.
#pragma once

#include "platform/WinIncludes.h"

#include <atomic>
#include <forward_list>
#include <utility>

namespace vela {

// Builds an object of one class: plain when `outer` is null, aggregated otherwise.
using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID iid, void** result);
// Builds the class object that hands out objects through `creator`.
using ClassObjectCreator = HRESULT (*)(InstanceCreator creator, REFIID iid, void** result);
// Writes (true) or removes (false) the class's registry entries.
using RegistryUpdater = HRESULT (*)(bool doRegister);
using TermCallback = void (*)(void* argument);

// One class the module serves. A row whose `clsid` is null ends the table.
struct ObjectMapEntry {
    const CLSID* clsid;
    RegistryUpdater updateRegistry;
    ClassObjectCreator createClassObject;
    InstanceCreator createInstance;
    // Cached on first request; the cache holds one reference. Other apartments read it
    // without the object-map lock, so it is published with release and read with acquire.
    std::atomic<IUnknown*> classObject;
    DWORD registerCookie; // always 0: an in-process server registers no class object
    const wchar_t* (*objectDescription)();
    const void* (*categoryMap)();
    void (*objectMain)(bool starting);
};

class CriticalSection {
public:
    void Initialize() noexcept { ::InitializeCriticalSection(&m_section); }
    void Delete() noexcept { ::DeleteCriticalSection(&m_section); }
    void Enter() noexcept { ::EnterCriticalSection(&m_section); }
    void Leave() noexcept { ::LeaveCriticalSection(&m_section); }

    class Guard {
    public:
        explicit Guard(CriticalSection& section) noexcept : m_section(section) { m_section.Enter(); }
        ~Guard() { m_section.Leave(); }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        CriticalSection& m_section;
    };

private:
    CRITICAL_SECTION m_section{};
};

class CComponentModule {
public:
    void Init(ObjectMapEntry* objectMap, HINSTANCE instance, const GUID* libid) noexcept;
    void Term() noexcept;

    LONG Lock() noexcept { return ++m_lockCount; }
    LONG Unlock() noexcept { return --m_lockCount; }
    LONG LockCount() const noexcept { return m_lockCount.load(); }

    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** result) noexcept;
    // Runs `callback` at Term, newest first.
    HRESULT AddTermCallback(TermCallback callback, void* argument) noexcept;

    HINSTANCE ResourceInstance() const noexcept { return m_instance; }
    const GUID& Libid() const noexcept { return m_libid; }
    ObjectMapEntry* ObjectMap() const noexcept { return m_objectMap; }
    CriticalSection& TypeInfoLock() noexcept { return m_typeInfoLock; }

private:
    std::atomic<LONG> m_lockCount{0};
    ObjectMapEntry* m_objectMap = nullptr;
    GUID m_libid{};
    HINSTANCE m_instance = nullptr;
    CriticalSection m_typeInfoLock;
    CriticalSection m_objectMapLock;
    std::forward_list<std::pair<TermCallback, void*>> m_termCallbacks;
};

// The one module instance of this library.
CComponentModule& Module() noexcept;

// The library's application object: its hooks run when the library is loaded into a
// process and when it is unloaded.
class CComponentApp {
public:
    BOOL InitInstance(HINSTANCE instance) noexcept;
    int ExitInstance() noexcept;
};

} // namespace vela
