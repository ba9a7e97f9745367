#pragma once

// The host's view of one framework parameter, and the bypass switch of an effect.

#include "plugin/framework/IParam.h"
#include "public.sdk/source/vst/vstparameters.h"

namespace iplug {

// A host-visible parameter that takes its range, shape and texts from the IParam behind it.
class IPlugVST3Parameter : public Steinberg::Vst::Parameter {
 public:
  // Title, units (the IParam's label), precision, step count, flags and default all come from
  // the IParam; the current value is the IParam's.
  IPlugVST3Parameter(IParam* param, Steinberg::Vst::ParamID tag, Steinberg::Vst::UnitID unitID);

  void toString(Steinberg::Vst::ParamValue valueNormalized, Steinberg::Vst::String128 string) const override;
  // Always succeeds: text that is no number reads as the IParam reads it.
  bool fromString(const Steinberg::Vst::TChar* string, Steinberg::Vst::ParamValue& valueNormalized) const override;
  Steinberg::Vst::ParamValue toPlain(Steinberg::Vst::ParamValue valueNormalized) const override;
  Steinberg::Vst::ParamValue toNormalized(Steinberg::Vst::ParamValue plainValue) const override;

  OBJ_METHODS(IPlugVST3Parameter, Parameter)

 private:
  IParam* mIPlugParam;
};

// An effect's bypass switch: a list of "off" and "on".
class IPlugVST3BypassParameter : public Steinberg::Vst::StringListParameter {
 public:
  IPlugVST3BypassParameter(const Steinberg::Vst::TChar* title, Steinberg::Vst::ParamID tag,
                           const Steinberg::Vst::TChar* units, int32_t flags, Steinberg::Vst::UnitID unitID);

  OBJ_METHODS(IPlugVST3BypassParameter, StringListParameter)
};

}  // namespace iplug
