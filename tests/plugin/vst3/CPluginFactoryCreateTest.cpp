// A class whose create function throws, whatever it throws: the host gets a failure result and
// no object, and no exception leaves the factory.
#include <gtest/gtest.h>

#include <array>
#include <iterator>
#include <memory>
#include <new>
#include <stdexcept>

#include "plugin/vst3/CPluginFactory.h"
#include "pluginterfaces/vst/ivstcomponent.h"

using namespace Steinberg;

namespace {

FUnknown* throwsBadAlloc(void*) { throw std::bad_alloc(); }
FUnknown* throwsRuntimeError(void*) { throw std::runtime_error("no instance"); }
FUnknown* throwsInt(void*) { throw 7; }  // not even a std::exception
FUnknown* makesNothing(void*) { return nullptr; }

struct ReleaseFactory {
  void operator()(CPluginFactory* factory) const { factory->release(); }
};

}  // namespace

TEST(CPluginFactory, ACreateFunctionThatThrowsGivesAFailureAndNoObject) {
  const std::pair<const char*, CPluginFactory::CreateFunction> rows[] = {
      {"bad_alloc", &throwsBadAlloc}, {"runtime_error", &throwsRuntimeError}, {"int", &throwsInt}, {"null", &makesNothing}};
  std::unique_ptr<CPluginFactory, ReleaseFactory> factory(new CPluginFactory);
  const auto cidOf = [](size_t row) {
    TUID cid = {};
    cid[0] = char(1 + row);
    return std::to_array(cid);
  };
  for (size_t row = 0; row < std::size(rows); ++row) {
    PClassInfo2 info(cidOf(row).data(), PClassInfo::kManyInstances, "Audio Module Class", rows[row].first, 0, "", "", "1.0", "VST 3.7.12");
    ASSERT_TRUE(factory->registerClass(info, rows[row].second)) << rows[row].first;
  }
  for (size_t row = 0; row < std::size(rows); ++row) {
    static int placeholder = 0;
    void* obj = &placeholder;
    tresult result = kResultOk;
    EXPECT_NO_THROW(result = factory->createInstance(cidOf(row).data(), Vst::IComponent::iid, &obj)) << rows[row].first;
    EXPECT_NE(result, kResultOk) << rows[row].first;
    EXPECT_EQ(obj, nullptr) << rows[row].first;
  }
}
