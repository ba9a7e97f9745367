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
  EXPECT_EQ(queue.Capacity(), 4);
  for (int i = 1; i <= 4; ++i) EXPECT_TRUE(queue.Push(i));
  EXPECT_FALSE(queue.Push(5));
  EXPECT_EQ(queue.ElementsAvailable(), 4);
  int item = 0;
  for (int i = 1; i <= 2; ++i) {
    ASSERT_TRUE(queue.Pop(item));
    EXPECT_EQ(item, i);
  }
  // Across the end of the slots: the read index now lies above the write index.
  for (int i = 5; i <= 6; ++i) EXPECT_TRUE(queue.Push(i));
  EXPECT_FALSE(queue.Push(7));
  EXPECT_EQ(queue.ElementsAvailable(), 4);
  for (int i = 3; i <= 6; ++i) {
    ASSERT_TRUE(queue.Pop(item));
    EXPECT_EQ(item, i);
  }
  EXPECT_FALSE(queue.Pop(item));
  EXPECT_EQ(queue.ElementsAvailable(), 0);
}

TEST(IPlugQueue, TwoThreadsKeepTheOrder) {
  constexpr int kItems = 200000;
  IPlugQueue<IMidiMsg> queue(32);
  std::thread producer([&queue] {
    for (int i = 0; i < kItems;) {
      if (queue.Push(IMidiMsg(i, 0x90, static_cast<uint8_t>(i & 0x7F), 0))) ++i;
    }
  });
  int expected = 0;
  bool inOrder = true;
  IMidiMsg msg;
  while (expected < kItems) {
    if (!queue.Pop(msg)) continue;
    inOrder = inOrder && msg.mOffset == expected && msg.mData1 == (expected & 0x7F);
    ++expected;
  }
  producer.join();
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(queue.ElementsAvailable(), 0);
}

TEST(IMidiQueue, PendingMessagesStayInOffsetOrder) {
  // {offset, id}: equal offsets keep their arrival order, a smaller offset moves forward.
  const int arrivals[][2] = {{5, 1}, {5, 2}, {3, 3}, {9, 4}, {5, 5}, {0, 6}, {9, 7}};
  const int expectedIds[] = {6, 3, 1, 2, 5, 4, 7};
  IMidiQueue queue;
  for (const auto& a : arrivals) EXPECT_TRUE(queue.Add(IMidiMsg(a[0], 0x90, static_cast<uint8_t>(a[1]), 0)));
  ASSERT_EQ(queue.ToDo(), 7);
  for (int id : expectedIds) {
    ASSERT_FALSE(queue.Empty());
    EXPECT_EQ(queue.Peek().mData1, id);
    queue.Remove();
  }
  EXPECT_TRUE(queue.Empty());
}

TEST(IMidiQueue, GrowsByPagesAndAgesOffsetsAcrossBlocks) {
  IMidiQueue queue;
  for (int i = 0; i < 600; ++i) ASSERT_TRUE(queue.Add(IMidiMsg(600 - i, 0x80, 0, 0)));
  EXPECT_EQ(queue.Capacity(), 1024);
  EXPECT_EQ(queue.Peek().mOffset, 1);
  for (int i = 0; i < 100; ++i) queue.Remove();
  queue.Flush(64);  // what is left moves to the front, relative to the next block
  EXPECT_EQ(queue.ToDo(), 500);
  EXPECT_EQ(queue.Peek().mOffset, 101 - 64);
  // Sizing for a block keeps what is pending and rounds to whole pages.
  EXPECT_TRUE(queue.Resize(100));
  EXPECT_EQ(queue.Capacity(), 512);
  EXPECT_EQ(queue.GrowStep(), 512);
  EXPECT_EQ(queue.ToDo(), 500);
  EXPECT_TRUE(queue.Resize(1500));
  EXPECT_EQ(queue.Capacity(), 1536);
  EXPECT_EQ(queue.Peek().mOffset, 37);
  // Growth is bounded: a flood is refused rather than taking memory without end.
  IMidiQueue flood;
  int taken = 0;
  while (taken < 2 * IMidiQueue::kMaxCapacity && flood.Add(IMidiMsg(taken, 0x90, 0, 0))) ++taken;
  EXPECT_EQ(taken, IMidiQueue::kMaxCapacity);
}
