#include "plugin/vst3/SingleComponentEffect.h"

#include <algorithm>
#include <cmath>

#include "plugin/vst3/HostCallGuard.h"

namespace Steinberg::Vst {

namespace {

bool validIndex(const BusList* list, int32 index) {
  return list != nullptr && index >= 0 && index < static_cast<int32>(list->size());
}

}  // namespace

tresult PLUGIN_API ComponentStatePair::getState(IBStream* state) {
  if (state == nullptr) return kInvalidArgument;
  return GuardHostCall([&]() -> tresult { return saveComponentState(*state); });
}

tresult PLUGIN_API ComponentStatePair::setState(IBStream* state) {
  if (state == nullptr) return kInvalidArgument;
  return GuardHostCall([&]() -> tresult { return loadComponentState(*state); });
}

SingleComponentEffect::SingleComponentEffect()
    : audioInputs(kAudio, kInput),
      audioOutputs(kAudio, kOutput),
      eventInputs(kEvent, kInput),
      eventOutputs(kEvent, kOutput),
      processSetup{kRealtime, kSample32, 1024, 44100.0} {}

SingleComponentEffect::~SingleComponentEffect() = default;

AudioBus* SingleComponentEffect::addAudioInput(const TChar* name, SpeakerArrangement arrangement,
                                               BusType busType, int32 flags) {
  auto* bus = new AudioBus(name, busType, flags, arrangement);
  audioInputs.emplace_back(bus, false);
  return bus;
}

AudioBus* SingleComponentEffect::addAudioOutput(const TChar* name, SpeakerArrangement arrangement,
                                                BusType busType, int32 flags) {
  auto* bus = new AudioBus(name, busType, flags, arrangement);
  audioOutputs.emplace_back(bus, false);
  return bus;
}

EventBus* SingleComponentEffect::addEventInput(const TChar* name, int32 channels, BusType busType,
                                               int32 flags) {
  auto* bus = new EventBus(name, busType, flags, channels);
  eventInputs.emplace_back(bus, false);
  return bus;
}

EventBus* SingleComponentEffect::addEventOutput(const TChar* name, int32 channels, BusType busType,
                                                int32 flags) {
  auto* bus = new EventBus(name, busType, flags, channels);
  eventOutputs.emplace_back(bus, false);
  return bus;
}

tresult SingleComponentEffect::removeAudioBusses() {
  audioInputs.clear();
  audioOutputs.clear();
  return kResultOk;
}

tresult SingleComponentEffect::removeEventBusses() {
  eventInputs.clear();
  eventOutputs.clear();
  return kResultOk;
}

tresult SingleComponentEffect::removeAllBusses() {
  removeAudioBusses();
  return removeEventBusses();
}

BusList* SingleComponentEffect::getBusList(MediaType type, BusDirection dir) {
  if (dir != kInput && dir != kOutput) return nullptr;
  if (type == kAudio) return dir == kInput ? &audioInputs : &audioOutputs;
  if (type == kEvent) return dir == kInput ? &eventInputs : &eventOutputs;
  return nullptr;
}

tresult PLUGIN_API SingleComponentEffect::initialize(FUnknown* context) {
  // The edit controller would take a second initialize when the first came without a context.
  if (initialized) return kResultFalse;
  tresult result = EditControllerEx1::initialize(context);
  if (result == kResultOk) initialized = true;
  return result;
}

tresult PLUGIN_API SingleComponentEffect::terminate() {
  return GuardHostCall([&]() -> tresult {
    parameters.removeAll();
    removeAllBusses();
    initialized = false;
    return EditControllerEx1::terminate();
  });
}

tresult PLUGIN_API SingleComponentEffect::notify(IMessage* message) {
  // The base reads a message's attributes without asking whether there are any.
  if (message == nullptr || message->getAttributes() == nullptr) return kInvalidArgument;
  return GuardHostCall([&]() -> tresult { return EditControllerEx1::notify(message); });
}

tresult PLUGIN_API SingleComponentEffect::getParameterInfo(int32 paramIndex, ParameterInfo& info) {
  if (paramIndex < 0 || paramIndex >= parameters.getParameterCount()) return kInvalidArgument;
  return EditControllerEx1::getParameterInfo(paramIndex, info);
}

tresult PLUGIN_API SingleComponentEffect::getParamStringByValue(ParamID tag,
                                                                ParamValue valueNormalized,
                                                                String128 string) {
  if (string == nullptr) return kInvalidArgument;
  string[0] = 0;
  if (std::isnan(valueNormalized)) return kInvalidArgument;
  // Formatting a value far outside 0..1 would not fit the host's 128 characters.
  valueNormalized = std::clamp(valueNormalized, 0.0, 1.0);
  return GuardHostCall([&]() -> tresult {
    const tresult result = EditControllerEx1::getParamStringByValue(tag, valueNormalized, string);
    string[127] = 0;
    return result;
  });
}

tresult PLUGIN_API SingleComponentEffect::getParamValueByString(ParamID tag, TChar* string,
                                                                ParamValue& valueNormalized) {
  if (string == nullptr) return kInvalidArgument;
  return GuardHostCall([&]() -> tresult {
    ParamValue value = 0.0;
    tresult result = EditControllerEx1::getParamValueByString(tag, string, value);
    if (result != kResultTrue || std::isnan(value)) return kResultFalse;
    // A text that reads as a number beyond the range ("1e200", "100") means its end.
    valueNormalized = std::clamp(value, 0.0, 1.0);
    return result;
  });
}

ParamValue PLUGIN_API SingleComponentEffect::normalizedParamToPlain(ParamID tag,
                                                                    ParamValue valueNormalized) {
  if (!std::isfinite(valueNormalized)) valueNormalized = 0.0;
  return EditControllerEx1::normalizedParamToPlain(tag, valueNormalized);
}

ParamValue PLUGIN_API SingleComponentEffect::plainParamToNormalized(ParamID tag,
                                                                    ParamValue plainValue) {
  if (!std::isfinite(plainValue)) return 0.0;
  return EditControllerEx1::plainParamToNormalized(tag, plainValue);
}

tresult PLUGIN_API SingleComponentEffect::setParamNormalized(ParamID tag, ParamValue value) {
  if (!std::isfinite(value)) return kInvalidArgument;
  return GuardHostCall([&]() -> tresult { return EditControllerEx1::setParamNormalized(tag, value); });
}

tresult PLUGIN_API SingleComponentEffect::getUnitInfo(int32 unitIndex, UnitInfo& info) {
  if (unitIndex < 0 || unitIndex >= static_cast<int32>(units.size())) return kInvalidArgument;
  return EditControllerEx1::getUnitInfo(unitIndex, info);
}

tresult PLUGIN_API SingleComponentEffect::getProgramName(ProgramListID listId, int32 programIndex,
                                                         String128 name) {
  if (name == nullptr) return kInvalidArgument;
  return GuardHostCall(
      [&]() -> tresult { return EditControllerEx1::getProgramName(listId, programIndex, name); });
}

tresult PLUGIN_API SingleComponentEffect::getControllerClassId(TUID /*classId*/) {
  return kNotImplemented;  // the controller is this object
}

tresult PLUGIN_API SingleComponentEffect::setIoMode(IoMode /*mode*/) { return kNotImplemented; }

int32 PLUGIN_API SingleComponentEffect::getBusCount(MediaType type, BusDirection dir) {
  BusList* list = getBusList(type, dir);
  return list ? static_cast<int32>(list->size()) : 0;
}

tresult PLUGIN_API SingleComponentEffect::getBusInfo(MediaType type, BusDirection dir, int32 index,
                                                     BusInfo& bus) {
  BusList* list = getBusList(type, dir);
  if (!validIndex(list, index)) return kInvalidArgument;
  bus.mediaType = type;
  bus.direction = dir;
  return GuardHostCall(
      [&]() -> tresult { return list->at(index)->getInfo(bus) ? kResultTrue : kResultFalse; });
}

tresult PLUGIN_API SingleComponentEffect::getRoutingInfo(RoutingInfo& /*inInfo*/,
                                                         RoutingInfo& /*outInfo*/) {
  return kNotImplemented;
}

tresult PLUGIN_API SingleComponentEffect::activateBus(MediaType type, BusDirection dir, int32 index,
                                                      TBool state) {
  BusList* list = getBusList(type, dir);
  if (!validIndex(list, index)) return kInvalidArgument;
  list->at(index)->setActive(state ? 1 : 0);
  return kResultTrue;
}

tresult PLUGIN_API SingleComponentEffect::setActive(TBool /*state*/) { return kResultOk; }

tresult PLUGIN_API SingleComponentEffect::setBusArrangements(SpeakerArrangement* inputs,
                                                             int32 numIns,
                                                             SpeakerArrangement* outputs,
                                                             int32 numOuts) {
  if (numIns < 0 || numOuts < 0 || (numIns > 0 && inputs == nullptr) ||
      (numOuts > 0 && outputs == nullptr))
    return kInvalidArgument;
  auto matches = [](const BusList& list, const SpeakerArrangement* arr, int32 count) {
    if (count != static_cast<int32>(list.size())) return false;
    for (int32 i = 0; i < count; ++i) {
      auto* bus = FCast<AudioBus>(list.at(i).get());
      if (bus == nullptr ||
          SpeakerArr::getChannelCount(arr[i]) != SpeakerArr::getChannelCount(bus->getArrangement()))
        return false;
    }
    return true;
  };
  if (!matches(audioInputs, inputs, numIns) || !matches(audioOutputs, outputs, numOuts))
    return kResultFalse;
  for (int32 i = 0; i < numIns; ++i)
    FCast<AudioBus>(audioInputs.at(i).get())->setArrangement(inputs[i]);
  for (int32 i = 0; i < numOuts; ++i)
    FCast<AudioBus>(audioOutputs.at(i).get())->setArrangement(outputs[i]);
  return kResultTrue;
}

tresult PLUGIN_API SingleComponentEffect::getBusArrangement(BusDirection dir, int32 index,
                                                            SpeakerArrangement& arr) {
  BusList* list = getBusList(kAudio, dir);
  if (!validIndex(list, index)) return kInvalidArgument;
  auto* bus = FCast<AudioBus>(list->at(index).get());
  if (bus == nullptr) return kResultFalse;
  arr = bus->getArrangement();
  return kResultTrue;
}

tresult PLUGIN_API SingleComponentEffect::canProcessSampleSize(int32 symbolicSampleSize) {
  return symbolicSampleSize == kSample32 ? kResultTrue : kResultFalse;
}

uint32 PLUGIN_API SingleComponentEffect::getLatencySamples() { return 0; }

tresult PLUGIN_API SingleComponentEffect::setupProcessing(ProcessSetup& setup) {
  if (canProcessSampleSize(setup.symbolicSampleSize) != kResultTrue) return kResultFalse;
  if (!std::isfinite(setup.sampleRate) || setup.sampleRate <= 0.0 || setup.maxSamplesPerBlock <= 0)
    return kResultFalse;
  processSetup = setup;
  return kResultOk;
}

tresult PLUGIN_API SingleComponentEffect::setProcessing(TBool /*state*/) { return kResultOk; }

uint32 PLUGIN_API SingleComponentEffect::getTailSamples() { return kNoTail; }

uint32 PLUGIN_API SingleComponentEffect::getProcessContextRequirements() {
  using R = IProcessContextRequirements;
  return R::kNeedProjectTimeMusic | R::kNeedBarPositionMusic | R::kNeedCycleMusic | R::kNeedTempo |
         R::kNeedTimeSignature | R::kNeedTransportState;
}

tresult PLUGIN_API SingleComponentEffect::queryInterface(const TUID iid, void** obj) {
  if (obj == nullptr) return kInvalidArgument;
  *obj = nullptr;
  if (iid == nullptr) return kInvalidArgument;
  QUERY_INTERFACE(iid, obj, IComponent::iid, IComponent)
  QUERY_INTERFACE(iid, obj, IAudioProcessor::iid, IAudioProcessor)
  QUERY_INTERFACE(iid, obj, IProcessContextRequirements::iid, IProcessContextRequirements)
  return EditControllerEx1::queryInterface(iid, obj);
}

}  // namespace Steinberg::Vst
