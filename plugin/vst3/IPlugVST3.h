#pragma once

#include "plugin/framework/IPlugAPIBase.h"
#include "plugin/vst3/IPlugVST3ControllerBase.h"
#include "plugin/vst3/IPlugVST3ProcessorBase.h"
#include "plugin/vst3/SingleComponentEffect.h"
#include "pluginterfaces/vst/ivstchannelcontextinfo.h"

namespace iplug {

template <class Plug>
class IPlugVST3View;

// The plug-in object a VST3 host instantiates: the framework plug-in, its audio processor and
// its edit controller in one object with one reference count. The plug-in class derives from it,
// passes its configuration, declares its parameters in its constructor and overrides the
// framework's hooks (ProcessBlock, OnParamChange, SerializeState, ...); everything the host calls
// arrives here first, is checked and is passed on.
//
// Host calls that read or change what the idle timer touches run under the instance lock;
// process never takes it. The timer starts with the object and stops in terminate (and is started
// again when the host initialises the object once more).
class IPlugVST3 : public IPlugAPIBase,
                  public IPlugVST3ProcessorBase,
                  public IPlugVST3ControllerBase,
                  public Steinberg::Vst::SingleComponentEffect,
                  public Steinberg::Vst::IMidiMapping,
                  public Steinberg::Vst::ChannelContext::IInfoListener {
 public:
  using View = IPlugVST3View<IPlugVST3>;
  // Longest state the host may hand in; a real one is far smaller.
  static constexpr int kMaxStateSize = 16 << 20;

  explicit IPlugVST3(const Config& config);

  // IPluginBase
  Steinberg::tresult PLUGIN_API initialize(Steinberg::FUnknown* context) override;
  Steinberg::tresult PLUGIN_API terminate() override;

  // IEditController
  Steinberg::tresult PLUGIN_API setParamNormalized(Steinberg::Vst::ParamID tag,
                                                   Steinberg::Vst::ParamValue value) override;
  Steinberg::IPlugView* PLUGIN_API createView(Steinberg::FIDString name) override;

  // IUnitInfo
  Steinberg::tresult PLUGIN_API getProgramName(Steinberg::Vst::ProgramListID listId, Steinberg::int32 programIndex,
                                               Steinberg::Vst::String128 name) override;

  // IComponent
  Steinberg::tresult PLUGIN_API setActive(Steinberg::TBool state) override;

  // IAudioProcessor
  Steinberg::tresult PLUGIN_API setBusArrangements(Steinberg::Vst::SpeakerArrangement* inputs, Steinberg::int32 numIns,
                                                   Steinberg::Vst::SpeakerArrangement* outputs,
                                                   Steinberg::int32 numOuts) override;
  Steinberg::tresult PLUGIN_API canProcessSampleSize(Steinberg::int32 symbolicSampleSize) override;
  Steinberg::uint32 PLUGIN_API getLatencySamples() override;
  Steinberg::tresult PLUGIN_API setupProcessing(Steinberg::Vst::ProcessSetup& setup) override;
  Steinberg::tresult PLUGIN_API setProcessing(Steinberg::TBool state) override;
  Steinberg::tresult PLUGIN_API process(Steinberg::Vst::ProcessData& data) override;
  Steinberg::uint32 PLUGIN_API getTailSamples() override;

  // IMidiMapping: controllers 0..127, channel pressure and pitch bend of channel 1 on bus 0.
  Steinberg::tresult PLUGIN_API getMidiControllerAssignment(Steinberg::int32 busIndex, Steinberg::int16 channel,
                                                            Steinberg::Vst::CtrlNumber midiControllerNumber,
                                                            Steinberg::Vst::ParamID& id) override;

  // ChannelContext::IInfoListener
  Steinberg::tresult PLUGIN_API setChannelContextInfos(Steinberg::Vst::IAttributeList* list) override;

  // The framework's notifications, reaching the host.
  void DirtyParametersFromUI() override;
  void SendParameterValueFromUI(int paramIdx, double normalizedValue) override;
  void InformHostOfParameterDetailsChange() override;
  void InformHostOfPresetChange() override;
  void SetLatency(int samples) override;
  bool EditorResize(int width, int height) override;
  void BeginInformHostOfParamChange(int paramIdx) override;
  void EndInformHostOfParamChange(int paramIdx) override;
  void InformHostOfParamChange(int paramIdx, double normalizedValue) override;

  // The host's channel context.
  void GetChannelColor(int& red, int& green, int& blue) const override;
  void GetChannelName(WDL_String& name) const override { name.Set(mChannelName.Get()); }
  int GetChannelIndex() const override { return mChannelIndex; }
  void GetChannelNamespace(WDL_String& name) const override { name.Set(mChannelNamespace.Get()); }
  int GetChannelNamespaceOrder() const override { return mChannelNamespaceOrder; }

  // The view tells the plug-in when it goes, so no pointer to it outlives it.
  void ViewDestroyed(View* view);

  OBJ_METHODS(IPlugVST3, SingleComponentEffect)
  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override;
  REFCOUNT_METHODS(SingleComponentEffect)

 protected:
  // Destroyed by its last release. A derived class stops the timer first thing in its own
  // destructor (StopTimer()), before its members go.
  ~IPlugVST3() override;

  // The chunk of SerializeState and a 4-byte little-endian bypass flag.
  Steinberg::tresult saveComponentState(Steinberg::IBStream& state) override;
  // A chunk UnserializeState refuses answers kResultFalse and changes nothing; a loaded one
  // answers kResultOk, also when the bypass flag after it is missing.
  Steinberg::tresult loadComponentState(Steinberg::IBStream& state) override;

 private:
  View* mView = nullptr;
  bool mTimerRunning = false;
};

}  // namespace iplug
