#include "graphics/IGEditorDelegate.h"

#include <algorithm>
#include <cmath>

namespace iplug::igraphics {

namespace {

constexpr float kMaxEditorSize = 100000.0f;

}  // namespace

IGEditorDelegate::IGEditorDelegate(int nParams) : IEditorDelegate(nParams) {}

IGEditorDelegate::~IGEditorDelegate() = default;

void* IGEditorDelegate::OpenWindow(void* parent) {
  if (!mGraphics) {
    mGraphics.reset(CreateGraphics());
    if (!mGraphics) return nullptr;
    if (mLastWidth > 0 && mLastHeight > 0 && mLastScale != 0.0f) mGraphics->Resize(mLastWidth, mLastHeight, mLastScale);
    LayoutUI(mGraphics.get());
  }
  void* window = mGraphics->OpenWindow(parent);
  OnUIOpen();
  return window;
}

void IGEditorDelegate::CloseWindow() {
  if (mClosing || !mGraphics) return;
  mClosing = true;
  OnUIClose();
  mLastWidth = mGraphics->Width();
  mLastHeight = mGraphics->Height();
  mLastScale = mGraphics->GetDrawScale();
  mGraphics->CloseWindow();
  mGraphics.reset();
  mClosing = false;
}

void IGEditorDelegate::OnParentWindowResize(int width, int height) {
  if (!mGraphics) return;
  const float scale = mGraphics->GetDrawScale();
  auto logical = [scale](int size) { return static_cast<int>(std::clamp(size / scale, 0.0f, kMaxEditorSize)); };
  mGraphics->Resize(logical(width), logical(height), 1.0f);
}

bool IGEditorDelegate::OnKeyDown(const IKeyPress& key) {
  return mGraphics && mGraphics->OnKeyDown(mGraphics->MouseX(), mGraphics->MouseY(), key);
}

bool IGEditorDelegate::OnKeyUp(const IKeyPress& key) {
  return mGraphics && mGraphics->OnKeyUp(mGraphics->MouseX(), mGraphics->MouseY(), key);
}

void IGEditorDelegate::SetScreenScale(float scale) {
  if (mGraphics) mGraphics->SetScreenScale(scale);
}

void IGEditorDelegate::SendParameterValueFromDelegate(int paramIdx, double value, bool normalized) {
  const IParam* param = GetParam(paramIdx);
  if (param == nullptr || !std::isfinite(value)) return;
  if (mGraphics) {
    if (!normalized) value = param->ToNormalized(value);
    for (int i = 0; i < mGraphics->NControls(); ++i) {
      IControl* control = mGraphics->GetControl(i);
      if (control->GetParamIdx() == paramIdx) control->SetValueFromDelegate(value);
    }
  }
  IEditorDelegate::SendParameterValueFromDelegate(paramIdx, value, normalized);
}

void IGEditorDelegate::SendMidiMsgFromDelegate(const IMidiMsg& msg) {
  if (mGraphics) {
    for (int i = 0; i < mGraphics->NControls(); ++i) {
      IControl* control = mGraphics->GetControl(i);
      if (control->GetWantsMidi()) control->OnMidi(msg);
    }
  }
  IEditorDelegate::SendMidiMsgFromDelegate(msg);
}

IGraphics* IGEditorDelegate::CreateGraphics() { return mMakeGraphicsFunc ? mMakeGraphicsFunc() : nullptr; }

void IGEditorDelegate::LayoutUI(IGraphics* graphics) {
  if (mLayoutFunc) mLayoutFunc(graphics);
}

}  // namespace iplug::igraphics
