// The CSV action log: one record per forwarded command, appended to a file shared by
// every object (and every process) that logs there. Logging never fails a command; its
// own failures are only remembered in the last-error text. One log may be used from
// several threads: its object's, and those of the object's exchanges that run late.
#pragma once

#include "common/Unique.h"

#include <string>

namespace vela {

class CActionLog {
public:
    CActionLog() noexcept = default;
    CActionLog(const CActionLog&) = delete;
    CActionLog& operator=(const CActionLog&) = delete;
    virtual ~CActionLog();

    // Opens the file at `path`, or creates it with its header line, even while a rotation
    // renames it away. Ignored when open.
    void Open(std::string path) noexcept;

    // Appends "date,time,action,comments,\r\n" in one write at the end of the file, after
    // the header line when the file is empty. False when nothing was written; a failed
    // write closes the log for good.
    bool Log(std::string action, std::string comments) noexcept;

    bool IsOpen() const noexcept { return m_file.is_valid(); }
    // "<message>. <system text>" of the last failure, empty when there was none. The
    // system text is looked up here rather than at every failure: a closed log fails on
    // every command, and nobody reads the text in normal operation.
    std::string LastError() const;
    const std::string& Path() const noexcept { return m_path; }

private:
    // Lets tests swap the handle for one that refuses writes.
    friend struct ActionLogTestAccess;

    void RecordError(const char* message, DWORD code) noexcept;
    void CloseAfterFailure() noexcept;

    const char* m_lastErrorMessage = nullptr; // one of the fixed failure messages, or null
    DWORD m_lastErrorCode = 0;
    std::string m_path;
    unique_handle m_file;
    mutable SRWLOCK m_lock = SRWLOCK_INIT;
};

// Called with the append turn taken, just before each write. Tests replace it to stall a
// writer there; null removes it. Returns the previous one.
using AppendHook = void (*)();
AppendHook SetAppendHook(AppendHook hook) noexcept;

// The record line for `time`, without writing it anywhere.
std::string FormatLogRecord(const SYSTEMTIME& time, const std::string& action, const std::string& comments);

constexpr const char kLogHeader[] = "Date,Time,Action,Comments,\r\n";

} // namespace vela
