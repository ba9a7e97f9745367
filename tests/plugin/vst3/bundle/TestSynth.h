#pragma once

// A small instrument on the VST3 binding, built as a real bundle for the VST3 tests and linked
// into the test program as well. Four parameters in two groups, one or two stereo outputs, MIDI
// in, one preset. While a note of channel 1 is held each output carries gain × velocity, the
// second bus only in mode 1; notes and host gain changes take effect at their frame. Its state is
// a marker, a version and the parameter values.

#include "plugin/framework/IMidiQueue.h"
#include "plugin/vst3/IPlugVST3.h"

class TestSynth : public iplug::IPlugVST3 {
 public:
  enum EParams { kGain, kSteps, kMode, kTone, kNumParams };
  static constexpr int kLatency = 16;
  static const Steinberg::FUID cid;
  static Steinberg::FUnknown* create(void* context);

  TestSynth();

  void ProcessBlock(float** inputs, float** outputs, int nFrames) override;
  void ProcessMidiMsg(const iplug::IMidiMsg& msg) override;
  void OnParamChange(int paramIdx, iplug::EParamSource source, int sampleOffset) override;
  void GetBusName(iplug::ERoute direction, int busIdx, int nBuses, WDL_String& str) const override;
  bool SerializeState(iplug::IByteChunk& chunk) override;
  int UnserializeState(const iplug::IByteChunk& chunk, int startPos) override;

 protected:
  ~TestSynth() override;

 private:
  iplug::IMidiQueue mNotes;  // notes not played yet, in offset order
  int mGainChangeAt = -1;    // frame of the host's gain change within the block, -1 for none
  double mGainChangeTo = 0.0;
  double mGain = 0.8;
  float mVelocity = 0.0f;
  bool mHeld = false;
};
