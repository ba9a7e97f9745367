#pragma once

namespace iplug {

// Host numbers the plug-in tells hosts apart by; the rest of the table lives with LookUpHost.
enum EHost : int {
  kHostUninit = -1,
  kHostUnknown = 0,
  kHostReaper = 1,
  kHostWaveLab = 31,
  kHostArdour = 28,
  kHostMixbus = 45,
};

// The host's number from its name: the first key of a fixed list found anywhere in the name,
// ignoring letter case; 0 when none is. Only the first 255 bytes of the name are looked at.
int LookUpHost(const char* name);

}  // namespace iplug
