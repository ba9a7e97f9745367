#include <gtest/gtest.h>

#include "plugin/vst3/CPluginFactory.h"
#include "pluginterfaces/vst/ivstcomponent.h"

using namespace Steinberg;

namespace {

int fills = 0;
const TUID kClass = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

FUnknown* makeNothing(void*) { return nullptr; }

void fill(CPluginFactory& factory) {
  ++fills;
  factory.setFactoryInfo(PFactoryInfo("Maker", "", "", PFactoryInfo::kUnicode));
  PClassInfo2 info(kClass, PClassInfo::kManyInstances, "Audio Module Class", "Nothing", 0, "", "",
                   "1.0", "VST 3.7.12");
  EXPECT_TRUE(factory.registerClass(info, &makeNothing));
  EXPECT_FALSE(factory.registerClass(info, &makeNothing));  // one class per id
}

}  // namespace

TEST(CPluginFactory, SharedFactorySurvivesItsLastReleaseAndAnswersAgain) {
  fills = 0;
  IPluginFactory* first = CPluginFactory::shared(&fill);
  IPluginFactory* again = CPluginFactory::shared(&fill);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, again);
  EXPECT_EQ(fills, 1);
  EXPECT_EQ(again->release(), 1u);
  EXPECT_EQ(first->release(), 0u);  // gone; a later request builds a new one
  IPluginFactory* fresh = CPluginFactory::shared(&fill);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fills, 2);
  EXPECT_EQ(fresh->countClasses(), 1);
  void* obj = fresh;
  EXPECT_EQ(fresh->createInstance(reinterpret_cast<FIDString>(kClass), Vst::IComponent::iid, &obj),
            kOutOfMemory);  // the class made nothing
  EXPECT_EQ(obj, nullptr);
  EXPECT_EQ(fresh->release(), 0u);
}
