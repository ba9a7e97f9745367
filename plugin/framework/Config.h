#pragma once

namespace iplug {

enum EPlugType : int { kEffect = 0, kInstrument = 1, kMIDIEffect = 2 };
enum EAPI : int { kAPIVST3 = 1 };

// What a plug-in declares about itself; the plug-in's constructor passes it to the framework
// bases, which copy what they need.
struct Config {
  int nParams = 0;
  int nPresets = 0;
  const char* channelIOStr = "";
  const char* pluginName = "";
  const char* productName = "";
  const char* mfrName = "";
  int vendorVersion = 0;  // 0xMMMMmmbb: major, minor, bug-fix
  int uniqueID = 0;
  int mfrID = 0;
  int latency = 0;
  bool plugDoesMidiIn = false;
  bool plugDoesMidiOut = false;
  bool plugDoesMPE = false;
  EPlugType plugType = kEffect;
  bool plugHasUI = false;
  bool plugHostResize = false;
  int plugWidth = 0;
  int plugHeight = 0;
  int plugMinWidth = 0;
  int plugMaxWidth = 0;
  int plugMinHeight = 0;
  int plugMaxHeight = 0;
  const char* bundleID = "";
  const char* appGroupID = "";
};

}  // namespace iplug
