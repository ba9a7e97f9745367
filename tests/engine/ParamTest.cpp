#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/ByteStream.h"
#include "engine/Param.h"
#include "support/AllocationCounter.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct CountingListener : Param::Listener {
  int calls = 0;
  Param* last = nullptr;
  void paramChanged(Param* p) override {
    ++calls;
    last = p;
  }
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

}  // namespace

// Independent double-precision values of each shape at a few positions.
struct MappingCase {
  uint32_t kind;
  float lo, hi, e;
  double x;
  double expected;
};

TEST(ParamMapping, EachKindAtKnownPoints) {
  const MappingCase cases[] = {
      {Param::kLinear, -50, 50, 0, 0.25, -25.0},
      {Param::kPower, 0, 4, 2, 0.5, 1.0},                     // a track's "Amp"
      {Param::kPower, 0, 8, 3, 0.5, 1.0},
      {Param::kPower, -1, 1, 2, -0.5, -1.0 + -0.25 * 2.0},    // the sign of the position is kept
      {Param::kPowerOfValue, -2, 2, 3, 0.25, -1.0},           // w = -1, (-1)^3 keeps the sign
      {Param::kPowerOfValue, 0, 2, 2, 0.75, 2.25},
      {Param::kExponential, 0.125f, 8, 0, 0.5, 1.0},
      {Param::kExponential, 0.01f, 100, 0, 0.75, 10.0},
      {Param::kLogarithmic, 1, 101, 2, 0.5, 2.0 * std::log(51.0)},
      {Param::kLogarithmic, 0, 1, 2, 0.0, 2.0 * std::log(1e-30)},  // the floor keeps it finite
      {Param::kStepped, -24, 24, 0, 0.5, 0.0},
      {Param::kStepped, 0, 10, 0, 0.34, 3.0},
      {Param::kStepped, 0, 7, 0, 1.0, 7.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << c.kind << " x " << c.x);
    const Param p = make(c.kind, c.lo, c.hi, c.e, c.lo > 0 ? c.lo : 0.0f);
    EXPECT_NEAR(p.fromNormalized(static_cast<float>(c.x)), c.expected, 1e-4 * (1.0 + std::fabs(c.expected)));
  }
}

TEST(ParamMapping, RoundTripsThroughTheNormalisedPosition) {
  const Param params[] = {
      make(Param::kLinear, -100, 100, 0, 0),     make(Param::kPower, 0, 4, 2, 1),
      make(Param::kPower, 0.1f, 10, 4, 1),       make(Param::kPowerOfValue, 0, 3, 2, 1),
      make(Param::kExponential, 0.125f, 8, 0, 1), make(Param::kExponential, 20, 20000, 0, 1000),
      make(Param::kLogarithmic, 1, 100, 3, 5),
  };
  for (const Param& p : params) {
    SCOPED_TRACE(p.kind);
    for (int i = 0; i <= 20; ++i) {
      const float x = i / 20.0f;
      const float v = p.fromNormalized(x);
      EXPECT_NEAR(p.toNormalized(v), x, 2e-4f) << "v " << v;
    }
  }
  // Stepped: every whole value maps to a position that maps back to it.
  const Param stepped = make(Param::kStepped, -24, 24, 0, 0);
  for (int v = -24; v <= 24; ++v) EXPECT_EQ(stepped.fromNormalized(stepped.toNormalized(static_cast<float>(v))), v);
  const Param single = make(Param::kStepped, 3, 3, 0, 3);
  EXPECT_EQ(single.toNormalized(3.0f), 0.0f);  // a one-value range divides by 1
}

TEST(ParamMapping, UnknownKindWarnsAndYieldsMinusOne) {
  Param p;
  p.kind = 9;
  testing::internal::CaptureStdout();
  EXPECT_EQ(p.fromNormalized(0.5f), -1.0f);
  EXPECT_EQ(p.toNormalized(0.5f), -1.0f);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Warning: check is false!\nWarning: check is false!\n");
}

