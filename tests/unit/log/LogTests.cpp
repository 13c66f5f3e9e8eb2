// The action log and the registry reader, read back through raw file and Reg* calls.
#include "LogTestSupport.h"
#include "log/ActionLog.h"
#include "log/RegistrySettings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

namespace vela {
struct ActionLogTestAccess {
    static unique_handle& File(CActionLog& log) { return log.m_file; }
};
} // namespace vela

using namespace vela;
using namespace vela::test;

namespace {

const std::string kHeader = "Date,Time,Action,Comments,\r\n";

// The platform's own text for `code`, line break included; empty when it has none.
std::string SystemText(DWORD code)
{
    char* text = nullptr;
    const DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    ::FormatMessageA(flags, nullptr, code, 0x400, reinterpret_cast<char*>(&text), 0, nullptr);
    const unique_hlocal owner(text);
    return text ? text : "";
}

// `text` with each line's date and time checked and cut off, or marked as missing.
std::string Unstamped(const std::string& text)
{
    static const std::regex stamped(R"(\d\d/\d\d/\d\d,\d\d:\d\d:\d\d,.*)");
    std::string out;
    for (const std::string& line : SplitLines(text))
        out += (std::regex_match(line, stamped) ? line.substr(18) : "<no stamp>" + line) + "\r\n";
    return out + text.substr(text.rfind("\r\n") == std::string::npos ? 0 : text.rfind("\r\n") + 2);
}

using Stored = std::pair<DWORD, std::string>; // type and bytes

Stored Query(const std::string& key)
{
    unique_hkey opened;
    DWORD type = 0xdeadbeef;
    char data[256];
    DWORD size = sizeof data;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, opened.put()) ||
        ::RegQueryValueExA(opened.get(), "Value", nullptr, &type, reinterpret_cast<BYTE*>(data), &size))
        return {REG_NONE, opened ? "no value" : "no key"};
    return {type, std::string(data, size)};
}

std::string Dword(DWORD value)
{
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

} // namespace

// Where "InstallPath" puts the log; an unusable one leaves a closed log that creates and
// writes nothing, and keeps the platform's reason in its last-error text.
TEST(ActionLogLocation, InstallPathDecidesWhereTheLogGoes)
{
    const struct {
        DWORD type;
        const char* value; // after the scratch folder; null: the empty value
        bool admin;        // whether web\admin exists
        const char* path;  // what GetLogFilePath gives, after the scratch folder; null: ""
        bool opens;
    } rows[] = {
        {REG_SZ, "", true, "\\web\\admin\\Logs\\VelaDComClient.csv", true},
        {REG_SZ, "\\", true, "\\\\web\\admin\\Logs\\VelaDComClient.csv", true},
        {REG_SZ, "", false, "\\web\\admin\\Logs\\VelaDComClient.csv", false},
        {REG_NONE, "", true, nullptr, false},
        {REG_SZ, nullptr, true, nullptr, false},
        {REG_EXPAND_SZ, "", true, nullptr, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("row " + std::to_string(&row - rows));
        TempDir dir;
        if (row.admin) std::filesystem::create_directories(dir / "web\\admin");
        ScopedInstallPath installPath(row.value ? dir.path() + row.value : "", row.type);

        const std::string path = GetLogFilePath();
        EXPECT_EQ(row.path ? dir.path() + row.path : "", path);
        // The reason the platform itself gives for not creating the file.
        if (!row.opens) {
            EXPECT_EQ(INVALID_HANDLE_VALUE,
                      ::CreateFileA(path.c_str(), 0, 0, nullptr, CREATE_NEW, 0, nullptr));
        }
        const DWORD reason = ::GetLastError();
        CActionLog log;
        log.Open(path);
        EXPECT_EQ(row.opens, log.IsOpen());
        EXPECT_EQ(row.opens ? "" : "CreateFile fails in constructor. " + SystemText(reason), log.LastError());
        EXPECT_EQ(row.opens, log.Log("a", "b"));
        const std::string file = dir / "web\\admin\\Logs\\VelaDComClient.csv";
        EXPECT_EQ(row.opens, ::GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES);
    }
}

// A file the log creates starts with the header at once; one that was there keeps its bytes
// until the first record, which goes after its last byte, texts byte for byte, unquoted. An
// empty one gets the header first, so that every file the log writes to starts with it:
// whether an operator emptied it or a creator left it so (its header write failed), the
// file holds nothing that tells.
TEST(ActionLogOpen, HeaderFirstInEveryFileTheLogWritesTo)
{
    const struct {
        const char* before; // null: no file
        const char* opened; // the file once opened
        const char* logged; // what the records follow
    } rows[] = {
        {nullptr, kLogHeader, kLogHeader},
        {"", "", kLogHeader},
        {"Date,Time,Action,Comments,\r\n01/02/03,04:05:06,Old,Old,\r\n",
         "Date,Time,Action,Comments,\r\n01/02/03,04:05:06,Old,Old,\r\n",
         "Date,Time,Action,Comments,\r\n01/02/03,04:05:06,Old,Old,\r\n"},
        {"no line end", "no line end", "no line end"},
    };
    const std::string action = "Server 'a,b' : \"q\" \xE9t\xE9";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.before ? row.before : "no file");
        TempDir dir;
        const std::string path = dir / "log.csv";
        if (row.before) std::ofstream(path, std::ios::binary) << row.before;
        CActionLog log;
        log.Open(path);
        EXPECT_EQ(row.opened, ReadFileBytes(path));
        log.Open(dir / "other.csv"); // an open log ignores another path
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA((dir / "other.csv").c_str()));
        EXPECT_TRUE(log.Log(action, "Error is 'x, y'"));
        EXPECT_TRUE(log.Log("two", ""));
        const std::string text = ReadFileBytes(path);
        ASSERT_EQ(row.logged, text.substr(0, std::strlen(row.logged)));
        EXPECT_EQ(action + ",Error is 'x, y',\r\ntwo,,\r\n", Unstamped(text.substr(std::strlen(row.logged))));
    }
}

