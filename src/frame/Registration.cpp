#include "frame/Registration.h"

#include "common/Result.h"
#include "common/Unique.h"
#include "frame/Module.h"
#include "frame/Win32RegistryStore.h"
#include "frame/regscript/RegScript.h"

#include <string>
#include <string_view>

namespace vela {

namespace {

// The system's last error as an HRESULT; S_OK when the system reports none.
HRESULT LastErrorResult() noexcept
{
    const DWORD error = ::GetLastError();
    return error == 0 ? S_OK : static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
}

std::wstring ModulePathW()
{
    wchar_t path[MAX_PATH + 1] = {};
    ::GetModuleFileNameW(Module().ResourceInstance(), path, MAX_PATH);
    return path;
}

// The scripts quote the module path ('%MODULE%'), so its own quotes are doubled for the
// tokenizer, which reads "''" as one quote.
std::string QuotedModulePathA()
{
    char path[MAX_PATH + 1] = {};
    ::GetModuleFileNameA(Module().ResourceInstance(), path, MAX_PATH);
    std::string quoted;
    for (const char* c = path; *c; ++c) {
        quoted += *c;
        if (*c == '\'') quoted += '\'';
    }
    return quoted;
}

// Loads the type library embedded in the module, or else from a ".tlb" file beside it
// with the module's name; `path` receives the path that loaded.
HRESULT LoadModuleTypeLib(std::wstring* path, ITypeLib** library)
{
    *path = ModulePathW();
    HRESULT hr = ::LoadTypeLib(path->c_str(), library);
    if (FAILED(hr)) {
        const size_t dot = path->rfind(L'.');
        if (dot != std::wstring::npos) path->erase(dot);
        path->append(L".tlb");
        hr = ::LoadTypeLib(path->c_str(), library);
    }
    return hr;
}

HRESULT RegisterModuleTypeLib()
{
    std::wstring path;
    com_ptr<ITypeLib> library;
    RETURN_IF_FAILED(LoadModuleTypeLib(&path, library.put()));
    // The help directory is the folder the library was loaded from.
    std::wstring helpDirectory = path;
    const size_t separator = helpDirectory.find_last_of(L"\\/:");
    helpDirectory.erase(separator == std::wstring::npos ? 0 : separator + 1);
    return ::RegisterTypeLib(library.get(), path.data(), helpDirectory.data());
}

void UnregisterModuleTypeLib()
{
    std::wstring path;
    com_ptr<ITypeLib> library;
    if (FAILED(LoadModuleTypeLib(&path, library.put()))) return;
    TLIBATTR* attributes = nullptr;
    if (FAILED(library->GetLibAttr(&attributes))) return;
    // Looked up at run time: older automation libraries lack it.
    using UnRegisterTypeLibFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
    unique_hmodule oleaut32(::LoadLibraryW(L"oleaut32.dll"));
    if (oleaut32) {
        if (FARPROC proc = ::GetProcAddress(oleaut32.get(), "UnRegisterTypeLib")) {
            const auto unregister = reinterpret_cast<UnRegisterTypeLibFn>(reinterpret_cast<void*>(proc));
            unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                       attributes->syskind);
        }
    }
    library->ReleaseTLibAttr(attributes);
}

} // namespace

HRESULT UpdateRegistryFromResource(UINT resourceId, bool doRegister) noexcept
{
    return ComBoundary([&]() -> HRESULT {
        // As a data file: the script is text, nothing of the module needs to run.
        unique_hmodule module(::LoadLibraryExW(ModulePathW().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        if (!module) return LastErrorResult();
        HRSRC resource = ::FindResourceW(module.get(), MAKEINTRESOURCEW(resourceId), L"REGISTRY");
        if (!resource) return LastErrorResult();
        HGLOBAL loaded = ::LoadResource(module.get(), resource);
        if (!loaded) return LastErrorResult();
        const DWORD size = ::SizeofResource(module.get(), resource);
        if (size == 0) return LastErrorResult();
        const auto* text = static_cast<const char*>(::LockResource(loaded));
        if (!text) return LastErrorResult();

        const regscript::ReplacementMap replacements = {{"Module", QuotedModulePathA()}};
        Win32RegistryStore store;
        return regscript::RunRegistryScript(
            std::string_view(text, size), replacements,
            doRegister ? regscript::ScriptMode::Register : regscript::ScriptMode::Unregister, store);
    });
}

} // namespace vela

STDAPI DllRegisterServer()
{
    return vela::ComBoundary([]() -> HRESULT {
        for (vela::ObjectMapEntry* entry = vela::Module().ObjectMap(); entry && entry->clsid; ++entry)
            if (entry->updateRegistry) RETURN_IF_FAILED(entry->updateRegistry(true));
        return vela::RegisterModuleTypeLib();
    });
}

STDAPI DllUnregisterServer()
{
    vela::ComBoundary([]() -> HRESULT {
        for (vela::ObjectMapEntry* entry = vela::Module().ObjectMap(); entry && entry->clsid; ++entry)
            if (entry->updateRegistry) entry->updateRegistry(false);
        vela::UnregisterModuleTypeLib();
        return S_OK;
    });
    return S_OK;
}
