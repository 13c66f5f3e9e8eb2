#include "frame/Win32RegistryStore.h"

#include "common/Unique.h"

#include <vector>

namespace vela {

using regscript::KeyAccess;
using regscript::KeyHandle;
using regscript::RegistryRoot;
using regscript::StoreStatus;

Win32RegistryStore::Win32RegistryStore() noexcept
    // In the order of RegistryRoot.
    : m_roots{HKEY_CLASSES_ROOT,     HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
              HKEY_PERFORMANCE_DATA, HKEY_DYN_DATA,     HKEY_CURRENT_CONFIG}
{
}

void Win32RegistryStore::MapRoot(RegistryRoot root, HKEY key) noexcept
{
    m_roots[static_cast<std::size_t>(root)] = key;
}

KeyHandle Win32RegistryStore::ToHandle(HKEY key) noexcept
{
    return static_cast<KeyHandle>(reinterpret_cast<std::uintptr_t>(key));
}

HKEY Win32RegistryStore::ToHkey(KeyHandle key) noexcept
{
    return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(key));
}

KeyHandle Win32RegistryStore::RootKey(RegistryRoot root) noexcept
{
    return ToHandle(m_roots[static_cast<std::size_t>(root)]);
}

StoreStatus Win32RegistryStore::OpenKey(KeyHandle parent, const std::string& name, KeyAccess access,
                                        KeyHandle* key) noexcept
{
    HKEY opened = nullptr;
    const REGSAM sam = access == KeyAccess::All ? KEY_ALL_ACCESS : KEY_READ;
    const LONG status = ::RegOpenKeyExA(ToHkey(parent), name.c_str(), 0, sam, &opened);
    *key = status == ERROR_SUCCESS ? ToHandle(opened) : KeyHandle::None;
    return status;
}

StoreStatus Win32RegistryStore::CreateKey(KeyHandle parent, const std::string& name, KeyHandle* key) noexcept
{
    HKEY created = nullptr;
    const LONG status = ::RegCreateKeyExA(ToHkey(parent), name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                          KEY_ALL_ACCESS, nullptr, &created, nullptr);
    *key = status == ERROR_SUCCESS ? ToHandle(created) : KeyHandle::None;
    return status;
}

void Win32RegistryStore::CloseKey(KeyHandle key) noexcept
{
    ::RegCloseKey(ToHkey(key));
}

StoreStatus Win32RegistryStore::DeleteKey(KeyHandle parent, const std::string& name) noexcept
{
    // An empty name would delete the parent itself.
    if (name.empty()) return ERROR_INVALID_PARAMETER;
    return ::RegDeleteKeyA(ToHkey(parent), name.c_str());
}

StoreStatus Win32RegistryStore::DeleteTree(KeyHandle parent, const std::string& name) noexcept
{
    // An empty name would wipe the parent's contents.
    if (name.empty()) return ERROR_INVALID_PARAMETER;
    return ::RegDeleteTreeA(ToHkey(parent), name.c_str());
}

StoreStatus Win32RegistryStore::DeleteValue(KeyHandle key, const std::string& name) noexcept
{
    // The handle may be read-only; a second handle to the same key gets the right to delete.
    unique_hkey writable;
    const LONG status = ::RegOpenKeyExA(ToHkey(key), "", 0, KEY_SET_VALUE, writable.put());
    if (status != ERROR_SUCCESS) return status;
    return ::RegDeleteValueA(writable.get(), name.c_str());
}

StoreStatus Win32RegistryStore::SetStringValue(KeyHandle key, const std::string& name,
                                               const std::string& text) noexcept
{
    return ::RegSetValueExA(ToHkey(key), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>(text.size() + 1));
}

StoreStatus Win32RegistryStore::SetDwordValue(KeyHandle key, const std::string& name,
                                              std::uint32_t value) noexcept
{
    const DWORD data = value;
    return ::RegSetValueExA(ToHkey(key), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                            sizeof(data));
}

StoreStatus Win32RegistryStore::SetBinaryValue(KeyHandle key, const std::string& name,
                                               const std::uint8_t* data, std::size_t size) noexcept
{
    return ::RegSetValueExA(ToHkey(key), name.c_str(), 0, REG_BINARY, data, static_cast<DWORD>(size));
}

StoreStatus Win32RegistryStore::CountSubkeysAndValues(KeyHandle key, std::uint32_t* subkeys,
                                                      std::uint32_t* values) noexcept
{
    DWORD subkeyCount = 0;
    DWORD valueCount = 0;
    const LONG status = ::RegQueryInfoKeyA(ToHkey(key), nullptr, nullptr, nullptr, &subkeyCount, nullptr,
                                           nullptr, &valueCount, nullptr, nullptr, nullptr, nullptr);
    *subkeys = subkeyCount;
    *values = valueCount;
    return status;
}

StoreStatus Win32RegistryStore::FirstValueName(KeyHandle key, std::string* name)
{
    // Value names are at most 16383 characters.
    std::vector<char> buffer(16384);
    DWORD length = static_cast<DWORD>(buffer.size());
    const LONG status =
        ::RegEnumValueA(ToHkey(key), 0, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_SUCCESS) name->assign(buffer.data(), length);
    return status;
}

std::int32_t Win32RegistryStore::TextToUInt32(const std::string& text, std::uint32_t* value)
{
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 0) return HRESULT_FROM_WIN32(::GetLastError());
    std::vector<OLECHAR> wide(static_cast<std::size_t>(length));
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    ULONG number = 0;
    const HRESULT hr = ::VarUI4FromStr(wide.data(), 0, 0, &number);
    if (SUCCEEDED(hr)) *value = number;
    return hr;
}

bool Win32RegistryStore::IsLeadByte(unsigned char byte) const noexcept
{
    return ::IsDBCSLeadByte(byte) != FALSE;
}

} // namespace vela
