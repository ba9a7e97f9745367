#pragma once

// Host-side objects the plug-in borrows for a call or for its life: the host owns them, so the
// plug-in's references are not counted.

#include "pluginterfaces/base/funknown.h"

namespace testhost {

template <typename First, typename... Rest>
class HostObject : public First, public Rest... {
 public:
  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override {
    using namespace Steinberg;
    if (obj == nullptr) return kInvalidArgument;
    *obj = nullptr;
    if (iid == nullptr) return kInvalidArgument;
    if (FUnknownPrivate::iidEqual(iid, FUnknown::iid))
      *obj = static_cast<First*>(this);
    else
      (void)(answer<First>(iid, obj) || ... || answer<Rest>(iid, obj));
    return *obj != nullptr ? kResultOk : kNoInterface;
  }
  Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
  Steinberg::uint32 PLUGIN_API release() override { return 1; }

 private:
  template <typename I>
  bool answer(const Steinberg::TUID iid, void** obj) {
    if (!Steinberg::FUnknownPrivate::iidEqual(iid, I::iid)) return false;
    *obj = static_cast<I*>(this);
    return true;
  }
};

}  // namespace testhost
