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
    for (int ch = 0; ch < MaxNChannels(kOutput); ++ch)
      for (int i = 0; i < nFrames; ++i) outputs[ch][i] = static_cast<float>(100 * (ch + 1) + i);
  }
  int lastFrames = -1;
};

}  // namespace

TEST(ChannelIO, ThePluginsConfigurations) {
  TestProcessor proc("0-2 0-2.2 0-2.2.2 0-2.2.2.2 0-2.2.2.2.2 0-2.2.2.2.2.2 0-2.2.2.2.2.2.2 0-2.2.2.2.2.2.2.2 "
                     "0-2.2.2.2.2.2.2.2.2");
  int configIdx = -1;
  EXPECT_EQ(std::vector<int>({proc.NIOConfigs(), proc.MaxNChannels(kInput), proc.MaxNChannels(kOutput), proc.MaxNBuses(kOutput, &configIdx),
                              configIdx, proc.MaxNChannelsForBus(kOutput, 8), proc.MaxNChannelsForBus(kInput, 0)}),
            std::vector<int>({9, 0, 18, 9, 8, 2, 0}));
  const int one[] = {2}, three[] = {2, 2, 2}, mono[] = {1};
  EXPECT_EQ(std::vector<int>({proc.GetIOConfigWithChanCounts({}, one), proc.GetIOConfigWithChanCounts({}, three),
                              proc.GetIOConfigWithChanCounts({}, mono), proc.GetIOConfigWithChanCounts(one, one)}),
            std::vector<int>({0, 2, -1, -1}));
}

TEST(ChannelIO, TextsWellFormedAndMalformed) {
  std::string tooManyBuses = "0-1";
  for (int i = 0; i < iplug::kMaxBusesPerSide; ++i) tooManyBuses += ".1";
  // {text, configurations, most input channels, output channels, input buses, output buses}
  const std::pair<const char*, std::vector<int>> cases[] = {
      {"0-2", {1, 0, 2, 0, 1}},       {"2-2 2.2-2", {2, 4, 2, 2, 1}},  {"0-2.2 0-1.1", {2, 0, 4, 0, 2}},
      {"*-2", {1, 0, 2, 1, 1}},       {" 0-2   1-1 ", {2, 1, 2, 1, 1}}, {"x-2.y", {1, 0, 2, 0, 1}},
      {"2", {1, 2, 0, 1, 0}},         {"", {0, 0, 0, 0, 0}},           {"0--2", {0, 0, 0, 0, 0}},
      {"0-2-2", {0, 0, 0, 0, 0}},     {"0-65", {0, 0, 0, 0, 0}},       {"0-99999999999999999999", {0, 0, 0, 0, 0}},
      {tooManyBuses.c_str(), {0, 0, 0, 0, 0}}};
  for (const auto& [text, expected] : cases) {
    std::vector<iplug::IOConfig> configs(3);
    std::vector<int> got(5);
    got[0] = iplug::ParseChannelIOStr(text, configs, got[1], got[2], got[3], got[4]);
    EXPECT_EQ(got, expected) << text;
    EXPECT_EQ(static_cast<int>(configs.size()), got[0]);
  }
  EXPECT_EQ(TestProcessor("*-2 2-2").MaxNChannelsForBus(kInput, 0), -1);  // a wildcard bus counts no channels in the totals
  int configIdx = -1;
  EXPECT_EQ(TestProcessor("0-2.2 0-1.1").MaxNBuses(kOutput, &configIdx), 2);
  EXPECT_EQ(configIdx, 1);  // a tie goes to the later one
}

TEST(IPlugProcessor, EveryOutputIsWritableAndOnlyConnectedOnesReachTheHost) {
  TestProcessor proc("0-2 0-2.2.2");
  for (int n : {-1, IPlugProcessor::kMaxBlockSize + 1}) EXPECT_FALSE(proc.SetBlockSize(n));
  ASSERT_TRUE(proc.SetBlockSize(64));
  // Buses 0 and 2 active, bus 1 inactive: its host buffer must stay untouched.
  std::vector<std::vector<float>> host(3, std::vector<float>(64, -1.0f));
  float* bus[3] = {host[0].data(), host[1].data(), host[2].data()};
  proc.SetChannelConnections(kOutput, 0, 6, false);
  proc.SetChannelConnections(kOutput, 0, 1, true);
  proc.SetChannelConnections(kOutput, 4, 1, true);
  for (int b = 0; b < 3; ++b) proc.AttachBuffers(kOutput, 2 * b, 2, &bus[b], 64);
  proc.ProcessBuffers(0.0f, 1000);  // longer than prepared: renders what was prepared
  EXPECT_EQ(std::vector<float>({float(proc.lastFrames), host[0][5], host[1][5], host[2][5]}), std::vector<float>({64, 105, -1, 505}));
  // Ranges beyond the channels and missing host arrays are held safe.
  proc.SetChannelConnections(kOutput, 4, 100, true);
  proc.SetChannelConnections(kOutput, -5, 2, true);
  proc.AttachBuffers(kOutput, 4, 100, static_cast<float**>(nullptr), 64);
  proc.ProcessBuffers(0.0f, 64);
  EXPECT_EQ(proc.NChannelsConnected(kOutput), 3);
}
