// The registry script engine's store on top of the system registry (advapi32), with the
// automation library's number conversion and the ANSI code page's lead bytes.
#pragma once

#include "frame/regscript/RegistryStore.h"
#include "platform/WinIncludes.h"

#include <array>

namespace vela {

class Win32RegistryStore final : public regscript::RegistryStore {
public:
    Win32RegistryStore() noexcept;

    // Makes scripts that name `root` work below `key` instead (which stays the caller's to
    // close). Lets tests run the real scripts inside a private key.
    void MapRoot(regscript::RegistryRoot root, HKEY key) noexcept;

    static regscript::KeyHandle ToHandle(HKEY key) noexcept;
    static HKEY ToHkey(regscript::KeyHandle key) noexcept;

    regscript::KeyHandle RootKey(regscript::RegistryRoot root) noexcept override;
    regscript::StoreStatus OpenKey(regscript::KeyHandle parent, const std::string& name,
                                   regscript::KeyAccess access, regscript::KeyHandle* key) noexcept override;
    regscript::StoreStatus CreateKey(regscript::KeyHandle parent, const std::string& name,
                                     regscript::KeyHandle* key) noexcept override;
    void CloseKey(regscript::KeyHandle key) noexcept override;
    regscript::StoreStatus DeleteKey(regscript::KeyHandle parent, const std::string& name) noexcept override;
    regscript::StoreStatus DeleteTree(regscript::KeyHandle parent, const std::string& name) noexcept override;
    regscript::StoreStatus DeleteValue(regscript::KeyHandle key, const std::string& name) noexcept override;
    regscript::StoreStatus SetStringValue(regscript::KeyHandle key, const std::string& name,
                                          const std::string& text) noexcept override;
    regscript::StoreStatus SetDwordValue(regscript::KeyHandle key, const std::string& name,
                                         std::uint32_t value) noexcept override;
    regscript::StoreStatus SetBinaryValue(regscript::KeyHandle key, const std::string& name,
                                          const std::uint8_t* data, std::size_t size) noexcept override;
    regscript::StoreStatus CountSubkeysAndValues(regscript::KeyHandle key, std::uint32_t* subkeys,
                                                 std::uint32_t* values) noexcept override;
    regscript::StoreStatus FirstValueName(regscript::KeyHandle key, std::string* name) override;
    std::int32_t TextToUInt32(const std::string& text, std::uint32_t* value) override;
    bool IsLeadByte(unsigned char byte) const noexcept override;

private:
    std::array<HKEY, 7> m_roots;
};

} // namespace vela
