// The system clock behind the time seam: std::chrono's steady clock, which
// serves both platforms without their headers.
#include "comlink/clock.h"

#include <chrono>
#include <thread>

namespace {

class CSystemClock final : public CClock {
  public:
    std::uint32_t TickCount() override {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
        return static_cast<std::uint32_t>(ms.count());
    }
    void SleepMs(std::uint32_t ms) override {
        if (ms == 0) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        }
    }
    std::int64_t Seconds() override {
        return std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

CSystemClock systemClock;
CClock* installed = nullptr;

}  // namespace

CClock& Clock() {
    return installed != nullptr ? *installed : systemClock;
}

CClock* SetClock(CClock* clock) {
    CClock* previous = installed;
    installed = clock;
    return previous;
}
