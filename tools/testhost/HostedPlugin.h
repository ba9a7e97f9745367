#pragma once

// One plug-in instance driven as a host drives it: initialize, buses, processing set-up,
// activation, blocks with events, parameter changes and a process context, state through a memory
// stream, and the teardown. The instance keeps its module loaded for as long as it lives.

#include <memory>
#include <string>
#include <vector>

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"
#include "tools/testhost/ComponentHandler.h"
#include "tools/testhost/EventList.h"
#include "tools/testhost/HostApplication.h"
#include "tools/testhost/ParameterChanges.h"
#include "tools/testhost/VstModule.h"

namespace testhost {

class HostedPlugin {
 public:
  // Creates an instance of the class through the module's factory (its component, and the
  // processor and controller of the same object). Null with the reason in error on failure.
  static std::unique_ptr<HostedPlugin> create(std::shared_ptr<VstModule> module,
                                              const Steinberg::TUID classId, std::string& error);
  // An instance the caller made itself (a plug-in linked into the program); takes over the
  // caller's reference, which is released even when adopting fails.
  static std::unique_ptr<HostedPlugin> adopt(Steinberg::FUnknown* instance, std::string& error);
  ~HostedPlugin();
  HostedPlugin(const HostedPlugin&) = delete;
  HostedPlugin& operator=(const HostedPlugin&) = delete;

  Steinberg::Vst::IComponent* component() const { return comp; }
  Steinberg::Vst::IAudioProcessor* processor() const { return proc; }
  Steinberg::Vst::IEditController* controller() const { return ctrl; }
  HostApplication& host() { return hostContext; }
  ComponentHandler& handler() { return componentHandler; }

  // initialize with the host context, then the component handler, then the buses flagged
  // default-active switched on, as hosts do.
  Steinberg::tresult initialize();
  Steinberg::tresult setBusArrangements(std::vector<Steinberg::Vst::SpeakerArrangement> inputs,
                                        std::vector<Steinberg::Vst::SpeakerArrangement> outputs);
  Steinberg::tresult activateBus(Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
                                 Steinberg::int32 index, bool state);
  Steinberg::tresult setupProcessing(Steinberg::Vst::SampleRate rate,
                                     Steinberg::int32 maxSamplesPerBlock,
                                     Steinberg::int32 sampleSize = Steinberg::Vst::kSample32,
                                     Steinberg::int32 mode = Steinberg::Vst::kRealtime);
  // Activation also lays out the host's audio buffers for the buses as they are then.
  Steinberg::tresult setActive(bool state);
  Steinberg::tresult setProcessing(bool state);

  // One block over the host's buffers; outputs are cleared to a marker value first, so a test
  // can tell written samples from untouched ones.
  Steinberg::tresult process(Steinberg::int32 numSamples,
                             Steinberg::Vst::IEventList* events = nullptr,
                             Steinberg::Vst::IParameterChanges* changes = nullptr,
                             Steinberg::Vst::ProcessContext* context = nullptr);
  // A block as the caller laid it out, for hosts that get things wrong.
  Steinberg::tresult process(Steinberg::Vst::ProcessData& data);
  // The block process() would send, pointing at the host's buffers, before sending it.
  Steinberg::Vst::ProcessData blockData(Steinberg::int32 numSamples);
  // A host buffer of an output bus (null for a bus or channel the host has none of). Blocks
  // carry 32-bit buffers, or 64-bit ones (output64) when processing was set up for them.
  const float* output(Steinberg::int32 bus, Steinberg::int32 channel) const;
  const double* output64(Steinberg::int32 bus, Steinberg::int32 channel) const;
  EventList& outputEvents() { return outEvents; }
  ParameterChanges& outputChanges() { return outChanges; }
  static constexpr float kUntouched = -12345.0f;

  // The component's state through a memory stream, as a host saves and restores a project.
  Steinberg::tresult getState(std::vector<char>& bytes);
  Steinberg::tresult setState(const std::vector<char>& bytes);

  // Processing off, inactive, handler gone, terminate, release; safe to call more than once.
  void teardown();

 private:
  HostedPlugin() = default;
  void layOutBuffers(Steinberg::int32 frames);

  struct Bus {
    std::vector<std::vector<float>> channels;
    std::vector<float*> pointers;
    std::vector<std::vector<double>> channels64;
    std::vector<double*> pointers64;
  };
  std::shared_ptr<VstModule> module;
  Steinberg::Vst::IComponent* comp = nullptr;
  Steinberg::Vst::IAudioProcessor* proc = nullptr;
  Steinberg::Vst::IEditController* ctrl = nullptr;
  HostApplication hostContext;
  ComponentHandler componentHandler;
  bool initialized = false;
  bool active = false;
  bool processing = false;
  Steinberg::Vst::ProcessSetup setup{Steinberg::Vst::kRealtime, Steinberg::Vst::kSample32, 0, 0.0};
  std::vector<Bus> inputs;
  std::vector<Bus> outputs;
  std::vector<Steinberg::Vst::AudioBusBuffers> inputBuffers;
  std::vector<Steinberg::Vst::AudioBusBuffers> outputBuffers;
  Steinberg::int32 capacity = 0;
  Steinberg::int32 laidOutSampleSize = Steinberg::Vst::kSample32;
  EventList outEvents;
  ParameterChanges outChanges;
};

}  // namespace testhost
