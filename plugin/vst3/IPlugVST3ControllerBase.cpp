#include "plugin/vst3/IPlugVST3ControllerBase.h"

#include <algorithm>
#include <climits>
#include <string>

#include "plugin/framework/IPlugAPIBase.h"
#include "plugin/vst3/IPlugVST3Parameter.h"
#include "plugin/vst3/Vst3ParamTags.h"
#include "plugin/vst3/Vst3Text.h"
#include "pluginterfaces/vst/ivstchannelcontextinfo.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace iplug {

namespace {

struct ControllerName {
  int controller;
  const char* name;
};

// The controllers with names of their own; the others are "Contr. <number>".
constexpr ControllerName kControllerNames[] = {
    {0, "BankSel.MSB"},  {1, "Modulation"},   {2, "BreathCtrl"},   {4, "Foot Ctrl"},    {5, "Porta.Time"},
    {6, "DataEntMSB"},   {7, "MainVolume"},   {8, "Balance"},      {10, "Pan"},         {11, "Expression"},
    {12, "FXControl1"},  {13, "FXControl2"},  {16, "Gen.Purp.1"},  {17, "Gen.Purp.2"},  {18, "Gen.Purp.3"},
    {19, "Gen.Purp.4"},  {32, "BankSel.LSB"}, {33, "Modul. LSB"},  {34, "BrthCt LSB"},  {36, "FootCt LSB"},
    {37, "Port.T LSB"},  {38, "DataEntLSB"},  {39, "MainVolLSB"},  {40, "BalanceLSB"},  {42, "Pan LSB"},
    {43, "Expr. LSB"},   {48, "Gen.P.1LSB"},  {49, "Gen.P.2LSB"},  {50, "Gen.P.3LSB"},  {51, "Gen.P.4LSB"},
    {64, "Damper Ped"},  {65, "Porta. Ped"},  {66, "Sostenuto "},  {67, "Soft Pedal"},  {68, "Legato Sw"},
    {69, "Hold 2"},      {70, "SoundCont 1"}, {71, "SoundCont 2"}, {72, "SoundCont 3"}, {73, "SoundCont 4"},
    {74, "SoundCont 5"}, {75, "SoundCont 6"}, {76, "SoundCont 7"}, {77, "SoundCont 8"}, {78, "SoundCont 9"},
    {79, "SoundCont 10"}, {80, "Gen.Purp.5"}, {81, "Gen.Purp.6"},  {82, "Gen.Purp.7"},  {83, "Gen.Purp.8"},
    {84, "Portamento"},  {91, "FX 1 Depth"},  {92, "FX 2 Depth"},  {93, "FX 3 Depth"},  {94, "FX 4 Depth"},
    {95, "FX 5 Depth"},  {96, "Data Incr"},   {97, "Data Decr"},   {98, "Non-RegLSB"},  {99, "Non-RegMSB"},
    {100, "Reg LSB"},    {101, "Reg MSB"},    {121, "Reset Ctrl"}, {122, "Local Ctrl"}, {123, "AllNoteOff"},
    {124, "OmniModOff"}, {125, "OmniModeOn"}, {126, "MonoModeOn"}, {127, "PolyModeOn"},
};

int toInt(int64 value) { return static_cast<int>(std::clamp<int64>(value, INT_MIN, INT_MAX)); }

// A text whose length the host gives under its own key. A length beyond the limit (or below 0)
// reads a field of the usual 128 units instead of trusting the host with the allocation.
bool readText(IAttributeList& list, IAttributeList::AttrID lengthKey, IAttributeList::AttrID textKey,
              WDL_String& out) {
  int64 length = 0;
  if (list.getInt(lengthKey, length) != kResultTrue) return false;
  if (length < 0 || length > IPlugVST3ControllerBase::kMaxChannelTextLength) length = 127;
  std::u16string buffer(static_cast<size_t>(length) + 1, u'\0');
  const auto bytes = static_cast<uint32>(buffer.size() * sizeof(TChar));
  if (list.getString(textKey, buffer.data(), bytes) != kResultTrue) return false;
  buffer[static_cast<size_t>(length)] = u'\0';
  out.Set(ToUtf8(buffer.c_str(), static_cast<int>(length)).c_str());
  return true;
}

}  // namespace

