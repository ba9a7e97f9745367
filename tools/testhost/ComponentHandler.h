#pragma once

// The host's side of the controller's notifications, recorded in order for tests to read.

#include <vector>

#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "tools/testhost/HostObject.h"

namespace testhost {

class ComponentHandler final
    : public HostObject<Steinberg::Vst::IComponentHandler, Steinberg::Vst::IComponentHandler2> {
 public:
  enum class Kind { BeginEdit, PerformEdit, EndEdit, Restart, StartGroup, FinishGroup, Dirty };
  struct Call {
    Kind kind;
    Steinberg::Vst::ParamID id = 0;
    Steinberg::Vst::ParamValue value = 0.0;
    Steinberg::int32 flags = 0;  // restart flags, or the dirty state
  };
  std::vector<Call> calls;

  Steinberg::tresult PLUGIN_API beginEdit(Steinberg::Vst::ParamID id) override;
  Steinberg::tresult PLUGIN_API performEdit(Steinberg::Vst::ParamID id,
                                            Steinberg::Vst::ParamValue value) override;
  Steinberg::tresult PLUGIN_API endEdit(Steinberg::Vst::ParamID id) override;
  Steinberg::tresult PLUGIN_API restartComponent(Steinberg::int32 flags) override;
  Steinberg::tresult PLUGIN_API setDirty(Steinberg::TBool state) override;
  Steinberg::tresult PLUGIN_API requestOpenEditor(Steinberg::FIDString name) override;
  Steinberg::tresult PLUGIN_API startGroupEdit() override;
  Steinberg::tresult PLUGIN_API finishGroupEdit() override;
};

}  // namespace testhost
