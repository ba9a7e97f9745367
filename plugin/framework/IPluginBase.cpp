#include "plugin/framework/IPluginBase.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace iplug {

namespace {

constexpr const char* kUserPresetName = "user preset";

}  // namespace

IPluginBase::IPluginBase(int nParams, int nPresets) : IGEditorDelegate(nParams) {
  for (int i = 0; i < nPresets; ++i) {
    auto preset = std::make_unique<Preset>();
    std::snprintf(preset->mName, sizeof(preset->mName), "%s", "empty");
    mPresets.push_back(std::move(preset));
  }
}

IPluginBase::~IPluginBase() = default;

bool IPluginBase::SerializeParams(IByteChunk& chunk) const {
  for (int i = 0; i < NParams(); ++i) {
    const double value = GetParam(i)->Value();
    if (chunk.Put(&value) < 0) return false;
  }
  return true;
}

int IPluginBase::UnserializeParams(const IByteChunk& chunk, int startPos) {
  int pos = startPos < 0 ? -1 : startPos;
  for (int i = 0; i < NParams() && pos >= 0; ++i) {
    double value = 0.0;
    pos = chunk.Get(&value, pos);
    if (pos >= 0) GetParam(i)->Set(value);  // Set refuses a non-finite value
  }
  OnParamReset(kPresetRecall);
  return pos;
}

const char* IPluginBase::GetPresetName(int index) const {
  return index >= 0 && index < NPresets() ? mPresets[static_cast<size_t>(index)]->mName : "";
}

bool IPluginBase::RestorePreset(int index) {
  if (index < 0 || index >= NPresets()) return false;
  Preset& preset = *mPresets[static_cast<size_t>(index)];
  bool ok = false;
  if (preset.mInitialized) {
    ok = UnserializeState(preset.mChunk, 0) > 0;
  } else {
    Preset before;
    std::memcpy(before.mName, preset.mName, sizeof(before.mName));
    preset.mInitialized = true;
    int userPresets = 0;
    for (const auto& other : mPresets) {
      if (std::strstr(other->mName, kUserPresetName) != nullptr) ++userPresets;
    }
    std::snprintf(preset.mName, sizeof(preset.mName), "%s %d", kUserPresetName, userPresets + 1);
    ok = SerializeState(preset.mChunk);
    if (!ok) {  // a failed capture leaves the record as it was
      preset.mInitialized = false;
      std::memcpy(preset.mName, before.mName, sizeof(preset.mName));
      preset.mChunk.Clear();
    }
  }
  if (ok) {
    mCurrentPresetIdx = index;
    InformHostOfPresetChange();
    OnRestoreState();
  }
  return ok;
}

const char* IPluginBase::GetParamGroupName(int index) const {
  return index >= 0 && index < NParamGroups() ? mParamGroups[static_cast<size_t>(index)] : "";
}

int IPluginBase::AddParamGroup(const char* name) {
  mParamGroups.push_back(name != nullptr ? name : "");
  return NParamGroups();
}

}  // namespace iplug
