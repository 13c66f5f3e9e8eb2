// An in-memory registry that follows the system's rules where the script engine depends on
// them: names compare without regard to letter case, a key with subkeys cannot be deleted alone,
// a handle opened for reading cannot write, and HKEY_LOCAL_MACHINE ("Software" only) cannot be
// changed, as for a user without administrator rights. The code page is double-byte (Shift-JIS
// lead bytes). Every handle must be closed exactly once: see OpenHandles and CloseKey.
#pragma once

#include "frame/regscript/RegistryStore.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

namespace vela::regscript::test {

inline std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// One line of a store dump: "path|name|type|data", string data without its terminating zero,
// other data in hex.
inline std::string ValueLine(const std::string& path, const std::string& name, std::uint32_t type,
                             const std::string& data)
{
    std::string line = path + "|" + name + "|" + std::to_string(type) + "|";
    if (type == 1) return line + data.substr(0, data.find('\0')) + "\n";
    for (const unsigned char byte : data)
        line += {"0123456789ABCDEF"[byte >> 4], "0123456789ABCDEF"[byte & 15]};
    return line + "\n";
}

// `script` with every "@Name.rgs" replaced by the text of the script of that name in `dir`.
inline std::string WithShippedScripts(std::string script, const std::string& dir)
{
    for (std::size_t at; (at = script.find('@')) != std::string::npos;) {
        const std::size_t end = script.find(".rgs", at) + 4;
        std::ifstream file(dir + "/" + script.substr(at + 1, end - at - 1), std::ios::binary);
        std::ostringstream text;
        if (file) text << file.rdbuf();
        script.replace(at, end - at, file ? text.str() : "missing-script");
    }
    return script;
}

class FakeRegistryStore final : public RegistryStore {
public:
    FakeRegistryStore()
    {
        // Handles 1 to 7 are the roots in the order of RegistryRoot; the third is HKLM.
        for (std::uintptr_t id = 1; id <= 7; ++id)
            m_handles[id] = {std::make_shared<Key>(Key{kRootNames[id - 1], {}, {}, id == 3}), id != 3};
        m_handles[3].key->subkeys["software"] = std::make_shared<Key>(Key{"Software", {}, {}, true});
    }

    std::size_t OpenHandles() const { return m_handles.size() - 7; }

    // Every root but HKLM: one line per key ("HKCU\A\B") and per value, in name order.
    std::string Dump() const
    {
        std::string out;
        for (std::uintptr_t id = 1; id <= 7; ++id)
            if (id != 3) DumpKey(*m_handles.at(id).key, kRootNames[id - 1], out);
        return out;
    }

    KeyHandle RootKey(RegistryRoot root) override { return static_cast<KeyHandle>(std::size_t(root) + 1); }

    StoreStatus OpenKey(KeyHandle parent, const std::string& name, KeyAccess access, KeyHandle* key) override
    {
        *key = KeyHandle::None;
        std::shared_ptr<Key> node = Resolve(parent).key;
        if (!name.empty()) node = node->subkeys.count(Lower(name)) ? node->subkeys[Lower(name)] : nullptr;
        if (!node) return kNotFound;
        if (access == KeyAccess::All && node->readOnly) return kAccessDenied;
        *key = NewHandle(node, access == KeyAccess::All);
        return kStoreSuccess;
    }

    StoreStatus CreateKey(KeyHandle parent, const std::string& name, KeyHandle* key) override
    {
        *key = KeyHandle::None;
        const Handle& h = Resolve(parent);
        if (!h.writable) return kAccessDenied;
        auto& child = h.key->subkeys[Lower(name)];
        if (!child) child = std::make_shared<Key>(Key{name, {}, {}, false});
        *key = NewHandle(child, true);
        return kStoreSuccess;
    }

    // Closing a handle that is not open (twice, or a root) ends the process.
    void CloseKey(KeyHandle key) noexcept override
    {
        if (key <= KeyHandle{7} || m_handles.erase(static_cast<std::uintptr_t>(key)) == 0) std::abort();
    }

    StoreStatus DeleteKey(KeyHandle parent, const std::string& name) override
    {
        return Delete(parent, name, false);
    }
    StoreStatus DeleteTree(KeyHandle parent, const std::string& name) override
    {
        return Delete(parent, name, true);
    }

