// Runs one file operation in its own process, for the tests that kill a copy midway or race
// two copies: "filehelper copy FROM TO [stop|wait] [N]". With "stop" it reports "stopped"
// after its Nth write and waits to be killed; with "wait" it reports "ready" after its Nth
// write and goes on when a line arrives on its standard input. Exit status 0 on success,
// 10 + the FileError otherwise.

#include "platform/FaultInjection.h"
#include "platform/FileOps.h"

#include <QString>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 4 || std::strcmp(argv[1], "copy") != 0)
        return 2;
    const char* mode = argc > 4 ? argv[4] : "";
    const int nth = argc > 5 ? std::atoi(argv[5]) : 1;
    if (std::strcmp(mode, "stop") == 0 || std::strcmp(mode, "wait") == 0) {
        const bool stop = mode[0] == 's';
        ztv::faults::setHook([stop, nth](ztv::faults::Op op, int n) {
            if (op != ztv::faults::Op::Write || n != nth)
                return;
            std::printf(stop ? "stopped\n" : "ready\n");
            std::fflush(stdout);
            if (stop) {
                for (;;)
                    ::pause();
            }
            char line[16];
            if (!std::fgets(line, sizeof line, stdin))
                std::exit(3);
        });
    }
    const ztv::FileResult r
        = ztv::realFileOps().copyNoReplace(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    std::printf("%s\n", r.detail.toUtf8().constData());
    return r.ok() ? 0 : 10 + int(r.error);
}
