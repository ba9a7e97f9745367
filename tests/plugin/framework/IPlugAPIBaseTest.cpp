#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "plugin/framework/HostLookup.h"
#include "tests/plugin/framework/FrameworkTestPlugin.h"

using iplug::IMidiMsg;
using iplug::ISysEx;
using iplug::SysExData;

TEST(HostLookup, NamesInAnyCaseGiveTheFirstKeyFound) {
  struct Case {
    const char* name;
    int host;
  };
  const Case cases[] = {
      {"REAPER", 1},
      {"WaveLab Elements 12", 32},
      {"WaveLab 11", 31},
      {"Olive", 9},  // "live" inside a longer word
      {"Standalone REAPER", 1},
      {"Bitwig Studio", 34},
      {"Harrison Mixbus", 45},
      {"Ardour 8", 28},
      {"VST3PluginTestHost", 27},
      {"Blue Cat's VST Host", 44},
      {"My VST3 HostApplication", 0},
      {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(iplug::LookUpHost(c.name), c.host) << c.name;
  EXPECT_EQ(iplug::LookUpHost(nullptr), 0);
  // Only the first 255 bytes count; a longer name is read no further.
  const std::string longName = std::string(300, 'x') + "reaper";
  EXPECT_EQ(iplug::LookUpHost(longName.c_str()), 0);
}

TEST(IPlugAPIBase, HostIdentity) {
  FrameworkTestPlugin plug(0);
  EXPECT_EQ(plug.GetHost(), iplug::kHostUninit);
  const std::string longName = "Cubase " + std::string(400, 'z');
  plug.SetHost(longName.c_str(), 0x0C0203);
  EXPECT_EQ(plug.GetHost(), 3);
  EXPECT_EQ(plug.GetHostVersion(), 0x0C0203);
  EXPECT_EQ(std::strlen(plug.GetHostName()), 255u);
  EXPECT_EQ(plug.hostIdentified, 1);
  // The configured size limits arrive in order whichever way round they were given.
  int width = 5;
  int height = 5000;
  EXPECT_FALSE(plug.ConstrainEditorResize(width, height));
  EXPECT_EQ(width, 264);
  EXPECT_EQ(height, 2000);
}

TEST(IPlugAPIBase, SysExPushIsBounded) {
  FrameworkTestPlugin plug(0);
  std::vector<uint8_t> bytes(SysExData::kMaxSize + 1, 0x7E);
  EXPECT_FALSE(plug.PushSysExToProcessor(ISysEx(0, bytes.data(), SysExData::kMaxSize + 1)));
  EXPECT_FALSE(plug.PushSysExToProcessor(ISysEx(0, bytes.data(), -1)));
  EXPECT_TRUE(plug.PushSysExToProcessor(ISysEx(3, bytes.data(), SysExData::kMaxSize)));
  EXPECT_TRUE(plug.PushSysExToProcessor(ISysEx(4, nullptr, 16)));
  SysExData out;
  ASSERT_TRUE(plug.mSysExDataFromEditor.Pop(out));
  EXPECT_EQ(out.mSize, SysExData::kMaxSize);
  EXPECT_EQ(out.mData[SysExData::kMaxSize - 1], 0x7E);
  ASSERT_TRUE(plug.mSysExDataFromEditor.Pop(out));
  EXPECT_EQ(out.mOffset, 4);
  EXPECT_EQ(out.mData[0], 0);  // no data: zeros
  EXPECT_FALSE(plug.mSysExDataFromEditor.Pop(out));
}

TEST(IPlugAPIBase, EditorChangesReachParameterHostAndPlugin) {
  FrameworkTestPlugin plug(2);
  plug.SendParameterValueFromUI(1, 0.75);
  EXPECT_EQ(plug.GetParam(1)->Value(), 5.0);
  ASSERT_EQ(plug.log.size(), 3u);
  EXPECT_EQ(plug.log[0], "inform 1 0.750000");
  EXPECT_EQ(plug.log[1], "change 1 3 -1");
  EXPECT_EQ(plug.log[2], "ui 1 3");
  plug.log.clear();
  plug.SendParameterValueFromUI(2, 0.5);  // no such parameter
  plug.SendParameterValueFromUI(-1, 0.5);
  plug.SetParameterValue(0, std::numeric_limits<double>::quiet_NaN());
  EXPECT_TRUE(plug.log.empty());
  plug.SendParameterValueFromAPI(0, 0.25, true);
  plug.SendParameterValueFromAPI(5, 0.25, true);
  iplug::IPlugAPIBase::ParamTuple tuple;
  ASSERT_TRUE(plug.mParamValuesFromAPI.Pop(tuple));
  EXPECT_EQ(tuple.idx, 0);
  EXPECT_EQ(tuple.value, -5.0);
  EXPECT_FALSE(plug.mParamValuesFromAPI.Pop(tuple));
  plug.SendArbitraryMsgFromDelegate(7, 2);
  EXPECT_EQ(plug.log.back(), "message 7 -1 2");
}

TEST(IPlugAPIBase, CompareStateNeverReadsPastTheData) {
  FrameworkTestPlugin plug(2);
  plug.GetParam(0)->Set(1.0);
  plug.GetParam(1)->Set(-2.0);
  const double stored[] = {9.0, 1.0 + 1e-12, -2.0};
  const auto* data = reinterpret_cast<const uint8_t*>(stored);
  EXPECT_TRUE(plug.CompareState(data, sizeof(stored), 1));
  EXPECT_FALSE(plug.CompareState(data, sizeof(stored), 0));
  EXPECT_FALSE(plug.CompareState(data, sizeof(stored), 2));  // one double short
  EXPECT_FALSE(plug.CompareState(data, sizeof(stored) - 1, 1));
  EXPECT_FALSE(plug.CompareState(data, sizeof(stored), -1));
  EXPECT_TRUE(FrameworkTestPlugin(0).CompareState(nullptr, 0, 0));
}
