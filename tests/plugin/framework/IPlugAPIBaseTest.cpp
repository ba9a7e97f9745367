#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "plugin/framework/HostLookup.h"
#include "tests/plugin/framework/FrameworkTestPlugin.h"

using iplug::ISysEx;
using iplug::SysExData;

TEST(HostLookup, NamesInAnyCaseGiveTheFirstKeyFound) {
  const std::pair<const char*, int> hosts[] = {
      {"REAPER", 1},         {"WaveLab Elements 12", 32}, {"WaveLab 11", 31}, {"Olive", 9}, {"Standalone REAPER", 1},
      {"Harrison Mixbus", 45}, {"VST3PluginTestHost", 27}, {"Ardour 8", 28},   {"", 0},      {"My VST3 HostApplication", 0}};
  for (auto [name, host] : hosts) EXPECT_EQ(iplug::LookUpHost(name), host) << name;
  EXPECT_EQ(iplug::LookUpHost(nullptr), 0);
  // Only the first 255 bytes count; a longer name is read no further.
  EXPECT_EQ(iplug::LookUpHost((std::string(300, 'x') + "reaper").c_str()), 0);
  FrameworkTestPlugin plug(0);
  EXPECT_EQ(plug.GetHost(), iplug::kHostUninit);
  plug.SetHost(("Cubase " + std::string(400, 'z')).c_str(), 0x0C0203);
  EXPECT_EQ(std::vector<int>({plug.GetHost(), plug.GetHostVersion(), int(std::strlen(plug.GetHostName())), plug.hostIdentified}),
            std::vector<int>({3, 0x0C0203, 255, 1}));
}

TEST(IPlugAPIBase, SysExPushIsBounded) {
  FrameworkTestPlugin plug(0);
  std::vector<uint8_t> bytes(SysExData::kMaxSize + 1, 0x7E);
  EXPECT_FALSE(plug.PushSysExToProcessor(ISysEx(0, bytes.data(), SysExData::kMaxSize + 1)));
  EXPECT_FALSE(plug.PushSysExToProcessor(ISysEx(0, bytes.data(), -1)));
  EXPECT_TRUE(plug.PushSysExToProcessor(ISysEx(3, bytes.data(), SysExData::kMaxSize)));
  EXPECT_TRUE(plug.PushSysExToProcessor(ISysEx(4, nullptr, 16)));
  SysExData out[3];
  for (SysExData& o : out) plug.mSysExDataFromEditor.Pop(o);
  EXPECT_EQ(out[0].mData[SysExData::kMaxSize - 1], 0x7E);
  EXPECT_EQ(std::make_pair(out[1].mOffset, int(out[1].mData[0])), std::make_pair(4, 0));  // no data: zeros
  EXPECT_EQ(out[2].mSize, 0);                                                              // nothing else was queued
}

TEST(IPlugAPIBase, CompareStateNeverReadsPastTheData) {
  FrameworkTestPlugin plug(2);
  plug.GetParam(0)->Set(1.0);
  plug.GetParam(1)->Set(-2.0);
  const double stored[] = {9.0, 1.0 + 1e-12, -2.0};
  const auto* data = reinterpret_cast<const uint8_t*>(stored);
  const int sizes[] = {24, 24, 24, 23, 24}, starts[] = {1, 0, 2, 1, -1}, equal[] = {1, 0, 0, 0, 0};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(plug.CompareState(data, sizes[i], starts[i]), equal[i] == 1) << i;
}

TEST(IEditorDelegate, ConstrainEditorResizeAgainstTheDefaultLimits) {
  struct BareDelegate : iplug::IEditorDelegate {
    using IEditorDelegate::IEditorDelegate;
    void BeginInformHostOfParamChangeFromUI(int) override {}
    void EndInformHostOfParamChangeFromUI(int) override {}
  } delegate(2);
  // {width, height, within the limits, width and height afterwards}
  for (const auto& c : {std::array{50, 20000, 1, 50, 20000}, {5, 5, 0, 10, 10}, {10, 100000, 1, 10, 100000}, {100001, 50, 0, 100000, 50}}) {
    int width = c[0], height = c[1];
    EXPECT_EQ(delegate.ConstrainEditorResize(width, height), c[2] == 1) << c[0] << "x" << c[1];
    EXPECT_EQ(std::make_pair(width, height), std::make_pair(c[3], c[4]));
  }
  EXPECT_EQ(delegate.GetParam(2), nullptr);
  delegate.SendParameterValueFromUI(2, 0.5);  // ignored, not a crash
}

TEST(IEditorDelegate, ResetAndRestoreReachThePluginInOrder) {
  FrameworkTestPlugin plug(2);
  plug.OnParamReset(iplug::kPresetRecall);
  plug.OnRestoreState();  // every parameter's value to the editor
  EXPECT_EQ(plug.log, (std::vector<std::string>{"change 0 2 -1", "ui 0 2", "change 1 2 -1", "ui 1 2", "ui 0 4", "ui 1 4"}));
}
