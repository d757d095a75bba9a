// Ends a hang in a test against the stand-in instrument: if the guarded code is
// still running after its time, the instrument hangs up, so every read of the
// program fails, the code under test returns, and the test fails instead of
// blocking the run.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "instrument/instrument.h"

namespace ptytest {

class CHangGuard {
  public:
    CHangGuard(instrument::PtyHost& host, std::chrono::seconds limit)
        : start_(std::chrono::steady_clock::now()), thread_([this, &host, limit] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
                  fired_ = true;
                  lock.unlock();
                  host.HangUp();
              }
          }) {}
    ~CHangGuard() { Finish(); }
    CHangGuard(const CHangGuard&) = delete;
    CHangGuard& operator=(const CHangGuard&) = delete;

    // The guarded code returned: stops the guard and gives the seconds it took.
    double Finish() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!finished_) {
                finished_ = true;
                seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_)
                               .count();
            }
        }
        done_.notify_all();
        if (thread_.joinable()) thread_.join();
        return seconds_;
    }
    // True when it had to hang up: the guarded code would have hung.
    bool Fired() const { return fired_; }

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    bool fired_ = false;
    double seconds_ = 0.0;
    std::chrono::steady_clock::time_point start_;
    std::thread thread_;
};

}  // namespace ptytest
