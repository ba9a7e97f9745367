#pragma once

#include <functional>
#include <memory>

#include "graphics/IGraphics.h"
#include "plugin/framework/IEditorDelegate.h"

namespace iplug::igraphics {

// The editor delegate that owns the graphics object while the editor is open, and remembers the
// editor's size and scale between openings.
class IGEditorDelegate : public IEditorDelegate {
 public:
  using MakeGraphicsFunc = std::function<IGraphics*()>;
  using LayoutFunc = std::function<void(IGraphics* graphics)>;

  explicit IGEditorDelegate(int nParams);
  ~IGEditorDelegate() override;

  // Makes the graphics object when there is none (laying it out afresh at the remembered size
  // and scale) and opens its window. There is no platform window here, so the handle is null.
  void* OpenWindow(void* parent) override;
  // Remembers the size and scale and deletes the graphics object; a close that arrives while
  // closing, or with nothing open, does nothing.
  void CloseWindow() override;
  void OnParentWindowResize(int width, int height) override;
  bool OnKeyDown(const IKeyPress& key) override;
  bool OnKeyUp(const IKeyPress& key) override;
  void SetScreenScale(float scale) override;
  void SendParameterValueFromDelegate(int paramIdx, double value, bool normalized) override;
  void SendMidiMsgFromDelegate(const IMidiMsg& msg) override;

  // The defaults call the functions set below, when set; the plug-in overrides both.
  virtual IGraphics* CreateGraphics();
  virtual void LayoutUI(IGraphics* graphics);
  void SetMakeGraphicsFunc(MakeGraphicsFunc func) { mMakeGraphicsFunc = std::move(func); }
  void SetLayoutFunc(LayoutFunc func) { mLayoutFunc = std::move(func); }

  // The open editor's graphics object; null while the editor is closed.
  IGraphics* GetUI() const { return mGraphics.get(); }

 private:
  std::unique_ptr<IGraphics> mGraphics;
  MakeGraphicsFunc mMakeGraphicsFunc;
  LayoutFunc mLayoutFunc;
  int mLastWidth = 0;
  int mLastHeight = 0;
  float mLastScale = 0.0f;  // 0: nothing remembered
  bool mClosing = false;
};

}  // namespace iplug::igraphics
