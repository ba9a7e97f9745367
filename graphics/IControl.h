#pragma once

#include <string>

#include "graphics/IRECT.h"
#include "plugin/framework/IKeyPress.h"
#include "plugin/framework/IMidiMsg.h"

namespace iplug::igraphics {

class IGraphics;

// The base of everything the editor shows. Owned by the graphics object once attached; a control
// bound to a parameter receives its normalised value from the plug-in, and one that wants MIDI is
// offered the plug-in's messages.
class IControl {
 public:
  static constexpr int kNoParameter = -1;
  static constexpr int kNoTag = -1;

  explicit IControl(const IRECT& bounds, int paramIdx = kNoParameter) : mRECT(bounds), mParamIdx(paramIdx) {}
  virtual ~IControl() = default;
  IControl(const IControl&) = delete;
  IControl& operator=(const IControl&) = delete;

  // Called once the graphics object owns the control.
  virtual void OnAttached() {}
  virtual void SetValueFromDelegate(double normalizedValue) { mValue = normalizedValue; }
  virtual void OnMidi(const IMidiMsg& /*msg*/) {}
  virtual bool OnKeyDown(float /*x*/, float /*y*/, const IKeyPress& /*key*/) { return false; }
  virtual bool OnKeyUp(float /*x*/, float /*y*/, const IKeyPress& /*key*/) { return false; }

  int GetParamIdx() const { return mParamIdx; }
  double GetValue() const { return mValue; }
  bool GetWantsMidi() const { return mWantsMidi; }
  void SetWantsMidi(bool wants) { mWantsMidi = wants; }
  const IRECT& GetRECT() const { return mRECT; }
  int GetTag() const { return mTag; }
  const char* GetGroup() const { return mGroup.c_str(); }
  IGraphics* GetUI() const { return mGraphics; }

 private:
  friend class IGraphics;

  IRECT mRECT;
  int mParamIdx;
  double mValue = 0.0;
  bool mWantsMidi = false;
  int mTag = kNoTag;
  std::string mGroup;
  IGraphics* mGraphics = nullptr;
};

}  // namespace iplug::igraphics
