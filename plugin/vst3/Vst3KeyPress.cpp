#include "plugin/vst3/Vst3KeyPress.h"

#include "platform/VkKeyScan.h"

namespace iplug {

namespace {

constexpr int16_t kVst3KeyEquals = 57;
constexpr int16_t kVst3FirstAscii = 128;  // the SDK's codes from here on are characters, offset by 80
constexpr int kAsciiOffset = 80;

// Windows virtual keys by SDK key code 0..56 (0: none).
constexpr uint8_t kVirtualKeys[] = {
    0,                                                                  // 0 none
    8, 9, 12, 13, 19, 27, 32, 34, 35, 36,                              // back .. home
    37, 38, 39, 40, 33, 34, 41, 42, 13, 44, 45, 46, 47,                // left .. help
    96, 97, 98, 99, 100, 101, 102, 103, 104, 105,                      // numeric pad 0..9
    106, 107, 108, 109, 110, 111,                                      // multiply .. divide
    112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123,        // F1..F12
    144, 145, 16, 17, 18,                                              // num lock .. alt
};
static_assert(sizeof(kVirtualKeys) == 57);

}  // namespace

int VirtualKeyFromVst3KeyCode(int16_t keyCode) {
  if (keyCode >= kVst3FirstAscii) return keyCode - kAsciiOffset;
  if (keyCode < 0 || keyCode >= static_cast<int16_t>(sizeof(kVirtualKeys))) return 0;
  return kVirtualKeys[keyCode];
}

IKeyPress KeyPressFromVst3(char16_t key, int16_t keyCode, int16_t modifiers) {
  char32_t c = key;
  if (c == 0) {
    if (keyCode >= kVst3FirstAscii) {
      c = static_cast<char32_t>(keyCode - kAsciiOffset);
    } else if (keyCode == kVst3KeySpace) {
      c = U' ';
    }
  }
  // Only a character of one UTF-8 byte is kept as the key's text.
  char text[2] = {};
  if (c != 0 && c < 0x80) text[0] = static_cast<char>(c);
  const int vk = keyCode == 0 || keyCode == kVst3KeyEquals ? VkKeyScan(text[0]) : VirtualKeyFromVst3KeyCode(keyCode);
  return IKeyPress(text, vk, (modifiers & kVst3ModifierShift) != 0, (modifiers & kVst3ModifierCommand) != 0,
                   (modifiers & kVst3ModifierAlt) != 0);
}

}  // namespace iplug
