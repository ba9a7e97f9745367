#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "engine/core/ByteStream.h"
#include "engine/core/Param.h"
#include "platform/DebugOutput.h"
#include "support/AllocationCounter.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct CountingListener : Param::Listener {
  int calls = 0;
  void paramChanged(Param*) override { ++calls; }
};

Param make(uint32_t kind, float lo, float hi, float e, float def, const char* format = nullptr) {
  Param p;
  p.init(kind, lo, hi, e, format, "Test", def);
  return p;
}

std::string display(const Param& p, float v, int32_t size = 32) {
  std::vector<char> buffer(static_cast<size_t>(size), '#');
  p.formatValue(buffer.data(), size, v);
  return std::string(buffer.data());
}

template <class F>
std::string captured(F f, bool enabled = true) {
  const bool was = debugOutputEnabled();
  setDebugOutputEnabled(enabled);
  testing::internal::CaptureStdout();
  f();
  std::string out = testing::internal::GetCapturedStdout();
  setDebugOutputEnabled(was);
  return out;
}

}  // namespace

TEST(Param, EachKindMapsToIndependentValuesAndBack) {
  const struct { uint32_t kind; float lo, hi, e; double x, expected; bool roundTrips; } cases[] = {
      {Param::kLinear, -50, 50, 0, 0.25, -25.0, true},
      {Param::kPower, 0, 8, 3, 0.5, 1.0, true},
      {Param::kPower, -1, 1, 2, -0.5, -1.5, false},  // the sign of the position is kept
      {Param::kPowerOfValue, -2, 2, 3, 0.25, -1.0, false},
      {Param::kPowerOfValue, 0, 2, 2, 0.75, 2.25, true},
      {Param::kExponential, 0.01f, 100, 0, 0.75, 10.0, true},
      {Param::kLogarithmic, 1, 101, 2, 0.5, 2.0 * std::log(51.0), true},
      {Param::kLogarithmic, 0, 1, 2, 0.0, 2.0 * std::log(1e-30), false},  // the floor keeps it finite
      {Param::kStepped, 0, 10, 0, 0.34, 3.0, false},
  };
  for (const auto& c : cases) {
    const Param p = make(c.kind, c.lo, c.hi, c.e, c.lo > 0 ? c.lo : 0.0f);
    EXPECT_NEAR(p.fromNormalized(static_cast<float>(c.x)), c.expected, 1e-4 * (1.0 + std::fabs(c.expected)))
        << c.kind << " " << c.x;
    for (int i = 0; c.roundTrips && i <= 20; ++i)
      EXPECT_NEAR(p.toNormalized(p.fromNormalized(i / 20.0f)), i / 20.0f, 2e-4f) << c.kind;
  }
  const Param stepped = make(Param::kStepped, -24, 24, 0, 0);
  for (int v = -24; v <= 24; ++v) EXPECT_EQ(stepped.fromNormalized(stepped.toNormalized(static_cast<float>(v))), v);
  EXPECT_EQ(make(Param::kStepped, 3, 3, 0, 3).toNormalized(3.0f), 0.0f);  // a one-value range

  Param unknown;
  unknown.kind = 9;
  float sum = 0.0f;
  EXPECT_EQ(captured([&] { sum = unknown.fromNormalized(0.5f) + unknown.toNormalized(0.5f); }),
            "Warning: check is false!\nWarning: check is false!\n");
  EXPECT_EQ(sum, -2.0f);
}

// The ends of a power scale, taken without a library call, give what the formula gives, bit
// for bit (a range whose top is not min + range in floats shows a shortcut to the top).
TEST(Param, PowerScaleEndsAreTheFormulaBitForBit) {
  const struct { float lo, hi, e; } cases[] = {{0, 4, 2}, {-100.3f, 7.1f, 3}, {0.37f, 12.9f, 0.5f}, {-1, 1, 1.7f}};
  for (const auto& c : cases) {
    const Param p = make(Param::kPower, c.lo, c.hi, c.e, c.lo > 0 ? c.lo : 0.0f);
    for (float x : {1.0f, -1.0f, 0.9999999f, 0.5f, 0.0f}) {
      const volatile float e = c.e;  // the library's power, as the scale took it before
      const float expected = c.lo + (x < 0.0f ? -1.0f : 1.0f) * std::pow(std::fabs(x), e) * (c.hi - c.lo);
      EXPECT_EQ(p.fromNormalized(x), expected) << c.lo << " " << c.hi << " " << c.e << " " << x;
    }
  }
}

