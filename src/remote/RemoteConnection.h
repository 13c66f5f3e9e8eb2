// A connection to one remote agent object for the length of one command.
#pragma once

#include "common/Unique.h"
#include "remote/Activation.h"
#include "remote/Failure.h"

namespace vela {

// Which class each agent interface is activated from.
template <typename Interface> struct RemoteClass;
template <> struct RemoteClass<IServerAdmin> {
    static constexpr const CLSID& clsid = CLSID_ServerAdmin;
};
template <> struct RemoteClass<IDnsAdmin> {
    static constexpr const CLSID& clsid = CLSID_DnsAdmin;
};
template <> struct RemoteClass<IBindDnsAdmin> {
    static constexpr const CLSID& clsid = CLSID_BindDnsAdmin;
};

// In-process, local and remote servers alike: the agent may live anywhere.
constexpr DWORD kRemoteClassContext = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
static_assert(kRemoteClassContext == 21, "agents are activated with class context 21");

void OpenRemoteInterface(REFCLSID clsid, REFIID iid, BSTR host, IUnknown** result);

template <typename Interface> class RemoteConnection {
public:
    RemoteConnection() noexcept = default;
    RemoteConnection(const RemoteConnection&) = delete;
    RemoteConnection& operator=(const RemoteConnection&) = delete;
    ~RemoteConnection() noexcept { Release(); }

    // Activates the agent class on `host` (empty or null: this machine). Raises the
    // activation's HRESULT, or the interface request's when the interface is refused.
    void Open(BSTR host)
    {
        if (m_created) return;
        IUnknown* unknown = nullptr;
        OpenRemoteInterface(RemoteClass<Interface>::clsid, __uuidof(Interface), host, &unknown);
        m_interface = com_ptr<Interface>::attach(static_cast<Interface*>(unknown));
        m_created = true;
    }

    // Every use goes through here, so a connection without an interface raises E_POINTER
    // instead of calling through null.
    Interface* operator->() const
    {
        if (!m_interface) Raise(E_POINTER);
        return m_interface.get();
    }

    void Release() noexcept
    {
        m_interface.reset();
        m_created = false;
    }

    bool created() const noexcept { return m_created; }

private:
    bool m_created = false;
    com_ptr<Interface> m_interface;
};

} // namespace vela
