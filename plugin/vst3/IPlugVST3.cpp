#include "plugin/vst3/IPlugVST3.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "plugin/framework/HostLookup.h"
#include "plugin/vst3/HostCallGuard.h"
#include "plugin/vst3/IPlugVST3Parameter.h"
#include "plugin/vst3/IPlugVST3View.h"
#include "plugin/vst3/Vst3ParamTags.h"
#include "plugin/vst3/Vst3Text.h"
#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivsthostapplication.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace iplug {

namespace {

constexpr ProgramListID kPresetListId = 65537;
constexpr int kStateReadBlock = 128;

using Lock = std::lock_guard<std::recursive_mutex>;

// Writes all bytes, or reports that the stream took fewer.
bool writeAll(IBStream& stream, const uint8_t* data, int size) {
  while (size > 0) {
    int32 written = 0;
    if (stream.write(const_cast<uint8_t*>(data), size, &written) != kResultOk || written <= 0 || written > size)
      return false;
    data += written;
    size -= written;
  }
  return true;
}

}  // namespace

IPlugVST3::IPlugVST3(const Config& config) : IPlugAPIBase(config, kAPIVST3), IPlugVST3ProcessorBase(config, *this) {
  StartTimer();
  mTimerRunning = true;
}

IPlugVST3::~IPlugVST3() { StopTimer(); }

tresult PLUGIN_API IPlugVST3::initialize(FUnknown* context) {
  // Outside the instance lock: the timer's own lock comes first.
  const tresult started = GuardHostCall([&]() -> tresult {
    if (!mTimerRunning) {
      StartTimer();
      mTimerRunning = true;
    }
    return kResultOk;
  });
  if (started != kResultOk) return started;
  return GuardHostCall([&]() -> tresult {
    Lock lock(InstanceLock());
    if (SingleComponentEffect::initialize(context) != kResultOk) return kResultFalse;
    try {
      Initialize(*this);
      InitializeController(*this, *this, parameters, IsInstrument(), DoesMidiIn());
    } catch (...) {
      SingleComponentEffect::terminate();
      TerminateController();
      mParamGroups.clear();
      throw;
    }
    if (GetHost() == kHostUninit) {
      FUnknownPtr<IHostApplication> application(context);
      String128 name = {};
      if (application && application->getName(name) == kResultOk) {
        name[127] = 0;
        SetHost(ToUtf8(name).c_str(), 0);
      }
    }
    OnHostIdentified();
    OnParamReset(kReset);
    return kResultOk;
  });
}

tresult PLUGIN_API IPlugVST3::terminate() {
  // Outside the instance lock, which a running tick may be trying.
  const tresult stopped = GuardHostCall([&]() -> tresult {
    StopTimer();
    mTimerRunning = false;
    return kResultOk;
  });
  if (stopped != kResultOk) return stopped;
  return GuardHostCall([&]() -> tresult {
    Lock lock(InstanceLock());
    const tresult result = SingleComponentEffect::terminate();
    TerminateController();
    mParamGroups.clear();
    return result;
  });
}

tresult PLUGIN_API IPlugVST3::setParamNormalized(ParamID tag, ParamValue value) {
  if (!std::isfinite(value)) return kInvalidArgument;
  return GuardHostCall([&]() -> tresult {
    Lock lock(InstanceLock());
    Parameter* parameter = getParameterObject(tag);
    if (parameter == nullptr) return kResultFalse;
    parameter->setNormalized(value);  // held to 0..1
    const double normalized = parameter->getNormalized();
    if (tag < static_cast<ParamID>(NParams())) {
      const int idx = static_cast<int>(tag);
      // The processor learns the value from the host's next block, not from here.
      GetParam(idx)->SetNormalized(normalized);
      OnParamChangeUI(idx, kHost);
      SendParameterValueFromDelegate(idx, normalized, true);
    }
    return kResultOk;
  });
}

IPlugView* PLUGIN_API IPlugVST3::createView(FIDString name) {
  if (name == nullptr || !HasUI() || std::strcmp(name, ViewType::kEditor) != 0) return nullptr;
  try {
    mView = new View(*this);
    return mView;
  } catch (...) {
    return nullptr;
  }
}

void IPlugVST3::ViewDestroyed(View* view) {
  if (mView == view) mView = nullptr;
}

tresult PLUGIN_API IPlugVST3::getProgramName(ProgramListID listId, int32 programIndex, String128 name) {
  if (name == nullptr) return kInvalidArgument;
  if (NPresets() == 0 || listId != kPresetListId) return kResultFalse;
  return GuardHostCall([&]() -> tresult {
    CopyToString128(GetPresetName(programIndex), name);
    return kResultOk;
  });
}

