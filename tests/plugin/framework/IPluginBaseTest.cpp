#include <gtest/gtest.h>

#include <climits>
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

std::vector<double> values(const FrameworkTestPlugin& plug) {
  std::vector<double> out;
  for (int i = 0; i < plug.NParams(); ++i) out.push_back(plug.GetParam(i)->Value());
  return out;
}

// Little-endian IEEE doubles 0.5, 1.0 and -2.0.
const uint8_t kThreeValues[24] = {0, 0, 0, 0, 0, 0, 0xE0, 0x3F, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0xC0};

}  // namespace

TEST(IByteChunk, GetsNeverRunPastTheEnd) {
  IByteChunk chunk;
  const int32_t a = 0x01020304;
  EXPECT_EQ(std::vector<int>({chunk.Put(&a), chunk.PutBytes("xyz", 3), chunk.PutBytes(nullptr, 1)}), std::vector<int>({4, 7, -1}));
  int32_t b = 0;
  EXPECT_EQ(chunk.Get(&b, 0), 4);
  EXPECT_EQ(b, a);
  for (int pos : {4, -1, INT_MAX}) EXPECT_EQ(chunk.Get(&b, pos), -1) << pos;
  EXPECT_EQ(chunk.Resize(IByteChunk::kMaxSize + 1), 7);
}

// The bytes the values are written as: the test synth's state (the VST3 bundle's tests).
TEST(IPluginBase, ParameterStateRecallsInOrderAndShortChunks) {
  FrameworkTestPlugin other(3), shifted(3);
  EXPECT_EQ(other.UnserializeState(chunkOf(kThreeValues, 24), 0), 24);
  EXPECT_EQ(values(other), std::vector<double>({0.5, 1.0, -2.0}));
  ASSERT_EQ(other.log.size(), 6u);  // then a preset recall, per parameter in order
  EXPECT_EQ(other.log[0] + "|" + other.log[5], "change 0 2 -1|ui 2 2");
  EXPECT_EQ(shifted.UnserializeParams(chunkOf(kThreeValues, 24), 8), -1);
  EXPECT_EQ(values(shifted), std::vector<double>({1.0, -2.0, 0.0}));
  EXPECT_EQ(shifted.log.size(), 6u);  // the recall is announced even for a short chunk
  EXPECT_EQ(shifted.UnserializeParams(chunkOf(kThreeValues, 24), -8), -1);
}

TEST(IPluginBase, StoredValuesAreConstrainedAndNonFiniteOnesSkipped) {
  FrameworkTestPlugin plug(3);
  plug.GetParam(1)->Set(4.0);
  const double stored[] = {25.0, std::numeric_limits<double>::quiet_NaN(), -1e300};
  EXPECT_EQ(plug.UnserializeParams(chunkOf(stored, sizeof(stored)), 0), 24);
  EXPECT_EQ(values(plug), std::vector<double>({10.0, 4.0, -10.0}));
}
