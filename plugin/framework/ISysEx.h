#pragma once

#include <cstdint>
#include <cstring>

namespace iplug {

// A system-exclusive message that points at bytes it does not own.
struct ISysEx {
  int32_t mOffset = 0;
  int32_t mSize = 0;
  const uint8_t* mData = nullptr;

  ISysEx() = default;
  ISysEx(int32_t offset, const uint8_t* data, int32_t size) : mOffset(offset), mSize(size), mData(data) {}
};

// The same message with its own bytes, so it can travel through a queue between threads.
struct SysExData {
  static constexpr int32_t kMaxSize = 512;

  int32_t mOffset = 0;
  int32_t mSize = 0;
  uint8_t mData[kMaxSize] = {};

  SysExData() = default;

  // Copies a message of 0..kMaxSize bytes (zeros when it has no data pointer). A larger or
  // negative size does not fit: the record stays empty and Fits() reports it.
  static bool Fits(const ISysEx& msg) { return msg.mSize >= 0 && msg.mSize <= kMaxSize; }
  explicit SysExData(const ISysEx& msg) {
    if (!Fits(msg)) return;
    mOffset = msg.mOffset;
    mSize = msg.mSize;
    if (msg.mData != nullptr && msg.mSize > 0) std::memcpy(mData, msg.mData, static_cast<size_t>(msg.mSize));
  }

  ISysEx View() const { return ISysEx(mOffset, mData, mSize); }
};

}  // namespace iplug
