#pragma once

#include <span>
#include <vector>

namespace iplug {

enum ERoute : int { kInput = 0, kOutput = 1 };

// One bus of a channel configuration. A wildcard bus ("*") has kWildcardChannels channels.
struct IBusInfo {
  static constexpr int kWildcardChannels = -64;
  ERoute mDirection = kInput;
  int mNChans = 0;
};

// One channel configuration the plug-in can run in: its input and its output buses.
struct IOConfig {
  std::vector<IBusInfo> mBuses[2];  // by ERoute

  int NBuses(ERoute direction) const { return static_cast<int>(mBuses[direction].size()); }
  // The bus's channel count; 0 for a bus the configuration does not have.
  int NChansOnBus(ERoute direction, int busIdx) const;
  // Channels on all buses of a side; a wildcard bus counts none.
  int GetTotalNChannels(ERoute direction) const;
  bool ContainsWildcard(ERoute direction) const;
};

// Limits beyond which a configuration text counts as malformed.
constexpr int kMaxChannelsPerBus = 64;
constexpr int kMaxBusesPerSide = 128;

// Reads a channel I/O text: configurations separated by spaces, each "inputs-outputs", each side
// a "."-separated list of per-bus channel counts ("*" for a wildcard bus; a count that is not a
// number is 0, which adds no bus). Without "-" the whole text is the input side. Returns the
// number of configurations and the maxima of the channel totals and bus counts of each side.
// A malformed text (a negative count, a count above kMaxChannelsPerBus, more than
// kMaxBusesPerSide buses on a side, or more than one "-") yields no configurations and zeros.
int ParseChannelIOStr(const char* text, std::vector<IOConfig>& configs, int& maxNInChans, int& maxNOutChans,
                      int& maxNInBuses, int& maxNOutBuses);

}  // namespace iplug
