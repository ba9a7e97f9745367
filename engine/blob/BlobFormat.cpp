#include "engine/blob/Blob.h"

#include <algorithm>

#include "engine/core/ByteStream.h"

// Each stored point is a 16-bit step from the previous point in units of 64/65535. The writer
// quantises against the running sum of the codes already written, so rounding never
// accumulates along a curve.

namespace {

constexpr float kCodeStep = 0.0009765774f;    // 64 / 65535
constexpr float kCodesPerUnit = 1023.984375f;  // 65535 / 64
constexpr int32_t kMaxCode = 65535;

int32_t storedBytes(const FloatGrid& grid) {
  if (grid.empty() || grid[0].empty()) return 0;
  return static_cast<int32_t>(grid[0].size() - 1) * 2 * static_cast<int32_t>(grid.size());
}

void writeGrid(const FloatGrid& grid, uint8_t* buffer, int32_t capacity, int32_t* pos) {
  for (const auto& curve : grid) {
    int32_t acc = 0;
    for (size_t k = 1; k < curve.size(); ++k) {
      const float x = (curve[k] - static_cast<float>(acc) * kCodeStep) * kCodesPerUnit + 0.5f;
      // A falling or too steep step has no code: it is stored as the nearest one that exists,
      // and the running sum follows what was really written.
      int32_t q = 0;
      if (x >= static_cast<float>(kMaxCode)) {
        q = kMaxCode;
      } else if (x > 0.0f) {
        q = static_cast<int32_t>(x);
      }
      acc += q;
      streamWriteInt(buffer, pos, capacity, q, 2);
    }
  }
}

void readGrid(FloatGrid& grid, float range, const uint8_t* buffer, int32_t size, int32_t* pos) {
  if (grid.empty() || grid[0].empty()) return;
  // Refresh spaces the points of a curve at least a minimum gap apart between its fixed ends. A
  // curve with less room than that (all codes 0, or a span under about three units) would be
  // pushed below 0 and folded back, so its end moves up to the least room that holds every gap,
  // with one gap to spare for rounding.
  const int32_t n0 = static_cast<int32_t>(grid[0].size());
  const float room = std::min(Blob::minimumGap(n0) * static_cast<float>(n0), range);
  for (auto& curve : grid) {
    if (curve.empty()) continue;
    curve[0] = 0.0f;
    for (size_t k = 1; k < curve.size(); ++k) {
      const int32_t code = streamReadInt(buffer, pos, size, 2, 0);
      const float v = static_cast<float>(code) * kCodeStep + curve[k - 1];
      // Codes are never negative, so only the top of the range needs a bound.
      curve[k] = v > range ? range : v;
    }
    if (curve.back() < room) curve.back() = room;
  }
}

}  // namespace

int32_t Blob::serialize(uint8_t* buffer, int32_t capacity, int32_t* position) const {
  int32_t local = 0;
  int32_t* pos = position != nullptr ? position : &local;
  const int32_t start = *pos;
  streamWriteInt(buffer, pos, capacity, kFormatVersion, 1);
  writeGrid(gridA, buffer, capacity, pos);
  writeGrid(gridB, buffer, capacity, pos);
  return *pos - start;
}

std::vector<uint8_t>& Blob::toBytes(std::vector<uint8_t>& out) const {
  const int32_t size = serialize(nullptr, 0, nullptr);
  out.assign(static_cast<size_t>(size), 0);
  serialize(out.data(), size, nullptr);
  return out;
}

int32_t Blob::deserialize(const uint8_t* buffer, int32_t size, int32_t* position) {
  int32_t local = 0;
  int32_t* pos = position != nullptr ? position : &local;
  const int32_t start = *pos;
  const int32_t version = streamReadInt(buffer, pos, size, 1, 1);
  if (version != 0 && version != kFormatVersion) return 0;
  const int64_t needed = static_cast<int64_t>(storedBytes(gridA)) + storedBytes(gridB);
  // A negative start has no room, however large the buffer: it would read zeros.
  if (start < 0 || static_cast<int64_t>(*pos) + needed > size) return *pos - start;
  readGrid(gridA, kTimeRange, buffer, size, pos);
  readGrid(gridB, kFrequencyRange, buffer, size, pos);
  refresh();
  return *pos - start;
}
