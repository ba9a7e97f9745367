#include "plugin/files/TextConversion.h"

#include <cstdint>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool isHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t lead = static_cast<uint8_t>(text[i++]);
    if (lead < 0x80) {
      out += static_cast<char16_t>(lead);
      continue;
    }
    // The bytes that may follow the lead: the narrowed ranges refuse overlong forms, surrogates
    // and code points above U+10FFFF at the first byte where they show.
    int follow = 0;
    uint8_t low = 0x80, high = 0xBF;
    char32_t c = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      follow = 1, c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      follow = 2, c = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      follow = 3, c = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    }
    int taken = 0;
    while (taken < follow && i < text.size()) {
      const uint8_t next = static_cast<uint8_t>(text[i]);
      if (next < low || next > high) break;
      c = (c << 6) | (next & 0x3F);
      low = 0x80, high = 0xBF;
      ++i, ++taken;
    }
    appendUtf16(out, follow > 0 && taken == follow ? c : kReplacement);
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (isHighSurrogate(u) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
      appendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else {
      appendUtf8(out, isHighSurrogate(u) || isLowSurrogate(u) ? kReplacement : static_cast<char32_t>(u));
    }
  }
  return out;
}

UTF16AsUTF8::UTF16AsUTF8(const char16_t* text) { UTF16ToUTF8(mText, text); }

UTF8AsUTF16::UTF8AsUTF16(const char* text) {
  try {
    if (text != nullptr) mText = Utf8ToUtf16(text);
  } catch (const std::exception&) {
    mText.clear();
  }
}

void UTF16ToUTF8(WDL_String& out, const char16_t* text) {
  try {
    out.Set(text != nullptr ? Utf16ToUtf8(text).c_str() : "");
  } catch (const std::exception&) {
    out.Set("");
  }
}
