#pragma once

// The host's parameter changes for one block: one queue of (offset, value) points per parameter.

#include <memory>
#include <utility>
#include <vector>

#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "tools/testhost/HostObject.h"

namespace testhost {

class ParamValueQueue final : public HostObject<Steinberg::Vst::IParamValueQueue> {
 public:
  explicit ParamValueQueue(Steinberg::Vst::ParamID id) : id(id) {}

  Steinberg::Vst::ParamID PLUGIN_API getParameterId() override { return id; }
  Steinberg::int32 PLUGIN_API getPointCount() override;
  Steinberg::tresult PLUGIN_API getPoint(Steinberg::int32 index, Steinberg::int32& sampleOffset,
                                         Steinberg::Vst::ParamValue& value) override;
  Steinberg::tresult PLUGIN_API addPoint(Steinberg::int32 sampleOffset,
                                         Steinberg::Vst::ParamValue value,
                                         Steinberg::int32& index) override;

 private:
  Steinberg::Vst::ParamID id;
  std::vector<std::pair<Steinberg::int32, Steinberg::Vst::ParamValue>> points;
};

class ParameterChanges final : public HostObject<Steinberg::Vst::IParameterChanges> {
 public:
  void clear() { queues.clear(); }
  // Appends a point to the parameter's queue, making the queue when it is the first.
  void add(Steinberg::Vst::ParamID id, Steinberg::int32 offset, Steinberg::Vst::ParamValue value);

  Steinberg::int32 PLUGIN_API getParameterCount() override;
  Steinberg::Vst::IParamValueQueue* PLUGIN_API getParameterData(Steinberg::int32 index) override;
  Steinberg::Vst::IParamValueQueue* PLUGIN_API addParameterData(const Steinberg::Vst::ParamID& id,
                                                                Steinberg::int32& index) override;

 private:
  std::vector<std::unique_ptr<ParamValueQueue>> queues;
};

}  // namespace testhost