TEST(Param, InitAndSetValue) {
  Param p;
  p.init(Param::kExponential, 0.125f, 8.0f, 0.0f, "%.2f", "Timescale", 1.0f, 1, "Global", 3);
  p.init(Param::kLinear, -100, 100, 0, nullptr, "Again", 0.0f);
  EXPECT_STREQ(p.groupPrefix, "Global");  // a null prefix keeps the earlier one
  EXPECT_EQ(p.modTargetIndex, -1);

  CountingListener listener;
  p.listener = &listener;
  p.setValue(150.0f);
  EXPECT_EQ(p.value, 100.0f);
  EXPECT_EQ(p.target, 150.0f);  // the request is kept
  p.setValue(100.0f);           // no change: no call
  EXPECT_EQ(listener.calls, 1);
  for (float bad : {kNaN, kInf, -kInf}) p.setValue(bad);
  EXPECT_EQ(p.target, 100.0f);
  for (float bad : {kNaN, kInf, -kInf}) p.setNormalized(bad);
  EXPECT_EQ(p.value, 100.0f);
  EXPECT_EQ(listener.calls, 1);

  EXPECT_EQ(captured([&] { EXPECT_EQ(p.setNormalized(1.5f), 100.0f); }), "Warning: check is false!\n");
  EXPECT_EQ(captured([&] { EXPECT_EQ(p.setNormalized(0.25f), -50.0f); }), "");
  // Switched off (the plug-in's default), a failed check writes nothing and still clamps.
  EXPECT_EQ(captured([&] { EXPECT_EQ(p.setNormalized(-3.0f), -100.0f); }, false), "");

  Param falling = make(Param::kLinear, 10, -10, 0, 0);  // a range given backwards still clamps
  falling.setValue(20.0f);
  EXPECT_EQ(falling.value, 10.0f);
  // A host's automation and the modulation passes run on the audio thread: no allocation.
  AllocationCounter counter;
  for (int i = 0; i < 1000; ++i) {
    p.setValue(static_cast<float>(i % 7));
    p.setNormalized(static_cast<float>(i % 11) / 10.0f);
    p.clearModulation();
    p.addGlobalModulation(0.01f * static_cast<float>(i % 5));
  }
  EXPECT_EQ(counter.count(), 0);
}

TEST(Param, ModulationOffsets) {
  Param pan = make(Param::kLinear, -100, 100, 0, 0);
  EXPECT_TRUE(pan.isBipolar());
  EXPECT_FALSE(make(Param::kLinear, 0, 100, 0, 50).isBipolar());
  pan.clearModulation();
  pan.addGlobalModulation(0.25f);
  pan.addVoiceModulation(0.5f);
  EXPECT_FLOAT_EQ(pan.effectiveValue(), 150.0f);  // modulation may leave the range
  EXPECT_FLOAT_EQ(pan.getNormalizedDeviation(), 0.75f);
  // Offsets that cancel to exactly 0 switch modulation off.
  pan.addVoiceModulation(-0.75f);
  EXPECT_EQ(pan.modulated, 0);
  EXPECT_EQ(pan.effectiveValue(), 0.0f);
  pan.clearModulation();
  pan.addGlobalModulation(0.25f);
  EXPECT_FLOAT_EQ(pan.modulatedValue, 50.0f);  // the earlier offsets are gone

  Param steps = make(Param::kStepped, 0, 4, 0, 2);
  steps.addGlobalModulation(0.6f);
  EXPECT_EQ(steps.modulatedValue, 4.0f);  // 4.4 rounds to a step

  Param rate = make(Param::kExponential, 0.01f, 100, 0, 1);
  rate.addGlobalModulation(1e6f);  // a runaway offset never carries an infinity
  EXPECT_EQ(rate.modulated, 0);
  EXPECT_TRUE(std::isfinite(rate.effectiveValue()));
}

