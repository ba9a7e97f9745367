#pragma once

#include <memory>
#include <vector>

#include "graphics/IGEditorDelegate.h"
#include "plugin/framework/Config.h"
#include "plugin/framework/IByteChunk.h"
#include "plugin/framework/WDL_String.h"

namespace iplug {

// The plug-in's identity and configuration, the host's identity once known, the parameter
// group names the format binding collects, and in-memory presets. The default state is the
// parameter values alone; the plug-in replaces it through SerializeState and UnserializeState.
class IPluginBase : public igraphics::IGEditorDelegate {
 public:
  static constexpr int kHostUnidentified = -1;
  static constexpr int kMaxPresetNameLength = 255;

  IPluginBase(int nParams, int nPresets);
  ~IPluginBase() override;

  virtual void InformHostOfParameterDetailsChange() {}
  virtual bool SerializeState(IByteChunk& chunk) { return SerializeParams(chunk); }
  // Returns the position after the state, or -1 when the chunk was refused or short.
  virtual int UnserializeState(const IByteChunk& chunk, int startPos) { return UnserializeParams(chunk, startPos); }
  virtual bool SerializeControllerState(IByteChunk& /*chunk*/) { return true; }
  virtual int UnserializeControllerState(const IByteChunk& /*chunk*/, int startPos) { return startPos; }
  virtual void OnPresetsModified() {}
  virtual void InformHostOfPresetChange() {}

  // Each value as an 8-byte double in parameter order, nothing else.
  bool SerializeParams(IByteChunk& chunk) const;
  // Reads one double per parameter while whole doubles remain; -1 once the chunk falls short
  // (the parameters read so far keep their new values). A non-finite double is passed over and
  // its parameter keeps its value. Ends with OnParamReset(kPresetRecall) in every case.
  int UnserializeParams(const IByteChunk& chunk, int startPos);

  int NPresets() const { return static_cast<int>(mPresets.size()); }
  const char* GetPresetName(int index) const;
  bool RestorePreset(int index);
  int GetCurrentPresetIdx() const { return mCurrentPresetIdx; }

  const char* GetPluginName() const { return mPluginName.Get(); }
  const char* GetProductName() const { return mProductName.Get(); }
  const char* GetMfrName() const { return mMfrName.Get(); }
  int GetUniqueID() const { return mUniqueID; }
  int GetMfrID() const { return mMfrID; }
  int GetPluginVersion() const { return mVersion; }
  int GetHost() const { return mHost; }
  int GetHostVersion() const { return mHostVersion; }
  const char* GetHostName() const { return mHostName.Get(); }
  EAPI GetAPI() const { return mAPI; }
  const char* GetBundleID() const { return mBundleID.Get(); }
  const char* GetAppGroupID() const { return mAppGroupID.Get(); }
  bool HasUI() const { return mHasUI; }
  bool GetHostResizeEnabled() const { return mHostResize; }

  // Group names the format binding collects; they point into the parameters' own texts.
  int NParamGroups() const { return static_cast<int>(mParamGroups.size()); }
  const char* GetParamGroupName(int index) const;
  // Returns the number of names after appending.
  int AddParamGroup(const char* name);

 protected:
  struct Preset {
    bool mInitialized = false;
    char mName[kMaxPresetNameLength + 1] = {};
    IByteChunk mChunk;
  };

  int mCurrentPresetIdx = 0;
  WDL_String mPluginName;
  WDL_String mProductName;
  WDL_String mMfrName;
  int mUniqueID = 0;
  int mMfrID = 0;
  int mVersion = 0;
  int mHostVersion = 0;
  int mHost = kHostUnidentified;
  WDL_String mHostName;
  EAPI mAPI = kAPIVST3;
  WDL_String mBundleID;
  WDL_String mAppGroupID;
  bool mHasUI = false;
  bool mHostResize = false;
  std::vector<const char*> mParamGroups;
  std::vector<std::unique_ptr<Preset>> mPresets;
};

}  // namespace iplug
