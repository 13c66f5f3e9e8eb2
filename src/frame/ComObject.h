// The COM identity of a plain (non-aggregated) object: one reference count, one
// identity across its interfaces, the dispatch half answered from the type library.
// `T` derives from ISupportErrorInfo (first) and its dual interface `T::Dual`.
#pragma once

#include "frame/TypeInfoHolder.h"

#include <new>
#include <utility>

namespace vela {

// Held by every live object so that the module is not unloaded under it.
void ModuleLock() noexcept;
void ModuleUnlock() noexcept;

// The interface map: IUnknown and IDispatch answer with the dual interface, which
// stands first after the error-information interface in every object.
template <typename T>
HRESULT QueryObjectInterface(T* object, REFIID iid, void** result) noexcept
{
    using Dual = typename T::Dual;
    if (!result) return E_POINTER;
    *result = nullptr;
    if (iid == IID_IUnknown || iid == __uuidof(Dual) || iid == IID_IDispatch)
        *result = static_cast<Dual*>(object);
    else if (iid == IID_ISupportErrorInfo)
        *result = static_cast<ISupportErrorInfo*>(object);
    else
        return E_NOINTERFACE;
    static_cast<IUnknown*>(*result)->AddRef();
    return S_OK;
}

template <typename T>
class ComObject final : public T {
public:
    using Dual = typename T::Dual;

    // Constructs the object and takes one module lock; the caller holds no reference yet.
    template <typename... Args>
    explicit ComObject(Args&&... args) : T(std::forward<Args>(args)...)
    {
        ModuleLock();
    }

    // Creates an object and asks it for `iid`; the object is destroyed again when that
    // fails. Any exception while constructing becomes E_OUTOFMEMORY.
    static HRESULT CreateInstance(REFIID iid, void** result) noexcept
    {
        if (!result) return E_POINTER;
        *result = nullptr;
        ComObject* object = nullptr;
        try {
            object = new ComObject();
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        object->AddRef();
        const HRESULT hr = object->QueryInterface(iid, result);
        object->Release();
        return hr;
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** result) noexcept override
    {
        return QueryObjectInterface<T>(this, iid, result);
    }
    // Objects live in one apartment, so their counts need no atomic operations.
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        const ULONG refs = --m_refs;
        if (refs == 0) {
            m_refs = 1; // guards against a second destruction from inside the destructor
            delete this;
        }
        return refs;
    }

    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override
    {
        return TypeInfoHolder::For<Dual>().GetTypeInfoCount(count);
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** result) noexcept override
    {
        return TypeInfoHolder::For<Dual>().GetTypeInfo(index, locale, result);
    }
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) noexcept override
    {
        return TypeInfoHolder::For<Dual>().GetIDsOfNames(iid, names, count, locale, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) noexcept override
    {
        return TypeInfoHolder::For<Dual>().Invoke(static_cast<Dual*>(this), id, iid, locale, flags, params,
                                                  result, exception, argumentError);
    }

private:
    ~ComObject() { ModuleUnlock(); }
    ULONG m_refs = 0;
};

// What every object answers for ISupportErrorInfo: only its own dual interface.
template <typename Dual>
class SupportErrorInfo : public ISupportErrorInfo {
public:
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) noexcept override
    {
        return iid == __uuidof(Dual) ? S_OK : S_FALSE;
    }
};

} // namespace vela
