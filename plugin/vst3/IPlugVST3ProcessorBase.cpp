#include "plugin/vst3/IPlugVST3ProcessorBase.h"

#include <algorithm>
#include <cmath>

#include "plugin/framework/HostLookup.h"
#include "plugin/framework/IPlugAPIBase.h"
#include "plugin/vst3/SingleComponentEffect.h"
#include "plugin/vst3/Vst3ParamTags.h"
#include "plugin/vst3/Vst3Text.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivstmidicontrollers.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace iplug {

namespace {

// A 0..1 value from the host as a 7-bit MIDI data byte; a value outside the range is held to it.
uint8_t toDataByte(double value) { return static_cast<uint8_t>(std::clamp(value, 0.0, 1.0) * 127.0); }

// An event or parameter offset held inside the block, as VST3 requires of the host.
int32 holdOffset(int32 offset, int nFrames) { return std::clamp(offset, 0, std::max(nFrames - 1, 0)); }

bool isFinite(double value) { return std::isfinite(value); }

// A host's note velocity or pressure (0..1) as a 7-bit data byte: the product is formed in single
// precision, in which v / 127 times 127 gives back exactly v for every v; in double it would fall
// short of it for most, and velocity 1 would become 0, a note-off.
uint8_t eventLevel(float value) {
  return std::isfinite(value) ? static_cast<uint8_t>(std::clamp(value, 0.0f, 1.0f) * 127.0f) : uint8_t{0};
}

// The host's channel count of a bus, held to what a bus of the processor can have.
int hostChannels(const AudioBusBuffers& bus, int limit) { return std::clamp<int>(bus.numChannels, 0, limit); }

// A bus's host buffers, moved on to the piece of the block at frameOffset, attached to the
// processor's channels from firstChannel; null host arrays and channels leave scratch in place.
template <typename Sample>
void attachSamples(IPlugProcessor& processor, ERoute direction, int firstChannel, int nChannels, Sample** host,
                   std::vector<Sample*>& pointers, int frameOffset, int nFrames) {
  if (host == nullptr) {
    processor.AttachBuffers(direction, firstChannel, nChannels, static_cast<Sample**>(nullptr), nFrames);
    return;
  }
  for (int c = 0; c < nChannels; ++c) {
    Sample* channel = host[c];
    pointers[static_cast<size_t>(c)] = channel != nullptr ? channel + frameOffset : nullptr;
  }
  processor.AttachBuffers(direction, firstChannel, nChannels, pointers.data(), nFrames);
}

}  // namespace

IPlugVST3ProcessorBase::IPlugVST3ProcessorBase(const Config& config, IPlugAPIBase& plug)
    : IPlugProcessor(config), mSidechainChannel(MaxNChannelsForBus(kInput, 0)), mPlug(plug) {
  SetChannelConnections(kInput, 0, MaxNChannels(kInput), true);
  SetChannelConnections(kOutput, 0, MaxNChannels(kOutput), true);
  SetBlockSize(kDefaultBlockSize);
  mHostPointers.assign(static_cast<size_t>(std::max(MaxNChannels(kInput), MaxNChannels(kOutput))), nullptr);
  mHostPointers64.assign(mHostPointers.size(), nullptr);
  mOutputSpans.resize(static_cast<size_t>(MaxNBuses(kOutput)));
}

IPlugVST3ProcessorBase::~IPlugVST3ProcessorBase() = default;

SpeakerArrangement IPlugVST3ProcessorBase::GetAPIBusTypeForChannelIOConfig(int /*configIdx*/, ERoute direction,
                                                                           int busIdx, const IOConfig* config) {
  if (config == nullptr) return SpeakerArr::kEmpty;
  switch (config->NChansOnBus(direction, busIdx)) {
    case 1: return 0x80000;
    case 2: return 0x3;
    case 3: return 0x7;
    case 4: return 0xF00000;
    case 5: return 0x37;
    case 6: return 0x3F;
    case 7: return 0xF7;
    case 8: return 0x63F;
    case 9: return 0x7C000F00000;
    case 10: return 0x300063F;
    case 16: return 0x3FFC000F00000;
    default: return SpeakerArr::kEmpty;
  }
}

