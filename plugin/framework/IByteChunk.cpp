#include "plugin/framework/IByteChunk.h"

#include <cstring>
#include <new>

namespace iplug {

int IByteChunk::Resize(int newSize) {
  if (newSize < 0 || newSize > kMaxSize) return Size();
  try {
    mBytes.resize(static_cast<size_t>(newSize), 0);
  } catch (const std::bad_alloc&) {
  }
  return Size();
}

int IByteChunk::PutBytes(const void* data, int size) {
  if (size < 0 || (size > 0 && data == nullptr) || size > kMaxSize - Size()) return -1;
  const auto* bytes = static_cast<const uint8_t*>(data);
  try {
    mBytes.insert(mBytes.end(), bytes, bytes + size);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return Size();
}

int IByteChunk::GetBytes(void* out, int size, int startPos) const {
  if (out == nullptr || size < 0 || startPos < 0 || startPos > Size() - size) return -1;
  if (size > 0) std::memcpy(out, mBytes.data() + startPos, static_cast<size_t>(size));
  return startPos + size;
}

}  // namespace iplug
