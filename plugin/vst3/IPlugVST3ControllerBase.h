#pragma once

#include "plugin/framework/WDL_String.h"
#include "pluginterfaces/vst/ivstattributes.h"
#include "public.sdk/source/vst/vsteditcontroller.h"

namespace iplug {

class IPlugAPIBase;
class IPlugVST3BypassParameter;

// The controller half of the VST3 binding: the host-visible parameter list built from the
// framework's parameters, with a unit per parameter group, the MIDI controller parameters the
// host maps its MIDI input to, and what the host tells about the channel the plug-in sits on.
class IPlugVST3ControllerBase {
 public:
  // Longest channel name, UID or namespace taken from the host, in UTF-16 units.
  static constexpr int kMaxChannelTextLength = 1024;

  IPlugVST3ControllerBase() = default;
  virtual ~IPlugVST3ControllerBase() = default;
  IPlugVST3ControllerBase(const IPlugVST3ControllerBase&) = delete;
  IPlugVST3ControllerBase& operator=(const IPlugVST3ControllerBase&) = delete;

  // Units, the bypass parameter (effects only), one parameter per IParam with tag = its index,
  // and the MIDI controller parameters of channel 1 when the plug-in takes MIDI in.
  void InitializeController(IPlugAPIBase& plug, Steinberg::Vst::EditControllerEx1& controller,
                            Steinberg::Vst::ParameterContainer& parameters, bool isInstrument, bool doesMidiIn);
  // After the controller's parameters and units are gone.
  void TerminateController();

  // Reads what the list holds; kResultFalse for a null list.
  Steinberg::tresult SetChannelContextInfos(Steinberg::Vst::IAttributeList* list);

  // The title the host shows for MIDI controller 0..127.
  static void GetControllerName(int controller, WDL_String& name);

 protected:
  Steinberg::Vst::ParameterContainer* mParameters = nullptr;  // set while initialised
  IPlugVST3BypassParameter* mBypassParameter = nullptr;       // owned by the container
  WDL_String mChannelName;
  WDL_String mChannelNamespace;
  WDL_String mChannelUID;
  int mChannelNamespaceOrder = 0;
  int mChannelIndex = 0;
  int mChannelColor = 0;
};

}  // namespace iplug
