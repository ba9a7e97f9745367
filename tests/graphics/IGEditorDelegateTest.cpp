#include "graphics/IGEditorDelegate.h"
#include "graphics/IGraphics.h"
#include "tests/plugin/framework/FrameworkTestPlugin.h"

using iplug::IMidiMsg;
using iplug::igraphics::IControl;
using iplug::igraphics::IGraphics;

namespace {

int gLiveControls = 0;

struct TestControl : IControl {
  explicit TestControl(int paramIdx = kNoParameter, bool wantsMidi = false) : IControl({0, 0, 792, 602}, paramIdx) {
    SetWantsMidi(wantsMidi), ++gLiveControls;
  }
  ~TestControl() override { --gLiveControls; }
  void OnMidi(const IMidiMsg& msg) override { midi.push_back(msg.mData1); }
  std::vector<int> midi;
};

// A plug-in whose editor holds a root control (tag 0, takes MIDI) and controls bound to parameters.
struct EditorPlugin : FrameworkTestPlugin {
  EditorPlugin() : FrameworkTestPlugin(2) {}
  IGraphics* CreateGraphics() override { return new IGraphics(*this, 792, 602, 60, 1.25f); }
  void LayoutUI(IGraphics* graphics) override {
    ++layouts;
    graphics->AttachControl(new TestControl(IControl::kNoParameter, true), 0);
    graphics->AttachControl(new TestControl(1), 7, "knobs");
    graphics->AttachControl(new TestControl(0));
  }
  void OnUIClose() override { ++closes, CloseWindow(); }  // a close from inside the close must not delete twice
  double ValueOf(int tag) const { return GetUI()->GetControlWithTag(tag)->GetValue(); }
  std::vector<int> MidiOf(int tag) const { return static_cast<TestControl*>(GetUI()->GetControlWithTag(tag))->midi; }
  int layouts = 0, closes = 0;
};

}  // namespace

TEST(IGraphics, AttachingToATakenTagRefusesAndDeletesTheControl) {
  FrameworkTestPlugin plug(0);
  {
    IGraphics graphics(plug, 100, 50);
    IControl* first = graphics.AttachControl(new TestControl(), 3);
    EXPECT_EQ(graphics.AttachControl(new TestControl(), 3), nullptr);
    EXPECT_EQ(gLiveControls, 1);
    EXPECT_EQ(graphics.GetControlWithTag(3), first);
    EXPECT_TRUE(graphics.AttachControl(new TestControl()) && graphics.AttachControl(new TestControl()));  // untagged ones never clash
    EXPECT_EQ(graphics.GetWindowHandle(), nullptr);
    graphics.ReleaseMouseCapture();
  }
  EXPECT_EQ(gLiveControls, 0);
}

TEST(IGEditorDelegate, OpenAndCloseTwiceRememberingSizeAndScale) {
  EditorPlugin plug;
  EXPECT_EQ(plug.OpenWindow(nullptr), nullptr);  // no window on this platform
  IGraphics* graphics = plug.GetUI();
  ASSERT_NE(graphics, nullptr);
  plug.OpenWindow(nullptr);  // already open: the same graphics, laid out once
  EXPECT_EQ(std::make_pair(plug.GetUI(), plug.layouts), std::make_pair(graphics, 1));
  graphics->Resize(500, 400, 1.5f);
  for (int i = 0; i < 2; ++i) plug.CloseWindow();
  EXPECT_EQ(plug.GetUI(), nullptr);
  EXPECT_EQ(std::make_pair(plug.closes, gLiveControls), std::make_pair(1, 0));
  plug.OpenWindow(nullptr);
  ASSERT_NE(plug.GetUI(), nullptr);
  EXPECT_EQ(std::make_tuple(plug.layouts, plug.GetUI()->Width(), plug.GetUI()->Height(), plug.GetUI()->GetDrawScale()),
            std::make_tuple(2, 500, 400, 1.5f));
  EXPECT_FALSE(plug.OnKeyDown(iplug::IKeyPress("z", 90)));  // neither a control nor a key handler takes it
}

TEST(IGEditorDelegate, ParameterValuesAndMidiReachControlsThenThePlugin) {
  EditorPlugin plug;
  plug.SendParameterValueFromDelegate(1, 5.0, false);  // without an editor only the plug-in hears
  plug.OpenWindow(nullptr);                            // opening sends every value to the controls
  EXPECT_EQ(plug.ValueOf(7), 0.5);
  plug.SendParameterValueFromDelegate(1, -5.0, false);
  EXPECT_EQ(plug.ValueOf(7), 0.25);
  plug.SendParameterValueFromDelegate(1, 0.125, true);
  EXPECT_EQ(plug.ValueOf(7), 0.125);
  EXPECT_EQ(plug.GetUI()->GetControl(2)->GetValue(), 0.5);  // bound to parameter 0
  EXPECT_EQ(plug.ValueOf(0), 0.0);                          // bound to none
  plug.SendParameterValueFromDelegate(2, 0.5, true);        // no such parameter: ignored
  plug.SendMidiMsgFromDelegate(IMidiMsg(0, 0x90, 64, 90));
  EXPECT_EQ(plug.MidiOf(0), std::vector<int>{64});
  EXPECT_TRUE(plug.MidiOf(7).empty());
  EXPECT_EQ(plug.log, (std::vector<std::string>{"ui 1 4", "ui 0 4", "ui 1 4", "ui 1 4", "ui 1 4", "midi 64"}));
}
