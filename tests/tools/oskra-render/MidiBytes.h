#pragma once

// Standard MIDI File bytes built by hand for the tests, so a file's layout is spelt out where
// the test reads it.

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace midibytes {

using Bytes = std::vector<uint8_t>;

inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
inline Bytes be(uint32_t value, int bytes) {
  Bytes out;
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
  return out;
}
inline Bytes chunk(const char* id, const Bytes& body) { return cat({Bytes(id, id + 4), be(uint32_t(body.size()), 4), body}); }
inline Bytes header(uint16_t format, uint16_t tracks, uint16_t division) {
  return chunk("MThd", cat({be(format, 2), be(tracks, 2), be(division, 2)}));
}
// A delta time (as a variable-length number) and an event.
inline Bytes event(uint32_t delta, Bytes bytes) {
  for (bytes.insert(bytes.begin(), uint8_t(delta & 0x7F)); (delta >>= 7) != 0;) bytes.insert(bytes.begin(), uint8_t((delta & 0x7F) | 0x80));
  return bytes;
}
inline Bytes tempo(uint32_t delta, uint32_t microsPerQuarter) { return event(delta, cat({{0xFF, 0x51, 0x03}, be(microsPerQuarter, 3)})); }
inline Bytes endOfTrack() { return event(0, {0xFF, 0x2F, 0x00}); }

}  // namespace midibytes
