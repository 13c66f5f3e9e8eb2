#include "frame/ClassFactory.h"

#include <new>

namespace vela {

CClassFactory::CClassFactory(InstanceCreator creator) noexcept : m_creator(creator)
{
    m_lock.Initialize();
}

CClassFactory::~CClassFactory()
{
    m_lock.Delete();
}

HRESULT CClassFactory::Create(InstanceCreator creator, REFIID iid, void** result) noexcept
{
    if (!result) return E_POINTER;
    *result = nullptr;
    auto* factory = new (std::nothrow) CClassFactory(creator);
    if (!factory) return E_OUTOFMEMORY;
    // Asking for an interface the factory lacks destroys it again.
    factory->AddRef();
    const HRESULT hr = factory->QueryInterface(iid, result);
    factory->Release();
    return hr;
}

HRESULT CClassFactory::QueryInterface(REFIID iid, void** result) noexcept
{
    if (!result) return E_POINTER;
    *result = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
    *result = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

ULONG CClassFactory::AddRef() noexcept
{
    CriticalSection::Guard guard(m_lock);
    const LONG refs = ++m_refs;
    // The first reference is the object map's; the second is the first caller's.
    if (refs == 2) Module().Lock();
    return static_cast<ULONG>(refs);
}

ULONG CClassFactory::Release() noexcept
{
    LONG refs;
    {
        CriticalSection::Guard guard(m_lock);
        refs = --m_refs;
    }
    if (refs == 0) {
        delete this;
    } else if (refs == 1) {
        // Only the object map's reference is left.
        Module().Unlock();
    }
    return static_cast<ULONG>(refs);
}

HRESULT CClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** result) noexcept
{
    if (!result) return E_POINTER;
    *result = nullptr;
    // An aggregated object can only be handed to its outer object as its own IUnknown.
    if (outer && iid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    return m_creator(outer, iid, result);
}

HRESULT CClassFactory::LockServer(BOOL lock) noexcept
{
    if (lock)
        Module().Lock();
    else
        Module().Unlock();
    return S_OK;
}

} // namespace vela
