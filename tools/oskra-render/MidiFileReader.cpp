#include "tools/oskra-render/MidiFileReader.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <exception>
#include <vector>

namespace oskrarender {

namespace {

// A MIDI file larger than this is no song anyone plays; reading it would only cost memory.
constexpr std::streamoff kMaxFileBytes = 64 << 20;
constexpr size_t kMaxEvents = 4'000'000;
constexpr uint32_t kHeaderLength = 6;
constexpr uint32_t kMaxVarLengthBytes = 4;
constexpr double kDefaultMicrosPerQuarter = 500000.0;  // 120 BPM
constexpr double kSecondsPerMinute = 60.0;
constexpr double kMicrosPerMinute = 60e6;
constexpr uint8_t kMetaEvent = 0xFF;
constexpr uint8_t kSysEx = 0xF0;
constexpr uint8_t kSysExContinued = 0xF7;
constexpr uint8_t kMetaTempo = 0x51;
constexpr uint8_t kMetaEndOfTrack = 0x2F;
constexpr uint8_t kProgramChange = 0xC0;
constexpr uint8_t kChannelPressure = 0xD0;

struct TickEvent {
  uint64_t tick;
  SongEvent event;
};

struct TempoChange {
  uint64_t tick;
  double microsPerQuarter;
};

// Reads big-endian numbers and variable-length quantities from the file's bytes, remembering
// the first failure with the byte at which it happened.
class ByteReader {
 public:
  ByteReader(const std::vector<uint8_t>& bytes, size_t begin, size_t end)
      : mBytes(bytes), mPos(begin), mEnd(end) {}

  bool atEnd() const { return mPos >= mEnd; }
  size_t position() const { return mPos; }
  bool failed() const { return !mError.empty(); }
  const std::string& error() const { return mError; }

  bool fail(const std::string& what) {
    if (mError.empty()) mError = "byte " + std::to_string(mPos) + ": " + what;
    return false;
  }

  bool byte(uint8_t& value) {
    if (mPos >= mEnd) return fail("the data ends in the middle of an event");
    value = mBytes[mPos++];
    return true;
  }

  bool bigEndian(uint32_t count, uint32_t& value) {
    value = 0;
    for (uint32_t i = 0; i < count; ++i) {
      uint8_t b = 0;
      if (!byte(b)) return false;
      value = (value << 8) | b;
    }
    return true;
  }

  bool varLength(uint32_t& value) {
    value = 0;
    for (uint32_t i = 0; i < kMaxVarLengthBytes; ++i) {
      uint8_t b = 0;
      if (!byte(b)) return false;
      value = (value << 7) | (b & 0x7F);
      if ((b & 0x80) == 0) return true;
    }
    return fail("a length or time longer than four bytes");
  }

  bool skip(uint32_t count) {
    if (count > mEnd - mPos) return fail("a length reaching past the end of its chunk");
    mPos += count;
    return true;
  }

