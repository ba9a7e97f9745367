#pragma once

#include <cstdint>
#include <type_traits>
#include <vector>

namespace iplug {

// A growable byte buffer in the machine's byte order (little-endian here). Puts append at the
// end; gets read at a position the caller gives and return the position after the item, or -1
// when the item does not lie wholly inside the chunk, so a damaged chunk is never read past its
// end. Sizes are bounded well below 2 GiB so every position fits an int.
class IByteChunk {
 public:
  static constexpr int kMaxSize = 1 << 30;

  int Size() const { return static_cast<int>(mBytes.size()); }
  const uint8_t* GetData() const { return mBytes.data(); }
  uint8_t* GetData() { return mBytes.data(); }
  void Clear() { mBytes.clear(); }

  // New bytes are zero. Returns the size afterwards: unchanged when newSize is negative, above
  // kMaxSize or cannot be had.
  int Resize(int newSize);

  // Returns the new size, or -1 with nothing appended.
  int PutBytes(const void* data, int size);
  template <typename T>
  int Put(const T* value) {
    static_assert(std::is_trivially_copyable_v<T>);
    return PutBytes(value, static_cast<int>(sizeof(T)));
  }

  int GetBytes(void* out, int size, int startPos) const;
  template <typename T>
  int Get(T* value, int startPos) const {
    static_assert(std::is_trivially_copyable_v<T>);
    return GetBytes(value, static_cast<int>(sizeof(T)), startPos);
  }

 private:
  std::vector<uint8_t> mBytes;
};

}  // namespace iplug
