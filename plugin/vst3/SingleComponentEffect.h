#pragma once

// One object that is at once the edit controller, the component and the audio processor of a
// plug-in: the host sees every interface on one reference count.

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "public.sdk/source/vst/vstbus.h"
#include "public.sdk/source/vst/vsteditcontroller.h"

namespace Steinberg::Vst {

// IComponent::getState/setState and IEditController::getState/setState have the same signature, so
// one override would answer both and a host would store and read the whole state twice. This base
// gives the component's pair its own final overriders, which forward to differently named
// functions; the controller's pair stays the edit controller's (not implemented).
class ComponentStatePair : public IComponent {
 public:
  tresult PLUGIN_API getState(IBStream* state) final;
  tresult PLUGIN_API setState(IBStream* state) final;

 protected:
  // Called with a stream that is not null; exceptions are caught by the caller.
  virtual tresult saveComponentState(IBStream& state) = 0;
  virtual tresult loadComponentState(IBStream& state) = 0;
};

class SingleComponentEffect : public EditControllerEx1,
                              public ComponentStatePair,
                              public IAudioProcessor,
                              public IProcessContextRequirements {
 public:
  SingleComponentEffect();

  // Buses, declared in initialize. They start inactive; hosts switch on those flagged
  // default-active.
  AudioBus* addAudioInput(const TChar* name, SpeakerArrangement arrangement,
                          BusType busType = kMain, int32 flags = BusInfo::kDefaultActive);
  AudioBus* addAudioOutput(const TChar* name, SpeakerArrangement arrangement,
                           BusType busType = kMain, int32 flags = BusInfo::kDefaultActive);
  EventBus* addEventInput(const TChar* name, int32 channels = 16, BusType busType = kMain,
                          int32 flags = BusInfo::kDefaultActive);
  EventBus* addEventOutput(const TChar* name, int32 channels = 16, BusType busType = kMain,
                           int32 flags = BusInfo::kDefaultActive);
  tresult removeAudioBusses();
  tresult removeEventBusses();
  tresult removeAllBusses();
  BusList* getBusList(MediaType type, BusDirection dir);
  const ProcessSetup& getProcessSetup() const { return processSetup; }

  // IPluginBase: a second initialize before terminate is refused.
  tresult PLUGIN_API initialize(FUnknown* context) override;
  tresult PLUGIN_API terminate() override;

  // IConnectionPoint
  tresult PLUGIN_API notify(IMessage* message) override;

  // IEditController, guarded against bad indices, null strings and values that are not finite.
  // Texts are formatted from values held to 0..1 (NaN is refused with an empty text), and a
  // text never reads as a value outside 0..1.
  tresult PLUGIN_API getParameterInfo(int32 paramIndex, ParameterInfo& info) override;
  tresult PLUGIN_API getParamStringByValue(ParamID tag, ParamValue valueNormalized,
                                           String128 string) override;
  tresult PLUGIN_API getParamValueByString(ParamID tag, TChar* string,
                                           ParamValue& valueNormalized) override;
  ParamValue PLUGIN_API normalizedParamToPlain(ParamID tag, ParamValue valueNormalized) override;
  ParamValue PLUGIN_API plainParamToNormalized(ParamID tag, ParamValue plainValue) override;
  tresult PLUGIN_API setParamNormalized(ParamID tag, ParamValue value) override;

  // IUnitInfo
  tresult PLUGIN_API getUnitInfo(int32 unitIndex, UnitInfo& info) override;
  tresult PLUGIN_API getProgramName(ProgramListID listId, int32 programIndex,
                                    String128 name) override;

  // IComponent
  tresult PLUGIN_API getControllerClassId(TUID classId) override;
  tresult PLUGIN_API setIoMode(IoMode mode) override;
  int32 PLUGIN_API getBusCount(MediaType type, BusDirection dir) override;
  tresult PLUGIN_API getBusInfo(MediaType type, BusDirection dir, int32 index,
                                BusInfo& bus) override;
  tresult PLUGIN_API getRoutingInfo(RoutingInfo& inInfo, RoutingInfo& outInfo) override;
  tresult PLUGIN_API activateBus(MediaType type, BusDirection dir, int32 index,
                                 TBool state) override;
  tresult PLUGIN_API setActive(TBool state) override;

  // IAudioProcessor. The default arrangement check accepts exactly the declared buses with
  // their channel counts; the default set-up accepts 32-bit samples at a positive, finite rate.
  tresult PLUGIN_API setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                        SpeakerArrangement* outputs, int32 numOuts) override;
  tresult PLUGIN_API getBusArrangement(BusDirection dir, int32 index,
                                       SpeakerArrangement& arr) override;
  tresult PLUGIN_API canProcessSampleSize(int32 symbolicSampleSize) override;
  uint32 PLUGIN_API getLatencySamples() override;
  tresult PLUGIN_API setupProcessing(ProcessSetup& setup) override;
  tresult PLUGIN_API setProcessing(TBool state) override;
  uint32 PLUGIN_API getTailSamples() override;

  // IProcessContextRequirements: what the process context must carry.
  uint32 PLUGIN_API getProcessContextRequirements() override;

  OBJ_METHODS(SingleComponentEffect, EditControllerEx1)
  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
  REFCOUNT_METHODS(EditControllerEx1)

 protected:
  ~SingleComponentEffect() override;

  bool isInitialized() const { return initialized; }

  BusList audioInputs;
  BusList audioOutputs;
  BusList eventInputs;
  BusList eventOutputs;
  ProcessSetup processSetup;

 private:
  bool initialized = false;
};

}  // namespace Steinberg::Vst
