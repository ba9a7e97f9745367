#include "plugin/framework/IParam.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

namespace iplug {

namespace {

// Copies at most IParam::kMaxTextLength bytes of text, never ending inside a UTF-8 sequence.
void copyText(char (&to)[IParam::kMaxTextLength + 1], const char* from) {
  size_t n = from != nullptr ? strnlen(from, IParam::kMaxTextLength + 1) : 0;
  if (n > IParam::kMaxTextLength) {
    n = IParam::kMaxTextLength;
    while (n > 0 && (static_cast<unsigned char>(from[n]) & 0xC0) == 0x80) --n;
  }
  if (n > 0) std::memcpy(to, from, n);
  to[n] = '\0';
}

// How many times the step must be multiplied by 10 to be a whole number. A small tolerance
// keeps binary rounding (0.07 * 100 = 7.000000000000001) from counting as a fraction.
int displayPrecisionOf(double step) {
  int precision = 0;
  double x = std::fabs(step);
  while (precision < IParam::kMaxDisplayPrecision && std::fabs(x - std::round(x)) > 1e-9 * std::max(1.0, x)) {
    x *= 10.0;
    ++precision;
  }
  return precision;
}

// The number at the start of the text as atof reads it in the "C" locale, so a host that set a
// comma locale still reads "3.14" as 3.14; 0 where no number stands, and for "nan".
double parseNumber(const char* text) {
  if (text == nullptr) return 0.0;
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  if (text[0] == '+' && text[1] != '-') ++text;
  double value = 0.0;
  const auto result = std::from_chars(text, text + std::strlen(text), value, std::chars_format::general);
  if (result.ec != std::errc() || std::isnan(value)) return 0.0;
  return value;
}

}  // namespace

double IParam::ShapeLinear::NormalizedToValue(double x, const IParam& param) const {
  return param.GetMin() + x * (param.GetMax() - param.GetMin());
}

double IParam::ShapeLinear::ValueToNormalized(double v, const IParam& param) const {
  return (v - param.GetMin()) / (param.GetMax() - param.GetMin());
}

void IParam::ShapeExp::Init(const IParam& param) {
  const double low = param.GetMin() > 0.0 ? param.GetMin() : 1e-8;
  mAdd = std::log(low);
  mMul = std::log(param.GetMax() / low);
}

double IParam::ShapeExp::NormalizedToValue(double x, const IParam&) const { return std::exp(mAdd + x * mMul); }

double IParam::ShapeExp::ValueToNormalized(double v, const IParam&) const { return (std::log(v) - mAdd) / mMul; }

IParam::EDisplayType IParam::ShapePowCurve::GetDisplayType() const {
  if (mShape > 2.5) return kDisplayCubeRoot;
  if (mShape > 1.5) return kDisplaySquareRoot;
  if (mShape < 0.4) return kDisplayCubed;
  if (mShape < 2.0 / 3.0) return kDisplaySquared;
  return kDisplayLinear;
}

double IParam::ShapePowCurve::NormalizedToValue(double x, const IParam& param) const {
  return param.GetMin() + (param.GetMax() - param.GetMin()) * std::pow(x, mShape);
}

double IParam::ShapePowCurve::ValueToNormalized(double v, const IParam& param) const {
  return std::pow((v - param.GetMin()) / (param.GetMax() - param.GetMin()), 1.0 / mShape);
}

IParam::IParam() : mShape(std::make_unique<ShapeLinear>()) {}

void IParam::InitDouble(const char* name, double defaultVal, double minVal, double maxVal, double step,
                        const char* label, int flags, const char* group, const Shape& shape, int unit,
                        DisplayFunc displayFunc) {
  if (mType == kTypeNone) mType = kTypeDouble;
  copyText(mName, name);
  copyText(mLabel, label);
  copyText(mGroup, group);
  mMin = minVal;
  mMax = std::max(maxVal, minVal + step);
  mStep = step;
  mDefault = defaultVal;
  mUnit = unit;
  mFlags = flags;
  mDisplayFunc = std::move(displayFunc);
  mValue.store(Constrain(defaultVal));
  mDisplayPrecision = displayPrecisionOf(step);
  mShape = shape.Clone();
  mShape->Init(*this);
}

void IParam::InitInt(const char* name, int defaultVal, int minVal, int maxVal, const char* label, int flags,
                     const char* group) {
  if (mType == kTypeNone) mType = kTypeInt;
  InitDouble(name, defaultVal, minVal, maxVal, 1.0, label, flags | kFlagStepped, group, ShapeLinear(), kUnitCustom);
}

void IParam::InitEnum(const char* name, int defaultVal, int minVal, int maxVal, const char* label, int flags,
                      const char* group) {
  if (mType == kTypeNone) mType = kTypeEnum;
  InitInt(name, defaultVal, minVal, maxVal, label, flags, group);
}

void IParam::SetDisplayText(double value, const char* text) {
  DisplayText entry{value, {}};
  copyText(entry.mText, text);
  mDisplayTexts.push_back(entry);
}

double IParam::Constrain(double v) const {
  if (std::isnan(v)) return mMin;
  if (GetStepped() && mStep > 0.0) v = std::round(v / mStep) * mStep;
  return std::clamp(v, mMin, mMax);
}

void IParam::Set(double v) {
  if (!std::isfinite(v)) return;
  mValue.exchange(Constrain(v));
}

void IParam::SetNormalized(double x) {
  if (!std::isfinite(x)) return;
  Set(FromNormalized(x));
}

double IParam::FromNormalized(double x) const {
  // Outside 0..1 every shape lands beyond its range ends anyway; holding x there first keeps
  // a power of a negative number from turning into NaN.
  x = std::isnan(x) ? 0.0 : std::clamp(x, 0.0, 1.0);
  return Constrain(mShape->NormalizedToValue(x, *this));
}

double IParam::ToNormalized(double v) const {
  const double x = mShape->ValueToNormalized(Constrain(v), *this);
  if (!(x >= 0.0)) return 0.0;  // also a degenerate range's NaN
  return std::min(x, 1.0);
}

const char* IParam::GetDisplayText(double value) const {
  for (const DisplayText& entry : mDisplayTexts) {
    if (entry.mValue == value) return entry.mText;
  }
  return "";
}

const char* IParam::GetLabel() const { return *GetDisplayText(std::trunc(Value())) != '\0' ? "" : mLabel; }

void IParam::GetDisplay(double value, bool normalized, WDL_String& out, bool withDisplayText) const {
  if (normalized) value = FromNormalized(value);
  if (mDisplayFunc) {
    mDisplayFunc(value, out);
    return;
  }
  if (withDisplayText) {
    const char* text = GetDisplayText(value);
    if (*text != '\0') {
      out.Set(text, kMaxTextLength);
      return;
    }
  }
  double d = (mFlags & kFlagNegateDisplay) != 0 ? -value : value;
  if (d == 0.0 || std::isnan(d)) d = 0.0;  // no "-0"
  // Formatted without the C library so a host's comma locale cannot change the text.
  char buffer[400];
  char* at = buffer;
  char* const end = buffer + sizeof(buffer) - 1;
  std::to_chars_result result{};
  if (mDisplayPrecision == 0) {
    const double rounded = std::clamp(std::round(d), static_cast<double>(INT_MIN), static_cast<double>(INT_MAX));
    result = std::to_chars(at, end, static_cast<int>(rounded));
  } else {
    if ((mFlags & kFlagSignDisplay) != 0 && d > 0.0) *at++ = '+';
    result = std::to_chars(at, end, d, std::chars_format::fixed, mDisplayPrecision);
  }
  if (result.ec != std::errc()) {
    out.Set("");
    return;
  }
  *result.ptr = '\0';
  out.Set(buffer, kMaxTextLength);
}

double IParam::StringToValue(const char* text) const {
  if (text != nullptr) {
    for (const DisplayText& entry : mDisplayTexts) {
      if (std::strcmp(entry.mText, text) == 0) return entry.mValue;
    }
  }
  if (mType == kTypeBool || mType == kTypeEnum) return 0.0;
  double v = parseNumber(text);
  if ((mFlags & kFlagNegateDisplay) != 0) v = -v;
  return Constrain(v);
}

}  // namespace iplug