    // Works through a handle opened for reading, as the system's does for its owner.
    StoreStatus DeleteValue(KeyHandle key, const std::string& name) override
    {
        const Handle& h = Resolve(key);
        if (h.key->readOnly) return kAccessDenied;
        return h.key->values.erase(Lower(name)) ? kStoreSuccess : kNotFound;
    }

    StoreStatus SetStringValue(KeyHandle key, const std::string& name, const std::string& text) override
    {
        return Set(key, name, 1, text + '\0');
    }
    StoreStatus SetDwordValue(KeyHandle key, const std::string& name, std::uint32_t value) override
    {
        return Set(key, name, 4, {char(value), char(value >> 8), char(value >> 16), char(value >> 24)});
    }
    StoreStatus SetBinaryValue(KeyHandle key, const std::string& name, const std::uint8_t* data,
                               std::size_t size) override
    {
        return Set(key, name, 3, std::string(data, data + size));
    }

    StoreStatus CountSubkeysAndValues(KeyHandle key, std::uint32_t* subkeys, std::uint32_t* values) override
    {
        const Handle& h = Resolve(key);
        *subkeys = static_cast<std::uint32_t>(h.key->subkeys.size());
        *values = static_cast<std::uint32_t>(h.key->values.size());
        return kStoreSuccess;
    }

    StoreStatus FirstValueName(KeyHandle key, std::string* name) override
    {
        const Handle& h = Resolve(key);
        if (h.key->values.empty()) return 259; // ERROR_NO_MORE_ITEMS
        *name = h.key->values.begin()->second.name;
        return kStoreSuccess;
    }

    bool IsLeadByte(unsigned char byte) const noexcept override
    {
        return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    }

private:
    static constexpr StoreStatus kNotFound = 2, kAccessDenied = 5;
    static constexpr const char* kRootNames[] = {"HKCR", "HKCU", "HKLM", "HKU", "HKPD", "HKDD", "HKCC"};

    struct Value {
        std::string name;
        std::uint32_t type;
        std::string data;
    };
    // Subkeys and values by lower-case name.
    struct Key {
        std::string name;
        std::map<std::string, std::shared_ptr<Key>> subkeys;
        std::map<std::string, Value> values;
        bool readOnly;
    };
    struct Handle {
        std::shared_ptr<Key> key;
        bool writable;
    };

    KeyHandle NewHandle(std::shared_ptr<Key> key, bool writable)
    {
        m_handles[m_nextHandle] = {std::move(key), writable};
        return static_cast<KeyHandle>(m_nextHandle++);
    }

    // A handle that is not open is the engine's fault; it reports the throw as E_UNEXPECTED.
    const Handle& Resolve(KeyHandle handle) const
    {
        const auto it = m_handles.find(static_cast<std::uintptr_t>(handle));
        if (it == m_handles.end()) throw std::logic_error("key handle not open");
        return it->second;
    }

    StoreStatus Delete(KeyHandle parent, const std::string& name, bool tree)
    {
        const Handle& h = Resolve(parent);
        const auto it = h.key->subkeys.find(Lower(name));
        if (name.empty() || it == h.key->subkeys.end()) return kNotFound;
        if (h.key->readOnly || (!tree && !it->second->subkeys.empty())) return kAccessDenied;
        h.key->subkeys.erase(it);
        return kStoreSuccess;
    }

    StoreStatus Set(KeyHandle key, const std::string& name, std::uint32_t type, std::string data)
    {
        const Handle& h = Resolve(key);
        if (!h.writable) return kAccessDenied;
        h.key->values[Lower(name)] = Value{name, type, std::move(data)};
        return kStoreSuccess;
    }

    static void DumpKey(const Key& key, const std::string& path, std::string& out)
    {
        for (const auto& value : key.values)
            out += ValueLine(path, value.second.name, value.second.type, value.second.data);
        for (const auto& child : key.subkeys) {
            out += path + "\\" + child.second->name + "\n";
            DumpKey(*child.second, path + "\\" + child.second->name, out);
        }
    }

    std::map<std::uintptr_t, Handle> m_handles;
    std::uintptr_t m_nextHandle = 0x100;
};

} // namespace vela::regscript::test