void IPlugVST3ProcessorBase::AddAudioBuses(SingleComponentEffect& component, ERoute direction, int configIdx) {
  const IOConfig* config = GetIOConfig(configIdx);
  if (config == nullptr) return;
  const int nBuses = config->NBuses(direction);
  for (int i = 0; i < nBuses; ++i) {
    WDL_String name;
    GetBusName(direction, i, nBuses, name);
    String128 name16;
    CopyToString128(name.Get(), name16);
    const SpeakerArrangement arrangement = GetAPIBusTypeForChannelIOConfig(configIdx, direction, i, config);
    const BusType type = i == 0 ? kMain : kAux;
    const int32 flags = i == 0 ? BusInfo::kDefaultActive : 0;
    if (direction == kInput) {
      component.addAudioInput(name16, arrangement, type, flags);
    } else {
      component.addAudioOutput(name16, arrangement, type, flags);
    }
  }
}

void IPlugVST3ProcessorBase::Initialize(SingleComponentEffect& component) {
  int inConfig = 0;
  int outConfig = 0;
  MaxNBuses(kInput, &inConfig);
  const int nOutBuses = MaxNBuses(kOutput, &outConfig);
  AddAudioBuses(component, kInput, inConfig);
  AddAudioBuses(component, kOutput, outConfig);
  if (GetPlugType() == kMIDIEffect && nOutBuses == 0)
    component.addAudioOutput(STR16("Dummy Output"), SpeakerArr::kEmpty, kMain, 0);
  if (DoesMidiIn()) component.addEventInput(STR16("MIDI Input"), 1, kMain, BusInfo::kDefaultActive);
  if (DoesMidiOut()) component.addEventOutput(STR16("MIDI Output"), 1, kMain, BusInfo::kDefaultActive);
}

bool IPlugVST3ProcessorBase::SetBusArrangements(SingleComponentEffect& component, const SpeakerArrangement* inputs,
                                                int numIns, const SpeakerArrangement* outputs, int numOuts) {
  // These hosts ask for arrangements the plug-in never offered and then use the buses as they are.
  if (mPlug.GetHost() == kHostArdour || mPlug.GetHost() == kHostMixbus) return true;
  if (numIns < 0 || numOuts < 0 || numIns > MaxNBuses(kInput) || numOuts > MaxNBuses(kOutput)) return false;
  if ((numIns > 0 && inputs == nullptr) || (numOuts > 0 && outputs == nullptr)) return false;
  std::vector<int> inChans(static_cast<size_t>(numIns));
  std::vector<int> outChans(static_cast<size_t>(numOuts));
  for (int i = 0; i < numIns; ++i) inChans[static_cast<size_t>(i)] = SpeakerArr::getChannelCount(inputs[i]);
  for (int i = 0; i < numOuts; ++i) outChans[static_cast<size_t>(i)] = SpeakerArr::getChannelCount(outputs[i]);
  const int configIdx = GetIOConfigWithChanCounts(inChans, outChans);
  if (configIdx < 0) return false;

  auto activations = [](const BusList& list) {
    std::vector<bool> active;
    for (const auto& bus : list) active.push_back(bus->isActive() != 0);
    return active;
  };
  auto restore = [](BusList& list, const std::vector<bool>& active) {
    for (size_t i = 0; i < list.size() && i < active.size(); ++i) list[i]->setActive(active[i]);
  };
  BusList& inBuses = *component.getBusList(kAudio, kInput);
  BusList& outBuses = *component.getBusList(kAudio, kOutput);
  const std::vector<bool> inActive = activations(inBuses);
  const std::vector<bool> outActive = activations(outBuses);
  SetChannelConnections(kInput, 0, MaxNChannels(kInput), false);
  SetChannelConnections(kOutput, 0, MaxNChannels(kOutput), false);
  component.removeAudioBusses();
  AddAudioBuses(component, kInput, configIdx);
  AddAudioBuses(component, kOutput, configIdx);
  restore(inBuses, inActive);
  restore(outBuses, outActive);
  return true;
}

