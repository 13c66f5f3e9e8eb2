#include "LogTestSupport.h"

#include <map>
#include <stdexcept>

namespace vela::test {

namespace {

void RemoveTree(const std::string& dir)
{
    WIN32_FIND_DATAA found;
    const HANDLE search = ::FindFirstFileA((dir + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string child = dir + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                ::DeleteFileA(child.c_str());
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryA(dir.c_str());
}

bool IsDigits(const std::string& s, std::size_t pos, std::size_t count)
{
    for (std::size_t i = pos; i < pos + count; ++i)
        if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
    return true;
}

constexpr const char kInstallKey[] = "SOFTWARE\\Corvane\\Nt Vela Console\\General";

} // namespace

TempDir::TempDir()
{
    char base[MAX_PATH];
    ::GetTempPathA(MAX_PATH, base);
    static LONG counter = 0;
    for (;;) {
        m_path = std::string(base) + "vela-log-" + std::to_string(::GetCurrentProcessId()) + "-" +
                 std::to_string(::InterlockedIncrement(&counter));
        if (::CreateDirectoryA(m_path.c_str(), nullptr)) return;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot create " + m_path);
    }
}

TempDir::~TempDir()
{
    RemoveTree(m_path);
}

std::string ReadFileBytes(const std::string& path)
{
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot read " + path);
    std::string bytes;
    char chunk[65536];
    DWORD got = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    ::CloseHandle(file);
    return bytes;
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write " + path);
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

bool DirectoryExists(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

std::string SystemText(DWORD code)
{
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length && text ? std::string(text) : std::string();
    ::LocalFree(text);
    return result;
}

ScopedInstallPath::ScopedInstallPath(const std::string& value, DWORD type)
{
    m_turn = ::CreateMutexA(nullptr, FALSE, "VelaTestInstallPath");
    if (m_turn) ::WaitForSingleObject(m_turn, INFINITE); // abandoned counts as ours too
    HKEY key = nullptr;
    ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstallKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                      nullptr);
    if (!key) {
        ReleaseTurn();
        throw std::runtime_error("cannot open the install key");
    }
    DWORD size = 0;
    if (::RegQueryValueExA(key, "InstallPath", nullptr, &m_type, nullptr, &size) == ERROR_SUCCESS) {
        m_had = true;
        m_data.resize(size);
        ::RegQueryValueExA(key, "InstallPath", nullptr, &m_type, reinterpret_cast<BYTE*>(m_data.data()),
                           &size);
    }
    if (type == REG_NONE)
        ::RegDeleteValueA(key, "InstallPath");
    else
        ::RegSetValueExA(key, "InstallPath", 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>(value.size() + 1));
    ::RegCloseKey(key);
}

ScopedInstallPath::~ScopedInstallPath()
{
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_WRITE, &key) == ERROR_SUCCESS) {
        if (m_had)
            ::RegSetValueExA(key, "InstallPath", 0, m_type, reinterpret_cast<const BYTE*>(m_data.data()),
                             static_cast<DWORD>(m_data.size()));
        else
            ::RegDeleteValueA(key, "InstallPath");
        ::RegCloseKey(key);
    }
    ReleaseTurn();
}

void ScopedInstallPath::ReleaseTurn()
{
    if (!m_turn) return;
    ::ReleaseMutex(m_turn);
    ::CloseHandle(m_turn);
    m_turn = nullptr;
}

std::string ConcurrentAction(const std::string& tag, int i)
{
    return tag + "-" + std::string(i % 37, 'x');
}

std::string CheckConcurrentRecords(const std::string& text, const std::vector<std::string>& tags, int perTag)
{
    if (text.find('\0') != std::string::npos) return "the file holds NUL bytes";
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)
        return "the file does not end a line";
    const std::vector<std::string> lines = SplitLines(text);
    if (lines.empty() || lines[0] != "Date,Time,Action,Comments,") return "the first line is not the header";

    std::map<std::string, int> next;
    for (const auto& tag : tags)
        next[tag] = 0;
    for (std::size_t n = 1; n < lines.size(); ++n) {
        const std::string& line = lines[n];
        const std::string where = "line " + std::to_string(n + 1) + " '" + line + "': ";
        const bool stamped = IsDigits(line, 0, 2) && line[2] == '/' && IsDigits(line, 3, 2) &&
                             line[5] == '/' && IsDigits(line, 6, 2) && line[8] == ',' &&
                             IsDigits(line, 9, 2) && line[11] == ':' && IsDigits(line, 12, 2) &&
                             line[14] == ':' && IsDigits(line, 15, 2) && line[17] == ',';
        if (!stamped) return where + "no date and time";
        const std::size_t dash = line.find('-', 18);
        const std::size_t comma = line.find(',', 18);
        if (dash == std::string::npos || comma == std::string::npos || dash > comma) return where + "no tag";
        const std::string tag = line.substr(18, dash - 18);
        const auto it = next.find(tag);
        if (it == next.end()) return where + "unknown tag";
        const std::string number = line.substr(comma + 1);
        if (number.size() < 2 || number.back() != ',' || !IsDigits(number, 0, number.size() - 1))
            return where + "bad number field";
        const int i = std::stoi(number);
        if (i != it->second) return where + "expected number " + std::to_string(it->second);
        if (line.substr(18, comma - 18) != ConcurrentAction(tag, i)) return where + "action text damaged";
        ++it->second;
    }
    for (const auto& [tag, count] : next)
        if (count != perTag)
            return tag + " has " + std::to_string(count) + " records, not " + std::to_string(perTag);
    return {};
}

} // namespace vela::test
