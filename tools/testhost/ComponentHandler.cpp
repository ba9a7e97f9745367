#include "tools/testhost/ComponentHandler.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace testhost {

tresult PLUGIN_API ComponentHandler::beginEdit(ParamID id) {
  calls.push_back({Kind::BeginEdit, id});
  return kResultOk;
}

tresult PLUGIN_API ComponentHandler::performEdit(ParamID id, ParamValue value) {
  calls.push_back({Kind::PerformEdit, id, value});
  return kResultOk;
}

tresult PLUGIN_API ComponentHandler::endEdit(ParamID id) {
  calls.push_back({Kind::EndEdit, id});
  return kResultOk;
}

tresult PLUGIN_API ComponentHandler::restartComponent(int32 flags) {
  calls.push_back({Kind::Restart, 0, 0.0, flags});
  return kResultOk;
}

tresult PLUGIN_API ComponentHandler::setDirty(TBool state) {
  calls.push_back({Kind::Dirty, 0, 0.0, state ? 1 : 0});
  return kResultOk;
}

tresult PLUGIN_API ComponentHandler::requestOpenEditor(FIDString /*name*/) { return kResultFalse; }

tresult PLUGIN_API ComponentHandler::startGroupEdit() {
  calls.push_back({Kind::StartGroup});
  return kResultOk;
}

tresult PLUGIN_API ComponentHandler::finishGroupEdit() {
  calls.push_back({Kind::FinishGroup});
  return kResultOk;
}

}  // namespace testhost
