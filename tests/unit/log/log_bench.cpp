// Records per second on one log file: one writer alone against several writers (each
// its own CActionLog on its own thread, as separate objects would be). Prints figures
// only: log_bench [records-per-writer] [writers]
#include "LogTestSupport.h"
#include "log/ActionLog.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

double RecordsPerSecond(const std::string& path, int writers, int records)
{
    ::DeleteFileA(path.c_str());
    {
        vela::CActionLog creator;
        creator.Open(path);
    }
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([&, w] {
            vela::CActionLog log;
            log.Open(path);
            const std::string tag = "W" + std::to_string(w);
            for (int i = 0; i < records; ++i)
                log.Log(vela::test::ConcurrentAction(tag, i), std::to_string(i));
        });
    }
    for (auto& thread : threads)
        thread.join();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return writers * static_cast<double>(records) / elapsed.count();
}

} // namespace

int main(int argc, char** argv)
{
    const int records = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int writers = argc > 2 ? std::atoi(argv[2]) : 4;
    vela::test::TempDir dir;
    const std::string path = dir / "bench.csv";

    const double one = RecordsPerSecond(path, 1, records);
    const double many = RecordsPerSecond(path, writers, records);
    std::printf("1 writer : %10.0f records/s\n", one);
    std::printf("%d writers: %10.0f records/s in all\n", writers, many);
    std::printf("ratio %d writers / 1 writer: %.2f\n", writers, many / one);
    return 0;
}
