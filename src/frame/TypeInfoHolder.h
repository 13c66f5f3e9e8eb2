// The type information of one dual interface, loaded once from the registered type
// library and shared by every object of its class for the module's life. It answers
// the dispatch half of the interface.
#pragma once

#include "platform/WinIncludes.h"

#include <atomic>

namespace vela {

class TypeInfoHolder {
public:
    TypeInfoHolder(const IID& iid, const GUID& libid, WORD major, WORD minor) noexcept;
    ~TypeInfoHolder();
    TypeInfoHolder(const TypeInfoHolder&) = delete;
    TypeInfoHolder& operator=(const TypeInfoHolder&) = delete;

    HRESULT GetTypeInfoCount(UINT* count) noexcept;
    HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** result) noexcept;
    HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) noexcept;
    HRESULT Invoke(IDispatch* self, DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) noexcept;

    // The holder for one of the module's two dual interfaces.
    template <typename Dual> static TypeInfoHolder& For() noexcept;

private:
    struct State;

    HRESULT EnsureLoaded(LCID locale) noexcept;
    HRESULT Load(LCID locale) noexcept;
    static void ReleaseTypeInfo(void* holder) noexcept;

    const IID m_iid;
    const GUID m_libid;
    const WORD m_major;
    const WORD m_minor;
    // Null until loaded. Published once under the module's type-information lock and only
    // read afterwards, so readers that see it non-null need no lock.
    std::atomic<State*> m_state{nullptr};
    // Guarded by the module's type-information lock.
    bool m_releaseRegistered = false;
};

// Defined with the holders themselves, one per dual interface.
template <> TypeInfoHolder& TypeInfoHolder::For<ISecDNSAdmin>() noexcept;
template <> TypeInfoHolder& TypeInfoHolder::For<IVelaServerAccess>() noexcept;

} // namespace vela
