// Ends the test program when a call that must return does not return in
// time: a loop that hangs fails at once with its name, instead of when
// ctest gives up on the whole program.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

class Watchdog {
  public:
    Watchdog(const char* what, int seconds)
        : thread_([this, what, seconds] {
              std::unique_lock<std::mutex> lock(lock_);
              if (!done_.wait_for(lock, std::chrono::seconds(seconds), [this] { return over_; })) {
                  std::fprintf(stderr, "hung for %d s: %s\n", seconds, what);
                  std::fflush(stderr);
                  std::_Exit(3);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            over_ = true;
        }
        done_.notify_one();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

  private:
    std::mutex lock_;
    std::condition_variable done_;
    bool over_ = false;
    std::thread thread_;
};
