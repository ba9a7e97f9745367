#include "plugin/framework/WDL_String.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

size_t boundedLength(const char* text, int maxLength) {
  if (text == nullptr) return 0;
  if (maxLength <= 0) return std::strlen(text);
  const void* end = std::memchr(text, 0, static_cast<size_t>(maxLength));
  return end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - text) : static_cast<size_t>(maxLength);
}

// Formats into `out` after its current end, keeping at most maxLength bytes of the result.
void appendFormattedV(std::string& out, int maxLength, const char* format, va_list args) {
  if (maxLength < 1 || format == nullptr) return;
  va_list measure;
  va_copy(measure, args);
  const int needed = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (needed <= 0) return;
  const size_t keep = static_cast<size_t>(needed < maxLength ? needed : maxLength);
  const size_t start = out.size();
  out.resize(start + static_cast<size_t>(needed) + 1);
  std::vsnprintf(out.data() + start, static_cast<size_t>(needed) + 1, format, args);
  out.resize(start + keep);
}

}  // namespace

void WDL_String::Set(const char* text, int maxLength) {
  if (text == nullptr) {
    mText.clear();
    return;
  }
  mText.assign(text, boundedLength(text, maxLength));
}

void WDL_String::Append(const char* text, int maxLength) {
  if (text != nullptr) mText.append(text, boundedLength(text, maxLength));
}

void WDL_String::SetFormatted(int maxLength, const char* format, ...) {
  mText.clear();
  va_list args;
  va_start(args, format);
  appendFormattedV(mText, maxLength, format, args);
  va_end(args);
}

void WDL_String::AppendFormatted(int maxLength, const char* format, ...) {
  va_list args;
  va_start(args, format);
  appendFormattedV(mText, maxLength, format, args);
  va_end(args);
}

void WDL_String::SetAt(int offset, const char* bytes, int count) {
  if (bytes == nullptr || count <= 0) return;
  const size_t at = offset < 0 ? 0 : (static_cast<size_t>(offset) > mText.size() ? mText.size() : static_cast<size_t>(offset));
  const size_t n = static_cast<size_t>(count);
  if (at + n > mText.size()) mText.resize(at + n);
  std::memcpy(mText.data() + at, bytes, n);
}

void WDL_String::SetLength(int length) { mText.resize(length > 0 ? static_cast<size_t>(length) : 0, ' '); }
