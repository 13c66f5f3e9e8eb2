// Reads the few values the component takes from the registry. Every read opens its
// key, reads and closes it again; nothing is reported, missing values read as empty/0.
#pragma once

#include "platform/WinIncludes.h"

#include <string>

namespace vela {

constexpr const char kGeneralKey[] = "SOFTWARE\\Corvane\\Nt Vela Console\\General";
constexpr const char kServersKey[] = "SOFTWARE\\Corvane\\NT Vela Console\\Servers";

class CRegistrySettings {
public:
    CRegistrySettings() noexcept = default;
    virtual ~CRegistrySettings() = default;

    // The text of a REG_SZ value, else the empty string.
    std::string ReadString(std::string keyPath, std::string valueName) const noexcept;
    // The value of a REG_DWORD value, else 0. A missing value in an existing key is
    // created as 0 so that administrators find it to edit.
    DWORD ReadDWORD(std::string keyPath, std::string valueName) const noexcept;

private:
    HKEY m_root = HKEY_LOCAL_MACHINE;
};

// "InstallPath" followed by "\web\admin", or empty when not configured.
std::string GetAdminDirectory() noexcept;
// The time each command's remote exchange may take: "CommandTimeoutSeconds", a REG_DWORD
// beside "InstallPath", up to an hour. 0 (missing, 0, or of another type): no limit.
constexpr DWORD kMaxCommandTimeoutSeconds = 3600;
DWORD GetCommandTimeoutSeconds() noexcept;
// A REG_DWORD of seconds, up to kMaxCommandTimeoutSeconds, else 0; opens with no creation.
DWORD ReadTimeoutSeconds(const std::string& keyPath, const char* valueName) noexcept;
// The log file below the admin directory; creates its "Logs" folder. Empty when unknown.
std::string GetLogFilePath() noexcept;

} // namespace vela