// However a file came to be empty while a log holds it (an operator emptied it, or the
// header write of the object that created it failed), the next record brings the header.
TEST(ActionLogOpen, FileEmptiedUnderAnOpenLogGetsItsHeaderAgain)
{
    TempDir dir;
    const std::string path = dir / "log.csv";
    CActionLog log;
    log.Open(path);
    ASSERT_TRUE(log.Log("first", "1"));
    {
        // An operator's truncation, through a handle of their own.
        const unique_handle file(::CreateFileA(path.c_str(), GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, TRUNCATE_EXISTING,
                                               0, nullptr));
        ASSERT_TRUE(file);
    }
    ASSERT_EQ("", ReadFileBytes(path));
    EXPECT_TRUE(log.Log("second", "2"));
    EXPECT_TRUE(log.Log("third", "3"));
    const std::string text = ReadFileBytes(path);
    ASSERT_EQ(kHeader, text.substr(0, kHeader.size()));
    EXPECT_EQ("second,2,\r\nthird,3,\r\n", Unstamped(text.substr(kHeader.size())));
}

TEST(ActionLogRecord, DateAndTimeZeroPaddedWithTwoDigitYear)
{
    const std::pair<SYSTEMTIME, const char*> rows[] = {
        {{2005, 7, 1, 4, 9, 5, 3, 0}, "07/04/05,09:05:03,act,res,\r\n"},
        {{1999, 12, 5, 31, 23, 59, 59, 999}, "12/31/99,23:59:59,act,res,\r\n"},
        {{2000, 1, 6, 1, 0, 0, 0, 0}, "01/01/00,00:00:00,act,res,\r\n"},
    };
    for (const auto& [time, line] : rows)
        EXPECT_EQ(line, FormatLogRecord(time, "act", "res"));
}

