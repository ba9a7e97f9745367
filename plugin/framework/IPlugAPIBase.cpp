#include "plugin/framework/IPlugAPIBase.h"

#include <cmath>
#include <cstring>

#include "plugin/framework/HostLookup.h"

namespace iplug {

IPlugAPIBase::IPlugAPIBase(const Config& config, EAPI api) : IPluginBase(config.nParams, config.nPresets) {
  mUniqueID = config.uniqueID;
  mMfrID = config.mfrID;
  mVersion = config.vendorVersion;
  mPluginName.Set(config.pluginName);
  mProductName.Set(config.productName);
  mMfrName.Set(config.mfrName);
  mHasUI = config.plugHasUI;
  mHostResize = config.plugHostResize;
  SetEditorSize(config.plugWidth, config.plugHeight);
  SetSizeConstraints(config.plugMinWidth, config.plugMaxWidth, config.plugMinHeight, config.plugMaxHeight);
  mBundleID.Set(config.bundleID);
  mAppGroupID.Set(config.appGroupID);
  mAPI = api;
}

IPlugAPIBase::~IPlugAPIBase() { StopTimer(); }

bool IPlugAPIBase::CompareState(const uint8_t* data, int dataSize, int startPos) const {
  constexpr int kDoubleSize = static_cast<int>(sizeof(double));
  if (NParams() == 0) return true;
  if (data == nullptr || startPos < 0 || dataSize < 0 || startPos > dataSize / kDoubleSize ||
      NParams() > dataSize / kDoubleSize - startPos) {
    return false;
  }
  for (int i = 0; i < NParams(); ++i) {
    double stored = 0.0;
    std::memcpy(&stored, data + static_cast<size_t>(startPos + i) * sizeof(double), sizeof(double));
    const float difference = static_cast<float>(GetParam(i)->Value()) - static_cast<float>(stored);
    if (!(std::fabs(difference) < 0.00001f)) return false;
  }
  return true;
}

void IPlugAPIBase::SendParameterValueFromAPI(int paramIdx, double value, bool normalized) {
  const IParam* param = GetParam(paramIdx);
  if (param == nullptr || !std::isfinite(value)) return;
  if (normalized) value = param->FromNormalized(value);
  mParamValuesFromAPI.Push(ParamTuple{paramIdx, value});
}

void IPlugAPIBase::DirtyParametersFromUI() {
  for (int i = 0; i < NParams(); ++i) InformHostOfParamChange(i, GetParam(i)->GetNormalized());
}

void IPlugAPIBase::SendParameterValueFromUI(int paramIdx, double normalizedValue) {
  SetParameterValue(paramIdx, normalizedValue);
  IEditorDelegate::SendParameterValueFromUI(paramIdx, normalizedValue);
}

bool IPlugAPIBase::EditorResizeFromUI(int width, int height, bool needsPlatformResize) {
  if (needsPlatformResize) EditorResize(width, height);
  return true;
}

bool IPlugAPIBase::PushSysExToProcessor(const ISysEx& msg) {
  if (!SysExData::Fits(msg)) return false;
  return mSysExDataFromEditor.Push(SysExData(msg));
}

void IPlugAPIBase::SetHost(const char* name, int version) {
  mHostName.Set(name, kMaxHostNameLength);
  mHost = LookUpHost(mHostName.Get());
  mHostVersion = version;
  OnHostIdentified();
}

void IPlugAPIBase::SetParameterValue(int paramIdx, double normalizedValue) {
  IParam* param = GetParam(paramIdx);
  if (param == nullptr || !std::isfinite(normalizedValue)) return;
  param->SetNormalized(normalizedValue);
  InformHostOfParamChange(paramIdx, normalizedValue);
  OnParamChange(paramIdx, kUI, -1);
}

void IPlugAPIBase::StartTimer() {
  std::unique_ptr<Timer> previous = std::move(mTimer);
  previous.reset();  // stopped before the new one can run
  mTimer = Timer::Create([this](Timer& timer) { OnTimer(timer); }, kTimerIntervalMs);
}

void IPlugAPIBase::StopTimer() {
  if (mTimer) mTimer->Stop();
}

void IPlugAPIBase::OnTimer(Timer&) {
  std::unique_lock<std::recursive_mutex> hold(mInstanceLock, std::try_to_lock);
  if (!hold.owns_lock()) return;  // the host is inside this instance; the next tick catches up
  if (HasUI()) {
    IMidiMsg msg;
    while (mMidiMsgsFromProcessor.Pop(msg)) SendMidiMsgFromDelegate(msg);
    SysExData sysex;
    while (mSysExDataFromProcessor.Pop(sysex)) SendSysexMsgFromDelegate(sysex.View());
  }
  OnIdle();
}

}  // namespace iplug
