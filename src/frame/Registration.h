// Self-registration: each class's registry script, and the module's type library.
#pragma once

#include "platform/WinIncludes.h"

namespace vela {

// Runs the registry script stored as resource `resourceId` (type "REGISTRY") of this
// module, writing its keys (`doRegister`) or removing them.
HRESULT UpdateRegistryFromResource(UINT resourceId, bool doRegister) noexcept;

// The object map's registry updater for a class whose script is resource `ResourceId`.
template <UINT ResourceId> HRESULT UpdateRegistryFromScript(bool doRegister) noexcept
{
    return UpdateRegistryFromResource(ResourceId, doRegister);
}

} // namespace vela
