#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "plugin/framework/IByteChunk.h"
#include "tests/plugin/framework/FrameworkTestPlugin.h"

using iplug::IByteChunk;

namespace {

IByteChunk chunkOf(const void* bytes, int size) {
  IByteChunk chunk;
  chunk.PutBytes(bytes, size);
  return chunk;
}

// Little-endian IEEE doubles 0.5, 1.0 and -2.0.
const uint8_t kThreeValues[24] = {0, 0, 0, 0, 0, 0, 0xE0, 0x3F, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F,
                                  0, 0, 0, 0, 0, 0, 0,    0xC0};

}  // namespace

TEST(IByteChunk, GetsNeverRunPastTheEnd) {
  IByteChunk chunk;
  const int32_t a = 0x01020304;
  EXPECT_EQ(chunk.Put(&a), 4);
  EXPECT_EQ(chunk.PutBytes("xyz", 3), 7);
  EXPECT_EQ(chunk.PutBytes(nullptr, 1), -1);
  int32_t b = 0;
  EXPECT_EQ(chunk.Get(&b, 0), 4);
  EXPECT_EQ(b, a);
  for (int pos : {4, -1, std::numeric_limits<int>::max()}) EXPECT_EQ(chunk.Get(&b, pos), -1) << pos;
  EXPECT_EQ(chunk.Resize(IByteChunk::kMaxSize + 1), 7);
}

TEST(IPluginBase, ParameterStateBytes) {
  FrameworkTestPlugin plug(3);
  const double values[] = {0.5, 1.0, -2.0};
  for (int i = 0; i < 3; ++i) plug.GetParam(i)->Set(values[i]);
  IByteChunk chunk;
  ASSERT_TRUE(plug.SerializeState(chunk));
  ASSERT_EQ(chunk.Size(), 24);
  EXPECT_EQ(std::memcmp(chunk.GetData(), kThreeValues, 24), 0);

  FrameworkTestPlugin other(3);
  EXPECT_EQ(other.UnserializeState(chunkOf(kThreeValues, 24), 0), 24);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(other.GetParam(i)->Value(), values[i]);
  ASSERT_EQ(other.log.size(), 6u);  // then a preset recall, per parameter in order
  EXPECT_EQ(other.log[0], "change 0 2 -1");
  EXPECT_EQ(other.log[5], "ui 2 2");

  FrameworkTestPlugin shifted(3);
  EXPECT_EQ(shifted.UnserializeParams(chunkOf(kThreeValues, 24), 8), -1);
  EXPECT_EQ(shifted.GetParam(0)->Value(), 1.0);
  EXPECT_EQ(shifted.GetParam(1)->Value(), -2.0);
  EXPECT_EQ(shifted.GetParam(2)->Value(), 0.0);
  EXPECT_EQ(shifted.log.size(), 6u);  // the recall is announced even for a short chunk
  EXPECT_EQ(shifted.UnserializeParams(chunkOf(kThreeValues, 24), -8), -1);
}

TEST(IPluginBase, StoredValuesAreConstrainedAndNonFiniteOnesSkipped) {
  FrameworkTestPlugin plug(3);
  plug.GetParam(1)->Set(4.0);
  const double stored[] = {25.0, std::numeric_limits<double>::quiet_NaN(), -1e300};
  EXPECT_EQ(plug.UnserializeParams(chunkOf(stored, sizeof(stored)), 0), 24);
  EXPECT_EQ(plug.GetParam(0)->Value(), 10.0);
  EXPECT_EQ(plug.GetParam(1)->Value(), 4.0);
  EXPECT_EQ(plug.GetParam(2)->Value(), -10.0);
}