tresult PLUGIN_API IPlugVST3::setActive(TBool state) {
  return GuardHostCall([&]() -> tresult {
    Lock lock(InstanceLock());
    OnActivate(state != 0);
    return SingleComponentEffect::setActive(state);
  });
}

tresult PLUGIN_API IPlugVST3::setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                                 SpeakerArrangement* outputs, int32 numOuts) {
  if (numIns < 0 || numOuts < 0 || (numIns > 0 && inputs == nullptr) || (numOuts > 0 && outputs == nullptr))
    return kInvalidArgument;
  return GuardHostCall([&]() -> tresult {
    Lock lock(InstanceLock());
    return SetBusArrangements(*this, inputs, numIns, outputs, numOuts) ? kResultTrue : kResultFalse;
  });
}

tresult PLUGIN_API IPlugVST3::canProcessSampleSize(int32 symbolicSampleSize) {
  return symbolicSampleSize == kSample32 || symbolicSampleSize == kSample64 ? kResultTrue : kResultFalse;
}

uint32 PLUGIN_API IPlugVST3::getLatencySamples() { return static_cast<uint32>(std::max(GetLatency(), 0)); }

tresult PLUGIN_API IPlugVST3::setupProcessing(ProcessSetup& setup) {
  return GuardHostCall([&]() -> tresult {
    Lock lock(InstanceLock());
    return SetupProcessing(setup, processSetup) ? kResultOk : kResultFalse;
  });
}

tresult PLUGIN_API IPlugVST3::setProcessing(TBool state) {
  return GuardHostCall([&]() -> tresult {
    SetProcessing(state != 0);
    return kResultOk;
  });
}

tresult PLUGIN_API IPlugVST3::process(ProcessData& data) {
  return GuardHostCall([&]() -> tresult {
    Process(data, processSetup, audioInputs, audioOutputs, mMidiMsgsFromEditor, mMidiMsgsFromProcessor,
            mSysExDataFromEditor, mSysexBuf);
    return kResultOk;
  });
}

uint32 PLUGIN_API IPlugVST3::getTailSamples() {
  if (GetTailSize() == IPlugProcessor::kInfiniteTail) return Steinberg::Vst::kInfiniteTail;
  return static_cast<uint32>(std::max(GetTailSize(), 0));
}

tresult PLUGIN_API IPlugVST3::getMidiControllerAssignment(int32 busIndex, int16 channel, CtrlNumber midiControllerNumber,
                                                         ParamID& id) {
  // Only the controllers of channel 1 are declared.
  if (!DoesMidiIn() || busIndex != 0 || channel != 0 || midiControllerNumber < 0 ||
      midiControllerNumber >= kMIDICCsPerChannel)
    return kResultFalse;
  id = kMIDICCParamStartTag + static_cast<ParamID>(channel * kMIDICCsPerChannel + midiControllerNumber);
  return kResultOk;
}

tresult PLUGIN_API IPlugVST3::setChannelContextInfos(IAttributeList* list) {
  return GuardHostCall([&]() -> tresult {
    Lock lock(InstanceLock());
    return SetChannelContextInfos(list);
  });
}

void IPlugVST3::GetChannelColor(int& red, int& green, int& blue) const {
  red = (mChannelColor >> 16) & 0xFF;
  green = (mChannelColor >> 8) & 0xFF;
  blue = mChannelColor & 0xFF;
}

void IPlugVST3::DirtyParametersFromUI() {
  for (int i = 0; i < NParams(); ++i) {
    if (Parameter* parameter = getParameterObject(static_cast<ParamID>(i)))
      parameter->setNormalized(GetParam(i)->GetNormalized());
  }
  startGroupEdit();
  IPlugAPIBase::DirtyParametersFromUI();
  finishGroupEdit();
}

void IPlugVST3::SendParameterValueFromUI(int paramIdx, double normalizedValue) {
  if (GetParam(paramIdx) == nullptr || !std::isfinite(normalizedValue)) return;
  if (Parameter* parameter = getParameterObject(static_cast<ParamID>(paramIdx)))
    parameter->setNormalized(normalizedValue);
  IPlugAPIBase::SendParameterValueFromUI(paramIdx, normalizedValue);
}

void IPlugVST3::InformHostOfParameterDetailsChange() {
  if (componentHandler != nullptr) componentHandler->restartComponent(kParamTitlesChanged);
}