TEST(ParamValue, FreshRecordAndInit) {
  Param fresh;
  EXPECT_EQ(fresh.kind, 0u);
  EXPECT_EQ(fresh.index, -1);
  EXPECT_EQ(fresh.modTargetIndex, -1);
  EXPECT_TRUE(std::isnan(fresh.modulatedValue));
  EXPECT_EQ(fresh.max, 1.0f);

  Param p;
  p.init(Param::kExponential, 0.125f, 8.0f, 0.0f, "%.2f", "Timescale", 1.0f, 1, "Global", 3);
  EXPECT_EQ(p.value, 1.0f);
  EXPECT_EQ(p.target, 1.0f);
  EXPECT_EQ(p.defaultValue, 1.0f);
  EXPECT_EQ(p.modTargetIndex, 0);
  EXPECT_STREQ(p.groupPrefix, "Global");
  EXPECT_EQ(p.minStateVersion, 3);
  p.init(Param::kLinear, 0, 1, 0, nullptr, "Again", 0.5f);
  EXPECT_STREQ(p.groupPrefix, "Global");  // a null prefix keeps the earlier one
  EXPECT_EQ(p.modTargetIndex, -1);
}

TEST(ParamValue, SetValueClampsKeepsTheRequestAndNotifiesOnlyOnChange) {
  CountingListener listener;
  Param p = make(Param::kLinear, -100, 100, 0, 0);
  p.listener = &listener;
  p.setValue(150.0f);
  EXPECT_EQ(p.value, 100.0f);
  EXPECT_EQ(p.target, 150.0f);
  EXPECT_EQ(listener.calls, 1);
  EXPECT_EQ(listener.last, &p);
  p.setValue(100.0f);  // equal to the current value: no call
  EXPECT_EQ(listener.calls, 1);
  p.setValue(-300.0f);
  EXPECT_EQ(p.value, -100.0f);
  EXPECT_EQ(listener.calls, 2);

  // A range given backwards (a shape that falls) still clamps between its ends.
  Param falling = make(Param::kLinear, 10, -10, 0, 0);
  falling.setValue(20.0f);
  EXPECT_EQ(falling.value, 10.0f);
}

TEST(ParamValue, NonFiniteRequestsNeverBecomeTheValue) {
  CountingListener listener;
  Param p = make(Param::kLinear, 0, 10, 0, 5);
  p.listener = &listener;
  for (float bad : {kNaN, kInf, -kInf}) {
    p.setValue(bad);
    EXPECT_EQ(p.value, 5.0f);
    EXPECT_EQ(p.target, 5.0f);
    p.setNormalized(bad);
    EXPECT_EQ(p.value, 5.0f);
  }
  EXPECT_EQ(listener.calls, 0);
}

