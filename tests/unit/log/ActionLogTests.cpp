// The action log against the file system: where the file lies, what opening does to
// it, the record line, failures, and many writers on one file.
#include "LogTestSupport.h"
#include "log/ActionLog.h"
#include "log/RegistrySettings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace vela {
struct ActionLogTestAccess {
    static unique_handle& File(CActionLog& log) { return log.m_file; }
};
} // namespace vela

using namespace vela;
using namespace vela::test;

namespace {

constexpr char kHeader[] = "Date,Time,Action,Comments,\r\n";
constexpr char kOldRecord[] = "01/02/03,04:05:06,Old action,Old result,\r\n";

bool FileExists(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string MakeAdminDirectory(const TempDir& dir)
{
    ::CreateDirectoryA((dir / "web").c_str(), nullptr);
    ::CreateDirectoryA((dir / "web\\admin").c_str(), nullptr);
    return dir / "web\\admin";
}

// The error CreateFileA itself reports for `path`, taken from a raw attempt.
DWORD RawCreateError(const std::string& path)
{
    const HANDLE file =
        ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = ::GetLastError();
    EXPECT_EQ(INVALID_HANDLE_VALUE, file);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    return error;
}

std::string Stamp(const SYSTEMTIME& time)
{
    return FormatLogRecord(time, "", "").substr(0, 18);
}

} // namespace

// --- where the file lies -------------------------------------------------------------

TEST(ActionLogLocation, FirstObjectCreatesLogsFolderAndFileWithHeader)
{
    TempDir dir;
    const std::string admin = MakeAdminDirectory(dir);
    ScopedInstallPath installPath(dir.path());

    const std::string path = GetLogFilePath();
    EXPECT_EQ(admin + "\\Logs\\VelaDComClient.csv", path);
    EXPECT_TRUE(DirectoryExists(admin + "\\Logs"));
    EXPECT_FALSE(FileExists(path));
    {
        CActionLog log;
        log.Open(path);
        ASSERT_TRUE(log.IsOpen()) << log.LastError();
        EXPECT_EQ("", log.LastError());
        EXPECT_EQ(path, log.Path());
        EXPECT_EQ(kHeader, ReadFileBytes(path));
        EXPECT_TRUE(log.Log("Command for Remote Server 'h' : Set Secondary DNS for Domain 'd'",
                            "Operation Successful"));
    }
    const std::string text = ReadFileBytes(path);
    const auto lines = SplitLines(text);
    ASSERT_EQ(2u, lines.size()) << text;
    EXPECT_EQ(std::string(kHeader) + lines[1] + "\r\n", text);
    EXPECT_EQ(",Command for Remote Server 'h' : Set Secondary DNS for Domain 'd',Operation Successful,",
              lines[1].substr(17));
}

TEST(ActionLogLocation, InstallPathEndingInBackslashIsJoinedAsIs)
{
    TempDir dir;
    const std::string admin = MakeAdminDirectory(dir);
    ScopedInstallPath installPath(dir.path() + "\\");

    EXPECT_EQ(dir.path() + "\\\\web\\admin", GetAdminDirectory());
    const std::string path = GetLogFilePath();
    EXPECT_EQ(dir.path() + "\\\\web\\admin\\Logs\\VelaDComClient.csv", path);
    CActionLog log;
    log.Open(path);
    EXPECT_TRUE(log.IsOpen()) << log.LastError();
    EXPECT_TRUE(FileExists(admin + "\\Logs\\VelaDComClient.csv"));
}

TEST(ActionLogLocation, UnusableInstallPathLeavesLogClosed)
{
    struct Case {
        const char* name;
        DWORD type;
        std::string value;
    };
    const Case cases[] = {
        {"missing", REG_NONE, ""}, {"empty", REG_SZ, ""}, {"expandable", REG_EXPAND_SZ, "C:\\"}};
    const DWORD expectedError = RawCreateError("");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedInstallPath installPath(c.value, c.type);
        EXPECT_EQ("", GetAdminDirectory());
        EXPECT_EQ("", GetLogFilePath());
        CActionLog log;
        log.Open(GetLogFilePath());
        EXPECT_FALSE(log.IsOpen());
        EXPECT_EQ("", log.Path());
        EXPECT_EQ("CreateFile fails in constructor. " + SystemText(expectedError), log.LastError());
    }
}

TEST(ActionLogLocation, MissingAdminDirectoryMeansNoLog)
{
    TempDir dir;
    ScopedInstallPath installPath(dir.path());

    const std::string path = GetLogFilePath();
    EXPECT_EQ(dir.path() + "\\web\\admin\\Logs\\VelaDComClient.csv", path);
    EXPECT_FALSE(DirectoryExists(dir / "web"));
    const DWORD expectedError = RawCreateError(path);
    CActionLog log;
    log.Open(path);
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ("", log.Path());
    EXPECT_EQ("CreateFile fails in constructor. " + SystemText(expectedError), log.LastError());
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(log.Log("a", "b"));
    EXPECT_FALSE(DirectoryExists(dir / "web"));
}

