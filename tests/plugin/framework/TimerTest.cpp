#include <unistd.h>

#include <memory>
#include <string>
#include <mutex>

#include "tests/plugin/framework/FrameworkTestPlugin.h"

using iplug::Timer;
using namespace std::chrono_literals;

// The timer thread is known by the id its callbacks see: the system may go on listing a thread
// for a moment after it was joined, so its absence is waited for, never assumed at once.
TEST(Timer, CallbacksArriveAndNoThreadRemainsAfterTheLastStop) {
  const int threadsBefore = threadCount();
  std::atomic<int> calls{0}, otherCalls{0};
  std::atomic<pid_t> thread{0}, otherThread{0};
  auto timer = Timer::Create([&](Timer&) { thread = ::gettid(), ++calls; }, 5);
  auto other = Timer::Create([&](Timer&) { otherThread = ::gettid(), ++otherCalls; }, 20);
  EXPECT_TRUE(eventually([&] { return calls >= 5 && otherCalls >= 1; }));
  EXPECT_EQ(thread.load(), otherThread.load());  // one thread for every timer,
  EXPECT_LE(threadCount(), threadsBefore + 1);    // and no other one
  timer->Stop();
  other.reset();
  const std::string task = "/proc/self/task/" + std::to_string(thread.load());
  EXPECT_TRUE(eventually([&task] { return ::access(task.c_str(), F_OK) != 0; }));
  EXPECT_TRUE(eventually([threadsBefore] { return threadCount() <= threadsBefore; }));
}

TEST(Timer, StopFromAnotherThreadWaitsForTheRunningCallbackAndNoneFollows) {
  std::atomic<int> started{0}, finished{0};
  auto timer = Timer::Create([&](Timer&) { ++started, std::this_thread::sleep_for(50ms), ++finished; }, 1);  // slower than its interval
  ASSERT_TRUE(eventually([&started] { return started >= 1; }));
  timer->Stop();
  const int finishedAtStop = finished;
  EXPECT_EQ(finishedAtStop, started.load());
  // Not a pause, which a busy machine may sleep through without a tick: another timer of the
  // same interval, made after it, is called three times. The thread calls the most overdue timer
  // first, so a stopped timer that still ran would have been called between two of those.
  std::atomic<int> witness{0};
  auto other = Timer::Create([&witness](Timer&) { ++witness; }, 1);
  ASSERT_TRUE(eventually([&witness] { return witness >= 3; }));
  EXPECT_EQ(started.load(), finishedAtStop);
}

TEST(Timer, InstancesComeAndGoWhileTheirTimersRun) {
  std::vector<std::unique_ptr<FrameworkTestPlugin>> plugs;
  for (int i = 0; i < 20; ++i) plugs.push_back(std::make_unique<FrameworkTestPlugin>(4, i % 2 == 0)), plugs.back()->StartTimer();
  for (auto& plug : plugs) ASSERT_TRUE(eventually([&plug] { return plug->idles >= 2; }));
  std::thread host([&plugs] {  // half go on another thread while the rest keep ticking
    for (size_t i = 0; i < plugs.size(); i += 2) plugs[i].reset();
  });
  for (size_t i = 1; i < plugs.size(); i += 2) plugs[i].reset();
  host.join();
}

TEST(IPlugAPIBase, TimerDrainsTheProcessorQueuesThenIdles) {
  ManualTimers manual;
  FrameworkTestPlugin plug(0), headless(0, false);
  plug.StartTimer(), headless.StartTimer();
  for (uint8_t note : {60, 62})
    for (FrameworkTestPlugin* p : {&plug, &headless}) p->mMidiMsgsFromProcessor.Push(iplug::IMidiMsg(0, 0x90, note, 100));
  EXPECT_EQ(Timer::FireAll(), 2);
  EXPECT_EQ(plug.log, (std::vector<std::string>{"midi 60", "midi 62"}));
  // Without an editor the queues stay as they are, and the idle call still comes.
  EXPECT_EQ(std::vector<int>({plug.idles, headless.mMidiMsgsFromProcessor.ElementsAvailable(), headless.idles}),
            std::vector<int>({1, 2, 1}));
}

TEST(IPlugAPIBase, TheInstanceLockHoldsTheIdleWorkBackWithoutDeadlock) {
  FrameworkTestPlugin plug(0);
  plug.StartTimer();
  ASSERT_TRUE(eventually([&plug] { return plug.idles >= 1; }));
  std::lock_guard<std::recursive_mutex> host(plug.InstanceLock());
  const int idles = plug.idles;
  // Ticks come, find the lock taken and skip: counted by a timer of the same interval made after
  // the instance's, which is called only after every tick more overdue than its own.
  std::atomic<int> witness{0};
  auto other = Timer::Create([&witness](Timer&) { ++witness; }, FrameworkTestPlugin::kTimerIntervalMs);
  ASSERT_TRUE(eventually([&witness] { return witness >= 3; }));
  EXPECT_EQ(plug.idles, idles);
  plug.StopTimer();  // with the lock held: must return
}
