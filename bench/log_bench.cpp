// Records per second on one log file written by 1, 2, 4 and 8 processes at once, each
// through its own CActionLog as separate panel processes would, against one writer
// alone. Every record is verified afterwards: each writer's records all there, whole,
// in its order, after the one header line. Prints figures; asserts nothing (the exit
// code tells whether every record was verified).
//
// Usage: log_bench.exe [records per writer]
#include "common/Unique.h"
#include "log/ActionLog.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Action texts of varying length: records written over each other cannot go unnoticed.
std::string Action(int writer, int i)
{
    return "W" + std::to_string(writer) + std::string(static_cast<std::size_t>(i % 23), 'x');
}

// Child: open the log, report ready, wait for the start, write.
int Write(const char* path, int writer, int records)
{
    vela::CActionLog log;
    log.Open(path);
    const vela::unique_handle ready(::OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, "vela_log_bench_ready"));
    const vela::unique_handle start(::OpenEventA(SYNCHRONIZE, FALSE, "vela_log_bench_start"));
    if (!log.IsOpen() || !ready || !start) return 1;
    ::ReleaseSemaphore(ready.get(), 1, nullptr);
    ::WaitForSingleObject(start.get(), INFINITE);
    for (int i = 0; i < records; ++i)
        if (!log.Log(Action(writer, i), std::to_string(i))) return 2;
    return 0;
}

// Empty when the file holds the header and then exactly `records` whole records of each
// writer, in each writer's order; else what is wrong.
std::string Verify(const std::string& path, int writers, int records)
{
    const vela::unique_handle file(::CreateFileA(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string text;
    char chunk[65536];
    DWORD got = 0;
    while (file && ::ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0)
        text.append(chunk, got);
    if (text.compare(0, sizeof vela::kLogHeader - 1, vela::kLogHeader) != 0) return "no header first";
    std::vector<int> next(static_cast<std::size_t>(writers), 0);
    for (std::size_t at = sizeof vela::kLogHeader - 1; at < text.size();) {
        const std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos) return "unterminated last line";
        const std::string line = text.substr(at, end - at);
        at = end + 2;
        int writer = -1, number = -1;
        if (line.size() < 19 || std::sscanf(line.c_str() + 18, "W%d", &writer) != 1 || writer < 0 ||
            writer >= writers)
            return "torn line: " + line;
        int& expected = next[static_cast<std::size_t>(writer)];
        if (std::sscanf(line.c_str() + line.rfind(',', line.size() - 2) + 1, "%d", &number) != 1 ||
            number != expected ||
            line != line.substr(0, 18) + Action(writer, number) + "," + std::to_string(number) + ",")
            return "lost or torn record near: " + line;
        ++expected;
    }
    for (int w = 0; w < writers; ++w)
        if (next[static_cast<std::size_t>(w)] != records)
            return "records lost of writer " + std::to_string(w);
    return {};
}

// Records per second of `writers` processes started together; negative when a record
// failed or did not verify.
double Run(const std::string& self, const std::string& path, int writers, int records)
{
    ::DeleteFileA(path.c_str());
    const vela::unique_handle ready(::CreateSemaphoreA(nullptr, 0, writers, "vela_log_bench_ready"));
    const vela::unique_handle start(::CreateEventA(nullptr, TRUE, FALSE, "vela_log_bench_start"));
    std::vector<vela::unique_handle> processes;
    for (int w = 0; w < writers; ++w) {
        std::string command =
            "\"" + self + "\" --write \"" + path + "\" " + std::to_string(w) + " " + std::to_string(records);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (!::CreateProcessA(self.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &info))
            return -1;
        ::CloseHandle(info.hThread);
        processes.emplace_back(info.hProcess);
    }
    for (int w = 0; w < writers; ++w)
        if (::WaitForSingleObject(ready.get(), 60000) != WAIT_OBJECT_0) return -1;
    const auto begin = std::chrono::steady_clock::now();
    ::SetEvent(start.get());
    bool allWritten = true;
    for (const auto& process : processes) {
        DWORD code = 1;
        ::WaitForSingleObject(process.get(), INFINITE);
        allWritten = ::GetExitCodeProcess(process.get(), &code) && code == 0 && allWritten;
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - begin;
    const std::string problem = Verify(path, writers, records);
    if (!problem.empty()) std::printf("  %d writers: %s\n", writers, problem.c_str());
    if (!allWritten || !problem.empty()) return -1;
    return writers * static_cast<double>(records) / elapsed.count();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--write") == 0)
        return Write(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    const int records = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5000;
    char self[MAX_PATH], folder[MAX_PATH];
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    ::GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + "log_bench.csv";

    std::printf("%d records per writer process, every record verified\n", records);
    double one = 0;
    bool verified = true;
    for (const int writers : {1, 2, 4, 8}) {
        const double rate = Run(self, path, writers, records);
        verified = verified && rate > 0;
        if (writers == 1) one = rate;
        std::printf("  %d writer%s %10.0f records/s   %5.2f x one writer\n", writers,
                    writers == 1 ? ": " : "s:", rate, one > 0 ? rate / one : 0.0);
    }
    ::DeleteFileA(path.c_str());
    return verified ? 0 : 1;
}
