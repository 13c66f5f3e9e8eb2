// The COM identity of the module's objects: one reference count, one identity across
// their interfaces, the dispatch half answered from the type library. `T` derives from
// ISupportErrorInfo (first) and its dual interface `T::Dual`.
//
// ComObject<T> is a plain object. With an outer object, AggregateObject<T> owns the
// count and the identity of the inner part, and the contained T sends the IUnknown
// calls made through its other interfaces to the outer object.
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
template <typename T> HRESULT QueryObjectInterface(T* object, REFIID iid, void** result) noexcept
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

// Creates an object with `make`, hands out `iid` and drops the creation reference, so
// that an object whose interface is refused is destroyed again at once. Any exception
// while constructing becomes E_OUTOFMEMORY.
template <typename Make> HRESULT CreateAndQuery(Make&& make, REFIID iid, void** result) noexcept
{
    if (!result) return E_POINTER;
    *result = nullptr;
    IUnknown* object = nullptr;
    try {
        object = make();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    object->AddRef();
    const HRESULT hr = object->QueryInterface(iid, result);
    object->Release();
    return hr;
}

// Release for objects with a plain count: at zero, guard against a second destruction
// from inside the destructor, then delete.
template <typename Object> ULONG ReleasePlain(Object* object, ULONG& refs) noexcept
{
    const ULONG left = --refs;
    if (left == 0) {
        refs = 1;
        delete object;
    }
    return left;
}

// The dispatch half of `T::Dual`, shared by the plain and the contained object.
template <typename T> class DispatchedObject : public T {
public:
    using Dual = typename T::Dual;

    template <typename... Args> explicit DispatchedObject(Args&&... args) : T(std::forward<Args>(args)...) {}

    STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override
    {
        return TypeInfoHolder::For<Dual>().GetTypeInfoCount(count);
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** result) noexcept override
    {
        return TypeInfoHolder::For<Dual>().GetTypeInfo(index, locale, result);
    }
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                               DISPID* ids) noexcept override
    {
        return TypeInfoHolder::For<Dual>().GetIDsOfNames(iid, names, count, locale, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) noexcept override
    {
        return TypeInfoHolder::For<Dual>().Invoke(static_cast<Dual*>(this), id, iid, locale, flags, params,
                                                  result, exception, argumentError);
    }
};

template <typename T> class ComObject final : public DispatchedObject<T> {
public:
    // Constructs the object and takes one module lock; the caller holds no reference yet.
    template <typename... Args>
    explicit ComObject(Args&&... args) : DispatchedObject<T>(std::forward<Args>(args)...)
    {
        ModuleLock();
    }

    static HRESULT CreateInstance(REFIID iid, void** result) noexcept
    {
        return CreateAndQuery([] { return static_cast<typename T::Dual*>(new ComObject()); }, iid, result);
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** result) noexcept override
    {
        return QueryObjectInterface<T>(this, iid, result);
    }
    // Objects live in one apartment, so their counts need no atomic operations.
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return ReleasePlain(this, m_refs); }

private:
    template <typename Object> friend ULONG ReleasePlain(Object*, ULONG&) noexcept;
    ~ComObject() { ModuleUnlock(); }
    ULONG m_refs = 0;
};

// The inner part of an aggregate: every IUnknown call reached through its interfaces
// belongs to the outer object, which is the aggregate's identity.
template <typename T> class ContainedObject final : public DispatchedObject<T> {
public:
    explicit ContainedObject(IUnknown* outer) : m_outer(outer) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** result) noexcept override
    {
        return m_outer->QueryInterface(iid, result);
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return m_outer->AddRef(); }
    STDMETHODIMP_(ULONG) Release() noexcept override { return m_outer->Release(); }

    // The interface map, answered for the aggregate's own IUnknown.
    HRESULT QueryInner(REFIID iid, void** result) noexcept
    {
        return QueryObjectInterface<T>(this, iid, result);
    }

private:
    // Not counted: the outer object owns the aggregate, not the other way round.
    IUnknown* m_outer;
};

// The non-delegating IUnknown of an aggregated object. It owns the reference count and
// the contained object; the outer object keeps the one reference to it.
template <typename T> class AggregateObject final : public IUnknown {
public:
    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** result) noexcept
    {
        return CreateAndQuery([outer] { return static_cast<IUnknown*>(new AggregateObject(outer)); }, iid,
                              result);
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** result) noexcept override
    {
        if (!result) return E_POINTER;
        *result = nullptr;
        if (iid != IID_IUnknown) return m_contained.QueryInner(iid, result);
        *result = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return ReleasePlain(this, m_refs); }

private:
    template <typename Object> friend ULONG ReleasePlain(Object*, ULONG&) noexcept;
    explicit AggregateObject(IUnknown* outer) : m_contained(outer) { ModuleLock(); }
    ~AggregateObject() { ModuleUnlock(); }

    ULONG m_refs = 0;
    ContainedObject<T> m_contained;
};

// The instance creator of class `T`: a plain object, or an aggregated one for `outer`.
template <typename T> HRESULT CreateComponent(IUnknown* outer, REFIID iid, void** result) noexcept
{
    return outer ? AggregateObject<T>::CreateInstance(outer, iid, result)
                 : ComObject<T>::CreateInstance(iid, result);
}

// What every object answers for ISupportErrorInfo: only its own dual interface.
template <typename Dual> class SupportErrorInfo : public ISupportErrorInfo {
public:
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) noexcept override
    {
        return iid == __uuidof(Dual) ? S_OK : S_FALSE;
    }
};

} // namespace vela
