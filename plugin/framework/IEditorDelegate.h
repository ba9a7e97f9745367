#pragma once

#include <memory>
#include <vector>

#include "plugin/framework/EParamSource.h"
#include "plugin/framework/IKeyPress.h"
#include "plugin/framework/IMidiMsg.h"
#include "plugin/framework/IParam.h"
#include "plugin/framework/ISysEx.h"

namespace iplug {

class IByteChunk;

// The lowest base of the plug-in object: it owns the host-visible parameters and the editor's
// size limits, and is the interface through which the plug-in, its editor and the format binding
// tell each other about parameter changes, MIDI, system-exclusive data, messages, keys and the
// window. Most operations are defaults that forward to another; the graphics delegate, the API
// base, the format binding and the plug-in itself override them. An index outside the parameter
// list is ignored wherever one is passed in.
class IEditorDelegate {
 public:
  static constexpr int kDefaultMinSize = 10;
  static constexpr int kDefaultMaxSize = 100000;

  explicit IEditorDelegate(int nParams);
  virtual ~IEditorDelegate();
  IEditorDelegate(const IEditorDelegate&) = delete;
  IEditorDelegate& operator=(const IEditorDelegate&) = delete;

  int NParams() const { return static_cast<int>(mParams.size()); }
  IParam* GetParam(int index) const;
  // Appends a parameter in its default state; only while the plug-in is being constructed.
  IParam* AddParam();
  void SendCurrentParamValuesFromDelegate();

  int GetEditorWidth() const { return mEditorWidth; }
  int GetEditorHeight() const { return mEditorHeight; }
  void SetEditorSize(int width, int height) {
    mEditorWidth = width;
    mEditorHeight = height;
  }
  void SetSizeConstraints(int minWidth, int maxWidth, int minHeight, int maxHeight);

  // Window
  virtual void* OpenWindow(void* parent);
  virtual void CloseWindow() { OnUIClose(); }
  virtual void OnParentWindowResize(int /*width*/, int /*height*/) {}
  virtual void OnUIOpen() { SendCurrentParamValuesFromDelegate(); }
  virtual void OnUIClose() {}

  // Changes reaching the plug-in
  virtual void OnParamChange(int /*paramIdx*/) {}
  virtual void OnParamChange(int paramIdx, EParamSource /*source*/, int /*sampleOffset*/ = -1) {
    OnParamChange(paramIdx);
  }
  virtual void OnParamChangeUI(int /*paramIdx*/, EParamSource /*source*/ = kUnknown) {}
  virtual void OnParamReset(EParamSource source);
  virtual void OnMidiMsgUI(const IMidiMsg& /*msg*/) {}
  virtual void OnSysexMsgUI(const ISysEx& /*msg*/) {}
  virtual bool OnMessage(int /*msgTag*/, int /*ctrlTag*/, int /*dataSize*/, const void* /*data*/) { return false; }
  virtual void OnRestoreState() { SendCurrentParamValuesFromDelegate(); }
  virtual bool OnKeyDown(const IKeyPress& /*key*/) { return false; }
  virtual bool OnKeyUp(const IKeyPress& /*key*/) { return false; }

  // From the plug-in towards the editor
  virtual void SendControlValueFromDelegate(int /*ctrlTag*/, double /*normalizedValue*/) {}
  virtual void SendControlMsgFromDelegate(int ctrlTag, int msgTag, int dataSize = 0, const void* data = nullptr) {
    OnMessage(msgTag, ctrlTag, dataSize, data);
  }
  virtual void SendArbitraryMsgFromDelegate(int msgTag, int dataSize = 0, const void* data = nullptr) {
    OnMessage(msgTag, -1, dataSize, data);
  }
  virtual void SendMidiMsgFromDelegate(const IMidiMsg& msg) { OnMidiMsgUI(msg); }
  virtual void SendSysexMsgFromDelegate(const ISysEx& msg) { OnSysexMsgUI(msg); }
  virtual void SendParameterValueFromDelegate(int paramIdx, double /*value*/, bool /*normalized*/) {
    OnParamChangeUI(paramIdx, kEditorDelegate);
  }

  // From the editor towards the plug-in and the host
  virtual void DirtyParametersFromUI() {}
  virtual void BeginInformHostOfParamChangeFromUI(int paramIdx) = 0;
  virtual void SendParameterValueFromUI(int paramIdx, double normalizedValue);
  virtual void EndInformHostOfParamChangeFromUI(int paramIdx) = 0;
  virtual bool EditorResizeFromUI(int /*width*/, int /*height*/, bool /*needsPlatformResize*/) { return false; }
  virtual void SendMidiMsgFromUI(const IMidiMsg& /*msg*/) {}
  virtual void SendSysexMsgFromUI(const ISysEx& /*msg*/) {}
  virtual void SendArbitraryMsgFromUI(int /*msgTag*/, int /*ctrlTag*/ = -1, int /*dataSize*/ = 0,
                                      const void* /*data*/ = nullptr) {}
  // Queue a message for the audio thread; false when it was dropped.
  virtual bool PushMidiMsgToProcessor(const IMidiMsg& /*msg*/) { return false; }
  virtual bool PushSysExToProcessor(const ISysEx& /*msg*/) { return false; }

  // True when the size lies within the limits; otherwise both are held to them and false.
  virtual bool ConstrainEditorResize(int& width, int& height) const;
  virtual bool SerializeEditorSize(IByteChunk& /*chunk*/) const { return true; }
  virtual int UnserializeEditorSize(const IByteChunk& /*chunk*/, int startPos) { return startPos; }
  virtual void SetScreenScale(float /*scale*/) {}

 protected:
  std::vector<std::unique_ptr<IParam>> mParams;
  int mEditorWidth = 0;
  int mEditorHeight = 0;
  int mMinWidth = kDefaultMinSize;
  int mMaxWidth = kDefaultMaxSize;
  int mMinHeight = kDefaultMinSize;
  int mMaxHeight = kDefaultMaxSize;
};

}  // namespace iplug