// A record carries the local time. A failed write closes the log for good; "<message>.
// <system text>" says why, or a sentence for a code without text (in signed decimal).
TEST(ActionLogFailure, FailedRecordWriteClosesLogForGood)
{
    TempDir dir;
    const std::string path = dir / "log.csv";
    CActionLog log;
    log.Open(path);
    SYSTEMTIME before, after;
    ::GetLocalTime(&before);
    ASSERT_TRUE(log.Log("kept", "ok"));
    ::GetLocalTime(&after);
    const std::string written = ReadFileBytes(path);
    EXPECT_TRUE(written == kHeader + FormatLogRecord(before, "kept", "ok") ||
                written == kHeader + FormatLogRecord(after, "kept", "ok"))
        << written;
    // A handle that may only read: every write through it fails.
    ActionLogTestAccess::File(log).reset(::CreateFileA(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(log.Log("lost", "1"));
    EXPECT_EQ("WriteFile fails in logging. " + SystemText(ERROR_ACCESS_DENIED), log.LastError());
    EXPECT_FALSE(log.IsOpen());
    const std::pair<DWORD, std::string> later[] = {
        {ERROR_INVALID_HANDLE, SystemText(ERROR_INVALID_HANDLE)},
        {0x20001234, "The system cannot find error message for error number 536875572"},
        {0xA0001234, "The system cannot find error message for error number -1610608076"},
    };
    for (const auto& [code, text] : later) {
        ::SetLastError(code);
        EXPECT_FALSE(log.Log("lost", "2"));
        EXPECT_EQ("Invalid file handle. " + text, log.LastError());
    }
    EXPECT_EQ(written, ReadFileBytes(path));
}

// Starts log_writer processes for `tags` (with "race": each opens the log only at the go),
// lets them write `records` each at once, and checks that they all succeeded.
static void RunWriters(const std::string& path, const std::vector<std::string>& tags, int records, bool race,
                       CActionLog* own = nullptr)
{
    const unique_handle ready(::CreateSemaphoreA(nullptr, 0, 16, "VelaLogWritersReady"));
    const unique_handle go(::CreateEventA(nullptr, TRUE, FALSE, "VelaLogWritersGo"));
    std::vector<unique_handle> processes;
    for (const std::string& tag : tags) {
        // Found in this program's folder, which comes first in the search.
        std::string command =
            "log_writer.exe \"" + path + "\" " + tag + " " + std::to_string(records) + (race ? " race" : "");
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                     &startup, &info));
        ::CloseHandle(info.hThread);
        processes.emplace_back(info.hProcess);
    }
    for (std::size_t n = 0; n < processes.size(); ++n)
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(ready.get(), 60000));
    ::SetEvent(go.get());
    for (int i = 0; own && i < records; ++i)
        ASSERT_TRUE(own->Log(ConcurrentAction("main", i), std::to_string(i)));
    for (const unique_handle& process : processes) {
        DWORD exitCode = 0xdeadbeef;
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.get(), 120000));
        ASSERT_TRUE(::GetExitCodeProcess(process.get(), &exitCode));
        EXPECT_EQ(0u, exitCode);
    }
}

// The file holds one header, first, then each writer's records whole and once, in order.
static void ExpectRecords(const std::string& path, std::size_t writers, int records)
{
    const std::string text = ReadFileBytes(path);
    ASSERT_EQ(kHeader, text.substr(0, kHeader.size()));
    const std::vector<std::string> lines = SplitLines(Unstamped(text.substr(kHeader.size())));
    EXPECT_EQ(writers * records, lines.size());
    std::map<std::string, int> next;
    for (const std::string& line : lines) {
        const std::string tag = line.substr(0, line.find('-'));
        const int i = next[tag]++;
        ASSERT_EQ(ConcurrentAction(tag, i) + "," + std::to_string(i) + ",", line);
    }
}

// Several processes append to one file at once, each through its own log, as objects in
// several panel processes do: every record arrives whole and once, in its writer's order.
TEST(ActionLogConcurrency, SeveralProcessesLoseNoRecord)
{
    TempDir dir;
    const std::string path = dir / "log.csv";
    CActionLog own;
    own.Open(path);
    RunWriters(path, {"P0", "P1", "P2", "P3"}, 1000, false, &own);
    ExpectRecords(path, 5, 1000);
}

// Processes whose first objects all try to create the file at once: whoever loses the race
// logs into the winner's file, and the header stays its one first line.
TEST(ActionLogConcurrency, WritersRacingToCreateTheFileAllLog)
{
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        TempDir dir;
        const std::string path = dir / "log.csv";
        RunWriters(path, {"R0", "R1", "R2", "R3", "R4", "R5"}, 50, true);
        ExpectRecords(path, 6, 50);
    }
}

