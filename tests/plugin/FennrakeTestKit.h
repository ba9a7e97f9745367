#pragma once

// One plug-in instance linked into the test program, on a fresh user-data root, with manual
// timers: the idle work runs only when a test fires it.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "plugin/Fennrake.h"
#include "support/ScopedDataRoot.h"
#include "tests/plugin/framework/FrameworkTestPlugin.h"

using namespace iplug;

struct ReleasePlug {
  void operator()(Fennrake* plug) const { plug->release(); }
};
using FennrakePtr = std::unique_ptr<Fennrake, ReleasePlug>;

class FennrakeTest : public ::testing::Test {
 protected:
  // One block into every output channel (kept in `out`), each pre-filled with NaN: the peak level,
  // infinite when a sample was left unwritten or came out non-finite.
  float Render(int n, Fennrake* target = nullptr) {
    out.assign(BandSynth::kMaxOutputChannels, std::vector<float>(size_t(n) + 1, NAN));
    std::vector<float*> pointers;
    for (auto& c : out) pointers.push_back(c.data());
    (target != nullptr ? target : plug.get())->ProcessBlock(nullptr, pointers.data(), n);
    float peak = 0.0f;
    for (auto& c : out)
      for (int i = 0; i < n; ++i) peak = std::isfinite(c[size_t(i)]) ? std::max(peak, std::fabs(c[size_t(i)])) : INFINITY;
    return peak;
  }
  void Midi(int offset, int status, int data1, int data2) {
    plug->ProcessMidiMsg(IMidiMsg(offset, uint8_t(status), uint8_t(data1), uint8_t(data2)));
  }
  Param& Engine(int index) { return plug->mBandSynth.params[static_cast<size_t>(index)]; }
  std::vector<uint8_t> State(Fennrake* target = nullptr) {
    Fennrake* p = target != nullptr ? target : plug.get();
    std::vector<uint8_t> bytes(static_cast<size_t>(p->WriteState(nullptr, 0)));
    p->WriteState(bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
  }

  ManualTimers timers;  // made first, gone last
  ScopedDataRoot root;  // outlives the instance
  FennrakePtr plug{new Fennrake};
  std::vector<std::vector<float>> out;
};
