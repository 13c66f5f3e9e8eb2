// regscript_rows <module> <script>...: what the registry scripts write when they register,
// run through the same engine as DllRegisterServer, for the installer packages' build to
// write as registry rows (cmake/PackageMsi.py). A host program, built where the package is.
//
// One line per value, "<root>\t<key>\t<name>\t<type>\t<data>" (type s or d; a d value in
// decimal), and "<root>\t<key>" for a key that holds nothing; keys as the scripts spell them,
// in the order they are first written. %MODULE% is <module>. Exit code 0, or 1 with the
// engine's HRESULT on standard error.
#include "frame/regscript/RegScript.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace vela::regscript;

constexpr StoreStatus kNotFound = 2;      // ERROR_FILE_NOT_FOUND
constexpr StoreStatus kNotSupported = 50; // ERROR_NOT_SUPPORTED
constexpr const char* kRootNames[] = {"HKCR", "HKCU", "HKLM", "HKU", "HKPD", "HKDD", "HKCC"};

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// An empty registry that keeps what registration writes, in the order it is written.
class RecordingStore final : public RegistryStore {
public:
    RecordingStore()
    {
        for (const char* root : kRootNames)
            m_keys.push_back({root, "", {}, true, true});
    }

    KeyHandle RootKey(RegistryRoot root) override { return Handle(static_cast<std::size_t>(root)); }

    StoreStatus OpenKey(KeyHandle parent, const std::string& name, KeyAccess, KeyHandle* key) override
    {
        const std::size_t found = Find(parent, name);
        *key = found < m_keys.size() ? Handle(found) : KeyHandle::None;
        return found < m_keys.size() ? kStoreSuccess : kNotFound;
    }
    StoreStatus CreateKey(KeyHandle parent, const std::string& name, KeyHandle* key) override
    {
        std::size_t found = Find(parent, name);
        if (found == m_keys.size()) {
            const Key& above = At(parent);
            m_keys.push_back(
                {above.root, above.path.empty() ? name : above.path + "\\" + name, {}, false, true});
        }
        *key = Handle(found);
        return kStoreSuccess;
    }
    void CloseKey(KeyHandle) noexcept override {}

    StoreStatus DeleteKey(KeyHandle parent, const std::string& name) override
    {
        return DeleteTree(parent, name);
    }
    StoreStatus DeleteTree(KeyHandle parent, const std::string& name) override
    {
        const std::size_t found = name.empty() ? m_keys.size() : Find(parent, name);
        if (found == m_keys.size()) return kNotFound;
        const std::string below = Lower(m_keys[found].path) + "\\";
        for (Key& key : m_keys)
            if (key.root == m_keys[found].root && Lower(key.path).compare(0, below.size(), below) == 0)
                key.live = false;
        m_keys[found].live = false;
        return kStoreSuccess;
    }
    StoreStatus DeleteValue(KeyHandle key, const std::string& name) override
    {
        auto& values = At(key).values;
        for (auto value = values.begin(); value != values.end(); ++value)
            if (Lower(value->name) == Lower(name)) {
                values.erase(value);
                return kStoreSuccess;
            }
        return kNotFound;
    }

    StoreStatus SetStringValue(KeyHandle key, const std::string& name, const std::string& text) override
    {
        return Set(key, name, "s", text);
    }
    StoreStatus SetDwordValue(KeyHandle key, const std::string& name, std::uint32_t value) override
    {
        return Set(key, name, "d", std::to_string(value));
    }
    // A package writes text and numbers only; the scripts need nothing else.
    StoreStatus SetBinaryValue(KeyHandle, const std::string&, const std::uint8_t*, std::size_t) override
    {
        return kNotSupported;
    }

    StoreStatus CountSubkeysAndValues(KeyHandle key, std::uint32_t* subkeys, std::uint32_t* values) override
    {
        *subkeys = static_cast<std::uint32_t>(Children(At(key)));
        *values = static_cast<std::uint32_t>(At(key).values.size());
        return kStoreSuccess;
    }
    StoreStatus FirstValueName(KeyHandle key, std::string* name) override
    {
        if (At(key).values.empty()) return kNotFound;
        *name = At(key).values.front().name;
        return kStoreSuccess;
    }

    void Print() const
    {
        for (const Key& key : m_keys) {
            if (!key.live || key.path.empty()) continue;
            for (const Value& value : key.values)
                std::printf("%s\t%s\t%s\t%s\t%s\n", key.root.c_str(), key.path.c_str(), value.name.c_str(),
                            value.type, value.data.c_str());
            if (key.values.empty() && Children(key) == 0)
                std::printf("%s\t%s\n", key.root.c_str(), key.path.c_str());
        }
    }

private:
    struct Value {
        std::string name;
        const char* type;
        std::string data;
    };
    struct Key {
        std::string root, path; // a root key's path is empty
        std::vector<Value> values;
        bool isRoot, live;
    };

    static KeyHandle Handle(std::size_t index) { return static_cast<KeyHandle>(index + 1); }
    Key& At(KeyHandle key) { return m_keys.at(static_cast<std::size_t>(key) - 1); }
    const Key& At(KeyHandle key) const { return m_keys.at(static_cast<std::size_t>(key) - 1); }

    // The live key `name` below `parent` (empty: `parent` itself), or m_keys.size().
    std::size_t Find(KeyHandle parent, const std::string& name) const
    {
        if (name.empty()) return static_cast<std::size_t>(parent) - 1;
        const Key& above = At(parent);
        const std::string path = Lower(above.path.empty() ? name : above.path + "\\" + name);
        for (std::size_t i = 0; i < m_keys.size(); ++i)
            if (m_keys[i].live && !m_keys[i].isRoot && m_keys[i].root == above.root &&
                Lower(m_keys[i].path) == path)
                return i;
        return m_keys.size();
    }
    std::size_t Children(const Key& key) const
    {
        const std::string below = Lower(key.path) + "\\";
        std::size_t count = 0;
        for (const Key& other : m_keys)
            if (other.live && !other.isRoot && other.root == key.root &&
                (key.isRoot || Lower(other.path).compare(0, below.size(), below) == 0) &&
                other.path.find('\\', key.isRoot ? 0 : below.size()) == std::string::npos)
                ++count;
        return count;
    }
    StoreStatus Set(KeyHandle key, const std::string& name, const char* type, std::string data)
    {
        DeleteValue(key, name);
        At(key).values.push_back({name, type, std::move(data)});
        return kStoreSuccess;
    }

    std::vector<Key> m_keys;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: regscript_rows <module> <script>...\n");
        return 2;
    }
    RecordingStore store;
    const ReplacementMap replacements = {{"MODULE", argv[1]}};
    for (int i = 2; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        const std::string script{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        const std::int32_t hr =
            file ? RunRegistryScript(script, replacements, ScriptMode::Register, store) : kE_FAIL;
        if (hr != kS_OK) {
            std::fprintf(stderr, "%s: %s [%08x]\n", argv[i],
                         file ? "the script does not register" : "unreadable", static_cast<unsigned>(hr));
            return 1;
        }
    }
    store.Print();
    return 0;
}
