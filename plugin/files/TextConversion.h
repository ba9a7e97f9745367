#pragma once

#include <string>
#include <string_view>

#include "plugin/framework/WDL_String.h"

// Conversion between UTF-8 (the text everywhere in the plug-in) and UTF-16 (what VST3 strings
// and other platforms' calls take), written out here so it depends on no locale. UTF-16 is
// char16_t: wchar_t is 32 bits wide on Linux. Invalid input never fails a conversion: each
// maximal invalid UTF-8 sequence, and each UTF-16 surrogate without its partner, becomes
// U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Holds the UTF-8 form of a NUL-terminated UTF-16 text (empty for a null text).
class UTF16AsUTF8 {
 public:
  explicit UTF16AsUTF8(const char16_t* text);
  const char* Get() const { return mText.Get(); }
  int GetLength() const { return mText.GetLength(); }

 private:
  WDL_String mText;
};

// Holds the UTF-16 form of a NUL-terminated UTF-8 text, always NUL-terminated (empty for a
// null text).
class UTF8AsUTF16 {
 public:
  explicit UTF8AsUTF16(const char* text);
  const char16_t* Get() const { return mText.c_str(); }
  int GetLength() const { return static_cast<int>(mText.size()); }

 private:
  std::u16string mText;
};

// out := the UTF-8 form of the NUL-terminated text; empty for a null or empty text.
void UTF16ToUTF8(WDL_String& out, const char16_t* text);
