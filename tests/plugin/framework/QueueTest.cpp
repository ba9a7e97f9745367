#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "plugin/framework/IMidiQueue.h"
#include "plugin/framework/IPlugQueue.h"

using iplug::IMidiMsg;
using iplug::IMidiQueue;
using iplug::IPlugQueue;

TEST(IPlugQueue, FullQueueRefusesWithoutLosingWhatIsQueued) {
  IPlugQueue<int> queue(4);
  // Two rounds: the second runs across the end of the slots (read index above write index).
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < (round == 0 ? 4 : 2); ++i) EXPECT_TRUE(queue.Push(10 * round + i));
    EXPECT_FALSE(queue.Push(99));
    EXPECT_EQ(queue.ElementsAvailable(), 4);
    std::vector<int> popped;
    for (int item = 0; popped.size() < (round == 0 ? 2u : 4u) && queue.Pop(item);) popped.push_back(item);
    EXPECT_EQ(popped, round == 0 ? std::vector<int>({0, 1}) : std::vector<int>({2, 3, 10, 11}));
  }
  int item = 0;
  EXPECT_FALSE(queue.Pop(item));
  EXPECT_EQ(queue.ElementsAvailable(), 0);
}

TEST(IPlugQueue, TwoThreadsKeepTheOrder) {
  constexpr int kItems = 200000;
  IPlugQueue<IMidiMsg> queue(32);
  std::thread producer([&queue] {
    for (int i = 0; i < kItems;) i += queue.Push(IMidiMsg(i, 0x90, static_cast<uint8_t>(i & 0x7F), 0)) ? 1 : 0;
  });
  bool inOrder = true;
  IMidiMsg msg;
  for (int expected = 0; expected < kItems;)
    if (queue.Pop(msg)) inOrder = inOrder && msg.mOffset == expected && msg.mData1 == (expected & 0x7F), ++expected;
  producer.join();
  EXPECT_TRUE(inOrder);
}

TEST(IMidiQueue, OffsetOrderPagesAndAgeingAcrossBlocks) {
  // {offset, id}: equal offsets keep their arrival order, a smaller offset moves forward.
  IMidiQueue queue;
  for (auto [offset, id] : {std::pair{5, 1}, {5, 2}, {3, 3}, {9, 4}, {5, 5}, {0, 6}, {9, 7}}) EXPECT_TRUE(queue.Add(IMidiMsg(offset, 0x90, uint8_t(id), 0)));
  std::vector<int> ids;
  for (; !queue.Empty(); queue.Remove()) ids.push_back(queue.Peek().mData1);
  EXPECT_EQ(ids, (std::vector<int>{6, 3, 1, 2, 5, 4, 7}));
  for (int i = 0; i < 600; ++i) ASSERT_TRUE(queue.Add(IMidiMsg(600 - i, 0x80, 0, 0)));
  EXPECT_EQ(queue.Capacity(), 1024);
  for (int i = 0; i < 100; ++i) queue.Remove();
  queue.Flush(64);  // what is left moves to the front, relative to the next block
  EXPECT_EQ(queue.ToDo(), 500);
  EXPECT_EQ(queue.Peek().mOffset, 101 - 64);
  EXPECT_TRUE(queue.Resize(100));  // whole pages, never below what is pending
  EXPECT_EQ(queue.Capacity(), 512);
  EXPECT_TRUE(queue.Resize(1500));
  EXPECT_EQ(std::vector<int>({queue.Capacity(), queue.GrowStep(), queue.Peek().mOffset}), std::vector<int>({1536, 1536, 37}));
  IMidiQueue flood;  // a flood is refused rather than taking memory without end
  int taken = 0;
  while (taken < 2 * IMidiQueue::kMaxCapacity && flood.Add(IMidiMsg(taken, 0x90, 0, 0))) ++taken;
  EXPECT_EQ(taken, IMidiQueue::kMaxCapacity);
}
