#include <memory>
#include <mutex>

#include "tests/plugin/framework/FrameworkTestPlugin.h"

using iplug::Timer;
using namespace std::chrono_literals;

TEST(Timer, CallbacksArriveAndNoThreadRemainsAfterTheLastStop) {
  const int threadsBefore = threadCount();
  std::atomic<int> calls{0};
  auto timer = Timer::Create([&calls](Timer&) { ++calls; }, 5);
  auto other = Timer::Create([](Timer&) {}, 20);
  EXPECT_TRUE(eventually([&calls] { return calls >= 5; }));
  EXPECT_EQ(threadCount(), threadsBefore + 1);
  timer->Stop();
  other.reset();
  EXPECT_EQ(threadCount(), threadsBefore);
}

TEST(Timer, StopFromAnotherThreadWaitsForTheRunningCallbackAndNoneFollows) {
  std::atomic<int> started{0}, finished{0};
  auto timer = Timer::Create([&](Timer&) { ++started, std::this_thread::sleep_for(50ms), ++finished; }, 1);  // slower than its interval
  ASSERT_TRUE(eventually([&started] { return started >= 1; }));
  timer->Stop();
  const int finishedAtStop = finished;
  EXPECT_EQ(finishedAtStop, started.load());
  std::this_thread::sleep_for(60ms);
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
  std::this_thread::sleep_for(50ms);  // ticks come, find the lock taken and skip
  EXPECT_EQ(plug.idles, idles);
  plug.StopTimer();  // with the lock held: must return
}