bool IPlugVST3ProcessorBase::SetupProcessing(const ProcessSetup& setup, ProcessSetup& storedSetup) {
  if (setup.symbolicSampleSize != kSample32 && setup.symbolicSampleSize != kSample64) return false;
  if (!isFinite(setup.sampleRate) || setup.sampleRate < kMinSampleRate || setup.sampleRate > kMaxSampleRate)
    return false;
  if (setup.maxSamplesPerBlock <= 0) return false;
  // A longer maximum is accepted and its blocks rendered in pieces.
  if (!SetBlockSize(std::min(setup.maxSamplesPerBlock, kMaxBlockSize))) return false;
  mMidiOutputQueue.Resize(setup.maxSamplesPerBlock);  // keeps the old array when it cannot grow
  storedSetup = setup;
  SetSampleRate(setup.sampleRate);
  OnReset();
  return true;
}

bool IPlugVST3ProcessorBase::SetProcessing(bool state) {
  if (!state) OnReset();
  return true;
}

void IPlugVST3ProcessorBase::PrepareTimeInfo(const ProcessData& data, const ProcessSetup& setup) {
  if (data.processContext != nullptr) mProcessContext = *data.processContext;
  const ProcessContext& context = mProcessContext;
  ITimeInfo timeInfo;
  // A host without a tempo or time signature (or with a zero one) gets the defaults rather than
  // a tempo of 0 or a signature of 0/0, which the transport would divide by.
  if (isFinite(context.tempo) && context.tempo > 0.0) timeInfo.mTempo = context.tempo;
  if ((context.state & ProcessContext::kProjectTimeMusicValid) != 0)
    timeInfo.mSamplePos = static_cast<double>(context.projectTimeSamples);
  if (isFinite(context.projectTimeMusic)) timeInfo.mPPQPos = context.projectTimeMusic;
  if (isFinite(context.barPositionMusic)) timeInfo.mLastBar = context.barPositionMusic;
  if (isFinite(context.cycleStartMusic)) timeInfo.mCycleStart = context.cycleStartMusic;
  if (isFinite(context.cycleEndMusic)) timeInfo.mCycleEnd = context.cycleEndMusic;
  if (context.timeSigNumerator > 0 && context.timeSigDenominator > 0) {
    timeInfo.mNumerator = context.timeSigNumerator;
    timeInfo.mDenominator = context.timeSigDenominator;
  }
  timeInfo.mTransportIsRunning = (context.state & ProcessContext::kPlaying) != 0;
  timeInfo.mTransportLoopEnabled = (context.state & ProcessContext::kCycleActive) != 0;
  SetTimeInfo(timeInfo);
  SetRenderingOffline(setup.processMode == kOffline);
}

void IPlugVST3ProcessorBase::ProcessParameterChanges(IParameterChanges& changes, int nFrames,
                                                     IPlugQueue<IMidiMsg>& processorMidi) {
  constexpr uint32_t kMIDICCParamEndTag = kMIDICCParamStartTag + kMIDIChannels * kMIDICCsPerChannel;
  const int32 count = changes.getParameterCount();
  for (int32 i = 0; i < count; ++i) {
    IParamValueQueue* queue = changes.getParameterData(i);
    if (queue == nullptr) continue;
    // Only the block's last point counts, at its offset.
    const int32 points = queue->getPointCount();
    int32 offset = 0;
    ParamValue value = 0.0;
    if (points <= 0 || queue->getPoint(points - 1, offset, value) != kResultOk || !isFinite(value)) continue;
    value = std::clamp(value, 0.0, 1.0);
    offset = holdOffset(offset, nFrames);
    const ParamID id = queue->getParameterId();
    if (id == kBypassParamTag) {
      const bool bypassed = value > 0.5;
      if (bypassed != GetBypassed()) SetBypassed(bypassed);
    } else if (id < static_cast<ParamID>(mPlug.NParams())) {
      const int idx = static_cast<int>(id);
      mPlug.GetParam(idx)->SetNormalized(value);
      mPlug.OnParamChange(idx, kHost, offset);
    } else if (id >= kMIDICCParamStartTag && id < kMIDICCParamEndTag) {
      const int index = static_cast<int>(id - kMIDICCParamStartTag);
      const uint8_t channel = static_cast<uint8_t>(index / kMIDICCsPerChannel);
      const int controller = index % kMIDICCsPerChannel;
      IMidiMsg msg;
      msg.mOffset = offset;
      if (controller == kChannelPressureCC) {
        msg.mStatus = 0xD0 | channel;
        msg.mData1 = toDataByte(value);
      } else if (controller == kPitchBendCC) {
        const int bend = std::clamp(8192 + static_cast<int>((value * 2.0 - 1.0) * 8192.0), 0, 16383);
        msg.mStatus = 0xE0 | channel;
        msg.mData1 = static_cast<uint8_t>(bend & 0x7F);
        msg.mData2 = static_cast<uint8_t>(bend >> 7);
      } else {
        msg.mStatus = 0xB0 | channel;
        msg.mData1 = static_cast<uint8_t>(controller);
        msg.mData2 = toDataByte(value);
      }
      processorMidi.Push(msg);  // a full queue only costs the editor the message
      ProcessMidiMsg(msg);
    }
  }
}

