// The renderer's MIDI file reader: times through the tempo map, running status, SMPTE time, the
// order of simultaneous events, and damaged files refused with a reason.
#include <gtest/gtest.h>

#include "support/TestAudio.h"
#include "tests/tools/oskra-render/MidiBytes.h"
#include "tools/oskra-render/MidiFileReader.h"

using namespace midibytes;
using Events = std::vector<std::tuple<double, int, int, int>>;

namespace {

bool read(const Bytes& bytes, oskrarender::Song& song, std::string& error) {
  testaudio::TempFolder folder;
  EXPECT_TRUE(testaudio::writeFileBytes(folder.file("song.mid"), bytes));
  return oskrarender::ReadMidiFile(folder.file("song.mid"), song, error);
}

Events events(const oskrarender::Song& song) {
  Events got;
  for (const auto& e : song.events) got.emplace_back(e.seconds, e.status, e.data1, e.data2);
  return got;
}

// 480 ticks per quarter: a tempo track (120 BPM, 60 BPM from tick 960) and a note track that
// uses running status and a note-on of velocity 0 as its note-off.
const Bytes kTwoTrackSong = cat({header(1, 2, 480), chunk("MTrk", cat({tempo(0, 500000), tempo(960, 1000000), endOfTrack()})),
                                 chunk("MTrk", cat({event(480, {0x99, 38, 100}), event(480, {38, 0}), event(480, {0x80, 38, 0}),
                                                    event(0, {0xE0, 0, 64}), event(0, {0xFF, 0x01, 0x02, 'h', 'i'}),
                                                    event(0, {0xF0, 0x01, 0xF7}), endOfTrack()}))});

}  // namespace

TEST(MidiFileReader, TimesFollowTheTempoMapAndSmpteTime) {
  oskrarender::Song song;
  std::string error;
  ASSERT_TRUE(read(kTwoTrackSong, song, error)) << error;
  // tick 480 at 120 BPM = 0.5 s; tick 960 = 1 s; tick 1440 at 60 BPM = 2 s.
  EXPECT_EQ(events(song), (Events{{0.5, 0x99, 38, 100}, {1.0, 0x99, 38, 0}, {2.0, 0x80, 38, 0}, {2.0, 0xE0, 0, 64}}));
  EXPECT_DOUBLE_EQ(song.bpmAt(0.99), 120.0);
  EXPECT_DOUBLE_EQ(song.bpmAt(1.5), 60.0);
  EXPECT_DOUBLE_EQ(song.quartersAt(3.0), 4.0);  // 2 quarters in the first second, then 1 per second
  // 25 frames per second, 40 ticks per frame: a tick is a millisecond. Two tracks: a new note and
  // the old note's end at the same tick; the end comes first whatever the track order.
  const Bytes on = chunk("MTrk", cat({event(1500, {0x90, 36, 90}), endOfTrack()}));
  const Bytes off = chunk("MTrk", cat({event(1500, {0x90, 36, 0}), endOfTrack()}));
  ASSERT_TRUE(read(cat({header(1, 2, 0xE728), on, off}), song, error)) << error;
  EXPECT_EQ(events(song), (Events{{1.5, 0x90, 36, 0}, {1.5, 0x90, 36, 90}}));
}

TEST(MidiFileReader, DamagedFilesAreRefusedWithAReason) {
  const Bytes track = chunk("MTrk", cat({event(0, {0x90, 36, 90}), endOfTrack()}));
  const std::pair<Bytes, const char*> cases[] = {  // the file, what the reason says
      {Bytes(100, 'x'), "not a Standard MIDI File"},
      {cat({header(2, 1, 480), track}), "format 2"},
      {cat({header(0, 1, 0), track}), "division"},
      {header(0, 0, 480), "0 tracks"},
      {cat({header(0, 2, 480), track, track}), "2 tracks"},
      {cat({header(0, 1, 480), chunk("MTrk", event(0, {36, 90}))}), "without a status"},
      {cat({header(0, 1, 480), chunk("MTrk", Bytes{0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 1, 1})}), "longer than four"},
      {cat({header(0, 1, 480), chunk("MTrk", event(0, {0x90, 0x80, 1}))}), "above 127"},
      {cat({header(0, 1, 480), chunk("MTrk", event(0, {0x90, 36}))}), "middle of an event"},
      {cat({header(0, 1, 480), chunk("MTrk", event(0, {0xFF, 0x01, 0x7F}))}), "past the end"}};  // a meta length
  for (const auto& [bytes, reason] : cases) {
    oskrarender::Song song;
    song.events.push_back({9.0, 0x90, 1, 1});
    std::string error;
    EXPECT_FALSE(read(bytes, song, error)) << reason;
    EXPECT_TRUE(error.find(reason) != std::string::npos && error.find("song.mid") != std::string::npos) << reason << ": " << error;
    EXPECT_EQ(song.events.size(), 1u) << reason;  // left as it was
  }
  // Every cut of a good file is either refused or read, never more.
  for (size_t n = 0; n < kTwoTrackSong.size(); ++n) {
    oskrarender::Song song;
    std::string error;
    EXPECT_TRUE(!read(Bytes(kTwoTrackSong.begin(), kTwoTrackSong.begin() + long(n)), song, error) || song.events.size() <= 4) << n;
  }
}
