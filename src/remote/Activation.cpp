#include "remote/Activation.h"

#include <atomic>

namespace vela {

namespace {

HRESULT ActivateWithCom(REFCLSID clsid, DWORD context, COSERVERINFO* server, MULTI_QI* request)
{
    return ::CoCreateInstanceEx(clsid, nullptr, context, server, 1, request);
}

std::atomic<ActivationFunction> g_activate{&ActivateWithCom};

} // namespace

HRESULT Activate(REFCLSID clsid, DWORD context, COSERVERINFO* server, MULTI_QI* request) noexcept
{
    return g_activate.load()(clsid, context, server, request);
}

ActivationFunction SetActivationFunction(ActivationFunction function) noexcept
{
    return g_activate.exchange(function ? function : &ActivateWithCom);
}

} // namespace vela
