// The preset name in a saved state, at and beyond the length a stored text may have: a modified
// state reads back modified however long its name, its name cut to make room for the mark.
#include "engine/core/ByteStream.h"
#include "tests/plugin/FennrakeTestKit.h"

using FennrakePresetName = FennrakeTest;

TEST_F(FennrakePresetName, TheModifiedMarkSurvivesTheLengthCap) {
  constexpr size_t kCap = kStreamStringMaxLen;
  const std::tuple<size_t, bool, size_t> rows[] = {  // name length, modified, length read back
      {10, true, 10},           {kCap - 1, true, kCap - 1}, {kCap, true, kCap - 1}, {kCap + 900, true, kCap - 1},
      {kCap - 1, false, kCap - 1}, {kCap, false, kCap},     {kCap + 900, false, kCap}};
  for (const auto& [length, modified, readBack] : rows) {
    std::string name;
    for (size_t i = 0; i < length; ++i) name += char('a' + i % 26);
    plug->mPresetName = name;
    plug->mChangeCount = modified ? 1 : 0;
    plug->mSeqChangeMark = plug->mSequencer.changeCount.load();
    ASSERT_EQ(plug->IsModified(), modified);
    const std::vector<uint8_t> state = State();
    FennrakePtr reader(new Fennrake);
    ASSERT_EQ(reader->ReadState(state.data(), int(state.size())), int(state.size())) << length;
    EXPECT_EQ(reader->IsModified(), modified) << length;
    EXPECT_EQ(reader->mPresetName.size(), readBack) << length << (modified ? " modified" : "");
    EXPECT_TRUE(reader->mPresetName == name.substr(0, readBack)) << length;  // the name's first bytes
  }
}
