#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/framework/IPlugProcessor.h"

using iplug::IOConfig;
using iplug::IPlugProcessor;
using iplug::kInput;
using iplug::kOutput;

namespace {

constexpr const char* kNineBuses =
    "0-2 0-2.2 0-2.2.2 0-2.2.2.2 0-2.2.2.2.2 0-2.2.2.2.2.2 0-2.2.2.2.2.2.2 0-2.2.2.2.2.2.2.2 0-2.2.2.2.2.2.2.2.2";

iplug::Config configFor(const char* channelIO, int latency = 0) {
  iplug::Config config;
  config.channelIOStr = channelIO;
  config.latency = latency;
  return config;
}

// Writes 100 * (channel + 1) + frame into every output it is given.
struct TestProcessor : IPlugProcessor {
  using IPlugProcessor::IPlugProcessor;
  bool SendMidiMsg(const iplug::IMidiMsg&) override { return true; }
  void ProcessBlock(float**, float** outputs, int nFrames) override {
    lastFrames = nFrames;
    for (int ch = 0; ch < MaxNChannels(kOutput); ++ch) {
      for (int i = 0; i < nFrames; ++i) outputs[ch][i] = static_cast<float>(100 * (ch + 1) + i);
    }
  }
  int lastFrames = -1;
};

}  // namespace

TEST(ChannelIO, ThePluginsConfigurations) {
  TestProcessor proc(configFor(kNineBuses));
  EXPECT_EQ(proc.NIOConfigs(), 9);
  EXPECT_EQ(proc.MaxNChannels(kInput), 0);
  EXPECT_EQ(proc.MaxNChannels(kOutput), 18);
  int configIdx = -1;
  EXPECT_EQ(proc.MaxNBuses(kOutput, &configIdx), 9);
  EXPECT_EQ(configIdx, 8);
  EXPECT_EQ(proc.MaxNBuses(kInput), 0);
  EXPECT_EQ(proc.MaxNChannelsForBus(kOutput, 8), 2);
  EXPECT_EQ(proc.MaxNChannelsForBus(kInput, 0), 0);
  const int one[] = {2};
  const int three[] = {2, 2, 2};
  const int mono[] = {1};
  EXPECT_EQ(proc.GetIOConfigWithChanCounts({}, one), 0);
  EXPECT_EQ(proc.GetIOConfigWithChanCounts({}, three), 2);
  EXPECT_EQ(proc.GetIOConfigWithChanCounts({}, mono), -1);
  EXPECT_EQ(proc.GetIOConfigWithChanCounts(one, one), -1);
}

