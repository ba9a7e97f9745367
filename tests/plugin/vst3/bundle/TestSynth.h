#pragma once

// A small instrument for the VST3 tests, built as a real bundle: three parameters, two stereo
// outputs and an event input. While a note is held each active output carries gain × velocity
// (the second output only in mode 1); its state is the three parameter values.

#include <array>

#include "plugin/vst3/SingleComponentEffect.h"

class TestSynth final : public Steinberg::Vst::SingleComponentEffect {
 public:
  enum ParamId : Steinberg::Vst::ParamID { kGain, kSteps, kMode, kNumParams };
  static const Steinberg::FUID cid;
  static Steinberg::FUnknown* create(void* context);

  Steinberg::tresult PLUGIN_API initialize(Steinberg::FUnknown* context) override;
  Steinberg::tresult PLUGIN_API process(Steinberg::Vst::ProcessData& data) override;

 protected:
  Steinberg::tresult saveComponentState(Steinberg::IBStream& state) override;
  Steinberg::tresult loadComponentState(Steinberg::IBStream& state) override;

 private:
  std::array<double, kNumParams> values{0.8, 0.0, 0.0};
  bool held = false;
  float velocity = 0.0f;
};
