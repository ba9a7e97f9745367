#include "tools/testhost/HostApplication.h"

#include "public.sdk/source/vst/hosting/hostclasses.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace testhost {

tresult PLUGIN_API HostApplication::getName(String128 text) {
  if (text == nullptr) return kInvalidArgument;
  str8ToStr16(text, name.c_str(), 128);
  return kResultOk;
}

tresult PLUGIN_API HostApplication::createInstance(TUID cid, TUID iid, void** obj) {
  if (obj == nullptr) return kInvalidArgument;
  *obj = nullptr;
  if (cid == nullptr || iid == nullptr) return kInvalidArgument;
  auto wants = [&](const FUID& id) {
    return FUnknownPrivate::iidEqual(cid, id) && FUnknownPrivate::iidEqual(iid, id);
  };
  if (wants(IMessage::iid))
    *obj = static_cast<IMessage*>(new HostMessage);
  else if (wants(IAttributeList::iid))
    *obj = static_cast<IAttributeList*>(new HostAttributeList);
  return *obj != nullptr ? kResultOk : kResultFalse;
}

}  // namespace testhost
