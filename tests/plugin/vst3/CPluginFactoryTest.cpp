// The module's factory: as the test synth's bundle answers a host, and the shared object's life.
#include "plugin/vst3/CPluginFactory.h"
#include "tests/plugin/vst3/Vst3TestKit.h"

namespace {

int fills = 0;
const TUID kClass = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

FUnknown* makeNothing(void*) { return nullptr; }

void fill(CPluginFactory& factory) {
  ++fills;
  factory.setFactoryInfo(PFactoryInfo("Maker", "", "", PFactoryInfo::kUnicode));
  PClassInfo2 info(kClass, PClassInfo::kManyInstances, "Audio Module Class", "Nothing", 0, "", "", "1.0", "VST 3.7.12");
  EXPECT_TRUE(factory.registerClass(info, &makeNothing));
  EXPECT_FALSE(factory.registerClass(info, &makeNothing));  // one class per id
}

void failingFill(CPluginFactory& factory) {
  fill(factory);
  throw std::bad_alloc();  // registering the class ran out of memory
}

}  // namespace

TEST_F(Vst3Bundle, FactoryAndClassInfos) {
  const PFactoryInfo factory = module->factoryInfo();
  const auto infos = module->classInfos();
  const auto unicode = module->unicodeClassInfos();
  ASSERT_TRUE(infos.size() == 1 && unicode.size() == 1);
  const PClassInfo2& i = infos[0];
  char cid[33] = {};
  FUID::fromTUID(i.cid).toString(cid);  // the four words in reading order: 11223344 55667788 "TSyn" "Test"
  EXPECT_EQ(std::string(factory.vendor) + "|" + std::to_string(factory.flags) + "|" + i.category + "|" + i.name + "|" +
                i.subCategories + "|" + i.version + "|" + i.sdkVersion + "|" + std::to_string(i.cardinality) + "|" + cid,
            "Oskra Tests|16|Audio Module Class|Test Synth|Instrument|Synth|1.0.0|VST 3.7.12|2147483647|"
            "11223344556677885453796E54657374");
  EXPECT_EQ(std::memcmp(i.cid, "\x11\x22\x33\x44\x55\x66\x77\x88TSynTest", 16), 0);
  EXPECT_EQ(std::u16string(unicode[0].name) + u"|" + unicode[0].sdkVersion, u"Test Synth|VST 3.7.12");
  IPluginFactory* f = module->factory();
  PClassInfo plain;
  for (int32 index : {1, -1}) EXPECT_EQ(f->getClassInfo(index, &plain), kInvalidArgument);
  EXPECT_EQ(f->getClassInfo(0, nullptr), kInvalidArgument);
  const auto synth = reinterpret_cast<FIDString>(i.cid);
  for (auto [cls, iid, result] : {std::tuple<FIDString, FIDString, tresult>{nullptr, IComponent::iid, kInvalidArgument},
                                  {IComponent::iid, IComponent::iid, kInvalidArgument}, {synth, IPluginFactory::iid, kNoInterface}}) {
    void* obj = &plain;
    EXPECT_EQ(f->createInstance(cls, iid, &obj), result);
    EXPECT_EQ(obj, nullptr);
  }
  EXPECT_EQ(f->createInstance(synth, IComponent::iid, nullptr), kInvalidArgument);
}

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
  EXPECT_EQ(std::make_pair(fills, fresh->countClasses()), std::make_pair(2, 1));
  void* obj = fresh;
  EXPECT_EQ(fresh->createInstance(reinterpret_cast<FIDString>(kClass), IComponent::iid, &obj), kOutOfMemory);  // made nothing
  EXPECT_EQ(obj, nullptr);
  EXPECT_EQ(fresh->release(), 0u);
}

// A factory that could not be filled is thrown away (the request answers null) without
// deadlocking on the module's factory lock; the next request makes a whole one.
TEST(CPluginFactory, AFailedFillAnswersNullAndTheNextRequestSucceeds) {
  fills = 0;
  EXPECT_EQ(CPluginFactory::shared(&failingFill), nullptr);
  IPluginFactory* factory = CPluginFactory::shared(&fill);
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(std::make_pair(fills, factory->countClasses()), std::make_pair(2, 1));
  EXPECT_EQ(factory->release(), 0u);
}
