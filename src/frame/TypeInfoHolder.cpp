#include "frame/TypeInfoHolder.h"

#include "common/Result.h"
#include "common/Unique.h"
#include "frame/Module.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
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

// How an argument may carry a type: as a value, by reference, or as the element type of
// an array.
enum Shape : unsigned { kValue = 1, kByRef = 2, kArray = 4, kAnyShape = 7 };

// The types an argument may have, as the platform documents VARENUM and the VARIANT
// structure: VT_EMPTY and VT_NULL are values only, and VT_VARIANT only refers to another
// VARIANT or names an array's elements.
// clang-format off
constexpr struct {
    VARTYPE type;
    unsigned shapes;
} kArgumentTypes[] = {
    {VT_EMPTY, kValue},      {VT_NULL, kValue},        {VT_VARIANT, kByRef | kArray},
    {VT_I2, kAnyShape},      {VT_I4, kAnyShape},       {VT_R4, kAnyShape},      {VT_R8, kAnyShape},
    {VT_CY, kAnyShape},      {VT_DATE, kAnyShape},     {VT_BSTR, kAnyShape},    {VT_DISPATCH, kAnyShape},
    {VT_ERROR, kAnyShape},   {VT_BOOL, kAnyShape},     {VT_UNKNOWN, kAnyShape}, {VT_DECIMAL, kAnyShape},
    {VT_I1, kAnyShape},      {VT_UI1, kAnyShape},      {VT_UI2, kAnyShape},     {VT_UI4, kAnyShape},
    {VT_I8, kAnyShape},      {VT_UI8, kAnyShape},      {VT_INT, kAnyShape},     {VT_UINT, kAnyShape},
    {VT_RECORD, kAnyShape},
};
// clang-format on

// A VARIANT that refers to another one may not refer on to a third; script engines keep
// to that. Following a few references all the same bounds the walk, also through a cycle.
constexpr int kMaxReferences = 4;

// At most 28 decimal places, and a sign byte that is 0 or DECIMAL_NEG.
bool IsValidDecimal(const DECIMAL& value) noexcept
{
    return value.scale <= 28 && (value.sign == 0 || value.sign == DECIMAL_NEG);
}

// DISP_E_BADVARTYPE for a type that no argument may have, DISP_E_TYPEMISMATCH for contents
// that its type rules out: a null reference or array, a DECIMAL beyond its own rules.
HRESULT CheckArgument(const VARIANT& argument, int references) noexcept
{
    const VARTYPE vt = V_VT(&argument);
    if (vt & ~(VT_TYPEMASK | VT_BYREF | VT_ARRAY)) return DISP_E_BADVARTYPE;
    const bool byRef = (vt & VT_BYREF) != 0, array = (vt & VT_ARRAY) != 0;
    const VARTYPE type = vt & VT_TYPEMASK;
    const unsigned shape = array ? kArray : byRef ? kByRef : kValue;
    const auto* entry = std::find_if(std::begin(kArgumentTypes), std::end(kArgumentTypes),
                                     [&](const auto& known) { return known.type == type; });
    if (entry == std::end(kArgumentTypes) || !(entry->shapes & shape)) return DISP_E_BADVARTYPE;

    if (byRef && !V_BYREF(&argument)) return DISP_E_TYPEMISMATCH;
    if (array) return (byRef ? *V_ARRAYREF(&argument) : V_ARRAY(&argument)) ? S_OK : DISP_E_TYPEMISMATCH;
    if (type == VT_DECIMAL)
        return IsValidDecimal(byRef ? *V_DECIMALREF(&argument) : V_DECIMAL(&argument)) ? S_OK
                                                                                       : DISP_E_TYPEMISMATCH;
    if (type == VT_VARIANT)
        return references < kMaxReferences ? CheckArgument(*V_VARIANTREF(&argument), references + 1)
                                           : DISP_E_BADVARTYPE;
    return S_OK;
}

// The first argument (the last in the array) that the system's converter must not see,
// named in `argumentError` as Invoke names one.
HRESULT CheckArguments(const DISPPARAMS& params, UINT* argumentError) noexcept
{
    for (UINT i = params.cArgs; i-- > 0;) {
        const HRESULT hr = CheckArgument(params.rgvarg[i], 0);
        if (FAILED(hr)) {
            if (argumentError) *argumentError = i;
            return hr;
        }
    }
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
    // Nor does it check what the arguments hold: a null reference inside a referenced
    // VARIANT, or a DECIMAL beyond its rules, would crash it.
    RETURN_IF_FAILED(CheckArguments(*params, argumentError));
    RETURN_IF_FAILED(EnsureLoaded(locale));
    State* state = m_state.load(std::memory_order_acquire);
    return state->typeInfo->Invoke(self, id, flags, params, result, exception, argumentError);
}

} // namespace vela
