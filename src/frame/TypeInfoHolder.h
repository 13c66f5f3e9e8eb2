// The type information of one dual interface, loaded once from the registered type
// library and shared by every object of its class for the module's life. It answers
// the dispatch half of the interface.
#pragma once

#include "platform/WinIncludes.h"

namespace vela {

class TypeInfoHolder {
public:
    TypeInfoHolder(const IID& iid, const GUID& libid, WORD major, WORD minor) noexcept;
    TypeInfoHolder(const TypeInfoHolder&) = delete;
    TypeInfoHolder& operator=(const TypeInfoHolder&) = delete;

    HRESULT GetTypeInfoCount(UINT* count) noexcept;
    HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** result) noexcept;
    HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) noexcept;
    HRESULT Invoke(IDispatch* self, DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) noexcept;

    // The holder for one of the module's two dual interfaces.
    template <typename Dual>
    static TypeInfoHolder& For() noexcept;

private:
    // Filled in by the module's implementation: see TypeInfoHolder.cpp.
    struct State;
    State* m_state;
};

} // namespace vela
