#include "engine/core/ByteStream.h"

#include <cstring>
#include <limits>

namespace {

constexpr int64_t kMaxPos = std::numeric_limits<int32_t>::max();

void advance(int32_t* pos, int64_t n) {
  const int64_t next = static_cast<int64_t>(*pos) + n;
  *pos = static_cast<int32_t>(next > kMaxPos ? kMaxPos : next);
}

// Room for n bytes at pos: a negative position never has room.
bool hasRoom(int32_t pos, int32_t size, int64_t n) {
  return pos >= 0 && static_cast<int64_t>(pos) + n <= size;
}

int32_t byteCount(int32_t n) { return n < 1 ? 1 : (n > 4 ? 4 : n); }

}  // namespace

bool streamWriteInt(uint8_t* buffer, int32_t* pos, int32_t size, int32_t value, int32_t n) {
  n = byteCount(n);
  bool written = false;
  if (buffer != nullptr && hasRoom(*pos, size, n)) {
    const uint32_t u = static_cast<uint32_t>(value);
    for (int32_t i = 0; i < n; ++i) buffer[*pos + i] = static_cast<uint8_t>(u >> (8 * i));
    written = true;
  }
  advance(pos, n);
  return written;
}

bool streamWriteIntBE(uint8_t* buffer, int32_t* pos, int32_t size, int32_t value, int32_t n) {
  n = byteCount(n);
  bool written = false;
  if (buffer != nullptr && hasRoom(*pos, size, n)) {
    const uint32_t u = static_cast<uint32_t>(value);
    for (int32_t i = 0; i < n; ++i) buffer[*pos + i] = static_cast<uint8_t>(u >> (8 * (n - 1 - i)));
    written = true;
  }
  advance(pos, n);
  return written;
}

bool streamWriteFloat(uint8_t* buffer, int32_t* pos, int32_t size, float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return streamWriteInt(buffer, pos, size, static_cast<int32_t>(bits), 4);
}

bool streamWriteBytes(uint8_t* buffer, int32_t* pos, int32_t size, const void* source, int32_t len) {
  if (len < 0) len = 0;
  bool complete = false;
  if (buffer != nullptr && *pos >= 0) {
    const int64_t room = static_cast<int64_t>(size) - *pos;
    const int64_t copy = len < room ? len : room;
    if (copy > 0 && source != nullptr) std::memcpy(buffer + *pos, source, static_cast<size_t>(copy));
    complete = copy == len && (source != nullptr || len == 0);
  }
  advance(pos, len);
  return complete;
}

bool streamWriteString(uint8_t* buffer, int32_t* pos, int32_t size, const char* s, int32_t maxLen) {
  if (s == nullptr) s = "";
  if (maxLen < 0) maxLen = 0;
  const int32_t len = static_cast<int32_t>(strnlen(s, static_cast<size_t>(maxLen)));
  bool written = false;
  if (buffer != nullptr && hasRoom(*pos, size, static_cast<int64_t>(len) + 1)) {
    std::memcpy(buffer + *pos, s, static_cast<size_t>(len));
    buffer[*pos + len] = 0;
    written = true;
  }
  advance(pos, static_cast<int64_t>(len) + 1);
  return written;
}

int32_t streamReadInt(const uint8_t* buffer, int32_t* pos, int32_t size, int32_t n, int32_t signedFlag) {
  n = byteCount(n);
  uint32_t r = 0;
  if (buffer != nullptr && hasRoom(*pos, size, n)) {
    for (int32_t i = 0; i < n; ++i) r |= static_cast<uint32_t>(buffer[*pos + i]) << (8 * i);
  }
  advance(pos, n);
  if (n < 4 && signedFlag == 1) {
    const uint32_t half = 1u << (8 * n - 1);
    if (r >= half) return static_cast<int32_t>(static_cast<int64_t>(r) - (int64_t{1} << (8 * n)));
  }
  return static_cast<int32_t>(r);
}

float streamReadFloat(const uint8_t* buffer, int32_t* pos, int32_t size) {
  float value = 0.0f;
  if (buffer != nullptr && hasRoom(*pos, size, 4)) {
    uint32_t bits = 0;
    for (int32_t i = 0; i < 4; ++i) bits |= static_cast<uint32_t>(buffer[*pos + i]) << (8 * i);
    std::memcpy(&value, &bits, sizeof value);
  }
  advance(pos, 4);
  return value;
}

void streamReadString(std::string& out, const uint8_t* buffer, int32_t* pos, int32_t size) {
  out.clear();
  if (buffer == nullptr || *pos < 0 || *pos >= size) return;
  const char* start = reinterpret_cast<const char*>(buffer + *pos);
  const size_t len = strnlen(start, static_cast<size_t>(size - *pos));
  out.assign(start, len);
  advance(pos, static_cast<int64_t>(len) + 1);
}

bool streamMatchString(const uint8_t* buffer, int32_t pos, int32_t size, const char* expected,
                       int32_t maxLen) {
  if (buffer == nullptr || expected == nullptr || pos < 0 || pos > size) return false;
  if (maxLen < 0) maxLen = 0;
  const char* text = reinterpret_cast<const char*>(buffer + pos);
  const size_t textLen = strnlen(text, static_cast<size_t>(size - pos));
  const size_t expectedLen = strnlen(expected, static_cast<size_t>(maxLen));
  return textLen == expectedLen && std::memcmp(text, expected, textLen) == 0;
}