 private:
  const std::vector<uint8_t>& mBytes;
  size_t mPos;
  size_t mEnd;
  std::string mError;
};

// Data bytes that follow a channel message's status byte.
int dataBytes(uint8_t status) {
  const uint8_t kind = status & 0xF0;
  return kind == kProgramChange || kind == kChannelPressure ? 1 : 2;
}

bool readTrack(ByteReader& in, std::vector<TickEvent>& events, std::vector<TempoChange>& tempo) {
  uint64_t tick = 0;
  uint8_t running = 0;
  while (!in.atEnd()) {
    uint32_t delta = 0;
    if (!in.varLength(delta)) return false;
    tick += delta;
    uint8_t status = 0;
    if (!in.byte(status)) return false;
    if (status == kMetaEvent) {
      running = 0;
      uint8_t type = 0;
      uint32_t length = 0;
      if (!in.byte(type) || !in.varLength(length)) return false;
      if (type == kMetaEndOfTrack) return true;
      if (type == kMetaTempo && length == 3) {
        uint32_t micros = 0;
        if (!in.bigEndian(3, micros)) return false;
        if (micros > 0) tempo.push_back({tick, static_cast<double>(micros)});
        continue;
      }
      if (!in.skip(length)) return false;
    } else if (status == kSysEx || status == kSysExContinued) {
      running = 0;
      uint32_t length = 0;
      if (!in.varLength(length) || !in.skip(length)) return false;
    } else if (status >= 0xF0) {
      return in.fail("a system message that has no place in a MIDI file");
    } else {
      uint8_t first = 0;
      if (status >= 0x80) {
        running = status;
        if (!in.byte(first)) return false;
      } else if (running == 0) {
        return in.fail("a data byte without a status byte before it");
      } else {
        first = status;
        status = running;
      }
      uint8_t second = 0;
      if (dataBytes(status) == 2 && !in.byte(second)) return false;
      if (first > 0x7F || second > 0x7F) return in.fail("a data byte above 127");
      if (events.size() >= kMaxEvents) return in.fail("more events than a song can hold");
      events.push_back({tick, SongEvent{0.0, status, first, second}});
    }
  }
  return true;  // a track may end without its end-of-track event
}

bool readAll(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot open " + path;
    return false;
  }
  file.seekg(0, std::ios::end);
  const std::streamoff size = file.tellg();
  if (size < 0 || size > kMaxFileBytes) {
    error = path + ": not a MIDI file (too large)";
    return false;
  }
  file.seekg(0, std::ios::beg);
  bytes.resize(static_cast<size_t>(size));
  if (size > 0 && !file.read(reinterpret_cast<char*>(bytes.data()), size)) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

bool chunkHeader(ByteReader& in, std::string& id, uint32_t& length) {
  id.clear();
  for (int i = 0; i < 4; ++i) {
    uint8_t c = 0;
    if (!in.byte(c)) return false;
    id.push_back(static_cast<char>(c));
  }
  return in.bigEndian(4, length);
}

// The tempo map from the tempo changes: seconds and quarter notes of every change, with the
// tick at which each starts in `ticks`.
std::vector<TempoPoint> tempoMap(std::vector<TempoChange> changes, double ticksPerQuarter,
                                 std::vector<uint64_t>& ticks) {
  std::stable_sort(changes.begin(), changes.end(),
                   [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
  std::vector<TempoPoint> map{{0.0, 0.0, kMicrosPerMinute / kDefaultMicrosPerQuarter}};
  ticks.assign(1, 0);
  for (const TempoChange& c : changes) {
    const TempoPoint& last = map.back();
    const TempoPoint point{last.seconds + static_cast<double>(c.tick - ticks.back()) / ticksPerQuarter *
                                              kSecondsPerMinute / last.bpm,
                           static_cast<double>(c.tick) / ticksPerQuarter, kMicrosPerMinute / c.microsPerQuarter};
    if (c.tick == ticks.back()) {
      map.back() = point;  // of two changes at one tick the later holds
    } else {
      map.push_back(point);
      ticks.push_back(c.tick);
    }
  }
  return map;
}

}  // namespace

bool ReadMidiFile(const std::string& path, Song& song, std::string& error) {
  try {
    std::vector<uint8_t> bytes;
    if (!readAll(path, bytes, error)) return false;
    ByteReader in(bytes, 0, bytes.size());
    std::string id;
    uint32_t length = 0;
    uint32_t format = 0;
    uint32_t trackCount = 0;
    uint32_t division = 0;
    if (!chunkHeader(in, id, length) || id != "MThd" || length < kHeaderLength) {
      error = path + ": not a Standard MIDI File (it does not start with an MThd header)";
      return false;
    }
    in.bigEndian(2, format);
    in.bigEndian(2, trackCount);
    in.bigEndian(2, division);
    if (in.failed() || !in.skip(length - kHeaderLength)) {
      error = path + ": the MIDI file header is cut short";
      return false;
    }
    if (format > 1) {
      error = path + ": MIDI file format " + std::to_string(format) +
              " is not supported (only formats 0 and 1)";
      return false;
    }
    // Ticks per quarter note, or SMPTE frames per second (negative, in the high byte) times ticks
    // per frame; SMPTE time is read at a fixed 120 BPM of musical position.
    double ticksPerQuarter = 0.0;
    double secondsPerTick = 0.0;
    if ((division & 0x8000) == 0) {
      ticksPerQuarter = division;
    } else {
      const int framesPerSecond = -static_cast<int8_t>(division >> 8);
      const uint32_t ticksPerFrame = division & 0xFF;
      const double fps = framesPerSecond == 29 ? 30000.0 / 1001.0 : framesPerSecond;
      if (fps > 0.0 && ticksPerFrame > 0) secondsPerTick = 1.0 / (fps * ticksPerFrame);
    }
    if (ticksPerQuarter <= 0.0 && secondsPerTick <= 0.0) {
      error = path + ": the MIDI file's time division is 0";
      return false;
    }

    std::vector<TickEvent> events;
    std::vector<TempoChange> tempo;
    uint32_t tracksRead = 0;
    while (!in.atEnd()) {
      if (!chunkHeader(in, id, length) || length > bytes.size() - in.position()) {
        error = path + ": " + (in.failed() ? in.error() : "a chunk reaches past the end of the file");
        return false;
      }
      if (id != "MTrk") {
        in.skip(length);  // chunks of unknown kinds are for other programs
        continue;
      }
      ByteReader track(bytes, in.position(), in.position() + length);
      if (!readTrack(track, events, tempo)) {
        error = path + ": track " + std::to_string(tracksRead + 1) + ", " + track.error();
        return false;
      }
      in.skip(length);
      ++tracksRead;
    }
    if (tracksRead == 0 || (format == 0 && tracksRead != 1)) {
      error = path + ": the MIDI file has " + std::to_string(tracksRead) + " tracks";
      return false;
    }
    (void)trackCount;  // the header's count is a hint: the chunks that are there are read

    Song result;
    std::stable_sort(events.begin(), events.end(),
                     [](const TickEvent& a, const TickEvent& b) { return a.tick < b.tick; });
    if (secondsPerTick > 0.0) {
      result.tempo = {TempoPoint{}};
      for (const TickEvent& e : events) {
        result.events.push_back(e.event);
        result.events.back().seconds = static_cast<double>(e.tick) * secondsPerTick;
      }
    } else {
      std::vector<uint64_t> ticks;
      result.tempo = tempoMap(tempo, ticksPerQuarter, ticks);
      size_t segment = 0;
      for (const TickEvent& e : events) {
        while (segment + 1 < ticks.size() && ticks[segment + 1] <= e.tick) ++segment;
        const TempoPoint& p = result.tempo[segment];
        result.events.push_back(e.event);
        result.events.back().seconds =
            p.seconds + static_cast<double>(e.tick - ticks[segment]) / ticksPerQuarter * kSecondsPerMinute / p.bpm;
      }
    }
    result.sortEvents();
    song = std::move(result);
    return true;
  } catch (const std::exception&) {
    error = path + ": out of memory while reading the MIDI file";
    return false;
  }
}

}  // namespace oskrarender
