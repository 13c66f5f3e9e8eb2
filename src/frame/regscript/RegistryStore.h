// The registry as the script engine sees it: the handful of key and value operations
// that registering and unregistering need, with keys as opaque handles. Keeping the
// engine behind this interface lets it run against the system registry on Windows and
// against an in-memory store in native tests and the fuzzer.
//
// Results: every operation that can fail returns a Win32 error code (StoreStatus):
// 0 (kStoreSuccess) on success, otherwise the system's code, e.g. 2 for a key or value
// that does not exist. The engine only distinguishes success from failure.
//
// Names are 8-bit texts in the system ANSI code page without embedded zero bytes. An
// empty value name stands for the key's unnamed default value.
//
// Implementations may throw std::bad_alloc; the engine reports it as E_OUTOFMEMORY.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vela::regscript {

using StoreStatus = std::int32_t;
inline constexpr StoreStatus kStoreSuccess = 0;

// The predefined roots a script can name.
enum class RegistryRoot {
    ClassesRoot,
    CurrentUser,
    LocalMachine,
    Users,
    PerformanceData,
    DynData,
    CurrentConfig,
};

// A key opened by the store. Root handles are owned by the store and never closed.
enum class KeyHandle : std::uintptr_t { None = 0 };

enum class KeyAccess {
    All,
    Read,
};

class RegistryStore {
public:
    virtual ~RegistryStore() = default;

    virtual KeyHandle RootKey(RegistryRoot root) = 0;

    // Opens the existing subkey `name` of `parent` (an empty name opens `parent` again).
    // `*key` receives the handle, or KeyHandle::None on failure.
    virtual StoreStatus OpenKey(KeyHandle parent, const std::string& name, KeyAccess access,
                                KeyHandle* key) = 0;
    // Opens or creates the subkey `name`: non-volatile, all access, no class, default security.
    virtual StoreStatus CreateKey(KeyHandle parent, const std::string& name, KeyHandle* key) = 0;
    virtual void CloseKey(KeyHandle key) noexcept = 0;

    // Deletes the subkey `name`, which must have no subkeys of its own. An empty name is
    // refused: the system would take it for `parent` itself.
    virtual StoreStatus DeleteKey(KeyHandle parent, const std::string& name) = 0;
    // Deletes the subkey `name` with everything below it. An empty name is refused.
    virtual StoreStatus DeleteTree(KeyHandle parent, const std::string& name) = 0;
    // Deletes a named value. Unregistration opens keys for reading only, so this must work
    // on such a handle too.
    virtual StoreStatus DeleteValue(KeyHandle key, const std::string& name) = 0;

    // A string value is stored with its terminating zero.
    virtual StoreStatus SetStringValue(KeyHandle key, const std::string& name, const std::string& text) = 0;
    virtual StoreStatus SetDwordValue(KeyHandle key, const std::string& name, std::uint32_t value) = 0;
    virtual StoreStatus SetBinaryValue(KeyHandle key, const std::string& name, const std::uint8_t* data,
                                       std::size_t size) = 0;

    virtual StoreStatus CountSubkeysAndValues(KeyHandle key, std::uint32_t* subkeys,
                                              std::uint32_t* values) = 0;
    // The name of the key's value at enumeration index 0 (empty for the default value).
    virtual StoreStatus FirstValueName(KeyHandle key, std::string* name) = 0;

    // Text services of the platform, so that the engine itself stays platform-free.

    // The conversion behind the "D" value type; returns an HRESULT. On Windows this is the
    // automation library's VarUI4FromStr with locale 0 and no flags. The default accepts
    // optional blanks around an optional "+" and decimal digits, or "&H"/"&O" with hex or
    // octal digits.
    virtual std::int32_t TextToUInt32(const std::string& text, std::uint32_t* value);

    // True when `byte` starts a double-byte character in the ANSI code page. The default
    // is a single-byte code page.
    virtual bool IsLeadByte(unsigned char byte) const noexcept;
};

} // namespace vela::regscript
