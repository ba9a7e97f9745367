#pragma once

#include <vector>

#include "plugin/framework/IMidiQueue.h"
#include "plugin/framework/IPlugProcessor.h"
#include "plugin/framework/IPlugQueue.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"
#include "public.sdk/source/vst/vstbus.h"

namespace Steinberg::Vst {
class SingleComponentEffect;
}

namespace iplug {

class IPlugAPIBase;

// The audio half of the VST3 binding: it declares the buses from the channel configurations,
// takes the host's processing set-up, and turns each host block into the framework's calls:
// parameter changes become OnParamChange at their offset, MIDI controller tags and note events
// become MIDI messages, the host's buffers are attached to the processor's channels, and
// ProcessBlock renders.
//
// Everything the host passes is checked: ids, values, channels, pitches, offsets, bus and
// channel counts and buffer pointers that do not fit are left out, never followed. 32-bit blocks
// are rendered in the host's buffers; 64-bit blocks are rendered in single precision into the
// channels' scratch buffers and converted into the host's; a block whose sample size is not the
// one set up renders nothing. A block longer than the prepared size
// is rendered in pieces of the prepared size, each at its own transport position, so nothing
// allocates on the audio thread.
class IPlugVST3ProcessorBase : public IPlugProcessor {
 public:
  static constexpr int kDefaultBlockSize = 512;
  // Rates the processor accepts; the engine behind it prepares for nothing outside them.
  static constexpr double kMinSampleRate = 8000.0;
  static constexpr double kMaxSampleRate = 768000.0;

  // plug is the same object's API base: its parameters, host and OnParamChange.
  IPlugVST3ProcessorBase(const Config& config, IPlugAPIBase& plug);
  ~IPlugVST3ProcessorBase() override;

  // Declares the audio buses of the configurations with the most input and the most output
  // buses, and the event buses.
  void Initialize(Steinberg::Vst::SingleComponentEffect& component);
  // The configuration whose buses have exactly the requested channel counts replaces the audio
  // buses; a bus index that stays keeps its activation. False (nothing changed) when none has.
  bool SetBusArrangements(Steinberg::Vst::SingleComponentEffect& component,
                          const Steinberg::Vst::SpeakerArrangement* inputs, int numIns,
                          const Steinberg::Vst::SpeakerArrangement* outputs, int numOuts);
  // 32- or 64-bit samples at a rate within the limits and a positive block size; false (nothing
  // changed) otherwise. Ends in OnReset.
  bool SetupProcessing(const Steinberg::Vst::ProcessSetup& setup, Steinberg::Vst::ProcessSetup& storedSetup);
  bool SetProcessing(bool state);
  void Process(Steinberg::Vst::ProcessData& data, const Steinberg::Vst::ProcessSetup& setup,
               Steinberg::Vst::BusList& inputBuses, Steinberg::Vst::BusList& outputBuses,
               IPlugQueue<IMidiMsg>& editorMidi, IPlugQueue<IMidiMsg>& processorMidi,
               IPlugQueue<SysExData>& editorSysEx, SysExData& sysExBuf);

  // Queues a message for the host in offset order; false when the plug-in sends no MIDI or the
  // queue cannot take it.
  bool SendMidiMsg(const IMidiMsg& msg) override;

  // The speaker arrangement for the bus's channel count; 0 (empty) for counts without one.
  static Steinberg::Vst::SpeakerArrangement GetAPIBusTypeForChannelIOConfig(int configIdx, ERoute direction,
                                                                            int busIdx, const IOConfig* config);

 private:
  void AddAudioBuses(Steinberg::Vst::SingleComponentEffect& component, ERoute direction, int configIdx);
  void PrepareTimeInfo(const Steinberg::Vst::ProcessData& data, const Steinberg::Vst::ProcessSetup& setup);
  void ProcessParameterChanges(Steinberg::Vst::IParameterChanges& changes, int nFrames,
                               IPlugQueue<IMidiMsg>& processorMidi);
  void ProcessInputEvents(Steinberg::Vst::IEventList& events, int nFrames, IPlugQueue<IMidiMsg>& processorMidi);
  void ProcessAudio(Steinberg::Vst::ProcessData& data, Steinberg::Vst::BusList& inputBuses,
                    Steinberg::Vst::BusList& outputBuses);
  void ConnectInputs(const Steinberg::Vst::ProcessData& data, Steinberg::Vst::BusList& inputBuses);
  void AttachInputs(const Steinberg::Vst::ProcessData& data, int frameOffset, int nFrames);
  void AttachBus(ERoute direction, int firstChannel, int nChannels, const Steinberg::Vst::AudioBusBuffers& bus,
                 int frameOffset, int nFrames);
  void RenderPiece(int nFrames);
  // Moves a running transport on by the frames of a piece just rendered.
  void AdvanceTimeInfo(int nFrames);
  void ProcessOutputEvents(Steinberg::Vst::IEventList& events, int nFrames, IPlugQueue<SysExData>& editorSysEx,
                           SysExData& sysExBuf);

  // Per output bus of the block: the first processor channel and how many channels it feeds.
  struct BusSpan {
    int first = 0;
    int count = 0;
    bool active = false;
  };

  int mSidechainChannel;
  IPlugAPIBase& mPlug;
  Steinberg::Vst::ProcessContext mProcessContext{};
  IMidiQueue mMidiOutputQueue;
  bool mSidechainActive = false;
  int mNInputChannels = 0;               // channels of input bus 0 in this block
  bool mDoubleBlock = false;             // the block in hand carries 64-bit samples
  std::vector<float*> mHostPointers;     // a bus's host buffers moved on to a piece of the block
  std::vector<double*> mHostPointers64;  // the same for 64-bit buffers
  std::vector<BusSpan> mOutputSpans;     // one per declared output bus
};

}  // namespace iplug