// An operator rotates the log while pages log, each through an object of its own for one
// command: whenever no object holds the file, it is renamed away, and the next object
// finds no file, or finds one that a moment ago was not there. No record is lost, and
// every file starts with one header.
TEST(ActionLogConcurrency, RotationLosesNoRecord)
{
    TempDir dir;
    const std::string path = dir / "VelaDComClient.csv";
    constexpr int kWriters = 4, kRecords = 750;
    std::atomic<int> writing{kWriters};
    std::vector<std::string> rotated;
    std::thread rotator([&] {
        while (writing > 0) {
            const std::string to = path + "." + std::to_string(rotated.size() + 1);
            if (!::MoveFileA(path.c_str(), to.c_str())) {
                ::Sleep(0); // held by an object (or not there yet): try again at once
                continue;
            }
            rotated.push_back(to);
            ::Sleep(20);
        }
    });
    std::vector<std::thread> writers;
    std::atomic<int> failures{0};
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&, tag = "T" + std::to_string(w)] {
            LARGE_INTEGER frequency, start, end;
            ::QueryPerformanceFrequency(&frequency);
            for (int i = 0; i < kRecords; ++i) {
                ::QueryPerformanceCounter(&start);
                {
                    CActionLog log;
                    log.Open(path);
                    if (!log.Log(ConcurrentAction(tag, i), std::to_string(i))) ++failures;
                }
                ::QueryPerformanceCounter(&end);
                // The rest of the page, while the file may be free to rotate: twice as long as
                // the command held it, so that on a fast machine as on a slow one (an emulated
                // one, say) all four writers leave it free now and then.
                const auto held = (end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart;
                ::Sleep(static_cast<DWORD>(std::max<LONGLONG>(1, 2 * held)));
            }
            --writing;
        });
    for (std::thread& writer : writers)
        writer.join();
    rotator.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_GE(rotated.size(), 5u) << "the rotation hardly ran";

    // The last file, unless the rotation moved it away after the last record.
    if (::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) rotated.push_back(path);
    std::map<std::string, std::vector<int>> seen; // each writer's record numbers, file by file
    for (const std::string& file : rotated) {
        SCOPED_TRACE(file);
        const std::string text = ReadFileBytes(file);
        ASSERT_EQ(kHeader, text.substr(0, kHeader.size()));
        for (const std::string& line : SplitLines(Unstamped(text.substr(kHeader.size())))) {
            const std::string tag = line.substr(0, line.find('-'));
            const int i = static_cast<int>(seen[tag].size());
            const std::string number = line.substr(line.rfind(',', line.size() - 2) + 1);
            seen[tag].push_back(std::atoi(number.c_str()));
            ASSERT_EQ(ConcurrentAction(tag, seen[tag].back()) + "," + number, line) << "a torn record";
            ASSERT_EQ(i, seen[tag].back()) << "a record lost, or out of order";
        }
    }
    ASSERT_EQ(static_cast<size_t>(kWriters), seen.size());
    for (const auto& [tag, numbers] : seen)
        EXPECT_EQ(static_cast<size_t>(kRecords), numbers.size()) << tag;
}

// A writer that keeps the append turn (a stalled share, say) delays the others only for a
// while: they then append without it.
TEST(ActionLogConcurrency, TurnHeldElsewhereDelaysButDoesNotStopTheLog)
{
    TempDir dir;
    const std::string path = dir / "log.csv";
    CActionLog log;
    log.Open(path);
    const unique_handle other(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                            nullptr));
    OVERLAPPED turn = {};
    turn.OffsetHigh = 0x7FFFFFFF;
    ASSERT_TRUE(
        ::LockFileEx(other.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &turn));
    EXPECT_TRUE(log.Log("while", "held"));
    EXPECT_TRUE(::UnlockFileEx(other.get(), 0, 1, 0, &turn)) << "the log took the turn from its holder";
    EXPECT_TRUE(log.Log("after", "released"));
    EXPECT_EQ("while,held,\r\nafter,released,\r\n", Unstamped(ReadFileBytes(path).substr(kHeader.size())));
}

