#include "log/ActionLog.h"

#include "common/Format.h"

#include <atomic>
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

// A writer stalled on a network share must not freeze every thread that logs: after
// this long the others append without their turn.
constexpr ULONGLONG kAppendGuardWaitMs = 1000;
// How long an open waits for a file that someone holds without sharing it (a rotation,
// for the moment of its rename) before the log gives up on it.
constexpr ULONGLONG kOpenWaitMs = kAppendGuardWaitMs;

bool FileExists(const std::string& path) noexcept
{
    // Needs no right to list the folder, only to read the file's attributes.
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

HANDLE OpenLogFile(const std::string& path, DWORD disposition) noexcept
{
    return ::CreateFileA(path.c_str(), kOpenAccess, kOpenSharing, nullptr, disposition, kOpenFlags, nullptr);
}

// Waits for `ready` to hold, politely, until `timeoutMs` have passed.
template <typename Ready> bool WaitUntil(Ready&& ready, ULONGLONG timeoutMs) noexcept
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (unsigned attempt = 0;; ++attempt) {
        if (ready()) return true;
        if (::GetTickCount64() >= deadline) return false;
        // Turns are short: yield first, then sleep so that a long wait costs no CPU.
        ::Sleep(attempt < 16 ? 0 : 1);
    }
}

// Opens the file, or creates it, while an operator's rotation may move it away or a writer
// create it anew between one look and the next: whatever the last attempt found decides
// the next one. `created` tells whether this call made the file. On failure the last error
// is the platform's reason.
HANDLE OpenThroughRotation(const std::string& path, bool& created) noexcept
{
    bool exists = FileExists(path);
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_SUCCESS;
    WaitUntil(
        [&] {
            file = OpenLogFile(path, exists ? OPEN_EXISTING : CREATE_NEW);
            if (file != INVALID_HANDLE_VALUE) return true;
            error = ::GetLastError();
            // Moved away since it was seen, or created since it was missed: try the other way.
            if (error == (exists ? ERROR_FILE_NOT_FOUND : ERROR_FILE_EXISTS)) {
                exists = !exists;
                return false;
            }
            // Held without sharing (renamed this very moment): worth another try. Any other
            // reason will not go away by waiting.
            return error != ERROR_SHARING_VIOLATION;
        },
        kOpenWaitMs);
    created = file != INVALID_HANDLE_VALUE && !exists;
    if (file == INVALID_HANDLE_VALUE) ::SetLastError(error);
    return file;
}

// The guard byte, held for one append; not held when another writer keeps it too long
// or the file system has no byte-range locks.
class AppendTurn {
public:
    explicit AppendTurn(HANDLE file) noexcept : m_file(file)
    {
        m_guard.Offset = kAppendGuardLow;
        m_guard.OffsetHigh = kAppendGuardHigh;
        bool unsupported = false;
        m_held = WaitUntil(
                     [&] {
                         if (::LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1,
                                          0, &m_guard))
                             return true;
                         unsupported = ::GetLastError() != ERROR_LOCK_VIOLATION;
                         return unsupported;
                     },
                     kAppendGuardWaitMs) &&
                 !unsupported;
    }
    ~AppendTurn()
    {
        if (m_held) ::UnlockFileEx(m_file, 0, 1, 0, &m_guard);
    }
    AppendTurn(const AppendTurn&) = delete;
    AppendTurn& operator=(const AppendTurn&) = delete;

private:
    HANDLE m_file;
    OVERLAPPED m_guard = {};
    bool m_held = false;
};

std::atomic<AppendHook> g_appendHook{nullptr};

// One WriteFile of `size` bytes after everything already in the file. An offset of all
// ones asks the file system for its end at the moment of the write: a writer that took its
// turn and then stalled (a busy disk, a slow share) may find that another one, tired of
// waiting, has appended meanwhile, and an end it had looked up earlier would have it write
// over that record.
bool WriteAtEnd(HANDLE file, const char* data, DWORD size) noexcept
{
    OVERLAPPED atEnd = {};
    atEnd.Offset = 0xFFFFFFFF;
    atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    return ::WriteFile(file, data, size, &written, &atEnd) && written == size;
}

bool IsEmpty(HANDLE file) noexcept
{
    LARGE_INTEGER size = {};
    return ::GetFileSizeEx(file, &size) && size.QuadPart == 0;
}

// Appends `record` (possibly nothing) in the writers' turn. Whoever finds the file empty in
// its turn writes the header first, however the file came to be empty: just created by
// anyone, emptied by an operator, or left empty by a creator whose header write failed. So
// every file starts with one header, decided by what the file holds rather than by who
// created it when.
bool Append(HANDLE file, const std::string& record) noexcept
{
    if (record.size() > MAXDWORD) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    bool ok;
    DWORD error;
    {
        const AppendTurn turn(file);
        if (const AppendHook hook = g_appendHook.load()) hook();
        ok = !IsEmpty(file) || WriteAtEnd(file, kLogHeader, sizeof kLogHeader - 1);
        if (ok && !record.empty()) ok = WriteAtEnd(file, record.data(), static_cast<DWORD>(record.size()));
        error = ::GetLastError();
    }
    ::SetLastError(error);
    return ok;
}

// The log is shared by its object and by that object's exchanges that run late, on
// threads of their own.
class Exclusive {
public:
    explicit Exclusive(SRWLOCK& lock) noexcept : m_lock(lock) { ::AcquireSRWLockExclusive(&m_lock); }
    ~Exclusive() { ::ReleaseSRWLockExclusive(&m_lock); }
    Exclusive(const Exclusive&) = delete;
    Exclusive& operator=(const Exclusive&) = delete;

private:
    SRWLOCK& m_lock;
};

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
    const Exclusive guard(m_lock);
    if (m_file) return;
    m_path = std::move(path);
    RecordError(nullptr, 0);

    bool created = false;
    const HANDLE file = OpenThroughRotation(m_path, created);
    if (file == INVALID_HANDLE_VALUE) {
        RecordError("CreateFile fails in constructor", ::GetLastError());
        CloseAfterFailure();
        return;
    }
    m_file.reset(file);
    // A file that was there keeps its bytes until the first record: an object that logs
    // nothing leaves it as it found it.
    if (created && !Append(file, {})) {
        RecordError("WriteFile fails in constructor", ::GetLastError());
        CloseAfterFailure();
    }
}

bool CActionLog::Log(std::string action, std::string comments) noexcept
{
    const Exclusive guard(m_lock);
    if (!m_file) {
        RecordError("Invalid file handle", ::GetLastError());
        return false;
    }
    try {
        SYSTEMTIME now;
        ::GetLocalTime(&now);
        if (Append(m_file.get(), FormatLogRecord(now, action, comments))) return true;
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

std::string CActionLog::LastError() const
{
    const Exclusive guard(m_lock);
    if (!m_lastErrorMessage) return {};
    return Format("%s. %s", {m_lastErrorMessage, SystemText(m_lastErrorCode)});
}

void CActionLog::RecordError(const char* message, DWORD code) noexcept
{
    m_lastErrorMessage = message;
    m_lastErrorCode = code;
}

void CActionLog::CloseAfterFailure() noexcept
{
    m_file.reset();
    m_path.clear();
}

AppendHook SetAppendHook(AppendHook hook) noexcept
{
    return g_appendHook.exchange(hook);
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
