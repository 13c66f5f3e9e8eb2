#include "log/ActionLog.h"

#include "common/Format.h"

#include <cstdio>
#include <new>

namespace vela {

namespace {

constexpr DWORD kOpenAccess = GENERIC_READ | GENERIC_WRITE;
// Other objects and processes keep the same file open at once; nobody may delete it.
constexpr DWORD kOpenSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kOpenFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;

// A byte far beyond any real end of file that every writer locks exclusively for the
// length of one append. The platform appends at end of file in one step on NTFS, but
// not every implementation of it does (Wine reads the size, then writes there), so
// two processes could otherwise land their records on the same offset.
constexpr DWORD kAppendGuardHigh = 0x7FFFFFFF;
constexpr DWORD kAppendGuardLow = 0;

bool FileExists(const std::string& path) noexcept
{
    WIN32_FIND_DATAA found;
    const HANDLE search = ::FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    ::FindClose(search);
    return true;
}

// Writes `size` bytes at the then-current end of the file in one WriteFile: an offset of
// all ones asks the file system for the end, so records of writers on other handles
// (other objects, other processes) are never written over.
bool AppendAtEnd(HANDLE file, const char* data, std::size_t size) noexcept
{
    if (size > MAXDWORD) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    OVERLAPPED guard = {};
    guard.Offset = kAppendGuardLow;
    guard.OffsetHigh = kAppendGuardHigh;
    // Without the guard the write is still made; the lock only keeps writers in turn.
    const bool locked = ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &guard) != FALSE;

    OVERLAPPED atEnd = {};
    atEnd.Offset = 0xFFFFFFFF;
    atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    const bool ok = ::WriteFile(file, data, static_cast<DWORD>(size), &written, &atEnd) != FALSE;
    const DWORD error = ::GetLastError();

    if (locked) ::UnlockFileEx(file, 0, 1, 0, &guard);
    ::SetLastError(error);
    return ok && written == size;
}

// The system's text for `code`, as the platform words it (line break included), or
// the fallback sentence when it has none.
std::string SystemText(DWORD code)
{
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
    const unique_hlocal owner(text);
    if (length == 0 || text == nullptr)
        return Format("The system cannot find error message for error number %d", {static_cast<long>(code)});
    return text;
}

} // namespace

CActionLog::~CActionLog()
{
    m_file.reset();
    m_path.clear();
}

void CActionLog::Open(std::string path) noexcept
{
    if (m_file) return;
    m_path = std::move(path);
    m_lastError.clear();

    const bool exists = FileExists(m_path);
    const HANDLE file = ::CreateFileA(m_path.c_str(), kOpenAccess, kOpenSharing, nullptr,
                                      exists ? OPEN_EXISTING : CREATE_NEW, kOpenFlags, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        RecordError("CreateFile fails in constructor", ::GetLastError());
        CloseAfterFailure();
        return;
    }
    m_file.reset(file);

    if (exists) {
        // An existing file gets no header, even when it is empty.
        ::SetFilePointer(file, 0, nullptr, FILE_END);
        return;
    }
    ::SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    // Appended like a record: should another process have opened the new file and
    // logged in the meantime, its record stays and the header follows it.
    if (!AppendAtEnd(file, kLogHeader, sizeof kLogHeader - 1)) {
        RecordError("WriteFile fails in constructor", ::GetLastError());
        CloseAfterFailure();
    }
}

bool CActionLog::Log(std::string action, std::string comments) noexcept
{
    if (!m_file) {
        RecordError("Invalid file handle", ::GetLastError());
        return false;
    }
    try {
        SYSTEMTIME now;
        ::GetLocalTime(&now);
        const std::string line = FormatLogRecord(now, action, comments);
        if (AppendAtEnd(m_file.get(), line.data(), line.size())) return true;
        RecordError("WriteFile fails in logging", ::GetLastError());
    } catch (const std::bad_alloc&) {
        // No memory for the line: this record is lost, the log stays open.
        return false;
    }
    // A log that failed to write stays closed: the records of this object would
    // otherwise have gaps nobody could see.
    CloseAfterFailure();
    return false;
}

void CActionLog::RecordError(const std::string& message, DWORD code) noexcept
{
    try {
        m_lastError = Format("%s. %s", {message, SystemText(code)});
    } catch (const std::bad_alloc&) {
        m_lastError.clear();
    }
}

void CActionLog::CloseAfterFailure() noexcept
{
    m_file.reset();
    m_path.clear();
}

std::string FormatLogRecord(const SYSTEMTIME& time, const std::string& action, const std::string& comments)
{
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02u/%02u/%02u,%02u:%02u:%02u,", static_cast<unsigned>(time.wMonth),
                  static_cast<unsigned>(time.wDay), static_cast<unsigned>(time.wYear % 100),
                  static_cast<unsigned>(time.wHour), static_cast<unsigned>(time.wMinute),
                  static_cast<unsigned>(time.wSecond));
    std::string line;
    line.reserve(sizeof stamp + action.size() + comments.size() + 4);
    line += stamp;
    line += action;
    line += ',';
    line += comments;
    line += ",\r\n";
    return line;
}

} // namespace vela
