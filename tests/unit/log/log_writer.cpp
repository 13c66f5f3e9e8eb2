// Appends numbered records to a shared log through its own CActionLog, as one more
// process among several: log_writer <path> <tag> <count>. Exit code 0 when every
// record was written, 1 when the log did not open, 2 when a record failed.
#include "LogTestSupport.h"
#include "log/ActionLog.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: log_writer <path> <tag> <count>\n");
        return 3;
    }
    vela::CActionLog log;
    log.Open(argv[1]);
    if (!log.IsOpen()) return 1;
    const int count = std::atoi(argv[3]);
    for (int i = 0; i < count; ++i)
        if (!log.Log(vela::test::ConcurrentAction(argv[2], i), std::to_string(i))) return 2;
    return 0;
}
