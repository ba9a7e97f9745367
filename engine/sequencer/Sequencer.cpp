#include "engine/sequencer/Sequencer.h"

#include <algorithm>
#include <cmath>

#include "engine/core/ByteStream.h"
#include "engine/core/Clamp.h"

namespace {

constinit SharedLcg gRandom(12345u);

// Maps a 32-bit draw onto 0 <= r < 1.
constexpr float kDrawScale = 2.3283e-10f;
// Time constant (seconds) of the timing looseness walk.
constexpr float kLooseTimeConstant = 0.2f;
// Full "Loose Time" moves a note by up to this many steps.
constexpr float kLooseTimeMaxSteps = 0.2f;
constexpr int32_t kMaxStoredNotes = 255;  // the block stores a lane's note count in one byte
constexpr int32_t kMaxStoredLength = 255;
constexpr int32_t kMaxVelocity = 127;
constexpr uint32_t kMaxVarLen = 0x0FFFFFFFu;  // four 7-bit groups
constexpr size_t kExportReserve = 512;

float draw() { return static_cast<float>(Sequencer::sharedRandom().next()) * kDrawScale; }

// Truncation toward zero that saturates instead of overflowing; NaN gives 0.
int32_t truncToInt(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// Remainder with the sign of the divisor (m > 0), so positions before the start wrap into the
// lane instead of going negative.
int64_t floorMod(int64_t a, int64_t m) {
  const int64_t r = a % m;
  return r < 0 ? r + m : r;
}

uint16_t toU16(int v) { return static_cast<uint16_t>(v < 0 ? 0 : (v > 0xFFFF ? 0xFFFF : v)); }

void writeVarLen(std::vector<uint8_t>& out, uint32_t v) {
  if (v > kMaxVarLen) v = kMaxVarLen;
  uint8_t groups[4];
  int n = 0;
  do {
    groups[n++] = static_cast<uint8_t>(v & 0x7Fu);
    v >>= 7;
  } while (v != 0 && n < 4);
  for (int k = n - 1; k >= 0; --k) out.push_back(static_cast<uint8_t>(groups[k] | (k > 0 ? 0x80 : 0)));
}

}  // namespace

SharedLcg& Sequencer::sharedRandom() { return gRandom; }

Sequencer::Sequencer(int laneCount, int stepsPerCycle, int reserved)
    : laneStates(static_cast<size_t>(laneCount < 0 ? 0 : laneCount)) {
  params[kBpm].init(Param::kLinear, 1.0f, 400.0f, 0.0f, "%.0f", "BPM", 120.0f);
  params[kHostSync].init(Param::kStepped, 0.0f, 1.0f, 0.0f, "off|on", "Host Sync", 0.0f);
  params[kSwing].init(Param::kLinear, -50.0f, 50.0f, 0.0f, "%.0f%%", "Swing", 0.0f);
  params[kSwing].setSnapValues(0.0f);
  params[kLooseTime].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", "Loose Time", 0.0f);
  params[kLooseVelo].init(Param::kLinear, 0.0f, 100.0f, 0.0f, "%.0f%%", "Loose Velo", 0.0f);

  // The block stores lane lengths in one byte, and every length divides by the cycle.
  cycleLength = std::clamp(stepsPerCycle, 1, kMaxStoredLength);
  reservedNotes = reserved < 0 ? 0 : reserved;
  lanes.resize(laneStates.size());
  for (SeqLane& lane : lanes) {
    lane.length = static_cast<uint32_t>(cycleLength);
    lane.notes.reserve(static_cast<size_t>(reservedNotes));
  }
  for (SeqLaneState& state : laneStates) state.laneLength = cycleLength;
}

int64_t Sequencer::laneTicks(const SeqLane& lane) const {
  const int64_t steps = lane.length == 0 ? cycleLength : static_cast<int64_t>(lane.length);
  return steps * kTicksPerStep;
}

int Sequencer::advance(double seconds) {
  // A block timed from a missing sample rate must not poison the position for good.
  if (!std::isfinite(seconds)) return -1;
  const float stepsPerSecond = params[kBpm].effectiveValue() * 4.0f / 60.0f;
  const double delta = static_cast<double>(stepsPerSecond) * seconds;
  position += delta;
  freePosition += delta;
  if (freePosition > kFreePositionWrap) freePosition = std::fmod(freePosition, kFreePositionWrap);
  if (seconds == 0.0) return -1;

  std::unique_lock<std::mutex> guard(lock, std::try_to_lock);
  if (!guard.owns_lock()) return 0;

  // Swing stretches the first step of each pair of steps and squeezes the second (or the
  // other way round for negative swing); the lanes play in swung ticks.
  const float s = params[kSwing].effectiveValue() / 100.0f;
  const float pos = static_cast<float>(position);
  const float p = std::fmod(pos, 2.0f);
  const float swung = 1.0f + s > p ? p / (1.0f + s) : (p - 2.0f) / (1.0f - s) + 2.0f;
  const int32_t newTicks = truncToInt((pos - p + swung) * static_cast<float>(kTicksPerStep));
  const int32_t oldTicks = tickPosition;
  if (newTicks > tickPosition) tickPosition = newTicks;
  const int32_t diff = tickPosition - oldTicks;
  const int32_t cycleTicks = cycleLength * kTicksPerStep;
  if (tickPosition >= cycleTicks) {
    const int32_t wraps = tickPosition / cycleTicks;
    tickPosition -= wraps * cycleTicks;
    position -= static_cast<double>(wraps) * cycleLength;
  }

  int last = -1;
  for (int i = 0; i < static_cast<int>(lanes.size()); ++i) {
    if (advanceLane(i, diff, seconds)) last = i;
  }
  return last;
}

// Moves one lane on by diff ticks and looks for a note end and a note start inside the window
// between its old and its new (humanised) position. Called with the lock held.
bool Sequencer::advanceLane(int index, int32_t diff, double seconds) {
  const SeqLane& lane = lanes[static_cast<size_t>(index)];
  SeqLaneState& st = laneStates[static_cast<size_t>(index)];
  const int64_t laneLen = laneTicks(lane);
  st.laneLength = static_cast<int32_t>(laneLen / kTicksPerStep);

  const int32_t oldLaneTick = st.laneTick;
  const int32_t oldOffset = st.timingOffset;
  // A lane whose length divides the cycle follows the global tick; any other one keeps its
  // own count, so that it repeats at its own length across cycle wraps.
  if (cycleLength % st.laneLength != 0) {
    st.laneTick = static_cast<int32_t>(floorMod(static_cast<int64_t>(oldLaneTick) + diff, laneLen));
  } else {
    st.laneTick = static_cast<int32_t>(floorMod(tickPosition, laneLen));
  }

  randomizeTiming(st.jitter, static_cast<float>(seconds));
  // The offset follows a rising jitter at once but falls no faster than the lane moves, so the
  // humanised position never runs backwards.
  const int64_t lowered = static_cast<int64_t>(oldOffset) - diff;
  const int32_t jitterTicks = truncToInt(st.jitter * static_cast<float>(kTicksPerStep));
  st.timingOffset = static_cast<int32_t>(std::max<int64_t>(lowered, jitterTicks));

  const int64_t eOld = static_cast<int64_t>(oldOffset) + oldLaneTick;
  const int64_t eNew = static_cast<int64_t>(st.timingOffset) + st.laneTick;
  const int64_t window = floorMod(eNew - eOld, laneLen);
  if (window > kMaxWindowTicks) return false;

  const std::vector<SeqNote>& notes = lane.notes;
  const int32_t n = static_cast<int32_t>(notes.size());
  if (n == 0) {
    // A lane emptied while its note sounds still ends that note.
    if (st.state == SeqLaneState::kSounding) {
      st.state = SeqLaneState::kNoteOffPending;
      return true;
    }
    return false;
  }

  int32_t idx = st.noteIndex.load(std::memory_order_relaxed);
  if (idx < 0 || idx >= n) idx = 0;
  bool changed = false;

  if (st.state == SeqLaneState::kSounding) {
    const SeqNote& note = notes[static_cast<size_t>(idx)];
    const int64_t endAhead = floorMod(static_cast<int64_t>(note.start) + note.length - eOld, laneLen);
    const bool stillInside = floorMod(eNew - note.start, laneLen) <= note.length;
    if (endAhead >= window && stillInside) {
      st.noteIndex.store(idx, std::memory_order_relaxed);
      return false;
    }
    st.state = SeqLaneState::kNoteOffPending;
    changed = true;
    idx = (idx + 1) % n;
  }

  if (eOld <= notes[static_cast<size_t>(n) - 1].start) {
    while (idx < n - 1 && eOld > notes[static_cast<size_t>(idx)].start) ++idx;
    while (idx >= 1 && eOld < notes[static_cast<size_t>(idx) - 1].start) --idx;
  } else {
    idx = 0;
  }
  if (notes[static_cast<size_t>(idx)].start >= laneLen) {
    if (idx == 0) {
      st.noteIndex.store(idx, std::memory_order_relaxed);
      return changed;
    }
    idx = 0;
  }

  const SeqNote& next = notes[static_cast<size_t>(idx)];
  if (floorMod(next.start - eOld, laneLen) < window) {
    // A note start in the same window as a note end wins: the engine gets only the note-on.
    st.state = SeqLaneState::kNoteOnPending;
    st.velocity = next.velocity;
    changed = true;
  }
  st.noteIndex.store(idx, std::memory_order_relaxed);
  return changed;
}

int Sequencer::pollLane(int lane) {
  if (lane < 0 || lane >= static_cast<int>(laneStates.size())) return -1;
  SeqLaneState& st = laneStates[static_cast<size_t>(lane)];
  if (st.state == SeqLaneState::kNoteOnPending) {
    st.state = SeqLaneState::kSounding;
    return randomizeVelocity(st.velocity);
  }
  if (st.state == SeqLaneState::kNoteOffPending) {
    st.state = SeqLaneState::kIdle;
    return 0;
  }
  return -1;
}

int Sequencer::releaseAll() {
  int last = -1;
  for (size_t i = 0; i < laneStates.size(); ++i) {
    if (laneStates[i].state == SeqLaneState::kSounding) {
      laneStates[i].state = SeqLaneState::kNoteOffPending;
      last = static_cast<int>(i);
    }
  }
  return last;
}

void Sequencer::resetPlayState() {
  for (SeqLaneState& st : laneStates) {
    st.noteIndex.store(-1, std::memory_order_relaxed);
    st.laneTick = 0;
    st.timingOffset = 0;
    st.jitter = 0.0f;
    st.state = SeqLaneState::kIdle;
    st.velocity = 0;
  }
  position = 0.0;
  freePosition = 0.0;
  tickPosition = 0;
}

void Sequencer::setPosition(double steps) {
  const double ticks = std::trunc(steps * kTicksPerStep);
  if (!std::isfinite(ticks)) return;
  // A host may start before its zero (pre-roll): positions wrap into the cycle from below.
  const double cycle = cycleLength;
  double p = std::fmod(steps, cycle);
  if (p < 0.0) p += cycle;
  if (p >= cycle) p = 0.0;
  position = p;
  freePosition = p;
  tickPosition = static_cast<int32_t>(p * kTicksPerStep);
  for (SeqLaneState& st : laneStates) {
    const double laneLen = static_cast<double>(st.laneLength) * kTicksPerStep;
    double t = std::fmod(ticks, laneLen);  // exact for whole numbers of any size
    if (t < 0.0) t += laneLen;
    st.laneTick = static_cast<int32_t>(t);
  }
}

void Sequencer::addNote(int lane, int start, int length, uint8_t velocity) {
  if (lane < 0 || lane >= static_cast<int>(lanes.size())) return;
  std::lock_guard<std::mutex> guard(lock);
  std::vector<SeqNote>& notes = lanes[static_cast<size_t>(lane)].notes;
  if (static_cast<int32_t>(notes.size()) < reservedNotes) {
    const SeqNote note{toU16(start), toU16(length), velocity, static_cast<uint8_t>(lane)};
    const auto at = std::lower_bound(notes.begin(), notes.end(), note.start,
                                     [](const SeqNote& a, uint16_t s) { return a.start < s; });
    notes.insert(at, note);
  }
  changeCount.fetch_add(1, std::memory_order_relaxed);
}

void Sequencer::clearLane(int lane) {
  const int laneCount = static_cast<int>(lanes.size());
  if (lane != kAllLanes && (lane < 0 || lane >= laneCount)) return;
  const int first = lane == kAllLanes ? 0 : lane;
  const int end = lane == kAllLanes ? laneCount : lane + 1;
  std::lock_guard<std::mutex> guard(lock);
  for (int i = first; i < end; ++i) {
    lanes[static_cast<size_t>(i)].notes.clear();
    lanes[static_cast<size_t>(i)].length = static_cast<uint32_t>(cycleLength);
    laneStates[static_cast<size_t>(i)].noteIndex.store(0, std::memory_order_relaxed);
  }
  changeCount.fetch_add(1, std::memory_order_relaxed);
}

void Sequencer::removeNote(int lane, int index) {
  if (lane < 0 || lane >= static_cast<int>(lanes.size())) return;
  std::lock_guard<std::mutex> guard(lock);
  std::vector<SeqNote>& notes = lanes[static_cast<size_t>(lane)].notes;
  if (index < 0 || index >= static_cast<int>(notes.size())) return;
  notes.erase(notes.begin() + index);
  changeCount.fetch_add(1, std::memory_order_relaxed);
}

float Sequencer::findNoteAt(int lane, int tick) const {
  if (lane < 0 || lane >= static_cast<int>(lanes.size())) return -1.0f;
  std::lock_guard<std::mutex> guard(lock);
  const std::vector<SeqNote>& notes = lanes[static_cast<size_t>(lane)].notes;
  for (size_t i = 0; i < notes.size(); ++i) {
    const int start = notes[i].start;
    const int length = notes[i].length;
    if (start < tick && tick < start + length) {
      return static_cast<float>(i) + static_cast<float>(tick - start) / static_cast<float>(length + 1);
    }
  }
  return -1.0f;
}

int Sequencer::serialize(uint8_t* bytes, int size) const {
  int32_t pos = 0;
  {
    std::lock_guard<std::mutex> guard(lock);
    for (const SeqLane& lane : lanes) {
      const int32_t n = std::min<int32_t>(static_cast<int32_t>(lane.notes.size()), kMaxStoredNotes);
      streamWriteInt(bytes, &pos, size, n, 1);
      streamWriteInt(bytes, &pos, size, static_cast<int32_t>(lane.length), 1);
      for (int32_t i = 0; i < n; ++i) {
        const SeqNote& note = lane.notes[static_cast<size_t>(i)];
        streamWriteInt(bytes, &pos, size, note.start, 2);
        streamWriteInt(bytes, &pos, size, note.length, 2);
        streamWriteInt(bytes, &pos, size, note.velocity, 2);
      }
    }
  }
  for (const Param& param : params) param.serialize(bytes, &pos, size);
  return pos;
}

int Sequencer::deserialize(const uint8_t* bytes, int size, int version) {
  int32_t pos = 0;
  {
    std::lock_guard<std::mutex> guard(lock);
    for (size_t i = 0; i < lanes.size(); ++i) {
      SeqLane& lane = lanes[i];
      const int32_t n = streamReadInt(bytes, &pos, size, 1, 0);
      const int32_t length = streamReadInt(bytes, &pos, size, 1, 0);
      // The player divides by the lane length: a stored 0 loads as the cycle length.
      lane.length = static_cast<uint32_t>(length == 0 ? cycleLength : length);
      lane.notes.resize(static_cast<size_t>(n));
      for (SeqNote& note : lane.notes) {
        note.start = static_cast<uint16_t>(streamReadInt(bytes, &pos, size, 2, 0));
        note.length = static_cast<uint16_t>(streamReadInt(bytes, &pos, size, 2, 0));
        note.velocity = static_cast<uint8_t>(streamReadInt(bytes, &pos, size, 2, 0) & 0xFF);
        note.lane = static_cast<uint8_t>(i);
      }
      // The player and the export rely on start order; a damaged block may not keep it.
      std::stable_sort(lane.notes.begin(), lane.notes.end(),
                       [](const SeqNote& a, const SeqNote& b) { return a.start < b.start; });
    }
  }
  // The parameters are not guarded by the lock, and a change listener must be free to call
  // back into the sequencer.
  for (Param& param : params) param.deserialize(bytes, &pos, size, version);
  changeCount.fetch_add(1, std::memory_order_relaxed);
  return pos;
}

std::vector<uint8_t> Sequencer::buildExportEvents() const {
  struct Event {
    int32_t tick;
    uint16_t length;
    uint8_t velocity;  // 0 marks a note-off
    uint8_t lane;
  };
  std::vector<Event> events;
  events.reserve(kExportReserve);
  const float swing = params[kSwing].effectiveValue() / 100.0f;
  {
    std::lock_guard<std::mutex> guard(lock);
    for (size_t i = 0; i < lanes.size(); ++i) {
      const size_t first = events.size();
      float jitter = 0.0f;
      float previous = 0.0f;
      for (const SeqNote& note : lanes[i].notes) {
        const float t0 = static_cast<float>(note.start) / static_cast<float>(kTicksPerStep);
        randomizeTiming(jitter, 2.0f * (t0 - previous));
        previous = t0;
        // Place the note where the live swing plays it.
        const float t = t0 + jitter;
        float q = std::fmod(t, 2.0f);
        if (q >= 1.0f) q = 2.0f - q;
        // Ticks stay in 32 bits: a note pulled before zero starts at zero instead of wrapping
        // to the end, and a note-off never comes before its note-on.
        int32_t tick = truncToInt((q * swing + t) * static_cast<float>(kTicksPerStep) + 0.5f);
        if (tick < 0) tick = 0;
        const int32_t off = std::max(tick, tick + static_cast<int32_t>(note.length) - 1);
        const uint8_t velocity = static_cast<uint8_t>(randomizeVelocity(note.velocity));
        events.push_back({tick, note.length, velocity, static_cast<uint8_t>(i)});
        events.push_back({off, 0, 0, static_cast<uint8_t>(i)});
      }
      // No event of a lane may come after the one that follows it (an overlapping note ends
      // where the next one starts).
      for (size_t k = events.size(); k >= first + 2; --k) {
        Event& e = events[k - 2];
        e.tick = std::min(e.tick, events[k - 1].tick);
      }
    }
  }
  std::stable_sort(events.begin(), events.end(),
                   [](const Event& a, const Event& b) { return a.tick < b.tick; });

  std::vector<uint8_t> out;
  out.reserve(events.size() * 5);
  int32_t previousTick = 0;
  for (const Event& e : events) {
    writeVarLen(out, static_cast<uint32_t>(e.tick - previousTick));
    previousTick = e.tick;
    const bool on = e.velocity > 0;
    out.push_back(on ? 0x90 : 0x80);
    out.push_back(static_cast<uint8_t>(kFirstExportKey + e.lane));
    out.push_back(on ? e.velocity : 64);
  }
  return out;
}

void Sequencer::randomizeTiming(float& jitter, float dt) const {
  float c = 1.0f - dt / (dt + kLooseTimeConstant);
  // Only a negative or non-finite interval leaves 0..1; the walk then holds still.
  if (!(c <= 1.0f)) c = 1.0f;
  if (c < 0.0f) c = 0.0f;
  const float amount = params[kLooseTime].effectiveValue() * kLooseTimeMaxSteps / 100.0f;
  const float r = draw();
  jitter = std::sqrt(1.0f - c * c) * amount * (2.0f * r - 1.0f) + c * jitter;
}

int Sequencer::randomizeVelocity(int velocity) const {
  const float r = draw();
  const int32_t spread = truncToInt((r - 0.5f) * params[kLooseVelo].effectiveValue());
  return clamp(static_cast<int32_t>(velocity) + spread, 1, kMaxVelocity);
}
