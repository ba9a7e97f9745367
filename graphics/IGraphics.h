#pragma once

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "graphics/IControl.h"
#include "plugin/framework/IKeyPress.h"

namespace iplug::igraphics {

class IGEditorDelegate;

// The editor's graphics object without a drawing back-end: there is none on this platform, so it
// keeps the control tree, the tag map, the size and scales, and opens no window (its window
// handle stays null). Keys reach the topmost control under the given position, then the key
// handler; without a mouse the position the delegate passes stays at the origin.
class IGraphics {
 public:
  using KeyHandlerFunc = std::function<bool(const IKeyPress& key, bool isUp)>;

  IGraphics(IGEditorDelegate& delegate, int width, int height, int fps = 60, float scale = 1.0f);
  virtual ~IGraphics();
  IGraphics(const IGraphics&) = delete;
  IGraphics& operator=(const IGraphics&) = delete;

  // Takes ownership. A tag above -1 is entered in the tag map; when it is taken already the
  // control is deleted and null comes back.
  IControl* AttachControl(IControl* control, int ctrlTag = IControl::kNoTag, const char* group = "");
  IControl* GetControlWithTag(int ctrlTag) const;
  int NControls() const { return static_cast<int>(mControls.size()); }
  IControl* GetControl(int index) const;

  void* OpenWindow(void* /*parent*/) { return nullptr; }
  void CloseWindow() {}
  void* GetWindowHandle() const { return nullptr; }
  // Nothing can hold a mouse that does not exist, so there is nothing to let go of.
  void ReleaseMouseCapture() {}

  int Width() const { return mWidth; }
  int Height() const { return mHeight; }
  int FPS() const { return mFPS; }
  float GetDrawScale() const { return mDrawScale; }
  float GetScreenScale() const { return mScreenScale; }
  // A size or scale that is not positive and finite is ignored.
  void Resize(int width, int height, float scale);
  void SetScreenScale(float scale);

  void SetKeyHandlerFunc(KeyHandlerFunc func) { mKeyHandler = std::move(func); }
  bool OnKeyDown(float x, float y, const IKeyPress& key) { return OnKey(x, y, key, false); }
  bool OnKeyUp(float x, float y, const IKeyPress& key) { return OnKey(x, y, key, true); }
  float MouseX() const { return mMouseX; }
  float MouseY() const { return mMouseY; }

  IGEditorDelegate* GetDelegate() const { return mDelegate; }

 private:
  bool OnKey(float x, float y, const IKeyPress& key, bool isUp);

  IGEditorDelegate* mDelegate;
  std::vector<std::unique_ptr<IControl>> mControls;
  std::map<int, IControl*> mCtrlTags;
  KeyHandlerFunc mKeyHandler;
  int mWidth;
  int mHeight;
  int mFPS;
  float mDrawScale;
  float mScreenScale = 1.0f;
  float mMouseX = 0.0f;
  float mMouseY = 0.0f;
};

}  // namespace iplug::igraphics
