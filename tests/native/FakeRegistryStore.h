// An in-memory registry for exercising the script engine without a system registry.
// It follows the system's rules where the engine depends on them: names compare without
// regard to letter case, a key with subkeys cannot be deleted alone, a deleted key's open
// handles go stale, a read-only handle cannot write. Failures can be injected per key.
#pragma once

#include "frame/regscript/RegistryStore.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vela::regscript::test {

inline constexpr StoreStatus kFileNotFound = 2;
inline constexpr StoreStatus kAccessDenied = 5;
inline constexpr StoreStatus kInvalidParameter = 87;
inline constexpr StoreStatus kKeyDeleted = 1018;

inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;

inline std::string Lower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

struct FakeValue {
    std::string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

struct FakeKey {
    std::string name;
    std::map<std::string, std::shared_ptr<FakeKey>> subkeys; // by lower-case name
    std::vector<FakeValue> values;                           // in the order they were first set
    bool deleted = false;
    bool readOnly = false; // opening it for all access is denied

    FakeValue* FindValue(const std::string& valueName)
    {
        auto it = std::find_if(values.begin(), values.end(),
                               [&](const FakeValue& v) { return Lower(v.name) == Lower(valueName); });
        return it == values.end() ? nullptr : &*it;
    }
};

class FakeRegistryStore : public RegistryStore {
public:
    FakeRegistryStore()
    {
        for (auto& root : m_roots)
            root = std::make_shared<FakeKey>();
    }

    // --- set-up and inspection -----------------------------------------------------------

    bool dbcs = false;                     // Shift-JIS lead bytes instead of a single-byte code page
    std::set<std::string> uncreatableKeys; // lower-case names whose creation fails

    std::size_t OpenHandleCount() const { return m_handles.size(); }

    // The key at `path` ("A\\B\\C") below `root`; null when it does not exist.
    FakeKey* Find(RegistryRoot root, const std::string& path)
    {
        FakeKey* key = m_roots[Index(root)].get();
        std::size_t pos = 0;
        while (key && pos <= path.size() && !path.empty()) {
            const std::size_t end = std::min(path.find('\\', pos), path.size());
            auto it = key->subkeys.find(Lower(path.substr(pos, end - pos)));
            key = it == key->subkeys.end() ? nullptr : it->second.get();
            pos = end + 1;
        }
        return key;
    }

    FakeKey& Make(RegistryRoot root, const std::string& path)
    {
        FakeKey* key = m_roots[Index(root)].get();
        std::size_t pos = 0;
        while (pos <= path.size() && !path.empty()) {
            const std::size_t end = std::min(path.find('\\', pos), path.size());
            const std::string name = path.substr(pos, end - pos);
            auto& slot = key->subkeys[Lower(name)];
            if (!slot) {
                slot = std::make_shared<FakeKey>();
                slot->name = name;
            }
            key = slot.get();
            pos = end + 1;
        }
        return *key;
    }

    std::optional<std::string> String(RegistryRoot root, const std::string& path,
                                      const std::string& valueName)
    {
        FakeKey* key = Find(root, path);
        FakeValue* value = key ? key->FindValue(valueName) : nullptr;
        if (!value || value->type != kRegSz || value->data.empty() || value->data.back() != 0)
            return std::nullopt;
        return std::string(value->data.begin(), value->data.end() - 1);
    }

    // Everything below `root`, one line per key ("path") and value ("path|name|type|data"),
    // in name order: a whole-state fingerprint for comparisons.
    std::string Dump(RegistryRoot root) const
    {
        std::string out;
        DumpKey(*m_roots[Index(root)], std::string(), out);
        return out;
    }

    // --- RegistryStore ------------------------------------------------------------------------

    KeyHandle RootKey(RegistryRoot root) override { return static_cast<KeyHandle>(Index(root) + 1); }

