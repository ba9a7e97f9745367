#pragma once

#include <atomic>
#include <memory>

namespace iplug {

// A ring between exactly one producer thread and one consumer thread, of fixed capacity and
// without locks or allocation after construction. One slot always stays free, so a queue built
// for n elements holds n + 1 slots. A push onto a full queue is refused and leaves what is
// queued as it was.
template <typename T>
class IPlugQueue {
 public:
  explicit IPlugQueue(int capacity)
      : mSlots(capacity > 0 ? capacity + 1 : 1), mElements(std::make_unique<T[]>(static_cast<size_t>(mSlots))) {}
  IPlugQueue(const IPlugQueue&) = delete;
  IPlugQueue& operator=(const IPlugQueue&) = delete;

  // Producer side.
  bool Push(const T& item) {
    const int write = mWriteIndex.load(std::memory_order_relaxed);
    const int next = Next(write);
    if (next == mReadIndex.load(std::memory_order_acquire)) return false;
    mElements[static_cast<size_t>(write)] = item;
    mWriteIndex.store(next, std::memory_order_release);
    return true;
  }

  // Consumer side.
  bool Pop(T& item) {
    const int read = mReadIndex.load(std::memory_order_relaxed);
    if (read == mWriteIndex.load(std::memory_order_acquire)) return false;
    item = mElements[static_cast<size_t>(read)];
    mReadIndex.store(Next(read), std::memory_order_release);
    return true;
  }

  // Either side; exact only when the other side is idle.
  int ElementsAvailable() const {
    const int read = mReadIndex.load(std::memory_order_acquire);
    const int write = mWriteIndex.load(std::memory_order_acquire);
    return read > write ? mSlots - read + write : write - read;
  }

  int Capacity() const { return mSlots - 1; }

 private:
  int Next(int index) const { return index + 1 == mSlots ? 0 : index + 1; }

  const int mSlots;
  std::unique_ptr<T[]> mElements;
  std::atomic<int> mWriteIndex{0};
  std::atomic<int> mReadIndex{0};
};

}  // namespace iplug
