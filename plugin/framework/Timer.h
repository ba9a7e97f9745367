#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace iplug {

// A repeating timer of the module. One timer thread serves every timer of the module and calls
// the callbacks one at a time, holding the module's timer lock (a recursive one), so:
// - Stop() from another thread waits for a callback that is running, and none follows it;
// - a callback may create timers or stop its own without deadlock;
// - once the last timer has stopped no thread remains (the module may be unloaded right after).
// A callback must never wait for a lock that a thread stopping a timer may hold; it may only try
// such a lock, and it must not destroy its own timer. In manual mode (for tests) no thread runs and FireAll() calls
// every timer once.
class Timer {
 public:
  using ITimerFunction = std::function<void(Timer& timer)>;

  // The timer runs until stopped or destroyed; an interval below 1 ms counts as 1 ms.
  static std::unique_ptr<Timer> Create(ITimerFunction func, uint32_t intervalMs);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  void Stop();
  bool IsRunning() const;
  uint32_t GetInterval() const { return mIntervalMs; }

  static void SetManualMode(bool manual);
  // Manual mode: calls every running timer once, in order of creation; the number called.
  static int FireAll();

 private:
  Timer(ITimerFunction func, uint32_t intervalMs) : mFunc(std::move(func)), mIntervalMs(intervalMs) {}
  friend struct TimerService;

  ITimerFunction mFunc;
  uint32_t mIntervalMs;
  std::chrono::steady_clock::time_point mNextDue;
};

}  // namespace iplug
