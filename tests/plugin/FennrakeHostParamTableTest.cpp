// Every host parameter against the engine record it stands for: name, kind, range, default,
// display texts, the host's mapping of positions to values, and which sources reach the engine.
#include <string>

#include "tests/plugin/FennrakeTestKit.h"

namespace {

const Param& EngineRecord(Fennrake& plug, int hostIdx) {
  return plug.mBandSynth.params[static_cast<size_t>(plug.mBandSynth.modTargets[static_cast<size_t>(hostIdx)])];
}

}  // namespace

TEST_F(FennrakeTest, EveryHostParameterIsItsEngineRecord) {
  ASSERT_EQ(plug->NParams(), Fennrake::kNumHostParams);
  ASSERT_EQ(plug->mBandSynth.modTargets.size(), size_t(Fennrake::kNumHostParams));
  const float positions[] = {0.0f, 0.1f, 0.3f, 0.5f, 0.7f, 0.9f, 1.0f};
  for (int k = 0; k < plug->NParams(); ++k) {
    const Param& p = EngineRecord(*plug, k);
    const IParam& host = *plug->GetParam(k);
    const std::string name = p.groupPrefix != nullptr ? std::string(p.groupPrefix) + " " + p.label : std::string(p.label);
    const bool stepped = p.kind == Param::kStepped;
    EXPECT_EQ(std::string(host.GetName()), name) << k;
    EXPECT_EQ(host.Type(), stepped ? IParam::kTypeEnum : IParam::kTypeDouble) << name;
    EXPECT_FLOAT_EQ(float(host.GetMin()), p.fromNormalized(0.0f)) << name;
    EXPECT_FLOAT_EQ(float(host.GetMax()), p.fromNormalized(1.0f)) << name;
    EXPECT_FLOAT_EQ(float(host.GetDefault()), stepped ? float(int(p.defaultValue)) : p.defaultValue) << name;
    if (stepped) {
      ASSERT_EQ(host.NDisplayTexts(), p.valueNameCount) << name;
      for (int i = 0; i < p.valueNameCount; ++i)
        EXPECT_EQ(std::string(host.GetDisplayText(host.GetMin() + i)), p.valueNames[i]) << name << " " << i;
      continue;
    }
    EXPECT_EQ(std::string(host.GetGroup()), p.groupPrefix != nullptr ? p.groupPrefix : "") << name;
    EXPECT_DOUBLE_EQ(host.GetStep(), 0.001) << name;
    // The host moves a knob along the same curve as the engine's own editor would.
    const float span = p.fromNormalized(1.0f) - p.fromNormalized(0.0f);
    for (float x : positions)
      EXPECT_NEAR(host.FromNormalized(x), p.fromNormalized(x), 1e-4 * std::fabs(span)) << name << " at " << x;
  }
}

// A value the host sets reaches the engine whoever set it, except the framework's own reset of
// the host parameters: the engine keeps what it has then.
TEST_F(FennrakeTest, EveryHostParameterReachesTheEngineExceptFromTheReset) {
  const EParamSource reaching[] = {kHost, kPresetRecall, kUI};
  for (int k = 0; k < plug->NParams(); ++k) {
    const Param& p = EngineRecord(*plug, k);
    IParam& host = *plug->GetParam(k);
    const float before = p.value;
    host.SetNormalized(host.GetNormalized() > 0.5 ? 0.0 : 1.0);
    ASSERT_NE(float(host.Value()), before) << host.GetName();
    plug->OnParamChange(k, kReset, -1);
    EXPECT_EQ(p.value, before) << host.GetName();
    for (EParamSource source : reaching) {
      const double x = 0.25 + 0.25 * int(source);
      host.SetNormalized(x);
      plug->OnParamChange(k, source, 0);
      EXPECT_EQ(p.value, float(host.Value())) << host.GetName() << " from " << int(source);
    }
  }
}
