#pragma once

#include <cstring>

namespace iplug {

// A key press as the editor sees it: a Windows virtual-key code (the editor's key handlers speak
// those codes on every platform), the key's UTF-8 text and the modifier keys.
struct IKeyPress {
  int VK = 0;
  char utf8[5] = {};
  bool S = false;  // shift
  bool C = false;  // control
  bool A = false;  // alt

  IKeyPress() = default;
  // Keeps at most four bytes of the text.
  IKeyPress(const char* text, int vk, bool shift = false, bool ctrl = false, bool alt = false)
      : VK(vk), S(shift), C(ctrl), A(alt) {
    if (text != nullptr) std::memcpy(utf8, text, strnlen(text, sizeof(utf8) - 1));
  }
};

}  // namespace iplug
