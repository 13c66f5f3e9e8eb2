// Helpers for the log tests: scratch folders, raw file and registry access, and the
// checker that proves records of concurrent writers arrived whole.
#pragma once

#include "platform/WinIncludes.h"

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

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool DirectoryExists(const std::string& path);
// Lines split at "\r\n"; the text after the last "\r\n" (normally empty) is dropped.
std::vector<std::string> SplitLines(const std::string& text);

// The platform's text for `code`, the way the log is expected to quote it.
std::string SystemText(DWORD code);

// Sets (or, with REG_NONE, deletes) "InstallPath" for the life of the object and puts
// back what was there before. Test processes that CTest runs side by side take turns
// through a named mutex, since they share the one value of the prefix.
class ScopedInstallPath {
public:
    ScopedInstallPath(const std::string& value, DWORD type = REG_SZ);
    ~ScopedInstallPath();
    ScopedInstallPath(const ScopedInstallPath&) = delete;
    ScopedInstallPath& operator=(const ScopedInstallPath&) = delete;

private:
    void ReleaseTurn();

    HANDLE m_turn = nullptr;
    bool m_had = false;
    DWORD m_type = REG_NONE;
    std::string m_data;
};

// Checks that `text` is the header followed by exactly `perTag` records for each tag,
// each line whole, and every tag's sequence numbers 0..perTag-1 in order. Records are
// "date,time,<tag>[-padding],<number>," as log_writer and the in-process writers make
// them. Returns an empty string when all holds, else what went wrong.
std::string CheckConcurrentRecords(const std::string& text, const std::vector<std::string>& tags, int perTag);

// The action text a concurrent writer logs for record `i`: varying lengths, so that
// two records written over each other cannot go unnoticed.
std::string ConcurrentAction(const std::string& tag, int i);

} // namespace vela::test
