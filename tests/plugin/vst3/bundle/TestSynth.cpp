#include "tests/plugin/vst3/bundle/TestSynth.h"

#include <algorithm>
#include <array>
#include <cstring>

using namespace iplug;
using namespace Steinberg;

// The last two words spell "TSyn" and "Test" in ASCII.
const FUID TestSynth::cid(0x11223344, 0x55667788, 0x5453796E, 0x54657374);

namespace {

constexpr char kMarker[4] = {'T', 'S', 'Y', 'N'};
constexpr int32_t kVersion = 1;

}  // namespace

FUnknown* TestSynth::create(void*) {
  try {
    return static_cast<Vst::IAudioProcessor*>(new TestSynth);
  } catch (...) {
    return nullptr;
  }
}

TestSynth::TestSynth()
    : IPlugVST3(Config{.nParams = kNumParams, .nPresets = 1, .channelIOStr = "0-2 0-2.2", .pluginName = "Test Synth",
                       .productName = "Test Synth", .mfrName = "Oskra Tests", .vendorVersion = 0x10000,
                       .latency = kLatency, .plugDoesMidiIn = true, .plugType = kInstrument, .plugHasUI = true,
                       .plugWidth = 400, .plugHeight = 300, .plugMinWidth = 200, .plugMaxWidth = 800,
                       .plugMinHeight = 150, .plugMaxHeight = 600}) {
  GetParam(kGain)->InitDouble("Gain", 0.8, 0.0, 1.0, 0.001, "x", 0, "Voice");
  GetParam(kSteps)->InitInt("Steps", 0, 0, 7);
  GetParam(kMode)->InitEnum("Mode", 0, 0, 1, "", 0, "Routing");
  GetParam(kMode)->SetDisplayText(0, "Main only");
  GetParam(kMode)->SetDisplayText(1, "Both buses");
  GetParam(kTone)->InitDouble("Tone", 1000.0, 20.0, 20000.0, 1.0, "Hz", IParam::kFlagCannotAutomate, "Voice",
                              IParam::ShapeExp());
  std::strcpy(mPresets[0]->mName, "Caf\xC3\xA9 \xE2\x98\x95");  // a name beyond ASCII
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
  if (msg.Channel() == 0 && (msg.StatusKind() == 8 || msg.StatusKind() == 9)) mNotes.Add(msg);
}

void TestSynth::ProcessBlock(float**, float** outputs, int nFrames) {
  const bool both = GetParam(kMode)->Value() >= 0.5;
  for (int n = 0; n < nFrames; ++n) {
    if (n == mGainChangeAt) mGain = mGainChangeTo, mGainChangeAt = -1;
    for (; !mNotes.Empty() && mNotes.Peek().mOffset <= n; mNotes.Remove()) {
      mHeld = mNotes.Peek().StatusKind() == 9 && mNotes.Peek().mData2 > 0;
      if (mHeld) mVelocity = mNotes.Peek().mData2 / 127.0f;
    }
    const float level = mHeld ? static_cast<float>(mGain) * mVelocity : 0.0f;
    outputs[0][n] = outputs[1][n] = level;
    outputs[2][n] = outputs[3][n] = both ? level : 0.0f;
  }
  mNotes.Flush(nFrames);  // what belongs to later frames waits for the next piece of the block
  if (mGainChangeAt >= 0) mGainChangeAt -= nFrames;
}

bool TestSynth::SerializeState(IByteChunk& chunk) {
  return chunk.PutBytes(kMarker, 4) > 0 && chunk.Put(&kVersion) > 0 && SerializeParams(chunk);
}

int TestSynth::UnserializeState(const IByteChunk& chunk, int startPos) {
  char marker[4] = {};
  int32_t version = 0;
  int pos = chunk.Get(&version, chunk.GetBytes(marker, 4, startPos));
  if (pos < 0 || std::memcmp(marker, kMarker, 4) != 0 || version != kVersion) return -1;
  std::array<double, kNumParams> values{};  // all read before any is set
  for (double& value : values) pos = chunk.Get(&value, pos);
  if (pos < 0) return -1;
  for (int i = 0; i < kNumParams; ++i) GetParam(i)->Set(values[static_cast<size_t>(i)]);
  OnParamReset(kPresetRecall);
  return pos;
}
