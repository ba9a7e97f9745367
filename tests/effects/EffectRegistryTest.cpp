#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "effects/EffectRegistry.h"
#include "effects/FxBase.h"
#include "engine/Param.h"
#include "tests/effects/EffectTestKit.h"

namespace {

struct ParamDecl {
  const char* label;
  uint32_t kind;
  float min, max, shapeExponent, defaultValue;
  const char* format;
};

struct EffectDecl {
  const char* name;
  ParamDecl p0, p1;
};

constexpr uint32_t kLin = Param::kLinear;
constexpr uint32_t kPow = Param::kPower;
constexpr uint32_t kExp = Param::kExponential;

const EffectDecl kSendDecls[] = {
    {"Chorus", {"Depth", kExp, 1, 100, 0, 10, "%.1f cent"}, {"Rate", kPow, 0.5f, 10, 2, 2, "%.2f Hz"}},
    {"Diffuser", {"Length", kLin, 0, 100, 0, 50, "%.0f"}, {"Pre-delay", kPow, 0, 300, 2, 10, "%.0f ms"}},
    {"Plate Reverb", {"Length", kLin, 0, 100, 0, 50, "%.0f"}, {"Brightness", kLin, 0, 100, 0, 50, "%.0f"}},
    {"Room Reverb", {"Length", kLin, 0, 100, 0, 50, "%.0f"}, {"Color", kLin, 0, 100, 0, 50, "%.0f"}},
    {"Spring Reverb", {"Length", kLin, 0, 100, 0, 50, "%.0f"}, {"Color", kLin, 0, 100, 0, 50, "%.0f"}},
    {"Tempo Delay", {"Length", kLin, 1, 8, 0, 2.7f, "%.1f"}, {"Feedback", kLin, 0, 100, 0, 50, "%.0f%%"}},
    {"Compressor", {"Ratio", kLin, 0.1f, 10, 0, 3, "%.1f"}, {"Speed", kLin, 0, 100, 0, 50, "%.0f"}},
    {"Stereo Fuzz", {"Drive", kLin, 0, 100, 0, 50, "%.0f%%"}, {"Color", kLin, 0, 100, 0, 50, "%.0f"}},
};

const EffectDecl kMainDecls[] = {
    {"Sticky Compressor", {"Gain", kLin, 0, 48, 0, 6, "%.0f dB"}, {"Speed", kLin, 0, 100, 0, 50, "%.0f"}},
    {"L.A. Optical", {"Gain", kLin, 0, 48, 0, 12, "%.0f dB"}, {"Speed", kLin, 0, 100, 0, 50, "%.0f"}},
    {"Upward Compressor", {"Ratio", kLin, 0.1f, 10, 0, 2, "%.1f"}, {"Speed", kLin, 0, 100, 0, 50, "%.0f"}},
    {"Limiter", {"Gain", kLin, 0, 48, 0, 0, "%.0f dB"}, {"Speed", kLin, 0, 100, 0, 50, "%.0f"}},
    {"Tape Simulator", {"Drive", kLin, 0, 100, 0, 50, "%.0f"}, {"Age", kLin, 0, 100, 0, 50, "%.0f"}},
    {"Transformer Amp", {"Gain", kLin, 0, 48, 0, 12, "%.0f dB"}, {"Bias", kLin, -100, 100, 0, 20, "%.0f"}},
};

void expectParam(const Param& p, const ParamDecl& s, const std::string& where) {
  SCOPED_TRACE(where);
  EXPECT_STREQ(p.label, s.label);
  EXPECT_EQ(p.kind, s.kind);
  EXPECT_EQ(p.min, s.min);
  EXPECT_EQ(p.max, s.max);
  if (s.kind == kPow) {
    EXPECT_EQ(p.shapeExponent, s.shapeExponent);
  }
  EXPECT_EQ(p.defaultValue, s.defaultValue);
  EXPECT_EQ(p.value, s.defaultValue);
  EXPECT_STREQ(p.format, s.format);
  EXPECT_EQ(p.modTargetIndex, -1);  // not a modulation target
  EXPECT_EQ(p.groupPrefix, nullptr);
  EXPECT_EQ(p.minStateVersion, 0);
}

template <size_t N>
void expectList(const std::vector<FxBase*>& list, const std::vector<const char*>& names,
                const EffectDecl (&decls)[N]) {
  ASSERT_EQ(list.size(), N);
  ASSERT_EQ(names.size(), N);
  for (size_t i = 0; i < N; ++i) {
    EXPECT_STREQ(list[i]->name(), decls[i].name);
    EXPECT_STREQ(names[i], decls[i].name);
    Param block[2];
    list[i]->setup(block);
    EXPECT_EQ(list[i]->params, block);
    expectParam(block[0], decls[i].p0, std::string(decls[i].name) + " parameter 0");
    expectParam(block[1], decls[i].p1, std::string(decls[i].name) + " parameter 1");
    list[i]->params = nullptr;
  }
}

TEST(EffectRegistry, ListsNamesAndParameters) {
  const EffectRegistry& reg = getEffectRegistry();
  EXPECT_EQ(reg.buildState, EffectRegistry::kBuilt);
  expectList(reg.sendList, reg.sendNames, kSendDecls);
  expectList(reg.mainList, reg.mainNames, kMainDecls);
}

TEST(EffectRegistry, SecondCallChangesNothing) {
  const EffectRegistry& first = getEffectRegistry();
  const std::vector<FxBase*> send = first.sendList, main = first.mainList;
  const std::vector<const char*> sendNames = first.sendNames;
  const EffectRegistry& second = getEffectRegistry();
  EXPECT_EQ(&first, &second);
  EXPECT_EQ(second.sendList, send);
  EXPECT_EQ(second.mainList, main);
  EXPECT_EQ(second.sendNames, sendNames);
  EXPECT_EQ(second.sendList.size(), 8u);
  EXPECT_EQ(second.mainList.size(), 6u);
}

// Each test runs in a process of its own, so these threads really race for the first build.
TEST(EffectRegistry, FirstUseFromManyThreadsBuildsOnce) {
  std::vector<const EffectRegistry*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i)
    threads.emplace_back([&seen, i] { seen[i] = &getEffectRegistry(); });
  for (std::thread& t : threads) t.join();
  for (const EffectRegistry* r : seen) {
    ASSERT_EQ(r, seen[0]);
    EXPECT_EQ(r->buildState, EffectRegistry::kBuilt);
    EXPECT_EQ(r->sendList.size(), 8u);
    EXPECT_EQ(r->mainList.size(), 6u);
  }
}

