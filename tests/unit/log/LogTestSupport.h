// Scratch folders, raw file reads and the install-path setting, for the tests of the log
// and of the objects that write it.
#pragma once

#include "common/Unique.h"

#include <string>
#include <vector>

namespace vela::test {

// A fresh folder under the temp directory, removed with its contents at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "\\" + name; }

private:
    std::string m_path;
};

std::string ReadFileBytes(const std::string& path); // throws std::runtime_error when unreadable
// Lines split at "\r\n"; the text after the last "\r\n" (normally empty) is dropped.
std::vector<std::string> SplitLines(const std::string& text);

// Sets (with REG_NONE: deletes) "InstallPath" for the life of the object, then puts back
// what was there. Test programs take turns through a named mutex: they share the value.
class ScopedInstallPath {
public:
    ScopedInstallPath(const std::string& value, DWORD type = REG_SZ);
    ~ScopedInstallPath();

private:
    unique_handle m_turn;    // also keeps the object from being copied
    DWORD m_type = REG_NONE; // REG_NONE: there was no value
    std::string m_data;
};

// Record `i` of a concurrent writer: lengths vary, so that records written over each other show.
inline std::string ConcurrentAction(const std::string& tag, int i)
{
    return tag + "-" + std::string(i % 37, 'x');
}

} // namespace vela::test
