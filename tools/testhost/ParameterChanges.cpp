#include "tools/testhost/ParameterChanges.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace testhost {

int32 PLUGIN_API ParamValueQueue::getPointCount() { return static_cast<int32>(points.size()); }

tresult PLUGIN_API ParamValueQueue::getPoint(int32 index, int32& sampleOffset, ParamValue& value) {
  if (index < 0 || index >= getPointCount()) return kInvalidArgument;
  sampleOffset = points[static_cast<size_t>(index)].first;
  value = points[static_cast<size_t>(index)].second;
  return kResultOk;
}

tresult PLUGIN_API ParamValueQueue::addPoint(int32 sampleOffset, ParamValue value, int32& index) {
  index = getPointCount();
  points.emplace_back(sampleOffset, value);
  return kResultOk;
}

void ParameterChanges::add(ParamID id, int32 offset, ParamValue value) {
  int32 index = 0;
  addParameterData(id, index)->addPoint(offset, value, index);
}

int32 PLUGIN_API ParameterChanges::getParameterCount() { return static_cast<int32>(queues.size()); }

IParamValueQueue* PLUGIN_API ParameterChanges::getParameterData(int32 index) {
  if (index < 0 || index >= getParameterCount()) return nullptr;
  return queues[static_cast<size_t>(index)].get();
}

IParamValueQueue* PLUGIN_API ParameterChanges::addParameterData(const ParamID& id, int32& index) {
  for (index = 0; index < getParameterCount(); ++index)
    if (queues[static_cast<size_t>(index)]->getParameterId() == id)
      return queues[static_cast<size_t>(index)].get();
  queues.push_back(std::make_unique<ParamValueQueue>(id));
  return queues.back().get();
}

}  // namespace testhost