void IPlugVST3ControllerBase::GetControllerName(int controller, WDL_String& name) {
  for (const ControllerName& entry : kControllerNames) {
    if (entry.controller == controller) {
      name.Set(entry.name);
      return;
    }
  }
  name.SetFormatted(32, "Contr. %d", controller);
}

void IPlugVST3ControllerBase::InitializeController(IPlugAPIBase& plug, EditControllerEx1& controller,
                                                   ParameterContainer& parameters, bool isInstrument,
                                                   bool doesMidiIn) {
  mParameters = &parameters;
  controller.addUnit(new Unit(STR16("Root"), kRootUnitId, kNoParentUnitId, kNoProgramListId));

  if (!isInstrument) {
    mBypassParameter = new IPlugVST3BypassParameter(
        STR16("Bypass"), kBypassParamTag, nullptr,
        ParameterInfo::kCanAutomate | ParameterInfo::kIsList | ParameterInfo::kIsBypass, kRootUnitId);
    mBypassParameter->appendString(STR16("off"));
    mBypassParameter->appendString(STR16("on"));
    parameters.addParameter(mBypassParameter);
  }

  for (int i = 0; i < plug.NParams(); ++i) {
    IParam* param = plug.GetParam(i);
    const char* group = param->GetGroup();
    UnitID unit = kRootUnitId;
    if (group[0] != '\0') {
      for (int g = 0; g < plug.NParamGroups() && unit == kRootUnitId; ++g) {
        if (std::string_view(plug.GetParamGroupName(g)) == group) unit = g + 1;
      }
      if (unit == kRootUnitId) {
        unit = plug.AddParamGroup(group);
        String128 name;
        CopyToString128(group, name);
        controller.addUnit(new Unit(name, unit, kRootUnitId, kNoProgramListId));
      }
    }
    parameters.addParameter(new IPlugVST3Parameter(param, static_cast<ParamID>(i), unit));
  }

  if (doesMidiIn) {
    const UnitID midiUnit = controller.getUnitCount() + 1;
    const UnitID channelUnit = midiUnit + 1;
    controller.addUnit(new Unit(STR16("MIDI CCs"), midiUnit, kRootUnitId, kNoProgramListId));
    WDL_String text;
    text.SetFormatted(32, "CH%i", 1);
    String128 name;
    CopyToString128(text.Get(), name);
    controller.addUnit(new Unit(name, channelUnit, midiUnit, kNoProgramListId));
    for (int c = 0; c < 128; ++c) {
      GetControllerName(c, text);
      CopyToString128(text.Get(), name);
      parameters.addParameter(name, nullptr, 0, 0.0, ParameterInfo::kNoFlags,
                              static_cast<int32>(kMIDICCParamStartTag) + c, channelUnit);
    }
    parameters.addParameter(STR16("Channel Aftertouch"), nullptr, 0, 0.0, ParameterInfo::kNoFlags,
                            static_cast<int32>(kMIDICCParamStartTag) + kChannelPressureCC, channelUnit);
    parameters.addParameter(STR16("Pitch Bend"), nullptr, 0, 0.5, ParameterInfo::kNoFlags,
                            static_cast<int32>(kMIDICCParamStartTag) + kPitchBendCC, channelUnit);
  }
}

void IPlugVST3ControllerBase::TerminateController() {
  mParameters = nullptr;
  mBypassParameter = nullptr;
}

tresult IPlugVST3ControllerBase::SetChannelContextInfos(IAttributeList* list) {
  if (list == nullptr) return kResultFalse;
  using namespace ChannelContext;
  readText(*list, kChannelNameLengthKey, kChannelNameKey, mChannelName);
  readText(*list, kChannelUIDLengthKey, kChannelUIDKey, mChannelUID);
  int64 value = 0;
  if (list->getInt(kChannelIndexKey, value) == kResultTrue) mChannelIndex = toInt(value);
  if (list->getInt(kChannelColorKey, value) == kResultTrue) mChannelColor = static_cast<int>(static_cast<uint32>(value));
  if (list->getInt(kChannelIndexNamespaceOrderKey, value) == kResultTrue) mChannelNamespaceOrder = toInt(value);
  readText(*list, kChannelIndexNamespaceLengthKey, kChannelIndexNamespaceKey, mChannelNamespace);
  return kResultOk;
}

}  // namespace iplug