void IPlugVST3ProcessorBase::ProcessInputEvents(IEventList& events, int nFrames, IPlugQueue<IMidiMsg>& processorMidi) {
  auto note = [](int16 channel, int16 pitch) { return channel >= 0 && channel < 16 && pitch >= 0 && pitch < 128; };
  const int32 count = events.getEventCount();
  for (int32 i = 0; i < count; ++i) {
    Event e{};
    if (events.getEvent(i, e) != kResultOk || e.busIndex != 0) continue;
    const int32 offset = holdOffset(e.sampleOffset, nFrames);
    IMidiMsg msg;
    msg.mOffset = offset;
    switch (e.type) {
      case Event::kNoteOnEvent:
        if (!note(e.noteOn.channel, e.noteOn.pitch)) continue;
        msg.mStatus = static_cast<uint8_t>(0x90 | e.noteOn.channel);
        msg.mData1 = static_cast<uint8_t>(e.noteOn.pitch);
        msg.mData2 = eventLevel(e.noteOn.velocity);
        break;
      case Event::kNoteOffEvent:
        if (!note(e.noteOff.channel, e.noteOff.pitch)) continue;
        msg.mStatus = static_cast<uint8_t>(0x80 | e.noteOff.channel);
        msg.mData1 = static_cast<uint8_t>(e.noteOff.pitch);
        break;
      case Event::kPolyPressureEvent:
        if (!note(e.polyPressure.channel, e.polyPressure.pitch)) continue;
        msg.mStatus = static_cast<uint8_t>(0xA0 | e.polyPressure.channel);
        msg.mData1 = static_cast<uint8_t>(e.polyPressure.pitch);
        msg.mData2 = eventLevel(e.polyPressure.pressure);
        break;
      case Event::kDataEvent:
        if (e.data.size <= static_cast<uint32>(INT32_MAX) && (e.data.bytes != nullptr || e.data.size == 0))
          ProcessSysEx(ISysEx(offset, e.data.bytes, static_cast<int32_t>(e.data.size)));
        continue;
      default:
        continue;
    }
    ProcessMidiMsg(msg);
    processorMidi.Push(msg);
  }
}

void IPlugVST3ProcessorBase::AttachBus(ERoute direction, int firstChannel, int nChannels, const AudioBusBuffers& bus,
                                       int frameOffset, int nFrames) {
  if (mDoubleBlock) {
    attachSamples(*this, direction, firstChannel, nChannels, bus.channelBuffers64, mHostPointers64, frameOffset,
                  nFrames);
  } else {
    attachSamples(*this, direction, firstChannel, nChannels, bus.channelBuffers32, mHostPointers, frameOffset,
                  nFrames);
  }
}

void IPlugVST3ProcessorBase::RenderPiece(int nFrames) {
  if (GetBypassed()) {
    OnBypassedBlock(nFrames);
    mDoubleBlock ? PassThroughBuffers(0.0, nFrames) : PassThroughBuffers(0.0f, nFrames);
  } else {
    mDoubleBlock ? ProcessBuffers(0.0, nFrames) : ProcessBuffers(0.0f, nFrames);
  }
}

void IPlugVST3ProcessorBase::AdvanceTimeInfo(int nFrames) {
  ITimeInfo timeInfo = GetTimeInfo();
  if (!timeInfo.mTransportIsRunning) return;  // a stopped transport stays where it is
  const double seconds = static_cast<double>(nFrames) / GetSampleRate();
  timeInfo.mPPQPos += seconds * timeInfo.mTempo / 60.0;
  if (timeInfo.mSamplePos >= 0.0) timeInfo.mSamplePos += nFrames;
  SetTimeInfo(timeInfo);
}

