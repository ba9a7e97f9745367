#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/framework/IPlugProcessor.h"

using iplug::IPlugProcessor;
using iplug::kInput;
using iplug::kOutput;

namespace {

// Writes 100 * (channel + 1) + frame into every output it is given.
struct TestProcessor : IPlugProcessor {
  explicit TestProcessor(const char* channelIO) : IPlugProcessor(iplug::Config{.channelIOStr = channelIO}) {}
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
  TestProcessor proc("0-2 0-2.2 0-2.2.2 0-2.2.2.2 0-2.2.2.2.2 0-2.2.2.2.2.2 0-2.2.2.2.2.2.2 0-2.2.2.2.2.2.2.2 "
                     "0-2.2.2.2.2.2.2.2.2");
  EXPECT_EQ(proc.NIOConfigs(), 9);
  EXPECT_EQ(proc.MaxNChannels(kInput), 0);
  EXPECT_EQ(proc.MaxNChannels(kOutput), 18);
  int configIdx = -1;
  EXPECT_EQ(proc.MaxNBuses(kOutput, &configIdx), 9);
  EXPECT_EQ(configIdx, 8);
  EXPECT_EQ(proc.MaxNChannelsForBus(kOutput, 8), 2);
  EXPECT_EQ(proc.MaxNChannelsForBus(kInput, 0), 0);
  const int one[] = {2}, three[] = {2, 2, 2}, mono[] = {1};
  EXPECT_EQ(proc.GetIOConfigWithChanCounts({}, one), 0);
  EXPECT_EQ(proc.GetIOConfigWithChanCounts({}, three), 2);
  EXPECT_EQ(proc.GetIOConfigWithChanCounts({}, mono), -1);
  EXPECT_EQ(proc.GetIOConfigWithChanCounts(one, one), -1);
}

TEST(ChannelIO, TextsWellFormedAndMalformed) {
  std::string tooManyBuses = "0-1";
  for (int i = 0; i < iplug::kMaxBusesPerSide; ++i) tooManyBuses += ".1";
  // {text, configurations, most input channels, output channels, input buses, output buses}
  const struct {
    const char* text;
    int expected[5];
  } cases[] = {
      {"0-2", {1, 0, 2, 0, 1}},       {"2-2 2.2-2", {2, 4, 2, 2, 1}},  {"0-2.2 0-1.1", {2, 0, 4, 0, 2}},
      {"*-2", {1, 0, 2, 1, 1}},       {" 0-2   1-1 ", {2, 1, 2, 1, 1}}, {"x-2.y", {1, 0, 2, 0, 1}},
      {"2", {1, 2, 0, 1, 0}},         {"", {0, 0, 0, 0, 0}},           {"0--2", {0, 0, 0, 0, 0}},
      {"0-2-2", {0, 0, 0, 0, 0}},     {"0-65", {0, 0, 0, 0, 0}},       {"0-99999999999999999999", {0, 0, 0, 0, 0}},
      {tooManyBuses.c_str(), {0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    std::vector<iplug::IOConfig> configs(3);
    int got[5] = {};
    got[0] = iplug::ParseChannelIOStr(c.text, configs, got[1], got[2], got[3], got[4]);
    EXPECT_EQ(std::vector<int>(got, got + 5), std::vector<int>(c.expected, c.expected + 5)) << c.text;
    EXPECT_EQ(static_cast<int>(configs.size()), got[0]);
  }
  TestProcessor wild("*-2 2-2");  // a wildcard bus counts no channels in the totals
  EXPECT_EQ(wild.MaxNChannelsForBus(kInput, 0), -1);
  int configIdx = -1;
  EXPECT_EQ(TestProcessor("0-2.2 0-1.1").MaxNBuses(kOutput, &configIdx), 2);
  EXPECT_EQ(configIdx, 1);  // a tie goes to the later one
}

TEST(IPlugProcessor, EveryOutputIsWritableAndOnlyConnectedOnesReachTheHost) {
  TestProcessor proc("0-2 0-2.2.2");
  ASSERT_TRUE(proc.SetBlockSize(64));
  // Buses 0 and 2 active, bus 1 inactive: its host buffer must stay untouched.
  std::vector<std::vector<float>> host(3, std::vector<float>(64, -1.0f));
  float* bus[3] = {host[0].data(), host[1].data(), host[2].data()};
  proc.SetChannelConnections(kOutput, 0, 6, false);
  proc.SetChannelConnections(kOutput, 0, 1, true);
  proc.SetChannelConnections(kOutput, 4, 1, true);
  for (int b = 0; b < 3; ++b) proc.AttachBuffers(kOutput, 2 * b, 2, &bus[b], 64);
  proc.ProcessBuffers(0.0f, 1000);  // longer than prepared: renders what was prepared
  EXPECT_EQ(proc.lastFrames, 64);
  EXPECT_EQ(host[0][5], 105.0f);
  EXPECT_EQ(host[1][5], -1.0f);
  EXPECT_EQ(host[2][5], 505.0f);
  // Ranges beyond the channels and missing host arrays are held safe.
  proc.SetChannelConnections(kOutput, 4, 100, true);
  proc.SetChannelConnections(kOutput, -5, 2, true);
  proc.AttachBuffers(kOutput, 4, 100, static_cast<float**>(nullptr), 64);
  proc.ProcessBuffers(0.0f, 64);
  EXPECT_EQ(proc.NChannelsConnected(kOutput), 3);
}

TEST(IPlugProcessor, DoubleBuffersConvertConnectedOutputsOnly) {
  TestProcessor proc("0-2.2");
  ASSERT_TRUE(proc.SetBlockSize(32));
  std::vector<std::vector<double>> host(4, std::vector<double>(32, -1.0));
  double* channels[4] = {host[0].data(), host[1].data(), host[2].data(), host[3].data()};
  proc.SetChannelConnections(kOutput, 0, 2, true);
  proc.SetChannelConnections(kOutput, 2, 2, false);
  proc.AttachBuffers(kOutput, 0, 2, &channels[0], 32);
  proc.AttachBuffers(kOutput, 2, 2, &channels[2], 32);
  proc.ProcessBuffers(0.0, 32);
  EXPECT_EQ(host[1][31], 231.0);
  EXPECT_EQ(host[2][31], -1.0);
}

TEST(IPlugProcessor, BlockSizeAndBusNames) {
  TestProcessor proc("2-2.2");
  EXPECT_TRUE(proc.SetBlockSize(16));
  for (int n : {-1, IPlugProcessor::kMaxBlockSize + 1}) EXPECT_FALSE(proc.SetBlockSize(n));
  EXPECT_EQ(proc.GetBlockSize(), 16);
  const char* expected[] = {"Output", "Output 3", "Input", "Main", "Aux", "Input 2"};
  const int args[][3] = {{kOutput, 0, 1}, {kOutput, 3, 9}, {kInput, 0, 1},  // {direction, bus, buses}
                         {kInput, 0, 2},  {kInput, 1, 2},  {kInput, 2, 3}};
  for (int i = 0; i < 6; ++i) {
    WDL_String name;
    proc.GetBusName(static_cast<iplug::ERoute>(args[i][0]), args[i][1], args[i][2], name);
    EXPECT_STREQ(name.Get(), expected[i]);
  }
}
