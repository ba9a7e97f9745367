#include "graphics/IGraphics.h"

#include <cmath>

namespace iplug::igraphics {

namespace {

bool usableScale(float scale) { return std::isfinite(scale) && scale > 0.0f; }

}  // namespace

IGraphics::IGraphics(IGEditorDelegate& delegate, int width, int height, int fps, float scale)
    : mDelegate(&delegate), mWidth(width), mHeight(height), mFPS(fps), mDrawScale(usableScale(scale) ? scale : 1.0f) {}

IGraphics::~IGraphics() {
  // Controls go last to first, so a later control never outlives one it was attached after.
  while (!mControls.empty()) mControls.pop_back();
}

IControl* IGraphics::AttachControl(IControl* control, int ctrlTag, const char* group) {
  if (control == nullptr) return nullptr;
  if (ctrlTag > IControl::kNoTag) {
    if (mCtrlTags.count(ctrlTag) != 0) {
      delete control;  // refused, but we were handed ownership: it must not leak
      return nullptr;
    }
    mCtrlTags[ctrlTag] = control;
  }
  control->mTag = ctrlTag;
  control->mGroup = group != nullptr ? group : "";
  control->mGraphics = this;
  mControls.emplace_back(control);
  control->OnAttached();
  return control;
}

IControl* IGraphics::GetControlWithTag(int ctrlTag) const {
  const auto found = mCtrlTags.find(ctrlTag);
  return found != mCtrlTags.end() ? found->second : nullptr;
}

IControl* IGraphics::GetControl(int index) const {
  return index >= 0 && index < NControls() ? mControls[static_cast<size_t>(index)].get() : nullptr;
}

void IGraphics::Resize(int width, int height, float scale) {
  if (width <= 0 || height <= 0 || !usableScale(scale)) return;
  mWidth = width;
  mHeight = height;
  mDrawScale = scale;
}

void IGraphics::SetScreenScale(float scale) {
  if (usableScale(scale)) mScreenScale = scale;
}

bool IGraphics::OnKey(float x, float y, const IKeyPress& key, bool isUp) {
  // The topmost control under the mouse first: the last attached is drawn on top.
  for (auto it = mControls.rbegin(); it != mControls.rend(); ++it) {
    IControl& control = **it;
    if (!control.GetRECT().Contains(x, y)) continue;
    if (isUp ? control.OnKeyUp(x, y, key) : control.OnKeyDown(x, y, key)) return true;
    break;
  }
  return mKeyHandler ? mKeyHandler(key, isUp) : false;
}

}  // namespace iplug::igraphics
