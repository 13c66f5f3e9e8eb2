// The one place where a remote agent object is activated. Tests replace the function to
// see the host name and class context and to inject activation failures.
#pragma once

#include "platform/WinIncludes.h"

namespace vela {

// Same contract as CoCreateInstanceEx with no outer object and exactly one request.
using ActivationFunction = HRESULT (*)(REFCLSID clsid, DWORD context, COSERVERINFO* server,
                                       MULTI_QI* request);

HRESULT Activate(REFCLSID clsid, DWORD context, COSERVERINFO* server, MULTI_QI* request) noexcept;

// Installs `function` (null restores CoCreateInstanceEx) and returns the previous one.
ActivationFunction SetActivationFunction(ActivationFunction function) noexcept;

} // namespace vela
