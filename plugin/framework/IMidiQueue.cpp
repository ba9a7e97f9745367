#include "plugin/framework/IMidiQueue.h"

#include <algorithm>
#include <cstdint>
#include <new>

namespace iplug {

namespace {

int roundUpToPages(int count) {
  count = std::clamp(count, 0, IMidiQueue::kMaxCapacity);
  const int pages = std::max(1, (count + IMidiQueue::kPageMessages - 1) / IMidiQueue::kPageMessages);
  return pages * IMidiQueue::kPageMessages;
}

}  // namespace

IMidiQueue::IMidiQueue(int capacity, int growStep) : mGrowStep(std::clamp(growStep, 1, kMaxCapacity)) {
  SetCapacity(std::clamp(capacity, 1, kMaxCapacity));
}

bool IMidiQueue::SetCapacity(int capacity) {
  try {
    mBuffer.resize(static_cast<size_t>(capacity));
    mBuffer.shrink_to_fit();
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void IMidiQueue::Compact() {
  if (mFront == 0) return;
  std::copy(mBuffer.begin() + mFront, mBuffer.begin() + mBack, mBuffer.begin());
  mBack -= mFront;
  mFront = 0;
}

bool IMidiQueue::Add(const IMidiMsg& msg) {
  if (mBack == Capacity()) {
    if (mFront > 0) {
      Compact();
    } else if (Capacity() > kMaxCapacity - mGrowStep || !SetCapacity(Capacity() + mGrowStep)) {
      return false;
    }
  }
  // Insert after the last pending message whose offset is not greater, searching from the end.
  int at = mBack;
  while (at > mFront && mBuffer[static_cast<size_t>(at - 1)].mOffset > msg.mOffset) --at;
  std::copy_backward(mBuffer.begin() + at, mBuffer.begin() + mBack, mBuffer.begin() + mBack + 1);
  mBuffer[static_cast<size_t>(at)] = msg;
  ++mBack;
  return true;
}

void IMidiQueue::Flush(int nFrames) {
  if (Empty()) return;
  Compact();
  for (int i = 0; i < mBack; ++i) {
    int32_t& offset = mBuffer[static_cast<size_t>(i)].mOffset;
    offset = static_cast<int32_t>(std::clamp<int64_t>(int64_t{offset} - nFrames, INT32_MIN, INT32_MAX));
  }
}

bool IMidiQueue::Resize(int blockSize) {
  Compact();
  const int step = roundUpToPages(blockSize);
  const int capacity = std::max(step, roundUpToPages(mBack));
  mGrowStep = step;
  if (capacity == Capacity()) return true;
  return SetCapacity(capacity);
}

}  // namespace iplug
