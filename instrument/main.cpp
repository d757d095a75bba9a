// pelkor-instrument: the stand-in instrument as a process of its own.
#include <signal.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "instrument/command_line.h"
#include "instrument/instrument.h"

int main(int argc, char** argv) {
    using namespace instrument;
    CommandLine cmd;
    std::string error;
    if (!ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), &cmd, &error)) {
        std::fprintf(stderr,
                     "pelkor-instrument: %s\n(pelkor-instrument --help lists the options)\n",
                     error.c_str());
        return 2;
    }
    if (cmd.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    // Blocked before the host's thread exists, so only sigtimedwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);  // its terminal closed
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    PtyHost host(cmd.options);
    if (!host.Start(&error)) {
        std::fprintf(stderr, "pelkor-instrument: %s\n", error.c_str());
        return 1;
    }
    if (!cmd.linkPath.empty() && !host.Link(cmd.linkPath, &error)) {
        std::fprintf(stderr, "pelkor-instrument: %s\n", error.c_str());
        return 1;
    }
    const std::string published = cmd.linkPath.empty() ? host.SlavePath() : cmd.linkPath;
    std::printf("%s\n", published.c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "pelkor-instrument: on %s%s%s, fault %s, %s; Ctrl-C stops it\n",
                 host.SlavePath().c_str(), cmd.linkPath.empty() ? "" : " as ", cmd.linkPath.c_str(),
                 FaultName(cmd.options.fault), cmd.options.paced ? "paced" : "fast");

    const timespec tick{0, 200 * 1000 * 1000};
    for (;;) {
        if (sigtimedwait(&stopSignals, nullptr, &tick) >= 0) break;
        if (host.HungUp()) {
            std::fprintf(stderr, "pelkor-instrument: hung up, the device is gone\n");
            break;
        }
    }
    host.Stop();
    return 0;
}
