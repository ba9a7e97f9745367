#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "effects/EffectRegistry.h"
#include "effects/FxBase.h"
#include "engine/core/Param.h"
#include "tests/effects/EffectTestKit.h"

namespace {

// label, kind, range, shape exponent (power kind only), default and format of a freshly set-up
// record, flagged when it is not plain (not at its default, a modulation target, grouped or
// versioned).
std::string describe(const Param& p) {
  static const char* const kinds[] = {"lin", "pow", "powv", "exp", "log", "step"};
  const bool plain = p.value == p.defaultValue && p.modTargetIndex == -1 && p.groupPrefix == nullptr &&
                     p.minStateVersion == 0;
  char s[160];
  std::snprintf(s, sizeof s, "%s %s %g..%g^%g =%g %s%s", p.label, kinds[p.kind % 6], p.min, p.max,
                p.kind == Param::kPower ? p.shapeExponent : 0.0f, p.defaultValue, p.format, plain ? "" : " !");
  return s;
}

const char* const kExpected[][3] = {
    {"Chorus", "Depth exp 1..100^0 =10 %.1f cent", "Rate pow 0.5..10^2 =2 %.2f Hz"},
    {"Diffuser", "Length lin 0..100^0 =50 %.0f", "Pre-delay pow 0..300^2 =10 %.0f ms"},
    {"Plate Reverb", "Length lin 0..100^0 =50 %.0f", "Brightness lin 0..100^0 =50 %.0f"},
    {"Room Reverb", "Length lin 0..100^0 =50 %.0f", "Color lin 0..100^0 =50 %.0f"},
    {"Spring Reverb", "Length lin 0..100^0 =50 %.0f", "Color lin 0..100^0 =50 %.0f"},
    {"Tempo Delay", "Length lin 1..8^0 =2.7 %.1f", "Feedback lin 0..100^0 =50 %.0f%%"},
    {"Compressor", "Ratio lin 0.1..10^0 =3 %.1f", "Speed lin 0..100^0 =50 %.0f"},
    {"Stereo Fuzz", "Drive lin 0..100^0 =50 %.0f%%", "Color lin 0..100^0 =50 %.0f"},
    {"Sticky Compressor", "Gain lin 0..48^0 =6 %.0f dB", "Speed lin 0..100^0 =50 %.0f"},
    {"L.A. Optical", "Gain lin 0..48^0 =12 %.0f dB", "Speed lin 0..100^0 =50 %.0f"},
    {"Upward Compressor", "Ratio lin 0.1..10^0 =2 %.1f", "Speed lin 0..100^0 =50 %.0f"},
    {"Limiter", "Gain lin 0..48^0 =0 %.0f dB", "Speed lin 0..100^0 =50 %.0f"},
    {"Tape Simulator", "Drive lin 0..100^0 =50 %.0f", "Age lin 0..100^0 =50 %.0f"},
    {"Transformer Amp", "Gain lin 0..48^0 =12 %.0f dB", "Bias lin -100..100^0 =20 %.0f"},
};

TEST(EffectRegistry, ListsNamesAndParameters) {
  const EffectRegistry& reg = getEffectRegistry();
  EXPECT_EQ(reg.buildState, EffectRegistry::kBuilt);
  ASSERT_EQ(reg.sendList.size(), 8u);
  ASSERT_EQ(reg.mainList.size(), 6u);
  ASSERT_EQ(reg.sendNames.size(), 8u);
  ASSERT_EQ(reg.mainNames.size(), 6u);
  for (size_t i = 0; i < 14; ++i) {
    FxBase* proto = i < 8 ? reg.sendList[i] : reg.mainList[i - 8];
    EXPECT_STREQ(proto->name(), kExpected[i][0]);
    EXPECT_STREQ(i < 8 ? reg.sendNames[i] : reg.mainNames[i - 8], kExpected[i][0]);
    Param block[2];
    proto->setup(block);
    EXPECT_EQ(proto->params, block);
    EXPECT_EQ(describe(block[0]), kExpected[i][1]);
    EXPECT_EQ(describe(block[1]), kExpected[i][2]);
    proto->params = nullptr;
  }
}

// Each test runs in a process of its own, so these threads really race for the first build.
TEST(EffectRegistry, FirstUseFromManyThreadsBuildsOnce) {
  std::vector<const EffectRegistry*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&seen, i] { seen[i] = &getEffectRegistry(); });
  for (std::thread& t : threads) t.join();
  for (const EffectRegistry* r : seen) {
    ASSERT_EQ(r, &getEffectRegistry());
    EXPECT_EQ(r->buildState, EffectRegistry::kBuilt);
    EXPECT_EQ(r->sendList.size() + r->mainList.size(), 14u);
  }
}

TEST(EffectRegistry, CreateGivesFreshIndependentInstances) {
  const fxtest::Stereo in = fxtest::noise(512, 0.5f, 3);
  for (FxBase* proto : fxtest::allPrototypes()) {
    SCOPED_TRACE(proto->name());
    std::unique_ptr<FxBase> fresh(proto->create());
    ASSERT_NE(fresh.get(), proto);
    EXPECT_EQ(typeid(*fresh), typeid(*proto));
    EXPECT_EQ(fresh->params, nullptr);  // no parameters until set up
    // Changing and running one instance leaves the others' parameters and responses alone.
    fxtest::Rig a(proto, 48000.0f), b(proto, 48000.0f);
    a.set(a.params[0].min, a.params[1].max);
    for (int pass = 0; pass < 3; ++pass) a.run(in);
    EXPECT_EQ(b.params[0].value, b.params[0].defaultValue);
    EXPECT_EQ(b.params[1].value, b.params[1].defaultValue);
    EXPECT_EQ(proto->params, nullptr);
    EXPECT_TRUE(fxtest::same(b.run(in), fxtest::Rig(proto, 48000.0f).run(in)));
  }
}

}  // namespace
