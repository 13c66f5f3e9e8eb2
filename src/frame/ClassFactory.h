// The class object of one class. The module's object map keeps one reference to it for
// the module's life; only references handed out beyond that one keep the module locked.
#pragma once

#include "frame/Module.h"

namespace vela {

class CClassFactory final : public IClassFactory {
public:
    // The object map's class-object creator.
    static HRESULT Create(InstanceCreator creator, REFIID iid, void** result) noexcept;

    STDMETHODIMP QueryInterface(REFIID iid, void** result) noexcept override;
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** result) noexcept override;
    STDMETHODIMP LockServer(BOOL lock) noexcept override;

private:
    explicit CClassFactory(InstanceCreator creator) noexcept;
    ~CClassFactory();
    CClassFactory(const CClassFactory&) = delete;
    CClassFactory& operator=(const CClassFactory&) = delete;

    LONG m_refs = 0;
    InstanceCreator m_creator;
    CriticalSection m_lock;
};

} // namespace vela
