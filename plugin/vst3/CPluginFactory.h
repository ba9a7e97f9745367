#pragma once

// The class factory a VST3 module hands its host: the maker's information, the classes on offer
// and their creation.

#include <atomic>
#include <vector>

#include "pluginterfaces/base/ipluginbase.h"

namespace Steinberg {

class CPluginFactory final : public IPluginFactory3 {
 public:
  // Makes one object of a class and returns it with one reference; null when it cannot.
  using CreateFunction = FUnknown* (*)(void* context);
  using FillFunction = void (*)(CPluginFactory& factory);

  CPluginFactory() = default;
  CPluginFactory(const CPluginFactory&) = delete;
  CPluginFactory& operator=(const CPluginFactory&) = delete;

  void setFactoryInfo(const PFactoryInfo& info) { factoryInfo = info; }
  // False for a null create function or a class id already registered.
  bool registerClass(const PClassInfo2& info, CreateFunction create, void* context = nullptr);

  // The module's one factory, with one more reference for the caller: made and filled on the
  // first request, and again after the host released the last reference. Null on failure.
  static IPluginFactory* shared(FillFunction fill) noexcept;

  // IPluginFactory, 2 and 3
  tresult PLUGIN_API getFactoryInfo(PFactoryInfo* info) override;
  int32 PLUGIN_API countClasses() override;
  tresult PLUGIN_API getClassInfo(int32 index, PClassInfo* info) override;
  tresult PLUGIN_API createInstance(FIDString cid, FIDString iid, void** obj) override;
  tresult PLUGIN_API getClassInfo2(int32 index, PClassInfo2* info) override;
  tresult PLUGIN_API getClassInfoUnicode(int32 index, PClassInfoW* info) override;
  tresult PLUGIN_API setHostContext(FUnknown* context) override;

  tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override;
  uint32 PLUGIN_API addRef() override;
  uint32 PLUGIN_API release() override;

 private:
  ~CPluginFactory();
  bool tryAddRef();

  struct ClassEntry {
    PClassInfo2 info;
    PClassInfoW unicodeInfo;
    CreateFunction create;
    void* context;
  };
  const ClassEntry* entryAt(int32 index) const;

  PFactoryInfo factoryInfo;
  std::vector<ClassEntry> classes;
  std::atomic<int32> refCount{1};
};

}  // namespace Steinberg
