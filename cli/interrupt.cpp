#include "cli/interrupt.h"

#include <atomic>
#include <csignal>
#include <cstdlib>

namespace {

// A lock-free atomic is the one kind of shared state a signal handler may touch.
std::atomic<int> gRequests{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnInterrupt(int signal) {
    if (gRequests.fetch_add(1) > 0) std::_Exit(128 + signal);
    // Some systems reset the handler once it has run; the second signal must find it.
    std::signal(signal, OnInterrupt);
}

}  // namespace

void InstallInterruptHandlers() {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
}

bool InterruptRequested() {
    return gRequests.load() > 0;
}

void RequestInterrupt() {
    gRequests.fetch_add(1);
}

void ClearInterrupt() {
    gRequests.store(0);
}
