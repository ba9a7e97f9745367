#include "tools/oskra-render/Song.h"

#include <algorithm>

namespace oskrarender {

namespace {

constexpr double kSecondsPerMinute = 60.0;
constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kNoteOn = 0x90;

const TempoPoint& pointAt(const std::vector<TempoPoint>& tempo, double seconds) {
  static const TempoPoint kDefault{};
  if (tempo.empty()) return kDefault;
  auto next = std::upper_bound(tempo.begin(), tempo.end(), seconds,
                               [](double s, const TempoPoint& p) { return s < p.seconds; });
  return next == tempo.begin() ? tempo.front() : *(next - 1);
}

bool isRelease(const SongEvent& e) {
  const uint8_t kind = e.status & 0xF0;
  return kind == kNoteOff || (kind == kNoteOn && e.data2 == 0);
}

}  // namespace

double Song::bpmAt(double seconds) const { return pointAt(tempo, seconds).bpm; }

double Song::quartersAt(double seconds) const {
  const TempoPoint& p = pointAt(tempo, seconds);
  return p.quarters + (seconds - p.seconds) * p.bpm / kSecondsPerMinute;
}

double Song::endSeconds() const { return events.empty() ? 0.0 : events.back().seconds; }

void Song::sortEvents() {
  std::stable_sort(events.begin(), events.end(), [](const SongEvent& a, const SongEvent& b) {
    if (a.seconds != b.seconds) return a.seconds < b.seconds;
    return isRelease(a) && !isRelease(b);
  });
}

}  // namespace oskrarender
