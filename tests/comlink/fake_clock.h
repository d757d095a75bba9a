// A clock for tests: time moves only when the test or a sleep moves it.
#pragma once

#include <cstdint>

#include "comlink/clock.h"

class CFakeClock : public CClock {
  public:
    // Installs itself for its lifetime.
    explicit CFakeClock(std::uint32_t startMs = 1000) : nowMs(startMs) {
        previous = SetClock(this);
    }
    ~CFakeClock() override { SetClock(previous); }
    CFakeClock(const CFakeClock&) = delete;
    CFakeClock& operator=(const CFakeClock&) = delete;

    std::uint32_t TickCount() override { return nowMs; }
    // Giving up the time slice costs a millisecond, so polling loops end.
    void SleepMs(std::uint32_t ms) override {
        ++sleeps;
        nowMs += ms == 0 ? 1 : ms;
    }
    std::int64_t Seconds() override { return nowMs / 1000; }
    void Advance(std::uint32_t ms) { nowMs += ms; }

    std::uint32_t nowMs;
    int sleeps = 0;

  private:
    CClock* previous = nullptr;
};
