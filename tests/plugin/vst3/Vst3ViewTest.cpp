// The editor view a host asks for: references, frame, sizes, platform types and keys.
#include <climits>

#include "plugin/framework/HostLookup.h"
#include "tests/plugin/vst3/Vst3TestKit.h"

namespace {

struct RecordingFrame final : testhost::HostObject<IPlugFrame> {
  tresult PLUGIN_API resizeView(IPlugView*, ViewRect* rect) override {
    resizes.push_back(corners(*rect));
    return kResultTrue;
  }
  uint32 PLUGIN_API addRef() override { return ++references; }
  uint32 PLUGIN_API release() override { return --references; }
  static std::vector<int32> corners(const ViewRect& r) { return {r.left, r.top, r.right, r.bottom}; }
  uint32 references = 1;
  std::vector<std::vector<int32>> resizes;
};

}  // namespace

TEST_F(Vst3InProcess, ViewHoldsThePlugInAndItsFrameCountedAndFollowsTheEditorLimits) {
  EXPECT_EQ(controller->createView("other"), nullptr);
  EXPECT_EQ(controller->createView(nullptr), nullptr);
  const uint32 before = (controller->addRef(), controller->release());
  IPlugView* view = controller->createView(ViewType::kEditor);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ((controller->addRef(), controller->release()), before + 1);
  EXPECT_EQ(view->isPlatformTypeSupported(kPlatformTypeX11EmbedWindowID), kResultFalse);  // no graphics here
  EXPECT_EQ(view->attached(nullptr, kPlatformTypeX11EmbedWindowID), kResultTrue);
  EXPECT_EQ(view->removed(), kResultOk);
  EXPECT_EQ(std::vector<tresult>({view->canResize(), view->onSize(nullptr), view->getSize(nullptr), view->checkSizeConstraint(nullptr)}),
            std::vector<tresult>({kResultFalse, kResultFalse, kInvalidArgument, kInvalidArgument}));
  // Limits 200..800 by 150..600; a rectangle keeps its corner.
  const std::pair<std::vector<int32>, std::vector<int32>> cases[] = {
      {{0, 0, 5, 5}, {0, 0, 200, 150}}, {{10, 10, 300, 200}, {10, 10, 300, 200}}, {{100, 100, 5000, 50}, {100, 100, 900, 250}},
      {{INT_MIN, INT_MIN, INT_MAX, INT_MAX}, {INT_MIN, INT_MIN, INT_MIN + 800, INT_MIN + 600}}};
  for (const auto& [in, out] : cases) {
    ViewRect r(in[0], in[1], in[2], in[3]);
    EXPECT_EQ(view->checkSizeConstraint(&r), kResultTrue);
    EXPECT_EQ(RecordingFrame::corners(r), out);
  }

  RecordingFrame frame;
  ASSERT_EQ(view->setFrame(&frame), kResultTrue);
  EXPECT_EQ(frame.references, 2u);
  synth->EditorResize(500, 400);
  synth->EditorResize(500, 400);  // the same size again asks nothing of the host
  EXPECT_EQ(frame.resizes, std::vector<std::vector<int32>>({{0, 0, 500, 400}}));
  ViewRect rect;
  ASSERT_EQ(view->getSize(&rect), kResultOk);
  EXPECT_EQ(RecordingFrame::corners(rect), std::vector<int32>({0, 0, 500, 400}));
  view->setFrame(nullptr);
  EXPECT_EQ(frame.references, 1u);
  view->setFrame(&frame);
  view->release();  // the last reference: the frame and the plug-in are let go
  EXPECT_EQ(frame.references, 1u);
  EXPECT_EQ((controller->addRef(), controller->release()), before);
  synth->EditorResize(600, 450);  // no view any more, and nothing points at it
  EXPECT_EQ(synth->GetEditorWidth(), 600);
}

TEST_F(Vst3InProcess, KeysBecomeWindowsKeyPresses) {
  const struct { char16 key; int16 code, modifiers; int vk; std::string text; bool shift = false, control = false, alt = false; } cases[] = {
      {u'a', 0, 0, 0x41, "a"},     {u'A', 0, 1, 0x141, "A", true},         {u'+', 57, 1, 0x1BB, "+", true},
      {u'(', 0, 0, 0x139, "("},    {u'\u00E9', 0, 0, 0, ""},               {0, 1, 0, 8, ""},
      {0, 7, 4, 32, " ", false, true},                                     {0, 15, 0, 33, ""},
      {0, 39, 0, 111, ""},         {0, 51, 2, 123, "", false, false, true}, {0, 56, 0, 18, ""},
      {0, 145, 0, 65, "A"},        {0, 100, 0, 0, ""},                      {0, -4, 0, 0, ""},
  };
  IPtr<IPlugView> view = owned(controller->createView(ViewType::kEditor));
  for (const auto& c : cases) {
    synth->keys.clear();
    ASSERT_TRUE(view->onKeyDown(c.key, c.code, c.modifiers) == kResultTrue && view->onKeyUp(c.key, c.code, c.modifiers) == kResultTrue);
    ASSERT_EQ(synth->keys.size(), 2u);
    const iplug::IKeyPress& k = synth->keys[0];
    EXPECT_EQ(std::make_tuple(k.VK, std::string(k.utf8), k.S, k.C, k.A),
              std::make_tuple(c.vk, c.text, c.shift, c.control, c.alt)) << c.code << " " << int(c.key);
  }
  synth->SetHost("REAPER x64", 0), synth->keys.clear();  // REAPER keeps every key but the space bar
  EXPECT_EQ(std::make_pair(view->onKeyDown(u'a', 0, 0), view->onKeyDown(u' ', 7, 1)), (std::pair<tresult, tresult>(kResultFalse, kResultTrue)));
  ASSERT_EQ(synth->keys.size(), 1u);
}