// --- opening ---------------------------------------------------------------------------

TEST(ActionLogOpen, ObjectWithoutRecordsLeavesFileAsFound)
{
    TempDir dir;
    const std::string fresh = dir / "fresh.csv";
    {
        CActionLog log;
        log.Open(fresh);
    }
    EXPECT_EQ(kHeader, ReadFileBytes(fresh));

    const std::string existing = dir / "existing.csv";
    const std::string content = std::string(kHeader) + kOldRecord + "no line end";
    WriteFileBytes(existing, content);
    {
        CActionLog log;
        log.Open(existing);
        EXPECT_TRUE(log.IsOpen());
    }
    EXPECT_EQ(content, ReadFileBytes(existing));
}

TEST(ActionLogOpen, ExistingFileGetsRecordsAfterLastByteAndNoHeader)
{
    TempDir dir;
    const std::string path = dir / "log.csv";
    const std::string content = std::string(kHeader) + kOldRecord;
    WriteFileBytes(path, content);

    CActionLog log;
    log.Open(path);
    ASSERT_TRUE(log.IsOpen()) << log.LastError();
    EXPECT_TRUE(log.Log("one", "r1"));
    EXPECT_TRUE(log.Log("two", "r2"));
    const std::string text = ReadFileBytes(path);
    ASSERT_EQ(content, text.substr(0, content.size()));
    const auto added = SplitLines(text.substr(content.size()));
    ASSERT_EQ(2u, added.size()) << text;
    EXPECT_EQ(",one,r1,", added[0].substr(17));
    EXPECT_EQ(",two,r2,", added[1].substr(17));
    EXPECT_EQ(1u, SplitLines(text).size() - added.size() - 1); // just the one old record
}

TEST(ActionLogOpen, ExistingEmptyFileGetsNoHeader)
{
    TempDir dir;
    const std::string path = dir / "empty.csv";
    WriteFileBytes(path, "");

    CActionLog log;
    log.Open(path);
    ASSERT_TRUE(log.IsOpen()) << log.LastError();
    EXPECT_EQ("", ReadFileBytes(path));
    EXPECT_TRUE(log.Log("first", "record"));
    const auto lines = SplitLines(ReadFileBytes(path));
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(",first,record,", lines[0].substr(17));
}

TEST(ActionLogOpen, SecondOpenIsIgnored)
{
    TempDir dir;
    CActionLog log;
    log.Open(dir / "first.csv");
    log.Open(dir / "second.csv");
    EXPECT_EQ(dir / "first.csv", log.Path());
    EXPECT_FALSE(FileExists(dir / "second.csv"));
    EXPECT_TRUE(log.Log("a", "b"));
    EXPECT_EQ(2u, SplitLines(ReadFileBytes(dir / "first.csv")).size());
}

TEST(ActionLogOpen, FileHeldWithoutSharingKeepsLogClosed)
{
    TempDir dir;
    const std::string path = dir / "held.csv";
    WriteFileBytes(path, kOldRecord);
    const HANDLE holder = ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);

    CActionLog log;
    log.Open(path);
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ("", log.Path());
    EXPECT_EQ("CreateFile fails in constructor. " + SystemText(ERROR_SHARING_VIOLATION), log.LastError());
    ::CloseHandle(holder);
    EXPECT_EQ(kOldRecord, ReadFileBytes(path));
}

// --- the record line ---------------------------------------------------------------------

TEST(ActionLogRecord, DateAndTimeAreZeroPaddedWithTwoDigitYear)
{
    SYSTEMTIME july = {2005, 7, 1, 4, 9, 5, 3, 0};
    EXPECT_EQ("07/04/05,09:05:03,act,res,\r\n", FormatLogRecord(july, "act", "res"));
    SYSTEMTIME lastSecond = {1999, 12, 5, 31, 23, 59, 59, 999};
    EXPECT_EQ("12/31/99,23:59:59,,,\r\n", FormatLogRecord(lastSecond, "", ""));
    SYSTEMTIME newCentury = {2000, 1, 6, 1, 0, 0, 0, 0};
    EXPECT_EQ("01/01/00,00:00:00,a,b,\r\n", FormatLogRecord(newCentury, "a", "b"));
}

TEST(ActionLogRecord, RecordCarriesLocalTimeAndTextsByteForByte)
{
    TempDir dir;
    const std::string path = dir / "log.csv";
    CActionLog log;
    log.Open(path);

    SYSTEMTIME before, after;
    ::GetLocalTime(&before);
    const std::string action = "Command for Remote Server 'a,b' : \xE9t\xE9";
    ASSERT_TRUE(log.Log(action, "Operation Failed : Error is 'x, y'"));
    ::GetLocalTime(&after);

    const auto lines = SplitLines(ReadFileBytes(path));
    ASSERT_EQ(2u, lines.size());
    const std::string stamp = lines[1].substr(0, 18);
    EXPECT_TRUE(stamp == Stamp(before) || stamp == Stamp(after)) << stamp;
    // Commas inside the texts are not quoted: the line simply has more fields.
    EXPECT_EQ(action + ",Operation Failed : Error is 'x, y',", lines[1].substr(18));
}