TEST(ChannelIO, TextsWellFormedAndMalformed) {
  struct Case {
    const char* text;
    int configs, maxIn, maxOut, maxInBuses, maxOutBuses;
  };
  std::string tooManyBuses = "0-1";
  for (int i = 0; i < iplug::kMaxBusesPerSide; ++i) tooManyBuses += ".1";
  const Case cases[] = {
      {"0-2", 1, 0, 2, 0, 1},
      {"2-2 2.2-2", 2, 4, 2, 2, 1},
      {"0-2.2 0-1.1", 2, 0, 4, 0, 2},
      {"*-2", 1, 0, 2, 1, 1},  // a wildcard bus counts no channels in the totals
      {"  0-2   1-1 ", 2, 1, 2, 1, 1},
      {"x-2.y", 1, 0, 2, 0, 1},  // counts that are not numbers add no bus
      {"2", 1, 2, 0, 1, 0},      // no "-": inputs only
      {"", 0, 0, 0, 0, 0},
      {"0--2", 0, 0, 0, 0, 0},
      {"0-2-2", 0, 0, 0, 0, 0},
      {"0-65", 0, 0, 0, 0, 0},
      {"0-99999999999999999999", 0, 0, 0, 0, 0},
      {tooManyBuses.c_str(), 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    std::vector<IOConfig> configs(3);
    int got[4] = {-1, -1, -1, -1};
    EXPECT_EQ(iplug::ParseChannelIOStr(c.text, configs, got[0], got[1], got[2], got[3]), c.configs) << c.text;
    EXPECT_EQ(static_cast<int>(configs.size()), c.configs);
    EXPECT_EQ(got[0], c.maxIn) << c.text;
    EXPECT_EQ(got[1], c.maxOut) << c.text;
    EXPECT_EQ(got[2], c.maxInBuses) << c.text;
    EXPECT_EQ(got[3], c.maxOutBuses) << c.text;
  }
  TestProcessor wild(configFor("*-2 2-2"));
  EXPECT_EQ(wild.GetIOConfig(0)->NChansOnBus(kInput, 0), iplug::IBusInfo::kWildcardChannels);
  EXPECT_EQ(wild.MaxNChannelsForBus(kInput, 0), -1);
  TestProcessor tie(configFor("0-2.2 0-1.1"));
  int configIdx = -1;
  EXPECT_EQ(tie.MaxNBuses(kOutput, &configIdx), 2);
  EXPECT_EQ(configIdx, 1);
}

TEST(IPlugProcessor, EveryOutputIsWritableAndOnlyConnectedOnesReachTheHost) {
  TestProcessor proc(configFor(kNineBuses));
  ASSERT_TRUE(proc.SetBlockSize(64));
  // Buses 0 and 2 active, bus 1 inactive: its host buffer must stay untouched.
  std::vector<std::vector<float>> host(3, std::vector<float>(64, -1.0f));
  float* bus[3] = {host[0].data(), host[1].data(), host[2].data()};
  proc.SetChannelConnections(kOutput, 0, 18, false);
  proc.SetChannelConnections(kOutput, 0, 1, true);
  proc.SetChannelConnections(kOutput, 4, 1, true);
  proc.AttachBuffers(kOutput, 0, 2, &bus[0], 64);
  proc.AttachBuffers(kOutput, 2, 2, &bus[1], 64);
  proc.AttachBuffers(kOutput, 4, 1, &bus[2], 64);
  proc.ProcessBuffers(0.0f, 64);
  EXPECT_EQ(host[0][5], 105.0f);
  EXPECT_EQ(host[1][5], -1.0f);
  EXPECT_EQ(host[2][5], 505.0f);
  EXPECT_EQ(proc.NChannelsConnected(kOutput), 2);
  // A longer block than prepared renders only what was prepared.
  proc.ProcessBuffers(0.0f, 1000);
  EXPECT_EQ(proc.lastFrames, 64);
  // Ranges beyond the channels and missing host arrays are held safe.
  proc.SetChannelConnections(kOutput, 16, 100, true);
  proc.AttachBuffers(kOutput, 16, 100, static_cast<float**>(nullptr), 64);
  proc.SetChannelConnections(kOutput, -5, 2, true);
  proc.ProcessBuffers(0.0f, 64);
  EXPECT_EQ(proc.NChannelsConnected(kOutput), 4);
}

TEST(IPlugProcessor, DoubleBuffersConvertConnectedOutputsOnly) {
  TestProcessor proc(configFor("0-2.2"));
  ASSERT_TRUE(proc.SetBlockSize(32));
  std::vector<std::vector<double>> host(4, std::vector<double>(32, -1.0));
  double* channels[4] = {host[0].data(), host[1].data(), host[2].data(), host[3].data()};
  proc.SetChannelConnections(kOutput, 0, 4, true);
  proc.AttachBuffers(kOutput, 0, 4, channels, 32);
  proc.ProcessBuffers(0.0, 32);
  EXPECT_EQ(host[1][31], 231.0);
  EXPECT_EQ(host[2][31], 331.0);
  // The host switches bus 1 off: its buffer, handed over last block, is not ours any more.
  host[2].assign(32, -1.0);
  proc.SetChannelConnections(kOutput, 0, 2, true);
  proc.SetChannelConnections(kOutput, 2, 2, false);
  proc.AttachBuffers(kOutput, 0, 2, &channels[0], 32);
  proc.AttachBuffers(kOutput, 2, 2, &channels[2], 32);
  proc.ProcessBuffers(0.0, 32);
  EXPECT_EQ(host[0][3], 103.0);
  EXPECT_EQ(host[2][31], -1.0);
}

TEST(IPlugProcessor, BlockSizeAndDefaults) {
  TestProcessor proc(configFor("2-2.2"));
  ASSERT_TRUE(proc.SetBlockSize(16));
  proc.SetChannelConnections(kOutput, 0, 4, false);
  proc.ProcessBuffers(0.0f, 16);  // renders into scratch
  EXPECT_TRUE(proc.SetBlockSize(16));
  EXPECT_FALSE(proc.SetBlockSize(-1));
  EXPECT_FALSE(proc.SetBlockSize(IPlugProcessor::kMaxBlockSize + 1));
  EXPECT_EQ(proc.GetBlockSize(), 16);
  proc.SetSampleRate(0.0);
  EXPECT_EQ(proc.GetSampleRate(), 48000.0);
  // The default processing: inputs to outputs where both exist, silence elsewhere.
  float in0[4] = {1, 2, 3, 4}, in1[4] = {5, 6, 7, 8};
  float out[4][4];
  for (auto& o : out) std::fill(o, o + 4, 9.0f);
  float* inputs[2] = {in0, in1};
  float* outputs[4] = {out[0], out[1], out[2], out[3]};
  proc.IPlugProcessor::ProcessBlock(inputs, outputs, 4);
  EXPECT_EQ(out[1][2], 7.0f);
  EXPECT_EQ(out[3][3], 0.0f);
  const char* expected[] = {"Output", "Output 3", "Input", "Main", "Aux", "Input 2"};
  const int args[][3] = {{kOutput, 0, 1}, {kOutput, 3, 9}, {kInput, 0, 1},
                         {kInput, 0, 2},  {kInput, 1, 2},  {kInput, 2, 3}};
  for (int i = 0; i < 6; ++i) {
    WDL_String name;
    proc.GetBusName(static_cast<iplug::ERoute>(args[i][0]), args[i][1], args[i][2], name);
    EXPECT_STREQ(name.Get(), expected[i]);
  }
}

TEST(IPlugProcessor, BypassDelaysInputsByTheLatency) {
  TestProcessor proc(configFor("1-2", 3));
  ASSERT_TRUE(proc.SetBlockSize(8));
  std::vector<float> in = {1, 2, 3, 4, 5, 6, 7, 8};
  std::vector<float> out0(8, 9.0f), out1(8, 9.0f);
  float* input = in.data();
  float* outputs[2] = {out0.data(), out1.data()};
  proc.SetChannelConnections(kInput, 0, 1, true);
  proc.SetChannelConnections(kOutput, 0, 2, true);
  proc.AttachBuffers(kInput, 0, 1, &input, 8);
  proc.AttachBuffers(kOutput, 0, 2, outputs, 8);
  proc.PassThroughBuffers(0.0f, 8);
  EXPECT_EQ(out0, (std::vector<float>{0, 0, 0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(out1, std::vector<float>(8, 0.0f));
}