TEST(ParamValue, SetNormalizedOutsideTheRangeWarnsOnceAndClamps) {
  Param p = make(Param::kLinear, 0, 10, 0, 5);
  testing::internal::CaptureStdout();
  EXPECT_EQ(p.setNormalized(1.5f), 10.0f);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Warning: check is false!\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(p.setNormalized(0.25f), 2.5f);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(ParamModulation, OffsetsAddClearAndExtrapolate) {
  Param pan = make(Param::kLinear, -100, 100, 0, 0);
  pan.clearModulation();
  pan.addGlobalModulation(0.25f);
  EXPECT_EQ(pan.modulated, 1);
  EXPECT_EQ(pan.changed, 1);
  EXPECT_FLOAT_EQ(pan.modulatedValue, 50.0f);
  pan.addVoiceModulation(0.5f);
  EXPECT_FLOAT_EQ(pan.modulatedValue, 150.0f);  // not clamped: modulation may leave the range
  EXPECT_FLOAT_EQ(pan.effectiveValue(), 150.0f);
  EXPECT_FLOAT_EQ(pan.getNormalizedDeviation(), 0.75f);

  // Offsets that cancel to exactly 0 switch modulation off and keep the old modulated value.
  pan.addVoiceModulation(-0.75f);
  EXPECT_EQ(pan.modulated, 0);
  EXPECT_EQ(pan.changed, 1);
  EXPECT_FLOAT_EQ(pan.modulatedValue, 150.0f);
  EXPECT_EQ(pan.effectiveValue(), 0.0f);

  pan.clearModulation();
  EXPECT_EQ(pan.modulatedValue, pan.value);
  EXPECT_EQ(pan.globalModOffset, 0.0f);
  EXPECT_EQ(pan.voiceModOffset, 0.0f);
  EXPECT_EQ(pan.changed, 0);

  // A stepped record still rounds beyond its range.
  Param steps = make(Param::kStepped, 0, 4, 0, 2);
  steps.addGlobalModulation(0.6f);
  EXPECT_EQ(steps.modulatedValue, std::floor(4 * 1.1f + 0.5f));

  // A runaway offset never carries an infinity: modulation stays off.
  Param rate = make(Param::kExponential, 0.01f, 100, 0, 1);
  rate.addGlobalModulation(1e6f);
  EXPECT_EQ(rate.modulated, 0);
  EXPECT_TRUE(std::isfinite(rate.effectiveValue()));
}

TEST(ParamModulation, BipolarMeansCentredDefaultOfZero) {
  EXPECT_TRUE(make(Param::kLinear, -100, 100, 0, 0).isBipolar());
  EXPECT_FALSE(make(Param::kLinear, 0, 100, 0, 50).isBipolar());
  EXPECT_FALSE(make(Param::kLinear, 0, 100, 0, 0).isBipolar());
}

TEST(ParamDisplay, FormatsNamesAndLists) {
  EXPECT_EQ(display(make(Param::kLinear, 0, 1, 0, 0.5f), 0.5f), "0.500");
  EXPECT_EQ(display(make(Param::kLinear, 0, 1, 0, 0.5f, ""), 0.25f), "0.250");
  EXPECT_EQ(display(make(Param::kLinear, 0, 100, 0, 0, "%.0f%%"), 42.4f), "42%");

  Param onOff = make(Param::kStepped, 0, 1, 0, 0, "off|on");
  EXPECT_EQ(display(onOff, 0), "off");
  EXPECT_EQ(display(onOff, 1), "on");
  // An item past the list leaves the buffer as it was (apart from its last byte).
  EXPECT_EQ(display(onOff, 2, 6), "#####");
  // The scan looks at no more than size characters: "off" does not end within 3.
  EXPECT_EQ(display(onOff, 0, 4), "off");
  EXPECT_EQ(display(onOff, 0, 3), "##");

  static const char* names[] = {"Sine", "Saw|Up", "Square"};
  Param osc = make(Param::kStepped, 0, 2, 0, 0);
  osc.setValueNames(names, 3);
  EXPECT_EQ(display(osc, 1), "Saw Up");
  EXPECT_EQ(display(osc, 2, 4), "Squ");
  EXPECT_EQ(display(osc, -1), "-1.000");  // below the names: printed with the default format

  // A name table on a range that does not start at 0 never indexes before the table.
  Param shifted = make(Param::kStepped, 2, 4, 0, 2, "%.0f");
  shifted.setValueNames(names, 3);
  EXPECT_EQ(display(shifted, 3), "Saw Up");
  EXPECT_EQ(display(shifted, 1), "1");
}

TEST(ParamDisplay, FormattersAreCutToTheBuffer) {
  Param p = make(Param::kLinear, 0, 4, 0, 1);
  p.formatter = [](float v, char* buffer) { std::snprintf(buffer, 32, "%+.0f dB and more", v * 1000); };
  EXPECT_EQ(display(p, 1, 8), "+1000 d");
  EXPECT_EQ(display(p, 1, 64), "+1000 dB and more");
}

TEST(ParamDisplay, TinyBuffersAreNeverOverrunAndAlwaysTerminated) {
  static const char* names[] = {"Long name"};
  Param named = make(Param::kStepped, 0, 0, 0, 0);
  named.setValueNames(names, 1);
  Param formatted = make(Param::kLinear, 0, 1000, 0, 500);
  formatted.formatter = [](float, char* buffer) { std::strcpy(buffer, "formatted text"); };
  const Param params[] = {make(Param::kLinear, 0, 1000, 0, 500), make(Param::kStepped, 0, 1, 0, 0, "off|on"),
                          named, formatted};
  for (const Param& p : params) {
    for (int32_t size : {1, 2}) {
      // The guard bytes after the buffer must survive.
      char buffer[4] = {'#', '#', '#', '#'};
      p.formatValue(buffer, size, p.value);
      EXPECT_EQ(buffer[size - 1], '\0');
      for (int32_t i = size; i < 4; ++i) EXPECT_EQ(buffer[i], '#');
    }
    char untouched = '#';
    p.formatValue(&untouched, 0, p.value);
    EXPECT_EQ(untouched, '#');
  }
}

TEST(ParamState, SerializeAndDeserialize) {
  Param p = make(Param::kLinear, 0, 100, 0, 10);
  p.setValue(42.5f);
  int32_t pos = 0;
  p.serialize(nullptr, &pos, 0);
  EXPECT_EQ(pos, 4);
  uint8_t bytes[8] = {};
  pos = 2;
  p.serialize(bytes, &pos, 8);
  EXPECT_EQ(pos, 6);

  Param q = make(Param::kLinear, 0, 100, 0, 10);
  pos = 2;
  q.deserialize(bytes, &pos, 8, 4);
  EXPECT_EQ(pos, 6);
  EXPECT_EQ(q.value, 42.5f);

  // Version -1 reads even with a minimum version.
  Param versioned = make(Param::kLinear, 0, 100, 0, 10);
  versioned.minStateVersion = 4;
  pos = 2;
  versioned.deserialize(bytes, &pos, 8, -1);
  EXPECT_EQ(versioned.value, 42.5f);
  EXPECT_EQ(pos, 6);

  // An older state that did not store it: default, nothing consumed, no listener.
  CountingListener listener;
  versioned.listener = &listener;
  pos = 2;
  versioned.deserialize(bytes, &pos, 8, 3);
  EXPECT_EQ(pos, 2);
  EXPECT_EQ(versioned.value, 10.0f);
  EXPECT_EQ(versioned.target, 10.0f);
  EXPECT_EQ(listener.calls, 0);

  // Truncated: unchanged, still advances.
  pos = 6;
  q.deserialize(bytes, &pos, 8, 4);
  EXPECT_EQ(pos, 10);
  EXPECT_EQ(q.value, 42.5f);

  // A stored NaN or infinity leaves the value alone and still advances.
  uint8_t bad[8];
  int32_t w = 0;
  streamWriteFloat(bad, &w, 8, kNaN);
  streamWriteFloat(bad, &w, 8, -kInf);
  pos = 0;
  q.deserialize(bad, &pos, 8, 4);
  q.deserialize(bad, &pos, 8, 4);
  EXPECT_EQ(pos, 8);
  EXPECT_EQ(q.value, 42.5f);
}

TEST(ParamAudioThread, SetValueAndModulationAllocateNothing) {
  CountingListener listener;
  Param p = make(Param::kPower, 0, 4, 2, 1);
  p.listener = &listener;
  AllocationCounter counter;
  for (int i = 0; i < 1000; ++i) {
    p.setValue(static_cast<float>(i % 7));
    p.setNormalized(static_cast<float>(i % 11) / 10.0f);
    p.clearModulation();
    p.addGlobalModulation(0.01f * static_cast<float>(i % 5));
    p.addVoiceModulation(0.02f);
  }
  EXPECT_EQ(counter.count(), 0);
  EXPECT_GT(listener.calls, 0);
}
