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
// How long a writer that found a file just created waits for its creator's header
// before it takes the file for one that was empty all along.
constexpr ULONGLONG kHeaderWaitMs = 1000;

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

// Writes `size` bytes after everything already in the file, in one WriteFile. An offset
// of all ones asks the file system for its end at the moment of the write: a writer that
// took its turn and then stalled (a busy disk, a slow share) may find that another one,
// tired of waiting, has appended meanwhile, and an end it had looked up earlier would
// have it write over that record. The turn still keeps the writers in order.
bool AppendAtEnd(HANDLE file, const char* data, std::size_t size) noexcept
{
    if (size > MAXDWORD) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    DWORD written = 0;
    bool ok;
    DWORD error;
    {
        const AppendTurn turn(file);
        if (const AppendHook hook = g_appendHook.load()) hook();
        OVERLAPPED atEnd = {};
        atEnd.Offset = 0xFFFFFFFF;
        atEnd.OffsetHigh = 0xFFFFFFFF;
        ok = ::WriteFile(file, data, static_cast<DWORD>(size), &written, &atEnd) != FALSE;
        error = ::GetLastError();
    }
    ::SetLastError(error);
    return ok && written == size;
}

bool IsEmpty(HANDLE file) noexcept
{
    LARGE_INTEGER size = {};
    return ::GetFileSizeEx(file, &size) && size.QuadPart == 0;
}

// Whether the file was created or written so lately that a header may still be on its
// way. A time ahead of ours (another machine's clock, on a share) counts as lately.
bool WrittenLately(HANDLE file) noexcept
{
    FILETIME written = {}, now = {};
    if (!::GetFileTime(file, nullptr, nullptr, &written)) return false;
    ::GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& t) { // 100 ns each
        return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return ticks(now) < ticks(written) + kHeaderWaitMs * 10000;
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
    RecordError(nullptr, 0);

    bool created = !FileExists(m_path);
    HANDLE file = OpenLogFile(m_path, created ? CREATE_NEW : OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE && created && ::GetLastError() == ERROR_FILE_EXISTS) {
        // Another writer created the file since it was looked for: log there as well.
        created = false;
        file = OpenLogFile(m_path, OPEN_EXISTING);
    }
    if (file == INVALID_HANDLE_VALUE) {
        RecordError("CreateFile fails in constructor", ::GetLastError());
        CloseAfterFailure();
        return;
    }
    m_file.reset(file);

    if (!created) {
        // An existing file gets no header, even when it is empty (an operator may have
        // made it so). Only an empty file that another writer has just created may still
        // be waiting for its header, whether that writer's create beat ours or we found
        // the file between its create and its header. The first record then waits for
        // the header (see Log).
        m_headerPending = IsEmpty(file) && WrittenLately(file);
        return;
    }
    // Written in turn like a record, so that writers who found the file meanwhile append
    // after it.
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
    if (m_headerPending) {
        // The file's first line must stay its header: give the writer that created the
        // file a moment to write it, then take the file for one that was empty all along.
        WaitUntil([&] { return !IsEmpty(m_file.get()); }, kHeaderWaitMs);
        m_headerPending = false;
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

std::string CActionLog::LastError() const
{
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
