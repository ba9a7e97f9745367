#include "plugin/vst3/Vst3Text.h"

#include <algorithm>
#include <cstring>

#include "plugin/files/TextConversion.h"

namespace iplug {

void CopyToString128(const char* utf8, Steinberg::Vst::String128 field) {
  constexpr size_t kMaxUnits = 127;
  const std::u16string text = Utf8ToUtf16(utf8 != nullptr ? utf8 : "");
  size_t n = std::min(text.size(), kMaxUnits);
  if (n > 0 && n < text.size() && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
  std::memcpy(field, text.data(), n * sizeof(char16_t));
  field[n] = 0;
}

std::string ToUtf8(const Steinberg::Vst::TChar* text, int maxUnits) {
  if (text == nullptr || maxUnits <= 0) return {};
  size_t n = 0;
  while (n < static_cast<size_t>(maxUnits) && text[n] != 0) ++n;
  return Utf16ToUtf8(std::u16string_view(text, n));
}

}  // namespace iplug
