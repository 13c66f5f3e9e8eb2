#include "frame/regscript/RegScript.h"

#include <new>

namespace vela::regscript {

namespace {

constexpr std::int32_t kDISP_E_TYPEMISMATCH = static_cast<std::int32_t>(0x80020005u);
constexpr std::int32_t kDISP_E_OVERFLOW = static_cast<std::int32_t>(0x8002000Au);

// The registry holds at most 512 levels of keys, so a script nested deeper could never be
// registered anyway; refusing it keeps the recursion of the key lists bounded.
constexpr int kMaxNesting = 512;

#define REGSCRIPT_RETURN_IF_FAILED(expr)                                                                     \
    do {                                                                                                     \
        const std::int32_t regscript_hr_ = (expr);                                                           \
        if (regscript_hr_ < 0) return regscript_hr_;                                                         \
    } while (0)

constexpr char ToLowerAscii(char c) noexcept
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) return false;
    }
    return true;
}

constexpr bool IsBlank(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Bytes taken by the character at `pos`: a lead byte keeps its trail byte with it, so that
// a trail byte equal to "%", "'", "\" or a blank is never read as one.
std::size_t CharLength(std::string_view text, std::size_t pos, const RegistryStore& store) noexcept
{
    return (store.IsLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size()) ? 2 : 1;
}

std::size_t FindChar(std::string_view text, std::size_t from, char wanted,
                     const RegistryStore& store) noexcept
{
    for (std::size_t pos = from; pos < text.size(); pos += CharLength(text, pos, store)) {
        if (text[pos] == wanted) return pos;
    }
    return std::string_view::npos;
}

std::string_view UpToZero(std::string_view text) noexcept
{
    return text.substr(0, text.find('\0'));
}

struct RootName {
    std::string_view name;
    std::string_view shortName;
    RegistryRoot root;
};

constexpr RootName kRoots[] = {
    {"HKEY_CLASSES_ROOT", "HKCR", RegistryRoot::ClassesRoot},
    {"HKEY_CURRENT_USER", "HKCU", RegistryRoot::CurrentUser},
    {"HKEY_LOCAL_MACHINE", "HKLM", RegistryRoot::LocalMachine},
    {"HKEY_USERS", "HKU", RegistryRoot::Users},
    {"HKEY_PERFORMANCE_DATA", "HKPD", RegistryRoot::PerformanceData},
    {"HKEY_DYN_DATA", "HKDD", RegistryRoot::DynData},
    {"HKEY_CURRENT_CONFIG", "HKCC", RegistryRoot::CurrentConfig},
};

const RootName* FindRoot(std::string_view name) noexcept
{
    for (const RootName& entry : kRoots) {
        if (EqualsNoCase(name, entry.name) || EqualsNoCase(name, entry.shortName)) return &entry;
    }
    return nullptr;
}

// Keys that other software shares; a script may never wipe them.
bool IsProtectedKey(std::string_view name) noexcept
{
    return EqualsNoCase(name, "CLSID") || EqualsNoCase(name, "TYPELIB");
}

constexpr std::uint8_t HexDigitValue(char c) noexcept
{
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
    return 0;
}

class ScopedKey {
public:
    explicit ScopedKey(RegistryStore& store) noexcept : m_store(store) {}
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    ~ScopedKey() noexcept { reset(); }

    KeyHandle get() const noexcept { return m_key; }
    bool is_open() const noexcept { return m_key != KeyHandle::None; }
    void reset() noexcept
    {
        if (is_open()) m_store.CloseKey(m_key);
        m_key = KeyHandle::None;
    }
    KeyHandle* put() noexcept
    {
        reset();
        return &m_key;
    }

private:
    RegistryStore& m_store;
    KeyHandle m_key = KeyHandle::None;
};

class Parser {
public:
    Parser(std::string_view text, RegistryStore& store) noexcept : m_text(text), m_store(store) {}

    std::int32_t Run(ScriptMode mode)
    {
        std::string token;
        while (!AtEnd()) {
            REGSCRIPT_RETURN_IF_FAILED(NextToken(token));
            const RootName* root = FindRoot(token);
            if (!root) return kDISP_E_EXCEPTION;
            REGSCRIPT_RETURN_IF_FAILED(NextToken(token));
            if (token != "{") return kDISP_E_EXCEPTION;

            const KeyHandle rootKey = m_store.RootKey(root->root);
            if (mode == ScriptMode::Register) {
                // A half-written block would leave orphaned keys behind; take back what the
                // block wrote by reading it again as an unregistration.
                const std::size_t blockStart = m_pos;
                const std::int32_t hr = RegisterKeyList(rootKey, 1);
                if (hr < 0) {
                    m_pos = blockStart;
                    (void)UnregisterKeyList(rootKey, false, 1);
                    return hr;
                }
            } else {
                REGSCRIPT_RETURN_IF_FAILED(UnregisterKeyList(rootKey, false, 1));
            }
            SkipBlanks();
        }
        return kS_OK;
    }

private:
    bool AtEnd() const noexcept { return m_pos >= m_text.size(); }

    void SkipBlanks() noexcept
    {
        while (!AtEnd() && IsBlank(m_text[m_pos]))
            ++m_pos;
    }

    std::int32_t AppendChar(std::string& token)
    {
        const std::size_t length = CharLength(m_text, m_pos, m_store);
        if (token.size() + length > kMaxTokenBytes) return kDISP_E_EXCEPTION;
        token.append(m_text.data() + m_pos, length);
        m_pos += length;
        return kS_OK;
    }

    // A run of non-blank characters, or a text in single quotes where "''" stands for "'".
    std::int32_t NextToken(std::string& token)
    {
        SkipBlanks();
        if (AtEnd()) return kDISP_E_EXCEPTION;
        token.clear();
        if (m_text[m_pos] != '\'') {
            while (!AtEnd() && !IsBlank(m_text[m_pos]))
                REGSCRIPT_RETURN_IF_FAILED(AppendChar(token));
            return kS_OK;
        }
        ++m_pos;
        for (;;) {
            if (AtEnd()) return kDISP_E_EXCEPTION;
            if (m_text[m_pos] == '\'') {
                if (m_pos + 1 >= m_text.size() || m_text[m_pos + 1] != '\'') {
                    ++m_pos;
                    return kS_OK;
                }
                ++m_pos; // the first of a doubled quote
            }
            REGSCRIPT_RETURN_IF_FAILED(AppendChar(token));
        }
    }

    // Reads "type value" after an "=" and writes the value; leaves the following token in
    // `token`. Write failures are not reported: a value the caller cannot write is no reason
    // to abandon the rest of the script.
    std::int32_t SetValue(KeyHandle key, const std::string& name, std::string& token)
    {
        std::string type;
        REGSCRIPT_RETURN_IF_FAILED(NextToken(type));
        const bool isString = EqualsNoCase(type, "S");
        const bool isNumber = EqualsNoCase(type, "D");
        const bool isBinary = EqualsNoCase(type, "B");
        if (!isString && !isNumber && !isBinary) return kDISP_E_EXCEPTION;

        std::string value;
        REGSCRIPT_RETURN_IF_FAILED(NextToken(value));
        if (isString) {
            (void)m_store.SetStringValue(key, name, value);
        } else if (isNumber) {
            // A text that is no number is not detected; it writes 0.
            std::uint32_t number = 0;
            if (m_store.TextToUInt32(value, &number) < 0) number = 0;
            (void)m_store.SetDwordValue(key, name, number);
        } else {
            if (value.size() % 2 != 0) return kE_FAIL;
            std::vector<std::uint8_t> bytes(value.size() / 2);
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                bytes[i] = static_cast<std::uint8_t>((HexDigitValue(value[2 * i]) << 4) |
                                                     HexDigitValue(value[2 * i + 1]));
            }
            (void)m_store.SetBinaryValue(key, name, bytes.data(), bytes.size());
        }
        return NextToken(token);
    }

    // When `token` is "=", reads past "type value" to the token after them.
    std::int32_t SkipAssignment(std::string& token)
    {
        if (token != "=") return kS_OK;
        REGSCRIPT_RETURN_IF_FAILED(NextToken(token));
        std::string value;
        REGSCRIPT_RETURN_IF_FAILED(NextToken(value));
        return NextToken(token);
    }

    // When `token` is "{", reads the nested key list and the token after it.
    std::int32_t UnregisterNestedList(KeyHandle key, bool missing, std::string& token, int depth)
    {
        if (token != "{") return kS_OK;
        REGSCRIPT_RETURN_IF_FAILED(UnregisterKeyList(key, missing, depth + 1));
        return NextToken(token);
    }

    bool HasSubkeys(KeyHandle key)
    {
        std::uint32_t subkeys = 0;
        std::uint32_t values = 0;
        return m_store.CountSubkeysAndValues(key, &subkeys, &values) == kStoreSuccess && subkeys > 0;
    }

    // Values other than a lone unnamed default value.
    bool HasNamedValues(KeyHandle key)
    {
        std::uint32_t subkeys = 0;
        std::uint32_t values = 0;
        if (m_store.CountSubkeysAndValues(key, &subkeys, &values) != kStoreSuccess) return false;
        if (values != 1) return values > 1;
        std::string name;
        return m_store.FirstValueName(key, &name) == kStoreSuccess && !name.empty();
    }

    // The list after "{" up to its "}", which is consumed.
    std::int32_t RegisterKeyList(KeyHandle parent, int depth)
    {
        if (depth > kMaxNesting) return kDISP_E_EXCEPTION;
        std::string token;
        REGSCRIPT_RETURN_IF_FAILED(NextToken(token));
        while (token != "}") {
            const bool isDelete = EqualsNoCase(token, "Delete");
            if (isDelete || EqualsNoCase(token, "ForceRemove")) {
                REGSCRIPT_RETURN_IF_FAILED(NextToken(token));
                if (FindChar(token, 0, '\\', m_store) != std::string::npos) return kDISP_E_EXCEPTION;
                if (!IsProtectedKey(token)) (void)m_store.DeleteTree(parent, token);
                if (isDelete) {
                    REGSCRIPT_RETURN_IF_FAILED(NextToken(token));
                    REGSCRIPT_RETURN_IF_FAILED(SkipAssignment(token));
                    // Nothing was created for a nested list to apply to: it is read only.
                    REGSCRIPT_RETURN_IF_FAILED(UnregisterNestedList(KeyHandle::None, true, token, depth));
                    continue;
                }
            }
            if (EqualsNoCase(token, "NoRemove")) REGSCRIPT_RETURN_IF_FAILED(NextToken(token));

            if (EqualsNoCase(token, "Val")) {
                std::string name;
                REGSCRIPT_RETURN_IF_FAILED(NextToken(name));
                REGSCRIPT_RETURN_IF_FAILED(NextToken(token));
                if (token != "=") return kDISP_E_EXCEPTION;
                REGSCRIPT_RETURN_IF_FAILED(SetValue(parent, name, token));
                continue;
            }

            if (FindChar(token, 0, '\\', m_store) != std::string::npos) return kDISP_E_EXCEPTION;
            ScopedKey key(m_store);
            if (m_store.OpenKey(parent, token, KeyAccess::All, key.put()) != kStoreSuccess &&
                m_store.OpenKey(parent, token, KeyAccess::Read, key.put()) != kStoreSuccess &&
                m_store.CreateKey(parent, token, key.put()) != kStoreSuccess) {
                return kDISP_E_EXCEPTION;
            }
            REGSCRIPT_RETURN_IF_FAILED(NextToken(token));
            if (token == "=") REGSCRIPT_RETURN_IF_FAILED(SetValue(key.get(), std::string(), token));
            if (token == "{") {
                REGSCRIPT_RETURN_IF_FAILED(RegisterKeyList(key.get(), depth + 1));
                REGSCRIPT_RETURN_IF_FAILED(NextToken(token));
            }
        }
        return kS_OK;
    }

    // Removes what the list names. `missing`: the parent does not exist, so the list is
    // only read.
    std::int32_t UnregisterKeyList(KeyHandle parent, bool missing, int depth)
    {
        if (depth > kMaxNesting) return kDISP_E_EXCEPTION;
        std::string token;
        bool mayDelete = true; // "NoRemove" holds to the end of this list
        REGSCRIPT_RETURN_IF_FAILED(NextToken(token));
        while (token != "}") {
            if (EqualsNoCase(token, "ForceRemove") || EqualsNoCase(token, "Delete")) {
                REGSCRIPT_RETURN_IF_FAILED(NextToken(token));
            }
            if (EqualsNoCase(token, "NoRemove")) {
                mayDelete = false;
                REGSCRIPT_RETURN_IF_FAILED(NextToken(token));
            }

            if (EqualsNoCase(token, "Val")) {
                std::string name;
                REGSCRIPT_RETURN_IF_FAILED(NextToken(name));
                REGSCRIPT_RETURN_IF_FAILED(NextToken(token));
                if (token != "=") return kDISP_E_EXCEPTION;
                if (!missing) (void)m_store.DeleteValue(parent, name);
                REGSCRIPT_RETURN_IF_FAILED(SkipAssignment(token));
                continue;
            }

            if (FindChar(token, 0, '\\', m_store) != std::string::npos) return kDISP_E_EXCEPTION;
            ScopedKey key(m_store);
            if (missing || m_store.OpenKey(parent, token, KeyAccess::Read, key.put()) != kStoreSuccess) {
                REGSCRIPT_RETURN_IF_FAILED(NextToken(token));
                REGSCRIPT_RETURN_IF_FAILED(SkipAssignment(token));
                REGSCRIPT_RETURN_IF_FAILED(UnregisterNestedList(KeyHandle::None, true, token, depth));
                continue;
            }

            const std::string remembered = token.substr(0, kMaxRememberedKeyName);
            const bool inUse = HasSubkeys(key.get()) || HasNamedValues(key.get());
            if (!inUse && mayDelete) {
                key.reset();
                (void)m_store.DeleteKey(parent, remembered);
            }
            REGSCRIPT_RETURN_IF_FAILED(NextToken(token));
            REGSCRIPT_RETURN_IF_FAILED(SkipAssignment(token));
            // A key deleted above has nothing left for its list to remove.
            REGSCRIPT_RETURN_IF_FAILED(UnregisterNestedList(key.get(), !key.is_open(), token, depth));
            // Subkeys the script does not name belong to someone else: keep the key for them.
            if (inUse && mayDelete && !HasSubkeys(key.get())) {
                key.reset();
                (void)m_store.DeleteKey(parent, remembered);
            }
        }
        return kS_OK;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
    RegistryStore& m_store;
};

std::int32_t Expand(std::string_view script, const ReplacementMap& replacements, const RegistryStore& store,
                    std::string& out)
{
    out.clear();
    out.reserve(script.size());
    std::size_t pos = 0;
    while (pos < script.size()) {
        if (script[pos] != '%') {
            const std::size_t length = CharLength(script, pos, store);
            out.append(script.data() + pos, length);
            pos += length;
            continue;
        }
        ++pos;
        if (pos < script.size() && script[pos] == '%') {
            out += '%';
            ++pos;
            continue;
        }
        const std::size_t close = FindChar(script, pos, '%', store);
        if (close == std::string_view::npos) return kDISP_E_EXCEPTION;
        const std::string_view name = script.substr(pos, close - pos);
        if (name.size() > kMaxReplacementName) return kE_FAIL;
        const std::pair<std::string, std::string>* found = nullptr;
        for (const auto& entry : replacements) {
            if (EqualsNoCase(entry.first, name)) {
                found = &entry;
                break;
            }
        }
        if (!found) return kDISP_E_EXCEPTION;
        out += UpToZero(found->second);
        pos = close + 1;
    }
    return kS_OK;
}

} // namespace

