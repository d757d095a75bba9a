// The library's one seam for time: a millisecond tick count, a sleep, and a
// whole-second monotonic clock. Tests install their own clock so timeouts can
// be exercised without waiting.
#pragma once

#include <cstdint>

class CClock {
  public:
    virtual ~CClock() = default;
    // Milliseconds since an arbitrary start; wraps around like GetTickCount.
    virtual std::uint32_t TickCount() = 0;
    // Gives up the thread for at least ms milliseconds (0: the rest of the time slice).
    virtual void SleepMs(std::uint32_t ms) = 0;
    // Whole seconds of a monotonic clock since an arbitrary start.
    virtual std::int64_t Seconds() = 0;
};

// The clock in use: the system's, or the one a test installed.
CClock& Clock();
// Installs clock (not owned; null restores the system clock). Returns the previous
// one, or null when the system clock was in use.
CClock* SetClock(CClock* clock);

// Shorthands for the clock in use.
inline std::uint32_t ClockTickMs() {
    return Clock().TickCount();
}
inline void ClockSleepMs(std::uint32_t ms) {
    Clock().SleepMs(ms);
}
inline std::int64_t ClockSeconds() {
    return Clock().Seconds();
}

// Milliseconds from start to now on the tick count, correct across its wrap.
inline std::uint32_t TicksSince(std::uint32_t start) {
    return ClockTickMs() - start;
}
