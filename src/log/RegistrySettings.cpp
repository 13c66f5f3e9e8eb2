#include "log/RegistrySettings.h"

#include "common/Unique.h"

#include <new>

namespace vela {

namespace {

constexpr const char kInstallPathValue[] = "InstallPath";
constexpr const char kAdminSubdirectory[] = "\\web\\admin";
constexpr const char kLogsSubdirectory[] = "\\Logs";
constexpr const char kLogFileName[] = "\\VelaDComClient.csv";
constexpr const char kCommandTimeoutValue[] = "CommandTimeoutSeconds";

// Keys are opened with RegCreateKeyExA, as the product's other parts do: a missing key
// is created empty when the process may, which is part of how the settings behave.
LSTATUS OpenSettingsKey(HKEY root, const std::string& keyPath, REGSAM access, unique_hkey& key,
                        DWORD& disposition) noexcept
{
    return ::RegCreateKeyExA(root, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                             key.put(), &disposition);
}

} // namespace

std::string CRegistrySettings::ReadString(std::string keyPath, std::string valueName) const noexcept
{
    try {
        unique_hkey key;
        DWORD disposition = 0;
        if (OpenSettingsKey(m_root, keyPath, KEY_READ, key, disposition) != ERROR_SUCCESS) return {};

        DWORD type = REG_NONE;
        DWORD size = 0;
        if (::RegQueryValueExA(key.get(), valueName.c_str(), nullptr, &type, nullptr, &size) !=
                ERROR_SUCCESS ||
            size == 0 || type != REG_SZ)
            return {};
        std::string data(size, '\0');
        if (::RegQueryValueExA(key.get(), valueName.c_str(), nullptr, &type,
                               reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS ||
            type != REG_SZ)
            return {};
        // The stored size may or may not count a terminating NUL; the text ends at the
        // first NUL within it either way.
        data.resize(size < data.size() ? size : data.size());
        return data.substr(0, data.find('\0'));
    } catch (const std::bad_alloc&) {
        return {};
    }
}

DWORD CRegistrySettings::ReadDWORD(std::string keyPath, std::string valueName) const noexcept
{
    unique_hkey key;
    DWORD disposition = 0;
    if (OpenSettingsKey(m_root, keyPath, KEY_READ, key, disposition) != ERROR_SUCCESS) return 0;
    // A key this call has just made holds no settings of anyone's; leave it bare.
    if (disposition == REG_CREATED_NEW_KEY) return 0;

    DWORD type = REG_NONE;
    DWORD size = 0;
    if (::RegQueryValueExA(key.get(), valueName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        // Publish the missing value as 0 so that it shows up for an administrator to set.
        key.reset();
        if (OpenSettingsKey(m_root, keyPath, KEY_WRITE, key, disposition) == ERROR_SUCCESS) {
            const DWORD zero = 0;
            ::RegSetValueExA(key.get(), valueName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero),
                             sizeof zero);
        }
        return 0;
    }
    if (size == 0 || type != REG_DWORD) return 0;

    DWORD value = 0;
    DWORD valueSize = sizeof value;
    if (::RegQueryValueExA(key.get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                           &valueSize) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return 0;
    return value;
}

std::string GetAdminDirectory() noexcept
{
    try {
        std::string directory = CRegistrySettings().ReadString(kGeneralKey, kInstallPathValue);
        if (directory.empty()) return {};
        // Plain concatenation: a trailing backslash in the setting stays and doubles.
        return directory + kAdminSubdirectory;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

DWORD ReadTimeoutSeconds(const std::string& keyPath, const char* valueName) noexcept
{
    // An opt-in setting of ours, not the product's: reading it leaves no trace in the
    // registry, unlike the settings above.
    unique_hkey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return 0;
    DWORD type = REG_NONE;
    DWORD seconds = 0;
    DWORD size = sizeof seconds;
    if (::RegQueryValueExA(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(&seconds), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof seconds)
        return 0;
    return seconds < kMaxCommandTimeoutSeconds ? seconds : kMaxCommandTimeoutSeconds;
}

DWORD GetCommandTimeoutSeconds() noexcept
{
    return ReadTimeoutSeconds(kGeneralKey, kCommandTimeoutValue);
}

std::string GetLogFilePath() noexcept
{
    try {
        std::string path = GetAdminDirectory();
        if (path.empty()) return {};
        path += kLogsSubdirectory;
        // Only the last level: a missing admin directory means no log, and the open
        // that follows reports it. An existing folder is the usual case.
        ::CreateDirectoryA(path.c_str(), nullptr);
        path += kLogFileName;
        return path;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

} // namespace vela
