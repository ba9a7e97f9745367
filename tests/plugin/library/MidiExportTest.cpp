#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>

#include "engine/sequencer/Sequencer.h"
#include "plugin/files/FileUtils.h"
#include "plugin/library/MidiExport.h"
#include "support/ScopedDataRoot.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes hex(const std::string& text) {
  Bytes bytes;
  for (size_t i = text.find_first_not_of(' '); i < text.size(); i = text.find_first_not_of(' ', i + 2))
    bytes.push_back(uint8_t(std::stoi(text.substr(i, 2), nullptr, 16)));
  return bytes;
}

// The header up to the track length, the track name and time signature twice, the track's end.
const std::string kHead = "4D546864 00000006 0000 0001 1000 4D54726B ";
const std::string kOpening = " 00FF0300 00FF5804 04022408 00FF5804 04022408 ", kEnd = " 00FF2F00";

Bytes exported(const Sequencer& sequencer) {
  const std::string path = ExportMidiFile(sequencer);
  EXPECT_EQ(path, std::string(std::getenv("OSKRA_DATA_DIR")) + "/Oskra Data/sequence_export.mid");
  return ReadFileBytes(path.c_str());
}

// The notes of the file as {key << 16 | on tick, off tick, velocity}, checking the frame, the
// length field, the delta times, and that each note-on is ended before its key starts again.
std::multimap<int64_t, std::pair<int64_t, int>> readBack(const Bytes& f) {
  std::multimap<int64_t, std::pair<int64_t, int>> notes;
  std::map<int, decltype(notes)::iterator> sounding;  // key -> its open note
  if (f.size() < 46) return ADD_FAILURE() << "short file", notes;
  EXPECT_EQ(Bytes(f.begin(), f.begin() + 18), hex(kHead));
  EXPECT_EQ(Bytes(f.begin() + 22, f.begin() + 42), hex(kOpening));
  EXPECT_EQ(Bytes(f.end() - 4, f.end()), hex(kEnd));
  EXPECT_EQ(size_t(f[18]) << 24 | f[19] << 16 | f[20] << 8 | f[21], f.size() - 22);
  int64_t tick = 0, delta = 0;
  for (size_t pos = 42, start = pos; pos + 4 < f.size(); start = pos, delta = 0) {
    while (pos + 4 < f.size() && f[pos] & 0x80) delta = delta << 7 | (f[pos++] & 0x7F);
    tick += delta << 7 | f[pos++];
    const int status = f[pos], key = f[pos + 1], velocity = f[pos + 2];
    EXPECT_TRUE(pos - start <= 4 && key >= 36 && key < 44 && velocity >= 1 && velocity <= 127) << pos;
    if (status == 0x90 && !sounding.count(key)) sounding[key] = notes.insert({int64_t(key) << 16 | tick, {-1, velocity}});
    else if (status == 0x80 && velocity == 64 && sounding.count(key)) sounding[key]->second.first = tick, sounding.erase(key);
    else return ADD_FAILURE() << "event " << status << " of key " << key << " at " << tick, notes;
    pos += 3;
  }
  EXPECT_TRUE(sounding.empty()) << "notes never ended";
  return notes;
}

}  // namespace

TEST(MidiExport, EmptyPatternAndOneNoteByteForByte) {
  ScopedDataRoot root;  // the data folder does not exist yet
  Sequencer sequencer(8, 16, 32);
  EXPECT_EQ(exported(sequencer), hex(kHead + "00000018" + kOpening + kEnd));
  sequencer.addNote(2, 3 * 1024, 1024, 100);  // key 38 after 3072 ticks, ended 1023 ticks later
  EXPECT_EQ(exported(sequencer), hex(kHead + "00000022" + kOpening + "9800 902664 877F 802640" + kEnd));
  std::filesystem::remove_all(root.folder.file("Oskra Data"));  // a file where the folder belongs: no path
  ASSERT_TRUE(WriteTextFile("x", root.folder.file("Oskra Data")));
  EXPECT_EQ(ExportMidiFile(sequencer), "");
}

TEST(MidiExport, RandomPatternsReadBack) {
  ScopedDataRoot root;
  std::mt19937 random(7);
  for (int round = 0; round < 24; ++round) {
    Sequencer sequencer(8, 16, 32);
    const bool straight = round % 2 == 0;  // else swung and loose, so only the counts are known
    for (int p : {Sequencer::kSwing, Sequencer::kLooseTime, Sequencer::kLooseVelo})
      sequencer.params[p].setValue(straight ? 0.0f : float(random() % 101) - (p == Sequencer::kSwing ? 50 : 0));
    std::map<int64_t, std::pair<int64_t, int>> added;  // as readBack gives them, the off tick the latest possible
    for (int n = int(random() % 60); n > 0; --n) {
      const int lane = int(random() % 8), start = int(random() % 16384), length = 1 + int(random() % 4096);
      if (added.emplace(int64_t(36 + lane) << 16 | start, std::pair<int64_t, int>(start + length - 1, n)).second)
        sequencer.addNote(lane, start, length, uint8_t(n));
    }
    const auto notes = readBack(exported(sequencer));
    ASSERT_EQ(notes.size(), added.size()) << round;
    for (auto a = added.cbegin(), r = notes.cbegin(); straight && a != added.end(); ++a, ++r)
      EXPECT_TRUE(r->first == a->first && r->second.first <= a->second.first && r->second.second == a->second.second);
  }
}
