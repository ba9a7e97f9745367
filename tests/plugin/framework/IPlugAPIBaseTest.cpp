#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "plugin/framework/HostLookup.h"
#include "tests/plugin/framework/FrameworkTestPlugin.h"

using iplug::ISysEx;
using iplug::SysExData;

TEST(HostLookup, NamesInAnyCaseGiveTheFirstKeyFound) {
  const char* names[] = {"REAPER",          "WaveLab Elements 12", "WaveLab 11", "Olive", "Standalone REAPER",
                         "Harrison Mixbus", "VST3PluginTestHost",  "Ardour 8",   "",      "My VST3 HostApplication"};
  const int hosts[] = {1, 32, 31, 9, 1, 45, 27, 28, 0, 0};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(iplug::LookUpHost(names[i]), hosts[i]) << names[i];
  EXPECT_EQ(iplug::LookUpHost(nullptr), 0);
  // Only the first 255 bytes count; a longer name is read no further.
  EXPECT_EQ(iplug::LookUpHost((std::string(300, 'x') + "reaper").c_str()), 0);
}

TEST(IPlugAPIBase, HostIdentity) {
  FrameworkTestPlugin plug(0);
  EXPECT_EQ(plug.GetHost(), iplug::kHostUninit);
  plug.SetHost(("Cubase " + std::string(400, 'z')).c_str(), 0x0C0203);
  EXPECT_EQ(plug.GetHost(), 3);
  EXPECT_EQ(plug.GetHostVersion(), 0x0C0203);
  EXPECT_EQ(std::strlen(plug.GetHostName()), 255u);
  EXPECT_EQ(plug.hostIdentified, 1);
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
  EXPECT_EQ(out[1].mOffset, 4);
  EXPECT_EQ(out[1].mData[0], 0);  // no data: zeros
  EXPECT_EQ(out[2].mSize, 0);     // nothing else was queued
}

TEST(IPlugAPIBase, EditorChangesReachParameterHostAndPlugin) {
  FrameworkTestPlugin plug(2);
  plug.SendParameterValueFromUI(1, 0.75);
  EXPECT_EQ(plug.GetParam(1)->Value(), 5.0);
  EXPECT_EQ(plug.log, (std::vector<std::string>{"inform 1 0.750000", "change 1 3 -1", "ui 1 3"}));
  plug.SendParameterValueFromUI(2, 0.5);  // no such parameter
  plug.SetParameterValue(0, std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(plug.log.size(), 3u);
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
