#include "platform/VkKeyScan.h"

namespace {

constexpr int kShift = 0x100;
constexpr int kControl = 0x200;

// Punctuation keys: the unshifted character, the shifted one and their key (VK_OEM_*).
struct PunctuationKey {
  char plain;
  char shifted;
  int vk;
};

constexpr PunctuationKey kPunctuation[] = {
    {';', ':', 0xBA}, {'=', '+', 0xBB}, {',', '<', 0xBC}, {'-', '_', 0xBD}, {'.', '>', 0xBE}, {'/', '?', 0xBF},
    {'`', '~', 0xC0}, {'[', '{', 0xDB}, {'\\', '|', 0xDC}, {']', '}', 0xDD}, {'\'', '"', 0xDE},
};

// Shift with the digit keys 0..9, in that order.
constexpr char kShiftedDigits[] = ")!@#$%^&*(";

}  // namespace

int VkKeyScan(char c) {
  if (c >= 'a' && c <= 'z') return 'A' + (c - 'a');
  if (c >= 'A' && c <= 'Z') return kShift | c;
  if (c >= '0' && c <= '9') return c;
  for (int digit = 0; digit < 10; ++digit) {
    if (c == kShiftedDigits[digit]) return kShift | ('0' + digit);
  }
  for (const PunctuationKey& key : kPunctuation) {
    if (c == key.plain) return key.vk;
    if (c == key.shifted) return kShift | key.vk;
  }
  switch (c) {
    case ' ': return 0x20;
    case '\b': return 0x08;
    case '\t': return 0x09;
    case '\r': return 0x0D;
    case '\n': return kControl | 0x0D;  // control and return type a line feed
    case 0x1B: return 0x1B;
    default: return 0;
  }
}
