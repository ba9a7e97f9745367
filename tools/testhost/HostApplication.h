#pragma once

// The host context handed to initialize: the host's name (plug-ins tell hosts apart by it) and
// the messages and attribute lists a plug-in may ask the host to make.

#include <string>
#include <utility>

#include "pluginterfaces/vst/ivsthostapplication.h"
#include "tools/testhost/HostObject.h"

namespace testhost {

class HostApplication final : public HostObject<Steinberg::Vst::IHostApplication> {
 public:
  explicit HostApplication(std::string name = "Oskra Test Host") : name(std::move(name)) {}
  void setName(std::string newName) { name = std::move(newName); }

  Steinberg::tresult PLUGIN_API getName(Steinberg::Vst::String128 text) override;
  Steinberg::tresult PLUGIN_API createInstance(Steinberg::TUID cid, Steinberg::TUID iid,
                                               void** obj) override;

 private:
  std::string name;
};

}  // namespace testhost