std::int32_t RegistryStore::TextToUInt32(const std::string& text, std::uint32_t* value)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;

    unsigned base = 10;
    if (end - begin >= 2 && text[begin] == '&' && ToLowerAscii(text[begin + 1]) == 'h') {
        base = 16;
        begin += 2;
    } else if (end - begin >= 2 && text[begin] == '&' && ToLowerAscii(text[begin + 1]) == 'o') {
        base = 8;
        begin += 2;
    } else if (begin < end && text[begin] == '+') {
        ++begin;
    }
    if (begin == end) return kDISP_E_TYPEMISMATCH;

    std::uint64_t number = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const char c = text[i];
        const bool decimal = c >= '0' && c <= '9';
        const bool hex = (ToLowerAscii(c) >= 'a' && ToLowerAscii(c) <= 'f');
        unsigned digit = 0;
        if (decimal) {
            digit = static_cast<unsigned>(c - '0');
        } else if (hex) {
            digit = static_cast<unsigned>(ToLowerAscii(c) - 'a' + 10);
        } else {
            return kDISP_E_TYPEMISMATCH;
        }
        if (digit >= base) return kDISP_E_TYPEMISMATCH;
        number = number * base + digit;
        if (number > 0xFFFFFFFFu) return kDISP_E_OVERFLOW;
    }
    *value = static_cast<std::uint32_t>(number);
    return kS_OK;
}

bool RegistryStore::IsLeadByte(unsigned char) const noexcept
{
    return false;
}

std::int32_t ExpandRegistryScript(std::string_view script, const ReplacementMap& replacements,
                                  const RegistryStore& store, std::string* expanded) noexcept
{
    if (!expanded) return kE_FAIL;
    try {
        return Expand(UpToZero(script), replacements, store, *expanded);
    } catch (const std::bad_alloc&) {
        return kE_OUTOFMEMORY;
    } catch (...) {
        return kE_UNEXPECTED;
    }
}

std::int32_t RunRegistryScript(std::string_view script, const ReplacementMap& replacements, ScriptMode mode,
                               RegistryStore& store) noexcept
{
    try {
        std::string text;
        REGSCRIPT_RETURN_IF_FAILED(Expand(UpToZero(script), replacements, store, text));
        return Parser(text, store).Run(mode);
    } catch (const std::bad_alloc&) {
        return kE_OUTOFMEMORY;
    } catch (...) {
        return kE_UNEXPECTED;
    }
}

} // namespace vela::regscript
