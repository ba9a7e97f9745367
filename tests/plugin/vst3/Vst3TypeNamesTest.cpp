// The class names the plug-in object and its host parameters answer to, as code that casts the
// SDK's objects by name asks for them.
#include <tuple>

#include "tests/plugin/vst3/Vst3TestKit.h"

TEST_F(Vst3InProcess, ThePlugInAndItsParametersAnswerToTheirClassNamesAndTheirBases) {
  EXPECT_STREQ(synth->isA(), "IPlugVST3");
  // Name, and whether it answers when asked without and with its base classes.
  const std::tuple<const char*, bool, bool> plugNames[] = {
      {"IPlugVST3", true, true},         {"SingleComponentEffect", false, true}, {"EditControllerEx1", false, true},
      {"EditController", false, true},   {"ComponentBase", false, true},         {"FObject", false, true},
      {"Parameter", false, false},       {"IPlugVST3Parameter", false, false}};
  for (auto [name, alone, withBases] : plugNames) {
    EXPECT_EQ(synth->isTypeOf(name, false), alone) << name;
    EXPECT_EQ(synth->isTypeOf(name, true), withBases) << name;
  }
  Parameter* gain = synth->getParameterObject(TestSynth::kGain);
  ASSERT_NE(gain, nullptr);
  EXPECT_STREQ(gain->isA(), "IPlugVST3Parameter");
  EXPECT_TRUE(gain->isTypeOf("Parameter", true) && gain->isTypeOf("FObject", true));
  EXPECT_FALSE(gain->isTypeOf("Parameter", false));
  Parameter* controllerParam = synth->getParameterObject(65538 + 7);
  ASSERT_NE(controllerParam, nullptr);
  EXPECT_FALSE(controllerParam->isTypeOf("IPlugVST3Parameter"));  // no framework parameter behind it
}
