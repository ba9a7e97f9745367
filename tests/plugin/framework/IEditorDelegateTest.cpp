#include <gtest/gtest.h>

#include "tests/plugin/framework/FrameworkTestPlugin.h"

TEST(IEditorDelegate, ConstrainEditorResizeAgainstTheDefaultLimits) {
  struct BareDelegate : iplug::IEditorDelegate {
    using IEditorDelegate::IEditorDelegate;
    void BeginInformHostOfParamChangeFromUI(int) override {}
    void EndInformHostOfParamChangeFromUI(int) override {}
  } delegate(2);
  // {width, height, within the limits, width and height afterwards}
  const int cases[][5] = {{50, 20000, 1, 50, 20000}, {5, 5, 0, 10, 10}, {10, 100000, 1, 10, 100000},
                          {100001, 50, 0, 100000, 50}};
  for (const auto& c : cases) {
    int width = c[0];
    int height = c[1];
    EXPECT_EQ(delegate.ConstrainEditorResize(width, height), c[2] == 1) << c[0] << "x" << c[1];
    EXPECT_EQ(width, c[3]);
    EXPECT_EQ(height, c[4]);
  }
  EXPECT_EQ(delegate.GetParam(2), nullptr);
  delegate.SendParameterValueFromUI(2, 0.5);  // ignored, not a crash
}

TEST(IEditorDelegate, ResetAndForwardingReachThePluginInOrder) {
  FrameworkTestPlugin plug(2);
  plug.OnParamReset(iplug::kPresetRecall);
  plug.SendControlMsgFromDelegate(5, 9, 3);
  plug.SendArbitraryMsgFromDelegate(4);
  plug.OnRestoreState();  // every parameter's value to the editor
  EXPECT_EQ(plug.log, (std::vector<std::string>{"change 0 2 -1", "ui 0 2", "change 1 2 -1", "ui 1 2", "message 9 5 3",
                                                "message 4 -1 0", "ui 0 4", "ui 1 4"}));
}
