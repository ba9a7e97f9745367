// The renderer's MIDI file reader: times through the tempo map, running status, SMPTE time, the
// order of simultaneous events, and damaged files refused with a reason.
#include <gtest/gtest.h>

#include <tuple>

#include "support/TestAudio.h"
#include "tests/tools/oskra-render/MidiBytes.h"
#include "tools/oskra-render/MidiFileReader.h"

using namespace midibytes;
using oskrarender::ReadMidiFile;
using oskrarender::Song;

namespace {

bool read(const Bytes& bytes, Song& song, std::string& error) {
  testaudio::TempFolder folder;
  const std::string path = folder.file("song.mid");
  EXPECT_TRUE(testaudio::writeFileBytes(path, bytes));
  return ReadMidiFile(path, song, error);
}

// 480 ticks per quarter: a tempo track (120 BPM, 60 BPM from tick 960) and a note track that
// uses running status and a note-on of velocity 0 as its note-off.
Bytes twoTrackSong() {
  const Bytes tempoTrack = chunk("MTrk", cat({tempo(0, 500000), tempo(960, 1000000), endOfTrack()}));
  const Bytes notes = chunk("MTrk", cat({event(480, {0x99, 38, 100}), event(480, {38, 0}),
                                         event(480, {0x80, 38, 0}), event(0, {0xE0, 0, 64}),
                                         event(0, {0xFF, 0x01, 0x02, 'h', 'i'}), event(0, {0xF0, 0x01, 0xF7}),
                                         endOfTrack()}));
  return cat({header(1, 2, 480), tempoTrack, notes});
}

}  // namespace

TEST(MidiFileReader, TimesFollowTheTempoMap) {
  Song song;
  std::string error;
  ASSERT_TRUE(read(twoTrackSong(), song, error)) << error;
  // tick 480 at 120 BPM = 0.5 s; tick 960 = 1 s; tick 1440 at 60 BPM = 2 s.
  const std::vector<std::tuple<double, int, int, int>> expected = {
      {0.5, 0x99, 38, 100}, {1.0, 0x99, 38, 0}, {2.0, 0x80, 38, 0}, {2.0, 0xE0, 0, 64}};
  std::vector<std::tuple<double, int, int, int>> got;
  for (const auto& e : song.events) got.emplace_back(e.seconds, e.status, e.data1, e.data2);
  EXPECT_EQ(got, expected);
  EXPECT_DOUBLE_EQ(song.bpmAt(0.99), 120.0);
  EXPECT_DOUBLE_EQ(song.bpmAt(1.5), 60.0);
  EXPECT_DOUBLE_EQ(song.quartersAt(3.0), 4.0);  // 2 quarters in the first second, then 1 per second
}

TEST(MidiFileReader, SmpteTimeAndSimultaneousNotes) {
  // 25 frames per second, 40 ticks per frame: a tick is a millisecond. Two tracks: a new note
  // and the old note's end at the same tick; the end comes first whatever the track order.
  const Bytes on = chunk("MTrk", cat({event(1500, {0x90, 36, 90}), endOfTrack()}));
  const Bytes off = chunk("MTrk", cat({event(1500, {0x90, 36, 0}), endOfTrack()}));
  Song song;
  std::string error;
  ASSERT_TRUE(read(cat({header(1, 2, 0xE728), on, off}), song, error)) << error;
  ASSERT_EQ(song.events.size(), 2u);
  EXPECT_DOUBLE_EQ(song.events[0].seconds, 1.5);
  EXPECT_EQ(song.events[0].data2, 0);
  EXPECT_EQ(song.events[1].data2, 90);
}

TEST(MidiFileReader, DamagedFilesAreRefusedWithAReason) {
  const Bytes good = twoTrackSong();
  const Bytes track = chunk("MTrk", cat({event(0, {0x90, 36, 90}), endOfTrack()}));
  struct Case {
    const char* what;
    Bytes bytes;
    const char* reason;
  } const cases[] = {
      {"empty", {}, "not a Standard MIDI File"},
      {"not MIDI", Bytes(100, 'x'), "not a Standard MIDI File"},
      {"format 2", cat({header(2, 1, 480), track}), "format 2"},
      {"division 0", cat({header(0, 1, 0), track}), "division"},
      {"no tracks", header(0, 0, 480), "0 tracks"},
      {"two tracks in format 0", cat({header(0, 2, 480), track, track}), "2 tracks"},
      {"data without status", cat({header(0, 1, 480), chunk("MTrk", event(0, {36, 90}))}), "without a status"},
      {"five-byte time", cat({header(0, 1, 480), chunk("MTrk", Bytes{0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 1, 1})}),
       "longer than four"},
      {"data byte above 127", cat({header(0, 1, 480), chunk("MTrk", event(0, {0x90, 0x80, 1}))}), "above 127"},
      {"event cut off", cat({header(0, 1, 480), chunk("MTrk", event(0, {0x90, 36}))}), "middle of an event"},
      {"chunk past the end", Bytes(good.begin(), good.end() - 3), "past the end"},
      {"meta length past its chunk", cat({header(0, 1, 480), chunk("MTrk", event(0, {0xFF, 0x01, 0x7F}))}),
       "past the end"},
  };
  for (const Case& c : cases) {
    Song song;
    song.events.push_back({9.0, 0x90, 1, 1});
    std::string error;
    EXPECT_FALSE(read(c.bytes, song, error)) << c.what;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
    EXPECT_NE(error.find("song.mid"), std::string::npos) << c.what;
    EXPECT_EQ(song.events.size(), 1u) << c.what;  // left as it was
  }
  // Every cut of a good file is either refused or read, never more.
  for (size_t n = 0; n < good.size(); ++n) {
    Song song;
    std::string error;
    if (read(Bytes(good.begin(), good.begin() + static_cast<long>(n)), song, error)) {
      EXPECT_LE(song.events.size(), 4u);
    }
  }
}
