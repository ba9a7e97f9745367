#include "tests/plugin/vst3/bundle/TestSynth.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace iplug;
using namespace Steinberg;

// The last two words spell "TSyn" and "Test" in ASCII.
const FUID TestSynth::cid(0x11223344, 0x55667788, 0x5453796E, 0x54657374);

namespace {

constexpr char kMarker[4] = {'T', 'S', 'Y', 'N'};
constexpr int32_t kVersion = 1;

Config testSynthConfig() {
  Config config;
  config.nParams = TestSynth::kNumParams;
  config.channelIOStr = "0-2 0-2.2";
  config.pluginName = "Test Synth";
  config.productName = "Test Synth";
  config.mfrName = "Oskra Tests";
  config.vendorVersion = 0x10000;
  config.latency = TestSynth::kLatency;
  config.plugDoesMidiIn = true;
  config.plugType = kInstrument;
  config.plugHasUI = true;
  config.plugWidth = 400;
  config.plugHeight = 300;
  config.plugMinWidth = 200;
  config.plugMaxWidth = 800;
  config.plugMinHeight = 150;
  config.plugMaxHeight = 600;
  return config;
}

}  // namespace

FUnknown* TestSynth::create(void*) {
  try {
    return static_cast<Vst::IAudioProcessor*>(new TestSynth);
  } catch (...) {
    return nullptr;
  }
}

TestSynth::TestSynth() : IPlugVST3(testSynthConfig()) {
  GetParam(kGain)->InitDouble("Gain", 0.8, 0.0, 1.0, 0.001, "x", 0, "Voice");
  GetParam(kSteps)->InitInt("Steps", 0, 0, 7);
  GetParam(kMode)->InitEnum("Mode", 0, 0, 1, "", 0, "Routing");
  GetParam(kMode)->SetDisplayText(0, "Main only");
  GetParam(kMode)->SetDisplayText(1, "Both buses");
  GetParam(kTone)->InitDouble("Tone", 1000.0, 20.0, 20000.0, 1.0, "Hz", IParam::kFlagCannotAutomate, "Voice",
                              IParam::ShapeExp());
}

TestSynth::~TestSynth() { StopTimer(); }

void TestSynth::GetBusName(ERoute direction, int busIdx, int, WDL_String& str) const {
  str.Set(direction == kInput ? "" : (busIdx == 0 ? "Main" : "Aux"));
}

void TestSynth::OnParamChange(int paramIdx, EParamSource source, int sampleOffset) {
  if (paramIdx != kGain) return;
  if (source == kHost) {
    mGainChangeAt = std::max(sampleOffset, 0);
    mGainChangeTo = GetParam(kGain)->Value();
  } else {
    mGain = GetParam(kGain)->Value();
  }
}

void TestSynth::ProcessMidiMsg(const IMidiMsg& msg) {
  const int kind = msg.StatusKind();
  if (msg.Channel() != 0 || (kind != 8 && kind != 9) || mNNotes == kMaxPendingNotes) return;
  int at = mNNotes++;
  while (at > 0 && mNotes[static_cast<size_t>(at - 1)].mOffset > msg.mOffset) {
    mNotes[static_cast<size_t>(at)] = mNotes[static_cast<size_t>(at - 1)];
    --at;
  }
  mNotes[static_cast<size_t>(at)] = msg;
}

void TestSynth::ProcessBlock(float**, float** outputs, int nFrames) {
  const bool both = GetParam(kMode)->Value() >= 0.5;
  int next = 0;
  for (int n = 0; n < nFrames; ++n) {
    if (n == mGainChangeAt) {
      mGain = mGainChangeTo;
      mGainChangeAt = -1;
    }
    for (; next < mNNotes && mNotes[static_cast<size_t>(next)].mOffset <= n; ++next) {
      const IMidiMsg& note = mNotes[static_cast<size_t>(next)];
      mHeld = note.StatusKind() == 9 && note.mData2 > 0;
      if (mHeld) mVelocity = note.mData2 / 127.0f;
    }
    const float level = mHeld ? static_cast<float>(mGain) * mVelocity : 0.0f;
    outputs[0][n] = outputs[1][n] = level;
    outputs[2][n] = outputs[3][n] = both ? level : 0.0f;
  }
  // What belongs to later frames waits for the next piece of the block.
  int kept = 0;
  for (int i = next; i < mNNotes; ++i) {
    IMidiMsg note = mNotes[static_cast<size_t>(i)];
    note.mOffset -= nFrames;
    mNotes[static_cast<size_t>(kept++)] = note;
  }
  mNNotes = kept;
  if (mGainChangeAt >= 0) mGainChangeAt -= nFrames;
}

bool TestSynth::SerializeState(IByteChunk& chunk) {
  return chunk.PutBytes(kMarker, 4) > 0 && chunk.Put(&kVersion) > 0 && SerializeParams(chunk);
}

int TestSynth::UnserializeState(const IByteChunk& chunk, int startPos) {
  char marker[4] = {};
  int32_t version = 0;
  int pos = chunk.GetBytes(marker, 4, startPos);
  pos = chunk.Get(&version, pos);
  if (pos < 0 || std::memcmp(marker, kMarker, 4) != 0 || version != kVersion) return -1;
  std::array<double, kNumParams> values{};
  for (int i = 0; i < kNumParams; ++i) {
    pos = chunk.Get(&values[static_cast<size_t>(i)], pos);
    const IParam* param = GetParam(i);
    if (pos < 0 || !(values[static_cast<size_t>(i)] >= param->GetMin() && values[static_cast<size_t>(i)] <= param->GetMax()))
      return -1;  // also a NaN
  }
  for (int i = 0; i < kNumParams; ++i) GetParam(i)->Set(values[static_cast<size_t>(i)]);
  OnParamReset(kPresetRecall);
  return pos;
}
