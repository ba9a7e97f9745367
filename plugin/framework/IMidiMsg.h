#pragma once

#include <cstdint>

namespace iplug {

// One short MIDI message with its frame offset within the current block. Passed and queued by
// value; eight bytes, so a queue of 512 fills one 4096-byte page.
struct IMidiMsg {
  int32_t mOffset = 0;
  uint8_t mStatus = 0;  // kind in the high nibble, channel in the low nibble
  uint8_t mData1 = 0;
  uint8_t mData2 = 0;

  IMidiMsg() = default;
  IMidiMsg(int32_t offset, uint8_t status, uint8_t data1, uint8_t data2)
      : mOffset(offset), mStatus(status), mData1(data1), mData2(data2) {}

  int StatusKind() const { return mStatus >> 4; }
  int Channel() const { return mStatus & 0x0F; }

  bool operator==(const IMidiMsg&) const = default;
};

static_assert(sizeof(IMidiMsg) == 8, "queues are sized in whole pages of messages");

}  // namespace iplug
