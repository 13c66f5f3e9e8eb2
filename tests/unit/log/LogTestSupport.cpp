#include "LogTestSupport.h"

#include <filesystem>
#include <stdexcept>

namespace vela::test {

namespace {

constexpr char kInstallKey[] = "SOFTWARE\\Corvane\\Nt Vela Console\\General";

void SetInstallPath(DWORD type, const void* data, DWORD size)
{
    if (type == REG_NONE)
        ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kInstallKey, "InstallPath");
    else
        ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, kInstallKey, "InstallPath", type, data, size);
}

} // namespace

TempDir::TempDir()
{
    static LONG counter = 0;
    const std::string name = std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);
    m_path = (std::filesystem::temp_directory_path() / ("vela-log-" + name)).string();
    std::filesystem::remove_all(m_path); // left behind by a crashed run of the same id
    std::filesystem::create_directory(m_path);
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string ReadFileBytes(const std::string& path)
{
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot read " + path);
    const unique_handle owner(file);
    std::string bytes;
    char chunk[65536];
    for (DWORD got = 0; ::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0;)
        bytes.append(chunk, got);
    return bytes;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

ScopedInstallPath::ScopedInstallPath(const std::string& value, DWORD type)
    : m_turn(::CreateMutexA(nullptr, FALSE, "VelaTestInstallPath"))
{
    ::WaitForSingleObject(m_turn.get(), INFINITE); // an abandoned turn is ours as well
    DWORD size = 4096;
    m_data.resize(size);
    if (::RegGetValueA(HKEY_LOCAL_MACHINE, kInstallKey, "InstallPath", RRF_RT_ANY | RRF_NOEXPAND, &m_type,
                       m_data.data(), &size))
        m_type = REG_NONE;
    m_data.resize(m_type == REG_NONE ? 0 : size);
    SetInstallPath(type, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

ScopedInstallPath::~ScopedInstallPath()
{
    SetInstallPath(m_type, m_data.data(), static_cast<DWORD>(m_data.size()));
    ::ReleaseMutex(m_turn.get());
}

} // namespace vela::test
