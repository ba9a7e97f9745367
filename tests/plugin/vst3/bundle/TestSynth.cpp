#include "tests/plugin/vst3/bundle/TestSynth.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/base/ustring.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

// The last two words spell "TSyn" and "Test" in ASCII.
const FUID TestSynth::cid(0x11223344, 0x55667788, 0x5453796E, 0x54657374);

namespace {

constexpr char kMagic[4] = {'T', 'S', 'Y', 'N'};
constexpr uint32 kVersion = 1;
constexpr int32 kStateSize = 8 + 8 * TestSynth::kNumParams;

}  // namespace

FUnknown* TestSynth::create(void*) {
  try {
    return static_cast<IAudioProcessor*>(new TestSynth);
  } catch (...) {
    return nullptr;
  }
}

tresult PLUGIN_API TestSynth::initialize(FUnknown* context) {
  tresult result = SingleComponentEffect::initialize(context);
  if (result != kResultOk) return result;
  addAudioOutput(STR16("Main"), SpeakerArr::kStereo);
  addAudioOutput(STR16("Aux"), SpeakerArr::kStereo, kAux, 0);
  addEventInput(STR16("MIDI Input"), 1);
  parameters.addParameter(STR16("Gain"), STR16("dB"), 0, values[kGain], ParameterInfo::kCanAutomate,
                          kGain);
  parameters.addParameter(STR16("Steps"), nullptr, 4, values[kSteps], ParameterInfo::kCanAutomate,
                          kSteps);
  parameters.addParameter(STR16("Mode"), nullptr, 1, values[kMode],
                          ParameterInfo::kCanAutomate | ParameterInfo::kIsList, kMode);
  return kResultOk;
}

tresult PLUGIN_API TestSynth::process(ProcessData& data) {
  if (data.numSamples < 0 || data.numSamples > processSetup.maxSamplesPerBlock ||
      data.symbolicSampleSize != kSample32)
    return kResultFalse;
  if (IParameterChanges* changes = data.inputParameterChanges) {
    for (int32 i = 0; i < changes->getParameterCount(); ++i) {
      IParamValueQueue* queue = changes->getParameterData(i);
      int32 offset = 0;
      ParamValue value = 0.0;
      if (queue == nullptr || queue->getParameterId() >= kNumParams ||
          queue->getPoint(queue->getPointCount() - 1, offset, value) != kResultOk ||
          !std::isfinite(value))
        continue;
      values[queue->getParameterId()] = std::clamp(value, 0.0, 1.0);
    }
  }
  // A note sounds from its offset on; notes outside the event bus's range are ignored.
  int32 start = data.numSamples, stop = data.numSamples;
  bool wasHeld = held;
  if (IEventList* events = data.inputEvents) {
    for (int32 i = 0; i < events->getEventCount(); ++i) {
      Event e{};
      if (events->getEvent(i, e) != kResultOk) continue;
      int32 at = std::clamp(e.sampleOffset, 0, std::max(data.numSamples - 1, 0));
      if (e.type == Event::kNoteOnEvent && e.noteOn.channel == 0 && e.noteOn.pitch >= 0 &&
          e.noteOn.pitch < 128 && std::isfinite(e.noteOn.velocity)) {
        held = true;
        velocity = std::clamp(e.noteOn.velocity, 0.0f, 1.0f);
        start = std::min(start, at);
      } else if (e.type == Event::kNoteOffEvent && e.noteOff.channel == 0) {
        held = false;
        stop = at;
      }
    }
  }
  if (wasHeld) start = 0;
  const float level = static_cast<float>(values[kGain]) * velocity;
  int32 buses = std::min(data.numOutputs, static_cast<int32>(audioOutputs.size()));
  if (data.outputs == nullptr) buses = 0;
  for (int32 b = 0; b < buses; ++b) {
    AudioBusBuffers& bus = data.outputs[b];
    if (!audioOutputs[b]->isActive() || bus.channelBuffers32 == nullptr) continue;
    bool sounding = b == 0 || values[kMode] >= 0.5;
    for (int32 c = 0; c < std::min(bus.numChannels, 2); ++c) {
      float* out = bus.channelBuffers32[c];
      if (out == nullptr) continue;
      for (int32 n = 0; n < data.numSamples; ++n)
        out[n] = sounding && n >= start && (n < stop || held) ? level : 0.0f;
    }
    bus.silenceFlags = sounding && start < data.numSamples ? 0 : 3;
  }
  return kResultOk;
}

tresult TestSynth::saveComponentState(IBStream& state) {
  unsigned char bytes[kStateSize];
  std::memcpy(bytes, kMagic, 4);
  for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<unsigned char>(kVersion >> (8 * i));
  for (int p = 0; p < int{kNumParams}; ++p) {
    uint64 bits = 0;
    std::memcpy(&bits, &values[p], 8);
    for (int i = 0; i < 8; ++i) bytes[8 + 8 * p + i] = static_cast<unsigned char>(bits >> (8 * i));
  }
  int32 written = 0;
  if (state.write(bytes, kStateSize, &written) != kResultOk || written != kStateSize)
    return kResultFalse;
  return kResultOk;
}

tresult TestSynth::loadComponentState(IBStream& state) {
  unsigned char bytes[kStateSize];
  int32 have = 0;
  while (have < kStateSize) {
    int32 got = 0;
    if (state.read(bytes + have, kStateSize - have, &got) != kResultOk || got <= 0 ||
        got > kStateSize - have)
      break;
    have += got;
  }
  if (have != kStateSize || std::memcmp(bytes, kMagic, 4) != 0) return kResultFalse;
  uint32 version = 0;
  for (int i = 0; i < 4; ++i) version |= static_cast<uint32>(bytes[4 + i]) << (8 * i);
  if (version != kVersion) return kResultFalse;
  std::array<double, kNumParams> loaded{};
  for (int p = 0; p < int{kNumParams}; ++p) {
    uint64 bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<uint64>(bytes[8 + 8 * p + i]) << (8 * i);
    std::memcpy(&loaded[p], &bits, 8);
    if (!(loaded[p] >= 0.0 && loaded[p] <= 1.0)) return kResultFalse;  // also refuses NaN
  }
  values = loaded;
  for (int p = 0; p < int{kNumParams}; ++p)
    if (Parameter* parameter = parameters.getParameter(static_cast<ParamID>(p)))
      parameter->setNormalized(values[p]);
  return kResultOk;
}
