#include "plugin/vst3/IPlugVST3Parameter.h"

#include <cmath>

#include "plugin/framework/WDL_String.h"
#include "plugin/vst3/Vst3Text.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace iplug {

IPlugVST3Parameter::IPlugVST3Parameter(IParam* param, ParamID tag, UnitID unitID) : mIPlugParam(param) {
  CopyToString128(param->GetName(), info.title);
  CopyToString128(param->GetLabel(), info.units);
  precision = param->GetDisplayPrecision();
  const IParam::EParamType type = param->Type();
  const bool stepped = type == IParam::kTypeBool || type == IParam::kTypeInt || type == IParam::kTypeEnum;
  info.stepCount = stepped ? static_cast<int32>(param->GetMax() - param->GetMin()) : 0;
  info.flags = param->GetCanAutomate() ? ParameterInfo::kCanAutomate : ParameterInfo::kNoFlags;
  if (type == IParam::kTypeEnum) info.flags |= ParameterInfo::kIsList;
  info.defaultNormalizedValue = param->GetDefault(true);
  // The IParam's own value, which is its default unless the host re-initialises a used instance.
  valueNormalized = param->GetNormalized();
  info.id = tag;
  info.unitId = unitID;
}

void IPlugVST3Parameter::toString(ParamValue valueNormalized, String128 string) const {
  WDL_String display;
  mIPlugParam->GetDisplay(valueNormalized, true, display);
  CopyToString128(display.Get(), string);
}

bool IPlugVST3Parameter::fromString(const TChar* string, ParamValue& valueNormalized) const {
  const std::string text = ToUtf8(string);
  valueNormalized = mIPlugParam->ToNormalized(mIPlugParam->StringToValue(text.c_str()));
  return true;
}

ParamValue IPlugVST3Parameter::toPlain(ParamValue valueNormalized) const {
  return mIPlugParam->FromNormalized(valueNormalized);
}

ParamValue IPlugVST3Parameter::toNormalized(ParamValue plainValue) const {
  return mIPlugParam->ToNormalized(plainValue);
}

IPlugVST3BypassParameter::IPlugVST3BypassParameter(const TChar* title, ParamID tag, const TChar* units,
                                                   int32_t flags, UnitID unitID)
    : StringListParameter(title, tag, units, flags, unitID) {}

}  // namespace iplug
