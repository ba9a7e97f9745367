#include "plugin/framework/Timer.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace iplug {

using Clock = std::chrono::steady_clock;

// The module's running timers and the one thread that calls them. Its lock is held while a
// callback runs, which is what makes Stop() wait for a running callback.
struct TimerService {
  std::recursive_mutex lock;
  std::condition_variable_any wake;
  std::vector<Timer*> running;  // in order of creation
  std::thread thread;
  std::thread::id threadId;
  uint64_t generation = 0;  // a thread runs only while the generation it was started with stands
  bool threadLive = false;
  bool manual = false;
  std::atomic<int> contenders{0};  // threads waiting for the lock while callbacks run back to back

  // Every way into the service but the thread's own: counted, so the thread lets the lock go.
  std::unique_lock<std::recursive_mutex> Acquire() {
    ++contenders;
    std::unique_lock<std::recursive_mutex> hold(lock);
    --contenders;
    return hold;
  }

  ~TimerService() {
    std::unique_lock<std::recursive_mutex> hold(lock);
    EndThread(hold);
    if (thread.joinable()) thread.join();  // one that ended on its own
  }

  static TimerService& Get() {
    static TimerService service;
    return service;
  }

  bool OnTimerThread() const { return threadLive && std::this_thread::get_id() == threadId; }

  // With the lock held (once).
  void StartThread() {
    if (thread.joinable()) thread.join();  // one that ended on its own, lock already let go
    const uint64_t mine = ++generation;
    try {
      thread = std::thread([this, mine] { Run(mine); });
    } catch (const std::system_error&) {
      return;
    }
    threadId = thread.get_id();
    threadLive = true;
  }

  // Retires the thread and waits for it to end; never from the thread itself. `hold` is the
  // caller's only hold on the lock; it is let go while waiting.
  void EndThread(std::unique_lock<std::recursive_mutex>& hold) {
    if (!threadLive || std::this_thread::get_id() == threadId) return;
    ++generation;
    threadLive = false;
    std::thread ending = std::move(thread);
    wake.notify_all();
    hold.unlock();
    if (ending.joinable()) ending.join();
    hold.lock();
  }

  void Run(uint64_t mine) {
    std::unique_lock<std::recursive_mutex> hold(lock);
    while (generation == mine) {
      if (running.empty() || manual) {
        threadLive = false;  // ends on its own; the next start or the module's unload joins it
        return;
      }
      const Clock::time_point now = Clock::now();
      // The most overdue timer first, so a slow callback cannot starve the others.
      Timer* due = *std::min_element(running.begin(), running.end(),
                                     [](const Timer* a, const Timer* b) { return a->mNextDue < b->mNextDue; });
      if (due->mNextDue > now) {
        const Clock::time_point until = due->mNextDue;  // a copy: the timer may go while we wait
        wake.wait_until(hold, until);
        continue;
      }
      const auto interval = std::chrono::milliseconds(due->mIntervalMs);
      due->mNextDue += interval;
      if (due->mNextDue <= now) due->mNextDue = now + interval;  // fell behind: no burst of catch-up calls
      try {
        due->mFunc(*due);  // may stop or create timers; `due` is not touched afterwards
      } catch (...) {
        // An exception must not end the host's process from a thread of ours.
      }
      // Callbacks slower than their interval would keep the lock for good: let a waiting
      // Stop() or Create() in first.
      while (contenders.load() > 0 && generation == mine) wake.wait_for(hold, std::chrono::milliseconds(1));
    }
  }
};

std::unique_ptr<Timer> Timer::Create(ITimerFunction func, uint32_t intervalMs) {
  std::unique_ptr<Timer> timer(new Timer(std::move(func), std::max<uint32_t>(intervalMs, 1)));
  TimerService& service = TimerService::Get();
  const auto hold = service.Acquire();
  timer->mNextDue = Clock::now() + std::chrono::milliseconds(timer->mIntervalMs);
  service.running.push_back(timer.get());
  if (!service.manual && !service.threadLive) service.StartThread();
  service.wake.notify_all();
  return timer;
}

Timer::~Timer() { Stop(); }

void Timer::Stop() {
  TimerService& service = TimerService::Get();
  auto hold = service.Acquire();
  const auto found = std::find(service.running.begin(), service.running.end(), this);
  if (found == service.running.end()) return;
  service.running.erase(found);
  if (service.running.empty()) service.EndThread(hold);
}

bool Timer::IsRunning() const {
  TimerService& service = TimerService::Get();
  const auto hold = service.Acquire();
  return std::find(service.running.begin(), service.running.end(), this) != service.running.end();
}

void Timer::SetManualMode(bool manual) {
  TimerService& service = TimerService::Get();
  auto hold = service.Acquire();
  if (service.manual == manual) return;
  service.manual = manual;
  if (manual) {
    service.EndThread(hold);
  } else if (!service.running.empty()) {
    service.StartThread();
  }
}

int Timer::FireAll() {
  TimerService& service = TimerService::Get();
  const auto hold = service.Acquire();
  if (!service.manual) return 0;
  const std::vector<Timer*> listed = service.running;
  int fired = 0;
  for (Timer* timer : listed) {
    // A callback may have stopped or destroyed a later timer.
    if (std::find(service.running.begin(), service.running.end(), timer) == service.running.end()) continue;
    timer->mFunc(*timer);
    ++fired;
  }
  return fired;
}

}  // namespace iplug