// A writer that stalls after taking its turn (a busy disk, say) while another one, tired
// of waiting, appends without it: each record lands at the end as it is when written.
std::atomic<bool> g_stallArmed;
HANDLE g_stalled, g_othersDone;
void StallOnce()
{
    if (!g_stallArmed.exchange(false)) return;
    ::SetEvent(g_stalled);
    ::WaitForSingleObject(g_othersDone, 30000);
}

TEST(ActionLogConcurrency, WriterStalledInItsTurnOverwritesNoRecord)
{
    TempDir dir;
    const std::string path = dir / "log.csv";
    CActionLog stalling, other;
    stalling.Open(path);
    other.Open(path);
    const unique_handle stalled(g_stalled = ::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const unique_handle othersDone(g_othersDone = ::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const AppendHook previous = SetAppendHook(&StallOnce);
    g_stallArmed = true;
    std::thread writer([&] { EXPECT_TRUE(stalling.Log("stalled", "in its turn")); });
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(stalled.get(), 30000));
    EXPECT_TRUE(other.Log("other", "out of turn, meanwhile"));
    ::SetEvent(othersDone.get());
    writer.join();
    SetAppendHook(previous);
    EXPECT_EQ("other,out of turn, meanwhile,\r\nstalled,in its turn,\r\n",
              Unstamped(ReadFileBytes(path).substr(kHeader.size())));
}

// Only REG_SZ reads as text (to its first NUL), only REG_DWORD as a number; a stored value
// stays as it was. ReadDWORD creates a missing value (REG_DWORD 0) only in an existing key;
// a time-out is read without creating anything, and up to an hour.
TEST(RegistrySettings, ReadsByStoredTypeAndCreatesOnlyMissingNumbers)
{
    const struct {
        DWORD type; // REG_NONE: no value; with "no key", no key either
        std::string bytes;
        DWORD number;
        const char* text;
        Stored after;
        DWORD seconds = 0;
    } rows[] = {
        {REG_SZ, {"10.0.0.2\0", 9}, 0, "10.0.0.2", {}},
        {REG_SZ, "abc", 0, "abc", {}},
        {REG_SZ, {"abc\0def\0", 8}, 0, "abc", {}},
        {REG_SZ, "", 0, "", {}},
        {REG_SZ, {"1\0", 2}, 0, "1", {}},
        {REG_EXPAND_SZ, {"C:\\Vela\0", 8}, 0, "", {}},
        {REG_MULTI_SZ, {"a\0b\0\0", 5}, 0, "", {}},
        {REG_BINARY, Dword(1), 0, "", {}},
        {REG_QWORD, Dword(1) + Dword(0), 0, "", {}},
        {REG_DWORD, Dword(0x12345678), 0x12345678, "", {}, 3600},
        {REG_DWORD, Dword(1), 1, "", {}, 1},
        {REG_DWORD, Dword(3600), 3600, "", {}, 3600},
        {REG_DWORD, Dword(3601), 3601, "", {}, 3600},
        {REG_NONE, "no value", 0, "", {REG_DWORD, Dword(0)}},
        {REG_NONE, "no key", 0, "", {REG_NONE, "no value"}},
    };
    const std::string root = "SOFTWARE\\VelaLogTests\\" + std::to_string(::GetCurrentProcessId());
    for (const auto& row : rows) {
        const std::string key = root + "\\" + std::to_string(&row - rows);
        SCOPED_TRACE(key);
        if (row.bytes != "no key")
            ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), "Other", REG_SZ, "x", 2);
        if (row.type != REG_NONE)
            ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), "Value", row.type, row.bytes.data(),
                              static_cast<DWORD>(row.bytes.size()));
        const Stored before = Query(key);
        EXPECT_EQ(row.seconds, ReadTimeoutSeconds(key, "Value"));
        EXPECT_EQ(before, Query(key));
        EXPECT_EQ(row.number, CRegistrySettings().ReadDWORD(key, "Value"));
        EXPECT_EQ(row.text, CRegistrySettings().ReadString(key, "Value"));
        EXPECT_EQ(row.type != REG_NONE ? before : row.after, Query(key));
    }
    ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, root.c_str());
}
