#include "plugin/vst3/CPluginFactory.h"

#include <cstring>
#include <mutex>
#include <new>

namespace Steinberg {

namespace {

// The module-wide factory. The lock also covers the factory's own destruction, so a request
// racing with the host's last release either revives nothing or gets a fresh factory.
std::mutex sharedLock;
CPluginFactory* sharedFactory = nullptr;

}  // namespace

CPluginFactory::~CPluginFactory() {
  std::lock_guard<std::mutex> lock(sharedLock);
  if (sharedFactory == this) sharedFactory = nullptr;
}

IPluginFactory* CPluginFactory::shared(FillFunction fill) noexcept {
  // A factory whose filling failed goes only once the lock is let go: its destructor takes it.
  CPluginFactory* failed = nullptr;
  IPluginFactory* result = nullptr;
  try {
    std::lock_guard<std::mutex> lock(sharedLock);
    if (sharedFactory != nullptr && sharedFactory->tryAddRef()) return sharedFactory;
    // Not yet made, or its last reference is gone and it is on its way out.
    auto* factory = new CPluginFactory;
    try {
      if (fill != nullptr) fill(*factory);
      sharedFactory = factory;
      result = factory;
    } catch (...) {
      failed = factory;  // never shared, so its destructor leaves the slot alone
    }
  } catch (...) {
    result = nullptr;
  }
  delete failed;
  return result;
}

bool CPluginFactory::registerClass(const PClassInfo2& info, CreateFunction create, void* context) {
  if (create == nullptr) return false;
  for (const ClassEntry& entry : classes)
    if (std::memcmp(entry.info.cid, info.cid, sizeof(TUID)) == 0) return false;
  ClassEntry entry{info, {}, create, context};
  entry.unicodeInfo.fromAscii(info);
  classes.push_back(entry);
  return true;
}

const CPluginFactory::ClassEntry* CPluginFactory::entryAt(int32 index) const {
  if (index < 0 || index >= static_cast<int32>(classes.size())) return nullptr;
  return &classes[static_cast<size_t>(index)];
}

tresult PLUGIN_API CPluginFactory::getFactoryInfo(PFactoryInfo* info) {
  if (info == nullptr) return kInvalidArgument;
  *info = factoryInfo;
  return kResultOk;
}

int32 PLUGIN_API CPluginFactory::countClasses() { return static_cast<int32>(classes.size()); }

tresult PLUGIN_API CPluginFactory::getClassInfo(int32 index, PClassInfo* info) {
  const ClassEntry* entry = entryAt(index);
  if (entry == nullptr || info == nullptr) return kInvalidArgument;
  *info =
      PClassInfo(entry->info.cid, entry->info.cardinality, entry->info.category, entry->info.name);
  return kResultOk;
}

tresult PLUGIN_API CPluginFactory::getClassInfo2(int32 index, PClassInfo2* info) {
  const ClassEntry* entry = entryAt(index);
  if (entry == nullptr || info == nullptr) return kInvalidArgument;
  *info = entry->info;
  return kResultOk;
}

tresult PLUGIN_API CPluginFactory::getClassInfoUnicode(int32 index, PClassInfoW* info) {
  const ClassEntry* entry = entryAt(index);
  if (entry == nullptr || info == nullptr) return kInvalidArgument;
  *info = entry->unicodeInfo;
  return kResultOk;
}

tresult PLUGIN_API CPluginFactory::createInstance(FIDString cid, FIDString iid, void** obj) {
  if (obj == nullptr) return kInvalidArgument;
  *obj = nullptr;
  if (cid == nullptr || iid == nullptr) return kInvalidArgument;
  for (const ClassEntry& entry : classes) {
    if (std::memcmp(entry.info.cid, cid, sizeof(TUID)) != 0) continue;
    FUnknown* instance = nullptr;
    try {
      instance = entry.create(entry.context);
    } catch (...) {
      instance = nullptr;
    }
    if (instance == nullptr) return kOutOfMemory;
    // The host gets the interface it asked for; the creation reference goes.
    tresult result = instance->queryInterface(iid, obj);
    instance->release();
    if (result != kResultOk) *obj = nullptr;
    return result == kResultOk ? kResultOk : kNoInterface;
  }
  return kInvalidArgument;
}

tresult PLUGIN_API CPluginFactory::setHostContext(FUnknown* /*context*/) { return kNotImplemented; }

tresult PLUGIN_API CPluginFactory::queryInterface(const TUID iid, void** obj) {
  if (obj == nullptr) return kInvalidArgument;
  *obj = nullptr;
  if (iid == nullptr) return kInvalidArgument;
  QUERY_INTERFACE(iid, obj, FUnknown::iid, IPluginFactory)
  QUERY_INTERFACE(iid, obj, IPluginFactory::iid, IPluginFactory)
  QUERY_INTERFACE(iid, obj, IPluginFactory2::iid, IPluginFactory2)
  QUERY_INTERFACE(iid, obj, IPluginFactory3::iid, IPluginFactory3)
  return kNoInterface;
}

uint32 PLUGIN_API CPluginFactory::addRef() {
  return static_cast<uint32>(refCount.fetch_add(1, std::memory_order_relaxed) + 1);
}

bool CPluginFactory::tryAddRef() {
  int32 count = refCount.load(std::memory_order_relaxed);
  while (count > 0)
    if (refCount.compare_exchange_weak(count, count + 1, std::memory_order_acq_rel)) return true;
  return false;
}

uint32 PLUGIN_API CPluginFactory::release() {
  int32 count = refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (count == 0) {
    delete this;
    return 0;
  }
  return static_cast<uint32>(count);
}

}  // namespace Steinberg
