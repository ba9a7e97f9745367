#include <gtest/gtest.h>

#include "tests/plugin/framework/FrameworkTestPlugin.h"

namespace {

struct BareDelegate : iplug::IEditorDelegate {
  using IEditorDelegate::IEditorDelegate;
  void BeginInformHostOfParamChangeFromUI(int) override {}
  void EndInformHostOfParamChangeFromUI(int) override {}
};

}  // namespace

TEST(IEditorDelegate, ConstrainEditorResizeAgainstTheDefaultLimits) {
  BareDelegate delegate(2);
  struct Case {
    int width, height;
    bool within;
    int constrainedWidth, constrainedHeight;
  };
  const Case cases[] = {{50, 20000, true, 50, 20000},
                        {5, 5, false, 10, 10},
                        {10, 100000, true, 10, 100000},
                        {100001, 50, false, 100000, 50}};
  for (const Case& c : cases) {
    int width = c.width;
    int height = c.height;
    EXPECT_EQ(delegate.ConstrainEditorResize(width, height), c.within) << c.width << "x" << c.height;
    EXPECT_EQ(width, c.constrainedWidth);
    EXPECT_EQ(height, c.constrainedHeight);
  }
  EXPECT_EQ(delegate.NParams(), 2);
  EXPECT_EQ(delegate.GetParam(-1), nullptr);
  EXPECT_EQ(delegate.GetParam(2), nullptr);
  delegate.SendParameterValueFromUI(2, 0.5);  // ignored, not a crash
}

TEST(IEditorDelegate, ResetAndForwardingReachThePluginInOrder) {
  FrameworkTestPlugin plug(2);
  plug.OnParamReset(iplug::kPresetRecall);
  EXPECT_EQ(plug.log, (std::vector<std::string>{"change 0 2 -1", "ui 0 2", "change 1 2 -1", "ui 1 2"}));
  plug.log.clear();
  plug.SendControlMsgFromDelegate(5, 9, 3);
  plug.SendArbitraryMsgFromDelegate(4);
  plug.SendMidiMsgFromDelegate(iplug::IMidiMsg(0, 0x90, 61, 1));
  plug.OnRestoreState();  // every parameter's value to the editor
  EXPECT_EQ(plug.log, (std::vector<std::string>{"message 9 5 3", "message 4 -1 0", "midi 61", "ui 0 4", "ui 1 4"}));
}
