#include "frame/TypeInfoHolder.h"

#include "common/Result.h"
#include "common/Unique.h"
#include "frame/Module.h"

#include <cwchar>
#include <memory>
#include <new>
#include <vector>

namespace vela {

namespace {

// A member name as the type information spells it, for lookups that need no call into it.
struct NameEntry {
    unique_bstr name;
    UINT length = 0;
    DISPID id = DISPID_UNKNOWN;
};

// Loads the interface's type information from the registered library and lists its
// functions' names.
HRESULT ReadTypeInfo(const GUID& libid, WORD major, WORD minor, const IID& iid, LCID locale,
                     com_ptr<ITypeInfo>* result, std::vector<NameEntry>* names) noexcept
{
    com_ptr<ITypeLib> library;
    RETURN_IF_FAILED(::LoadRegTypeLib(libid, major, minor, locale, library.put()));
    com_ptr<ITypeInfo> typeInfo;
    RETURN_IF_FAILED(library->GetTypeInfoOfGuid(iid, typeInfo.put()));
    // ITypeInfo2 answers the same calls; keep it where the platform offers it.
    if (auto typeInfo2 = typeInfo.try_query<ITypeInfo2>()) typeInfo = com_ptr<ITypeInfo>(typeInfo2.get());

    TYPEATTR* attributes = nullptr;
    RETURN_IF_FAILED(typeInfo->GetTypeAttr(&attributes));
    const UINT functions = attributes->cFuncs;
    typeInfo->ReleaseTypeAttr(attributes);
    try {
        names->reserve(functions);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    for (UINT index = 0; index < functions; ++index) {
        FUNCDESC* function = nullptr;
        if (FAILED(typeInfo->GetFuncDesc(index, &function))) continue;
        NameEntry entry;
        entry.id = function->memid;
        typeInfo->ReleaseFuncDesc(function);
        if (FAILED(typeInfo->GetDocumentation(entry.id, entry.name.put(), nullptr, nullptr, nullptr)))
            continue;
        entry.length = ::SysStringLen(entry.name.get());
        names->push_back(std::move(entry)); // capacity reserved above
    }
    *result = std::move(typeInfo);
    return S_OK;
}

} // namespace

struct TypeInfoHolder::State {
    com_ptr<ITypeInfo> typeInfo;
    std::vector<NameEntry> names;
};

TypeInfoHolder::TypeInfoHolder(const IID& iid, const GUID& libid, WORD major, WORD minor) noexcept
    : m_iid(iid), m_libid(libid), m_major(major), m_minor(minor)
{
}

// The type information was released at module termination; a holder that never got
// there (the process ends without unloading us) leaves it to the process teardown.
TypeInfoHolder::~TypeInfoHolder() = default;

template <> TypeInfoHolder& TypeInfoHolder::For<ISecDNSAdmin>() noexcept
{
    static TypeInfoHolder holder(IID_ISecDNSAdmin, LIBID_VELADCOMCLIENTLib, 1, 0);
    return holder;
}

template <> TypeInfoHolder& TypeInfoHolder::For<IVelaServerAccess>() noexcept
{
    static TypeInfoHolder holder(IID_IVelaServerAccess, LIBID_VELADCOMCLIENTLib, 1, 0);
    return holder;
}

HRESULT TypeInfoHolder::EnsureLoaded(LCID locale) noexcept
{
    if (m_state.load(std::memory_order_acquire)) return S_OK;
    return Load(locale);
}

HRESULT TypeInfoHolder::Load(LCID locale) noexcept
{
    CriticalSection::Guard guard(Module().TypeInfoLock());
    HRESULT hr = S_OK;
    // Another apartment may have loaded it while this one waited for the lock.
    if (!m_state.load(std::memory_order_relaxed)) {
        std::unique_ptr<State> state(new (std::nothrow) State);
        hr = state ? ReadTypeInfo(m_libid, m_major, m_minor, m_iid, locale, &state->typeInfo, &state->names)
                   : E_OUTOFMEMORY;
        if (SUCCEEDED(hr)) m_state.store(state.release(), std::memory_order_release);
    }
    if (!m_releaseRegistered && SUCCEEDED(Module().AddTermCallback(&TypeInfoHolder::ReleaseTypeInfo, this)))
        m_releaseRegistered = true;
    return hr;
}

void TypeInfoHolder::ReleaseTypeInfo(void* holder) noexcept
{
    auto* self = static_cast<TypeInfoHolder*>(holder);
    std::unique_ptr<State> state(self->m_state.exchange(nullptr));
    self->m_releaseRegistered = false;
}

HRESULT TypeInfoHolder::GetTypeInfoCount(UINT* count) noexcept
{
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT TypeInfoHolder::GetTypeInfo(UINT /*index: every index names the one type*/, LCID locale,
                                    ITypeInfo** result) noexcept
{
    if (!result) return E_POINTER;
    const HRESULT hr = EnsureLoaded(locale);
    State* state = m_state.load(std::memory_order_acquire);
    *result = state ? state->typeInfo.get() : nullptr;
    if (!*result) return FAILED(hr) ? hr : E_UNEXPECTED;
    (*result)->AddRef();
    return S_OK;
}

HRESULT TypeInfoHolder::GetIDsOfNames(REFIID /*iid*/, LPOLESTR* names, UINT count, LCID locale,
                                      DISPID* ids) noexcept
{
    RETURN_IF_FAILED(EnsureLoaded(locale));
    State* state = m_state.load(std::memory_order_acquire);
    if (count == 0) return S_OK;
    if (!names || !ids) return E_POINTER;

    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
        if (!names[i]) return DISP_E_UNKNOWNNAME;
        const size_t length = std::wcslen(names[i]);
        bool found = false;
        // Exact spelling only: same length, same code units.
        for (auto entry = state->names.rbegin(); entry != state->names.rend(); ++entry) {
            if (entry->length == length && std::wmemcmp(entry->name.get(), names[i], length) == 0) {
                ids[i] = entry->id;
                found = true;
                break;
            }
        }
        if (found) continue;
        // Any other spelling, and parameter names, are the type information's to resolve;
        // it needs the whole request because later names are the first one's parameters.
        hr = state->typeInfo->GetIDsOfNames(names, count, ids);
        if (FAILED(hr)) return hr;
    }
    return hr;
}

HRESULT TypeInfoHolder::Invoke(IDispatch* self, DISPID id, REFIID /*iid*/, LCID locale, WORD flags,
                               DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                               UINT* argumentError) noexcept
{
    // The system's dispatcher trusts the argument block; one that cannot describe a call
    // would make it read through null or past the arguments in the host's process.
    if (!params || (params->cArgs > 0 && !params->rgvarg) ||
        (params->cNamedArgs > 0 && !params->rgdispidNamedArgs) || params->cNamedArgs > params->cArgs)
        return E_INVALIDARG;
    RETURN_IF_FAILED(EnsureLoaded(locale));
    State* state = m_state.load(std::memory_order_acquire);
    return state->typeInfo->Invoke(self, id, flags, params, result, exception, argumentError);
}

} // namespace vela
