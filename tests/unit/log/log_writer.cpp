// log_writer <path> <tag> <count> [race]: one more process appending to a shared log. It
// says it is ready ("VelaLogWritersReady") and waits for "VelaLogWritersGo", so that all
// write at once; it opens the log before it is ready, or with "race" only after the go, so
// that all try to create the file at once. Exit code 0: all written; 1: the log did not
// open; 2: a write failed.
#include "LogTestSupport.h"
#include "log/ActionLog.h"

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 5) return 3;
    const bool race = argc == 5;
    vela::CActionLog log;
    if (!race) log.Open(argv[1]);
    const vela::unique_handle ready(::OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, "VelaLogWritersReady"));
    ::ReleaseSemaphore(ready.get(), 1, nullptr);
    const vela::unique_handle go(::OpenEventA(SYNCHRONIZE, FALSE, "VelaLogWritersGo"));
    ::WaitForSingleObject(go.get(), 60000);
    if (race) log.Open(argv[1]);
    if (!log.IsOpen()) return 1;
    for (int i = 0; i < std::stoi(argv[3]); ++i)
        if (!log.Log(vela::test::ConcurrentAction(argv[2], i), std::to_string(i))) return 2;
    return 0;
}
