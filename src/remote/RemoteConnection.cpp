#include "remote/RemoteConnection.h"

#include "remote/Text.h"

namespace vela {

void OpenRemoteInterface(REFCLSID clsid, REFIID iid, BSTR host, IUnknown** result)
{
    *result = nullptr;
    // A host name of zero length asks for this machine; the name is never trimmed.
    unique_bstr serverName;
    if (host && ::SysStringLen(host) > 0) {
        serverName = AllocText(host, ::SysStringLen(host));
        if (!serverName) Raise(E_OUTOFMEMORY);
    }
    COSERVERINFO server{};
    server.pwszName = serverName.get();
    MULTI_QI request{&iid, nullptr, S_OK};

    RAISE_IF_FAILED(Activate(clsid, kRemoteClassContext, &server, &request));
    if (FAILED(request.hr)) {
        if (request.pItf) request.pItf->Release();
        Raise(request.hr);
    }
    *result = request.pItf;
}

} // namespace vela
