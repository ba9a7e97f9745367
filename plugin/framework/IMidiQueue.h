#pragma once

#include <cstddef>
#include <vector>

#include "plugin/framework/IMidiMsg.h"

namespace iplug {

// The MIDI messages of one thread, waiting for their frame within the current block. Pending
// messages stay ordered by frame offset; equal offsets keep their order of arrival. The array is
// sized ahead for a block (Resize) and grows only when more messages wait than it can hold.
class IMidiQueue {
 public:
  static constexpr int kPageMessages = 512;  // one 4096-byte page of messages
  static constexpr int kMaxCapacity = 128 * kPageMessages;

  explicit IMidiQueue(int capacity = kPageMessages, int growStep = kPageMessages);

  // Queues a message in offset order. A full array first drops the consumed messages, else grows
  // by the growth step; false (the message is dropped) when it cannot grow.
  bool Add(const IMidiMsg& msg);

  bool Empty() const { return mFront == mBack; }
  int ToDo() const { return mBack - mFront; }
  // The next pending message; only while !Empty().
  const IMidiMsg& Peek() const { return mBuffer[static_cast<size_t>(mFront)]; }
  void Remove() {
    if (mFront < mBack) ++mFront;
  }

  // End of a block of nFrames: pending messages move to the front and their offsets become
  // relative to the next block. A queue with nothing pending is left as it is.
  void Flush(int nFrames);

  // Sizes the array for blocks of up to blockSize frames, in whole pages, never below what is
  // pending; the growth step becomes that size. Keeps the old array when a new one cannot be had.
  bool Resize(int blockSize);

  int Capacity() const { return static_cast<int>(mBuffer.size()); }
  int GrowStep() const { return mGrowStep; }

 private:
  void Compact();
  bool SetCapacity(int capacity);

  std::vector<IMidiMsg> mBuffer;
  int mGrowStep;
  int mFront = 0;
  int mBack = 0;
};

}  // namespace iplug
