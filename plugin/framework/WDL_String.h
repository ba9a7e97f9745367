#pragma once

#include <string>

// The growable text string that the framework and editor interfaces pass around. Get() never
// returns null; every formatted write is bounded by a maximum length and always terminated.
// Lengths count bytes of UTF-8.
class WDL_String {
 public:
  WDL_String() = default;
  WDL_String(const char* text, int maxLength = 0) { Set(text, maxLength); }  // NOLINT: implicit on purpose

  const char* Get() const { return mText.c_str(); }
  char* Get() { return mText.data(); }
  int GetLength() const { return static_cast<int>(mText.size()); }

  // A null text counts as empty. maxLength > 0 keeps at most that many bytes of the text.
  void Set(const char* text, int maxLength = 0);
  void Append(const char* text, int maxLength = 0);
  // printf-style, keeping at most maxLength bytes of the result (maxLength < 1: nothing).
  void SetFormatted(int maxLength, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void AppendFormatted(int maxLength, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Writes `count` bytes at `offset` (held to 0..length), over whatever stood there; bytes beyond
  // offset + count stay, and the string grows as needed.
  void SetAt(int offset, const char* bytes, int count);
  // Cuts the string to `length` bytes (or pads it with spaces to that length).
  void SetLength(int length);

  bool operator==(const WDL_String& other) const { return mText == other.mText; }

 private:
  std::string mText;
};
