#include "plugin/framework/IEditorDelegate.h"

#include <algorithm>

namespace iplug {

IEditorDelegate::IEditorDelegate(int nParams) {
  for (int i = 0; i < nParams; ++i) AddParam();
}

IEditorDelegate::~IEditorDelegate() {
  while (!mParams.empty()) mParams.pop_back();
}

IParam* IEditorDelegate::GetParam(int index) const {
  return index >= 0 && index < NParams() ? mParams[static_cast<size_t>(index)].get() : nullptr;
}

IParam* IEditorDelegate::AddParam() { return mParams.emplace_back(std::make_unique<IParam>()).get(); }

void IEditorDelegate::SendCurrentParamValuesFromDelegate() {
  for (int i = 0; i < NParams(); ++i) SendParameterValueFromDelegate(i, GetParam(i)->GetNormalized(), true);
}

void IEditorDelegate::SetSizeConstraints(int minWidth, int maxWidth, int minHeight, int maxHeight) {
  mMinWidth = std::min(minWidth, maxWidth);
  mMaxWidth = std::max(minWidth, maxWidth);
  mMinHeight = std::min(minHeight, maxHeight);
  mMaxHeight = std::max(minHeight, maxHeight);
}

void* IEditorDelegate::OpenWindow(void* /*parent*/) {
  OnUIOpen();
  return nullptr;
}

void IEditorDelegate::OnParamReset(EParamSource source) {
  for (int i = 0; i < NParams(); ++i) {
    OnParamChange(i, source, -1);
    OnParamChangeUI(i, source);
  }
}

void IEditorDelegate::SendParameterValueFromUI(int paramIdx, double normalizedValue) {
  IParam* param = GetParam(paramIdx);
  if (param == nullptr) return;
  param->SetNormalized(normalizedValue);
  OnParamChangeUI(paramIdx, kUI);
}

bool IEditorDelegate::ConstrainEditorResize(int& width, int& height) const {
  if (width >= mMinWidth && width <= mMaxWidth && height >= mMinHeight && height <= mMaxHeight) return true;
  width = std::clamp(width, mMinWidth, mMaxWidth);
  height = std::clamp(height, mMinHeight, mMaxHeight);
  return false;
}

}  // namespace iplug