// The plug-in changed its own values (a preset or the randomiser): the controller's copies follow
// and the host is asked to read them again.
void IPlugVST3::InformHostOfPresetChange() {
  for (int i = 0; i < NParams(); ++i) {
    if (Parameter* parameter = getParameterObject(static_cast<ParamID>(i)))
      parameter->setNormalized(GetParam(i)->GetNormalized());
  }
  if (componentHandler != nullptr) componentHandler->restartComponent(kParamValuesChanged);
}

void IPlugVST3::SetLatency(int samples) {
  IPlugVST3ProcessorBase::SetLatency(samples);
  if (componentHandler != nullptr) componentHandler->restartComponent(kLatencyChanged);
}

bool IPlugVST3::EditorResize(int width, int height) {
  if (HasUI()) {
    if ((width != GetEditorWidth() || height != GetEditorHeight()) && mView != nullptr)
      mView->ResizeFromPlugin(width, height);
    SetEditorSize(width, height);
  }
  return true;
}

void IPlugVST3::BeginInformHostOfParamChange(int paramIdx) {
  if (GetParam(paramIdx) != nullptr) beginEdit(static_cast<ParamID>(paramIdx));
}

void IPlugVST3::EndInformHostOfParamChange(int paramIdx) {
  if (GetParam(paramIdx) != nullptr) endEdit(static_cast<ParamID>(paramIdx));
}

void IPlugVST3::InformHostOfParamChange(int paramIdx, double normalizedValue) {
  if (GetParam(paramIdx) != nullptr) performEdit(static_cast<ParamID>(paramIdx), normalizedValue);
}

tresult PLUGIN_API IPlugVST3::queryInterface(const TUID iid, void** obj) {
  if (obj == nullptr) return kInvalidArgument;
  *obj = nullptr;
  if (iid == nullptr) return kInvalidArgument;
  QUERY_INTERFACE(iid, obj, IMidiMapping::iid, IMidiMapping)
  QUERY_INTERFACE(iid, obj, ChannelContext::IInfoListener::iid, ChannelContext::IInfoListener)
  return SingleComponentEffect::queryInterface(iid, obj);
}

tresult IPlugVST3::saveComponentState(IBStream& state) {
  Lock lock(InstanceLock());
  IByteChunk chunk;
  if (!SerializeState(chunk)) return kResultFalse;
  const uint32_t bypass = GetBypassed() ? 1 : 0;
  const uint8_t tail[4] = {static_cast<uint8_t>(bypass), static_cast<uint8_t>(bypass >> 8),
                           static_cast<uint8_t>(bypass >> 16), static_cast<uint8_t>(bypass >> 24)};
  if (!writeAll(state, chunk.GetData(), chunk.Size()) || !writeAll(state, tail, 4)) return kResultFalse;
  return kResultOk;
}

tresult IPlugVST3::loadComponentState(IBStream& state) {
  Lock lock(InstanceLock());
  // The whole stream first: the chunk's reader finds its own end, and the bypass flag follows it.
  IByteChunk chunk;
  const bool ignoreResult = GetHost() == kHostWaveLab;  // it reports failure on reads that worked
  uint8_t block[kStateReadBlock];
  for (;;) {
    int32 got = 0;
    const tresult result = state.read(block, kStateReadBlock, &got);
    if (!ignoreResult && result != kResultOk) break;
    got = std::clamp(got, 0, kStateReadBlock);
    if (got == 0) break;
    if (chunk.Size() > kMaxStateSize - got || chunk.PutBytes(block, got) < 0) return kResultFalse;
  }
  // A refused chunk has changed nothing, and its tail is not read.
  const int pos = UnserializeState(chunk, 0);
  if (pos < 0) return kResultFalse;
  // A chunk without the flag after it is loaded all the same, so the host, the editor and the
  // processor agree on it, and the answer says so: a refusal would tell the host that nothing
  // changed. The bypass stays as it was.
  uint8_t tail[4] = {};
  const bool hasTail = chunk.GetBytes(tail, 4, pos) >= 0;
  for (int i = 0; i < NParams(); ++i) {
    if (Parameter* parameter = getParameterObject(static_cast<ParamID>(i)))
      parameter->setNormalized(GetParam(i)->GetNormalized());
  }
  if (hasTail && mBypassParameter != nullptr) {
    const uint32_t bypass = tail[0] | (tail[1] << 8) | (tail[2] << 16) | (static_cast<uint32_t>(tail[3]) << 24);
    mBypassParameter->setNormalized(static_cast<int32_t>(bypass));
  }
  OnRestoreState();
  return kResultOk;
}

}  // namespace iplug
