#pragma once

// Text between the plug-in (UTF-8 everywhere) and the VST3 interfaces (UTF-16 in fixed fields of
// 128 code units). Our own conversion is used, never the SDK's, whose Linux version throws on bad
// UTF-16.

#include <string>

#include "pluginterfaces/vst/vsttypes.h"

namespace iplug {

// Writes the UTF-8 text (null counts as empty) into a 128-unit field: at most 127 units, never
// half of a surrogate pair, always terminated.
void CopyToString128(const char* utf8, Steinberg::Vst::String128 field);

// The UTF-8 form of at most maxUnits units of a UTF-16 text, stopping at its terminator; empty
// for a null text.
std::string ToUtf8(const Steinberg::Vst::TChar* text, int maxUnits = 128);

}  // namespace iplug