// The value names of a slot's "Type" parameter come straight from the name lists.
TEST(EffectRegistry, NameListsServeAsValueNames) {
  const EffectRegistry& reg = getEffectRegistry();
  Param type;
  type.init(Param::kStepped, 0, static_cast<float>(reg.mainNames.size() - 1), 0, nullptr, "Type", 0);
  type.setValueNames(const_cast<const char**>(reg.mainNames.data()),
                     static_cast<int32_t>(reg.mainNames.size()));
  EXPECT_EQ(type.max, 5.0f);
  char text[64];
  type.formatValue(text, sizeof text, 5.0f);
  EXPECT_STREQ(text, "Transformer Amp");
}

TEST(EffectRegistry, CreateGivesFreshIndependentInstances) {
  for (FxBase* proto : fxtest::allPrototypes()) {
    SCOPED_TRACE(proto->name());
    Param protoBlock[2];
    proto->setup(protoBlock);

    std::unique_ptr<FxBase> a(proto->create()), b(proto->create());
    ASSERT_NE(a.get(), proto);
    ASSERT_NE(a.get(), b.get());
    EXPECT_EQ(typeid(*a), typeid(*proto));
    EXPECT_EQ(a->params, nullptr);  // no parameters until set up
    EXPECT_STREQ(a->name(), proto->name());

    Param blockA[2], blockB[2];
    a->setup(blockA);
    b->setup(blockB);
    blockA[0].setValue(blockA[0].min);
    blockA[1].setValue(blockA[1].max);
    EXPECT_EQ(blockB[0].value, blockB[0].defaultValue);
    EXPECT_EQ(blockB[1].value, blockB[1].defaultValue);
    EXPECT_EQ(protoBlock[0].value, protoBlock[0].defaultValue);
    EXPECT_EQ(protoBlock[1].value, protoBlock[1].defaultValue);
    EXPECT_EQ(proto->params, protoBlock);

    // Running one instance leaves the other's response alone.
    a->setSampleRate(48000.0f);
    b->setSampleRate(48000.0f);
    std::unique_ptr<FxBase> c(proto->create());
    Param blockC[2];
    c->setup(blockC);
    c->setSampleRate(48000.0f);
    const fxtest::Stereo in = fxtest::noise(512, 0.5f, 3);
    fxtest::Stereo outA(512), outB(512), outC(512);
    const float* src[2] = {in.l.data(), in.r.data()};
    float* dstA[2] = {outA.l.data(), outA.r.data()};
    float* dstB[2] = {outB.l.data(), outB.r.data()};
    float* dstC[2] = {outC.l.data(), outC.r.data()};
    for (int pass = 0; pass < 3; ++pass) a->process(src, dstA, 512);
    b->process(src, dstB, 512);
    c->process(src, dstC, 512);
    EXPECT_EQ(outB.l, outC.l);
    EXPECT_EQ(outB.r, outC.r);
    proto->params = nullptr;
  }
}

// What the engine does on a switch: set the new type up on the slot's block, and with "keep"
// put the values read before back.
TEST(EffectRegistry, SwitchingTypesOnOneParameterBlock) {
  const EffectRegistry& reg = getEffectRegistry();
  Param block[2];
  std::unique_ptr<FxBase> room(reg.sendList[3]->create());
  room->setup(block);
  block[0].setValue(73.0f);
  block[1].setValue(21.0f);
  const float kept0 = block[0].value, kept1 = block[1].value;
  std::unique_ptr<FxBase> spring(reg.sendList[4]->create());
  spring->setup(block);
  block[0].setValue(kept0);
  block[1].setValue(kept1);
  EXPECT_STREQ(block[0].label, "Length");
  EXPECT_STREQ(block[1].label, "Color");
  EXPECT_EQ(block[0].value, 73.0f);
  EXPECT_EQ(block[1].value, 21.0f);

  Param mainBlock[2];
  std::unique_ptr<FxBase> sticky(reg.mainList[0]->create());
  sticky->setup(mainBlock);
  mainBlock[0].setValue(30.0f);
  std::unique_ptr<FxBase> optical(reg.mainList[1]->create());
  optical->setup(mainBlock);
  EXPECT_EQ(mainBlock[0].value, 12.0f);
}

}  // namespace
