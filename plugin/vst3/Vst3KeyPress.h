#pragma once

// A key from a VST3 host (a UTF-16 character, the SDK's virtual key code and modifier bits) as
// the editor's key press, with a Windows virtual-key code.

#include <cstdint>

#include "plugin/framework/IKeyPress.h"

namespace iplug {

// The SDK's code of the space bar and its modifier bits.
constexpr int16_t kVst3KeySpace = 7;
constexpr int16_t kVst3ModifierShift = 1;
constexpr int16_t kVst3ModifierAlt = 2;
constexpr int16_t kVst3ModifierCommand = 4;  // control on Windows and Linux

// The Windows virtual key for an SDK key code (not the two the text decides: 0 and "=").
int VirtualKeyFromVst3KeyCode(int16_t keyCode);

IKeyPress KeyPressFromVst3(char16_t key, int16_t keyCode, int16_t modifiers);

}  // namespace iplug