void IPlugVST3ProcessorBase::ConnectInputs(const ProcessData& data, BusList& inputBuses) {
  // Every block starts from nothing connected, so no host pointer of an earlier block survives.
  SetChannelConnections(kInput, 0, MaxNChannels(kInput), false);
  mNInputChannels = 0;
  if (data.numInputs <= 0 || data.inputs == nullptr || MaxNChannels(kInput) == 0) return;
  mNInputChannels = hostChannels(data.inputs[0], MaxNChannels(kInput));
  if (inputBuses.size() >= 2 && data.numInputs >= 2 && mSidechainChannel > 0) {
    if (inputBuses[1]->isActive()) {
      mSidechainActive = true;
      SetChannelConnections(kInput, mSidechainChannel, hostChannels(data.inputs[1], MaxNChannels(kInput)), true);
    } else if (mSidechainActive) {
      ZeroScratchBuffers();
      mSidechainActive = false;
    }
    mNInputChannels = std::min(mNInputChannels, mSidechainChannel);
  }
  SetChannelConnections(kInput, 0, mNInputChannels, true);
}

void IPlugVST3ProcessorBase::AttachInputs(const ProcessData& data, int frameOffset, int nFrames) {
  if (data.numInputs <= 0 || data.inputs == nullptr || MaxNChannels(kInput) == 0) return;
  AttachBus(kInput, 0, mNInputChannels, data.inputs[0], frameOffset, nFrames);
  if (mSidechainActive && data.numInputs >= 2 && mSidechainChannel > 0) {
    AttachBus(kInput, mSidechainChannel, hostChannels(data.inputs[1], MaxNChannels(kInput)), data.inputs[1],
              frameOffset, nFrames);
  }
}

void IPlugVST3ProcessorBase::ProcessAudio(ProcessData& data, BusList& inputBuses, BusList& outputBuses) {
  const int nFrames = data.numSamples;
  const int blockSize = GetBlockSize();
  if (nFrames <= 0 || blockSize <= 0) return;
  mDoubleBlock = data.symbolicSampleSize == kSample64;
  ConnectInputs(data, inputBuses);

  // Outputs: each declared bus feeds its run of channels; a bus the host switched off, left out
  // or gave fewer channels renders into scratch, and so does every channel after the last bus.
  SetChannelConnections(kOutput, 0, MaxNChannels(kOutput), false);
  const int nBuses = data.outputs != nullptr
                         ? std::min({std::max<int>(data.numOutputs, 0), static_cast<int>(outputBuses.size()),
                                     static_cast<int>(mOutputSpans.size())})
                         : 0;
  int channel = 0;
  for (int b = 0; b < nBuses; ++b) {
    const auto* declared = FCast<AudioBus>(outputBuses[static_cast<size_t>(b)].get());
    const int width = declared != nullptr ? SpeakerArr::getChannelCount(declared->getArrangement()) : 0;
    BusSpan& span = mOutputSpans[static_cast<size_t>(b)];
    span.first = channel;
    span.count = std::min(width, hostChannels(data.outputs[b], MaxNChannels(kOutput)));
    span.active = outputBuses[static_cast<size_t>(b)]->isActive() != 0;
    if (span.active) SetChannelConnections(kOutput, span.first, span.count, true);
    channel += width;
  }

  for (int start = 0; start < nFrames; start += blockSize) {
    const int n = std::min(blockSize, nFrames - start);
    AttachInputs(data, start, n);
    for (int b = 0; b < nBuses; ++b) {
      const BusSpan& span = mOutputSpans[static_cast<size_t>(b)];
      if (span.active) AttachBus(kOutput, span.first, span.count, data.outputs[b], start, n);
    }
    RenderPiece(n);
    // The next piece is heard after this one: a synced sequencer must not hear time repeat.
    if (start + n < nFrames) AdvanceTimeInfo(n);
  }
  // The plug-in claims no silence: a flag the host left set must not hide what was rendered.
  for (int b = 0; b < nBuses; ++b) {
    if (mOutputSpans[static_cast<size_t>(b)].active) data.outputs[b].silenceFlags = 0;
  }
}