    StoreStatus OpenKey(KeyHandle parent, const std::string& name, KeyAccess access, KeyHandle* key) override
    {
        *key = KeyHandle::None;
        std::shared_ptr<FakeKey> node;
        StoreStatus status = Resolve(parent, &node, nullptr);
        if (status != kStoreSuccess) return status;
        if (!name.empty()) {
            auto it = node->subkeys.find(Lower(name));
            if (it == node->subkeys.end()) return kFileNotFound;
            node = it->second;
        }
        if (access == KeyAccess::All && node->readOnly) return kAccessDenied;
        *key = NewHandle(node, access == KeyAccess::All);
        return kStoreSuccess;
    }

    StoreStatus CreateKey(KeyHandle parent, const std::string& name, KeyHandle* key) override
    {
        *key = KeyHandle::None;
        std::shared_ptr<FakeKey> node;
        bool writable = false;
        StoreStatus status = Resolve(parent, &node, &writable);
        if (status != kStoreSuccess) return status;
        if (name.empty()) {
            *key = NewHandle(node, true);
            return kStoreSuccess;
        }
        auto it = node->subkeys.find(Lower(name));
        if (it == node->subkeys.end()) {
            if (!writable || uncreatableKeys.count(Lower(name))) return kAccessDenied;
            auto created = std::make_shared<FakeKey>();
            created->name = name;
            it = node->subkeys.emplace(Lower(name), created).first;
        }
        if (it->second->readOnly) return kAccessDenied;
        *key = NewHandle(it->second, true);
        return kStoreSuccess;
    }

    void CloseKey(KeyHandle key) noexcept override
    {
        if (m_handles.erase(static_cast<std::uintptr_t>(key)) == 0) ++badCloses;
    }

    StoreStatus DeleteKey(KeyHandle parent, const std::string& name) override
    {
        return Delete(parent, name, false);
    }

    StoreStatus DeleteTree(KeyHandle parent, const std::string& name) override
    {
        return Delete(parent, name, true);
    }

    StoreStatus DeleteValue(KeyHandle key, const std::string& name) override
    {
        std::shared_ptr<FakeKey> node;
        StoreStatus status = Resolve(key, &node, nullptr);
        if (status != kStoreSuccess) return status;
        auto it = std::find_if(node->values.begin(), node->values.end(),
                               [&](const FakeValue& v) { return Lower(v.name) == Lower(name); });
        if (it == node->values.end()) return kFileNotFound;
        node->values.erase(it);
        return kStoreSuccess;
    }

    StoreStatus SetStringValue(KeyHandle key, const std::string& name, const std::string& text) override
    {
        std::vector<std::uint8_t> data(text.begin(), text.end());
        data.push_back(0);
        return Set(key, name, kRegSz, std::move(data));
    }

    StoreStatus SetDwordValue(KeyHandle key, const std::string& name, std::uint32_t value) override
    {
        std::vector<std::uint8_t> data(4);
        for (int i = 0; i < 4; ++i)
            data[i] = static_cast<std::uint8_t>(value >> (8 * i));
        return Set(key, name, kRegDword, std::move(data));
    }

    StoreStatus SetBinaryValue(KeyHandle key, const std::string& name, const std::uint8_t* data,
                               std::size_t size) override
    {
        return Set(key, name, kRegBinary, std::vector<std::uint8_t>(data, data + size));
    }

    StoreStatus CountSubkeysAndValues(KeyHandle key, std::uint32_t* subkeys, std::uint32_t* values) override
    {
        std::shared_ptr<FakeKey> node;
        StoreStatus status = Resolve(key, &node, nullptr);
        if (status != kStoreSuccess) return status;
        *subkeys = static_cast<std::uint32_t>(node->subkeys.size());
        *values = static_cast<std::uint32_t>(node->values.size());
        return kStoreSuccess;
    }

    StoreStatus FirstValueName(KeyHandle key, std::string* name) override
    {
        std::shared_ptr<FakeKey> node;
        StoreStatus status = Resolve(key, &node, nullptr);
        if (status != kStoreSuccess) return status;
        if (node->values.empty()) return 259; // ERROR_NO_MORE_ITEMS
        *name = node->values.front().name;
        return kStoreSuccess;
    }

