#pragma once

#include <cstdint>

namespace iplug {

// The parameter tags the host sees beside the plug-in's own parameters (tags 0 .. n - 1).
constexpr uint32_t kBypassParamTag = 65536;
// MIDI controller c on channel ch arrives as a change of tag kMIDICCParamStartTag + ch * kMIDICCsPerChannel
// + c: controllers 0..127, then channel pressure and pitch bend.
constexpr uint32_t kMIDICCParamStartTag = 65538;
constexpr int kMIDICCsPerChannel = 130;
constexpr int kChannelPressureCC = 128;
constexpr int kPitchBendCC = 129;
constexpr int kMIDIChannels = 16;

}  // namespace iplug