void IPlugVST3ProcessorBase::ProcessOutputEvents(IEventList& events, int nFrames, IPlugQueue<SysExData>& editorSysEx,
                                                 SysExData& sysExBuf) {
  // Messages for later blocks wait; their offsets move on with each block.
  while (!mMidiOutputQueue.Empty() && mMidiOutputQueue.Peek().mOffset < nFrames) {
    const IMidiMsg msg = mMidiOutputQueue.Peek();
    mMidiOutputQueue.Remove();
    Event e{};
    e.busIndex = 0;
    e.sampleOffset = std::max(msg.mOffset, 0);
    const int16 channel = static_cast<int16>(msg.Channel());
    auto legacy = [&e, channel](int controller, int value, int value2) {
      e.type = Event::kLegacyMIDICCOutEvent;
      e.midiCCOut.channel = static_cast<int8>(channel);
      e.midiCCOut.controlNumber = static_cast<uint8>(controller);
      e.midiCCOut.value = static_cast<int8>(value);
      e.midiCCOut.value2 = static_cast<int8>(value2);
    };
    switch (msg.StatusKind()) {
      case 9:
        e.type = Event::kNoteOnEvent;
        e.noteOn.channel = channel;
        e.noteOn.pitch = msg.mData1;
        e.noteOn.velocity = static_cast<float>(msg.mData2) / 127.0f;
        break;
      case 8:
        e.type = Event::kNoteOffEvent;
        e.noteOff.channel = channel;
        e.noteOff.pitch = msg.mData1;
        e.noteOff.velocity = static_cast<float>(msg.mData2) / 127.0f;
        break;
      case 10: legacy(kCtrlPolyPressure, msg.mData1, msg.mData2); break;
      case 13: legacy(kAfterTouch, msg.mData1, msg.mData2); break;
      case 12: legacy(kCtrlProgramChange, msg.mData1, 0); break;
      case 11: legacy(msg.mData1, msg.mData2, 0); break;
      case 14: {
        const int bend = static_cast<int>(((msg.mData2 - 64) * 128 + msg.mData1) / 8192.0 * 16383.0);
        legacy(kPitchBend, bend & 0x7F, (bend >> 7) & 0x7F);
        break;
      }
      default: continue;
    }
    events.addEvent(e);
  }
  mMidiOutputQueue.Flush(nFrames);
  // One message per block: the event points into the one buffer until the host has read it.
  if (editorSysEx.Pop(sysExBuf)) {
    Event e{};
    e.type = Event::kDataEvent;
    e.sampleOffset = holdOffset(sysExBuf.mOffset, nFrames);
    e.data.type = DataEvent::kMidiSysEx;
    e.data.size = static_cast<uint32>(sysExBuf.mSize);
    e.data.bytes = sysExBuf.mData;
    events.addEvent(e);
  }
}

void IPlugVST3ProcessorBase::Process(ProcessData& data, const ProcessSetup& setup, BusList& inputBuses,
                                     BusList& outputBuses, IPlugQueue<IMidiMsg>& editorMidi,
                                     IPlugQueue<IMidiMsg>& processorMidi, IPlugQueue<SysExData>& editorSysEx,
                                     SysExData& sysExBuf) {
  const int nFrames = std::max<int>(data.numSamples, 0);
  PrepareTimeInfo(data, setup);
  if (data.inputParameterChanges != nullptr) ProcessParameterChanges(*data.inputParameterChanges, nFrames, processorMidi);
  if (DoesMidiIn()) {
    if (data.inputEvents != nullptr) ProcessInputEvents(*data.inputEvents, nFrames, processorMidi);
    IMidiMsg msg;
    while (editorMidi.Pop(msg)) ProcessMidiMsg(msg);
  }
  // The block's buffers are of the size it names; one that contradicts the set-up is not trusted
  // with either reading of them.
  if (data.symbolicSampleSize == setup.symbolicSampleSize &&
      (data.symbolicSampleSize == kSample32 || data.symbolicSampleSize == kSample64))
    ProcessAudio(data, inputBuses, outputBuses);
  if (DoesMidiOut() && data.outputEvents != nullptr)
    ProcessOutputEvents(*data.outputEvents, nFrames, editorSysEx, sysExBuf);
}

bool IPlugVST3ProcessorBase::SendMidiMsg(const IMidiMsg& msg) {
  if (!DoesMidiOut()) return false;  // nothing would ever take it out again
  return mMidiOutputQueue.Add(msg);
}

}  // namespace iplug