// --- failures ---------------------------------------------------------------------------

TEST(ActionLogFailure, LogOnClosedLogRecordsInvalidHandle)
{
    CActionLog log;
    ::SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_FALSE(log.Log("a", "b"));
    EXPECT_EQ("Invalid file handle. " + SystemText(ERROR_ACCESS_DENIED), log.LastError());
}

TEST(ActionLogFailure, CodeWithoutSystemTextGetsFallbackSentence)
{
    const DWORD code = 0x20001234; // customer-defined: no system text
    ASSERT_EQ("", SystemText(code));
    CActionLog log;
    ::SetLastError(code);
    EXPECT_FALSE(log.Log("a", "b"));
    EXPECT_EQ("Invalid file handle. The system cannot find error message for error number 536875572",
              log.LastError());
}

TEST(ActionLogFailure, FailedRecordWriteClosesLogForGood)
{
    TempDir dir;
    const std::string path = dir / "log.csv";
    CActionLog log;
    log.Open(path);
    ASSERT_TRUE(log.Log("kept", "ok"));
    const std::string written = ReadFileBytes(path);

    // A handle that may only read: every write through it fails.
    const HANDLE readOnly = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, readOnly);
    DWORD ignored = 0;
    ASSERT_FALSE(::WriteFile(readOnly, "x", 1, &ignored, nullptr));
    const DWORD writeError = ::GetLastError();
    ActionLogTestAccess::File(log).reset(readOnly);

    EXPECT_FALSE(log.Log("lost", "1"));
    EXPECT_EQ("WriteFile fails in logging. " + SystemText(writeError), log.LastError());
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ("", log.Path());

    ::SetLastError(ERROR_INVALID_HANDLE);
    EXPECT_FALSE(log.Log("lost", "2"));
    EXPECT_EQ("Invalid file handle. " + SystemText(ERROR_INVALID_HANDLE), log.LastError());
    EXPECT_EQ(written, ReadFileBytes(path));
}

// --- many writers on one file --------------------------------------------------------------

TEST(ActionLogConcurrency, ObjectsOnSeveralThreadsLoseNoRecord)
{
    TempDir dir;
    const std::string path = dir / "log.csv";
    {
        CActionLog creator;
        creator.Open(path);
    }

    const std::vector<std::string> tags = {"T0", "T1", "T2", "T3"};
    constexpr int kRecords = 2500;
    std::atomic<int> failures{0};
    std::vector<std::thread> writers;
    for (const auto& tag : tags) {
        writers.emplace_back([&, tag] {
            CActionLog log;
            log.Open(path);
            for (int i = 0; i < kRecords; ++i)
                if (!log.Log(ConcurrentAction(tag, i), std::to_string(i))) ++failures;
        });
    }
    for (auto& writer : writers)
        writer.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_EQ("", CheckConcurrentRecords(ReadFileBytes(path), tags, kRecords));
}

TEST(ActionLogConcurrency, SeveralProcessesLoseNoRecord)
{
    TempDir dir;
    const std::string path = dir / "log.csv";
    CActionLog own;
    own.Open(path);
    ASSERT_TRUE(own.IsOpen()) << own.LastError();

    char self[MAX_PATH];
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string writer = self;
    writer = writer.substr(0, writer.find_last_of('\\') + 1) + "log_writer.exe";

    const std::vector<std::string> tags = {"P0", "P1", "P2", "P3", "main"};
    constexpr int kRecords = 2500;
    std::vector<HANDLE> processes;
    for (std::size_t n = 0; n + 1 < tags.size(); ++n) {
        std::string commandLine =
            "\"" + writer + "\" \"" + path + "\" " + tags[n] + " " + std::to_string(kRecords);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        ASSERT_TRUE(::CreateProcessA(writer.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                     nullptr, &startup, &info))
            << writer << " error " << ::GetLastError();
        ::CloseHandle(info.hThread);
        processes.push_back(info.hProcess);
    }
    for (int i = 0; i < kRecords; ++i)
        EXPECT_TRUE(own.Log(ConcurrentAction("main", i), std::to_string(i)));

    ASSERT_EQ(WAIT_OBJECT_0,
              ::WaitForMultipleObjects(static_cast<DWORD>(processes.size()), processes.data(), TRUE, 120000));
    for (const HANDLE process : processes) {
        DWORD exitCode = 0xdeadbeef;
        ::GetExitCodeProcess(process, &exitCode);
        EXPECT_EQ(0u, exitCode);
        ::CloseHandle(process);
    }
    EXPECT_EQ("", CheckConcurrentRecords(ReadFileBytes(path), tags, kRecords));
}