    bool IsLeadByte(unsigned char byte) const noexcept override
    {
        return dbcs && ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC));
    }

    int badCloses = 0;

private:
    struct Handle {
        std::shared_ptr<FakeKey> key;
        bool writable;
    };

    static std::size_t Index(RegistryRoot root) { return static_cast<std::size_t>(root); }

    KeyHandle NewHandle(std::shared_ptr<FakeKey> key, bool writable)
    {
        const std::uintptr_t id = m_nextHandle++;
        m_handles.emplace(id, Handle{std::move(key), writable});
        return static_cast<KeyHandle>(id);
    }

    StoreStatus Resolve(KeyHandle handle, std::shared_ptr<FakeKey>* node, bool* writable)
    {
        const auto id = static_cast<std::uintptr_t>(handle);
        if (id >= 1 && id <= m_roots.size()) {
            *node = m_roots[id - 1];
            if (writable) *writable = true;
            return kStoreSuccess;
        }
        auto it = m_handles.find(id);
        if (it == m_handles.end()) return 6; // ERROR_INVALID_HANDLE
        if (it->second.key->deleted) return kKeyDeleted;
        *node = it->second.key;
        if (writable) *writable = it->second.writable;
        return kStoreSuccess;
    }

    static void MarkDeleted(FakeKey& key)
    {
        key.deleted = true;
        for (auto& child : key.subkeys)
            MarkDeleted(*child.second);
    }

    StoreStatus Delete(KeyHandle parent, const std::string& name, bool tree)
    {
        if (name.empty()) return kInvalidParameter;
        std::shared_ptr<FakeKey> node;
        StoreStatus status = Resolve(parent, &node, nullptr);
        if (status != kStoreSuccess) return status;
        auto it = node->subkeys.find(Lower(name));
        if (it == node->subkeys.end()) return kFileNotFound;
        if (!tree && !it->second->subkeys.empty()) return kAccessDenied;
        MarkDeleted(*it->second);
        node->subkeys.erase(it);
        return kStoreSuccess;
    }

    StoreStatus Set(KeyHandle key, const std::string& name, std::uint32_t type,
                    std::vector<std::uint8_t> data)
    {
        std::shared_ptr<FakeKey> node;
        bool writable = false;
        StoreStatus status = Resolve(key, &node, &writable);
        if (status != kStoreSuccess) return status;
        if (!writable) return kAccessDenied;
        FakeValue* value = node->FindValue(name);
        if (!value) {
            node->values.push_back(FakeValue{name, 0, {}});
            value = &node->values.back();
        }
        value->type = type;
        value->data = std::move(data);
        return kStoreSuccess;
    }

    static void DumpKey(const FakeKey& key, const std::string& path, std::string& out)
    {
        std::vector<const FakeValue*> values;
        for (const FakeValue& v : key.values)
            values.push_back(&v);
        std::sort(values.begin(), values.end(),
                  [](const FakeValue* a, const FakeValue* b) { return Lower(a->name) < Lower(b->name); });
        for (const FakeValue* v : values) {
            out += path + "|" + v->name + "|" + std::to_string(v->type) + "|";
            if (v->type == kRegSz) {
                out.append(v->data.begin(), v->data.end() - (v->data.empty() ? 0 : 1));
            } else {
                static const char kHex[] = "0123456789ABCDEF";
                for (std::uint8_t b : v->data) {
                    out += kHex[b >> 4];
                    out += kHex[b & 15];
                }
            }
            out += "\n";
        }
        for (const auto& child : key.subkeys) {
            const std::string childPath =
                path.empty() ? child.second->name : path + "\\" + child.second->name;
            out += childPath + "\n";
            DumpKey(*child.second, childPath, out);
        }
    }

    std::array<std::shared_ptr<FakeKey>, 7> m_roots;
    std::map<std::uintptr_t, Handle> m_handles;
    std::uintptr_t m_nextHandle = 0x100;
};

} // namespace vela::regscript::test