TEST(Param, DisplayTexts) {
  EXPECT_EQ(display(make(Param::kLinear, 0, 1, 0, 0.5f, ""), 0.25f), "0.250");
  EXPECT_EQ(display(make(Param::kLinear, 0, 100, 0, 0, "%.0f%%"), 42.4f), "42%");
  Param onOff = make(Param::kStepped, 0, 1, 0, 0, "off|on");
  EXPECT_EQ(display(onOff, 1), "on");
  EXPECT_EQ(display(onOff, 2, 6), "#####");  // past the list: the buffer is left as it was
  EXPECT_EQ(display(onOff, 0, 4), "off");
  EXPECT_EQ(display(onOff, 0, 3), "##");  // the scan looks no further than the buffer

  static const char* names[] = {"Sine", "Saw|Up", "Square"};
  Param osc = make(Param::kStepped, 0, 2, 0, 0);
  osc.setValueNames(names, 3);
  EXPECT_EQ(display(osc, 1), "Saw Up");
  EXPECT_EQ(display(osc, -1), "-1.000");
  Param shifted = make(Param::kStepped, 2, 4, 0, 2, "%.0f");  // never indexes before the table
  shifted.setValueNames(names, 3);
  EXPECT_EQ(display(shifted, 3), "Saw Up");
  EXPECT_EQ(display(shifted, 1), "1");

  Param formatted = make(Param::kLinear, 0, 1000, 0, 500);
  formatted.formatter = [](float v, char* buffer) { std::snprintf(buffer, 32, "%+.0f dB and more", v); };
  EXPECT_EQ(display(formatted, 1000, 8), "+1000 d");
  EXPECT_EQ(display(formatted, 1000, 64), "+1000 dB and more");

  // Buffers of 1 and 2 bytes are never overrun and always terminated; 0 bytes are not touched.
  static const char* longName[] = {"Long name"};
  Param named = make(Param::kStepped, 0, 0, 0, 0);
  named.setValueNames(longName, 1);
  for (const Param& p : {make(Param::kLinear, 0, 1000, 0, 500), onOff, named, formatted}) {
    for (int32_t size : {0, 1, 2}) {
      char buffer[4] = {'#', '#', '#', '#'};
      p.formatValue(buffer, size, p.value);
      if (size > 0) {
        EXPECT_EQ(buffer[size - 1], '\0');
      }
      for (int32_t i = size; i < 4; ++i) EXPECT_EQ(buffer[i], '#');
    }
  }
}

TEST(Param, StateVersionsTruncationAndDamagedValues) {
  Param p = make(Param::kLinear, 0, 100, 0, 10);
  p.setValue(42.5f);
  int32_t pos = 0;
  p.serialize(nullptr, &pos, 0);
  EXPECT_EQ(pos, 4);
  uint8_t bytes[8] = {}, bad[8];
  pos = 2;
  p.serialize(bytes, &pos, 8);
  pos = 0;
  streamWriteFloat(bad, &pos, 8, kNaN);
  streamWriteFloat(bad, &pos, 8, -kInf);

  // Reads into a record holding 33 (default 10): where the position ends and the value.
  const auto read = [](const uint8_t* from, int32_t start, int32_t version, int32_t minVersion = 0) {
    Param q = make(Param::kLinear, 0, 100, 0, 10);
    q.setValue(33.0f);
    q.minStateVersion = minVersion;
    q.deserialize(from, &start, 8, version);
    return std::pair{start, q.value};
  };
  EXPECT_EQ(read(bytes, 2, 4), std::pair(6, 42.5f));
  EXPECT_EQ(read(bytes, 2, -1, 4), std::pair(6, 42.5f));  // version -1 reads whatever the minimum
  EXPECT_EQ(read(bytes, 2, 3, 4), std::pair(2, 10.0f));   // older than the field: default, nothing read
  EXPECT_EQ(read(bytes, 6, 4), std::pair(10, 33.0f));     // truncated: unchanged, still advances
  EXPECT_EQ(read(bad, 0, 4), std::pair(4, 33.0f));        // NaN and infinity never become the value
  EXPECT_EQ(read(bad, 4, 4), std::pair(8, 33.0f));
}
