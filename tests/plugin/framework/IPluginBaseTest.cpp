#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "plugin/framework/IByteChunk.h"
#include "tests/plugin/framework/FrameworkTestPlugin.h"

using iplug::IByteChunk;

namespace {

IByteChunk chunkOf(const std::vector<uint8_t>& bytes) {
  IByteChunk chunk;
  chunk.PutBytes(bytes.data(), static_cast<int>(bytes.size()));
  return chunk;
}

// Little-endian IEEE doubles 0.5, 1.0 and -2.0.
const std::vector<uint8_t> kThreeValues = {0, 0, 0,    0,    0, 0, 0xE0, 0x3F, 0, 0, 0, 0,
                                           0, 0, 0xF0, 0x3F, 0, 0, 0,    0,    0, 0, 0, 0xC0};

}  // namespace

TEST(IByteChunk, GetsNeverRunPastTheEnd) {
  IByteChunk chunk;
  const int32_t a = 0x01020304;
  EXPECT_EQ(chunk.Put(&a), 4);
  EXPECT_EQ(chunk.PutBytes("xyz", 3), 7);
  EXPECT_EQ(chunk.PutBytes(nullptr, 1), -1);
  EXPECT_EQ(chunk.PutBytes("x", -1), -1);
  EXPECT_EQ(chunk.GetData()[0], 0x04);  // little-endian
  int32_t b = 0;
  EXPECT_EQ(chunk.Get(&b, 0), 4);
  EXPECT_EQ(b, a);
  EXPECT_EQ(chunk.Get(&b, 4), -1);  // three bytes left
  EXPECT_EQ(chunk.Get(&b, -1), -1);
  EXPECT_EQ(chunk.Get(&b, std::numeric_limits<int>::max()), -1);
  char out[3];
  EXPECT_EQ(chunk.GetBytes(out, 3, 4), 7);
  EXPECT_EQ(chunk.GetBytes(out, -1, 0), -1);
  EXPECT_EQ(chunk.Resize(-1), 7);
  EXPECT_EQ(chunk.Resize(IByteChunk::kMaxSize + 1), 7);
  EXPECT_EQ(chunk.Resize(9), 9);
  EXPECT_EQ(chunk.GetData()[8], 0);
}

TEST(IPluginBase, ParameterStateBytes) {
  FrameworkTestPlugin plug(3);
  const double values[] = {0.5, 1.0, -2.0};
  for (int i = 0; i < 3; ++i) plug.GetParam(i)->Set(values[i]);
  IByteChunk chunk;
  ASSERT_TRUE(plug.SerializeState(chunk));
  ASSERT_EQ(chunk.Size(), 24);
  EXPECT_EQ(std::vector<uint8_t>(chunk.GetData(), chunk.GetData() + 24), kThreeValues);

  FrameworkTestPlugin other(3);
  EXPECT_EQ(other.UnserializeState(chunkOf(kThreeValues), 0), 24);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(other.GetParam(i)->Value(), values[i]);
  // One "change" and one "ui" line per parameter, in order, as a preset recall.
  ASSERT_EQ(other.log.size(), 6u);
  EXPECT_EQ(other.log[0], "change 0 2 -1");
  EXPECT_EQ(other.log[5], "ui 2 2");

  FrameworkTestPlugin shifted(3);
  EXPECT_EQ(shifted.UnserializeParams(chunkOf(kThreeValues), 8), -1);
  EXPECT_EQ(shifted.GetParam(0)->Value(), 1.0);
  EXPECT_EQ(shifted.GetParam(1)->Value(), -2.0);
  EXPECT_EQ(shifted.GetParam(2)->Value(), 0.0);
  EXPECT_EQ(shifted.log.size(), 6u);  // the reset notification comes even for a short chunk
  EXPECT_EQ(shifted.UnserializeParams(chunkOf(kThreeValues), -8), -1);
}

TEST(IPluginBase, StoredValuesAreConstrainedAndNonFiniteOnesSkipped) {
  FrameworkTestPlugin plug(3);
  plug.GetParam(1)->Set(4.0);
  const double stored[] = {25.0, std::numeric_limits<double>::quiet_NaN(), -1e300};
  std::vector<uint8_t> bytes(sizeof(stored));
  std::memcpy(bytes.data(), stored, sizeof(stored));
  EXPECT_EQ(plug.UnserializeParams(chunkOf(bytes), 0), 24);
  EXPECT_EQ(plug.GetParam(0)->Value(), 10.0);
  EXPECT_EQ(plug.GetParam(1)->Value(), 4.0);
  EXPECT_EQ(plug.GetParam(2)->Value(), -10.0);
}

TEST(IPluginBase, FirstRestoreOfAPresetCapturesTheStateAsAUserPreset) {
  struct PresetPlugin : FrameworkTestPlugin {
    PresetPlugin() : FrameworkTestPlugin(1) {
      for (int i = 0; i < 3; ++i) mPresets.push_back(std::make_unique<Preset>());
      std::strcpy(mPresets[0]->mName, "empty");
      std::strcpy(mPresets[1]->mName, "user preset 1");
      std::strcpy(mPresets[2]->mName, "empty");
    }
  } plug;
  EXPECT_FALSE(plug.RestorePreset(3));
  EXPECT_FALSE(plug.RestorePreset(-1));
  EXPECT_STREQ(plug.GetPresetName(7), "");
  plug.GetParam(0)->Set(1.5);
  EXPECT_TRUE(plug.RestorePreset(2));
  EXPECT_STREQ(plug.GetPresetName(2), "user preset 2");
  EXPECT_EQ(plug.GetCurrentPresetIdx(), 2);
  plug.GetParam(0)->Set(-3.0);
  EXPECT_TRUE(plug.RestorePreset(2));  // now restores what it captured
  EXPECT_EQ(plug.GetParam(0)->Value(), 1.5);
}
