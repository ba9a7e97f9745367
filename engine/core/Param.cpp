#include "engine/core/Param.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "engine/core/ByteStream.h"
#include "platform/DebugOutput.h"

namespace {

constexpr float kLogFloor = 1e-30f;
constexpr const char* kDefaultFormat = "%.3f";
// Display callbacks get no size; they write into this much room and the result is cut to the
// caller's buffer, so a long text (a NaN printed by a gain formatter) can never overrun it.
constexpr int32_t kFormatterRoom = 64;

float sgn(float a) { return a < 0.0f ? -1.0f : 1.0f; }

// Truncation toward zero that saturates instead of overflowing; NaN gives 0.
int32_t truncToInt(float v) {
  if (!(v == v)) return 0;
  if (v >= 2147483520.0f) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0f) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

// Copies item `item` of a '|'-separated list into buffer, looking at no more than `size`
// characters of the list; returns false (buffer untouched) when the item does not end in them.
bool copyListItem(const char* list, int32_t item, char* buffer, int32_t size) {
  int32_t start = 0;
  int32_t current = 0;
  for (int32_t i = 0; i < size; ++i) {
    const char c = list[i];
    if (c == '|' || c == '\0') {
      if (current == item) {
        const int32_t len = i - start;
        std::memcpy(buffer, list + start, static_cast<size_t>(len));
        buffer[len] = '\0';
        return true;
      }
      if (c == '\0') return false;
      ++current;
      start = i + 1;
    }
  }
  return false;
}

}  // namespace

Param::Param() : modulatedValue(std::numeric_limits<float>::quiet_NaN()) {}

void Param::init(uint32_t kind_, float min_, float max_, float shapeExponent_, const char* format_,
                 const char* label_, float default_, uint8_t modTarget, const char* groupPrefix_,
                 int32_t minStateVersion_) {
  format = format_;
  label = label_;
  min = min_;
  max = max_;
  shapeExponent = shapeExponent_;
  kind = kind_;
  if (groupPrefix_ != nullptr) groupPrefix = groupPrefix_;
  defaultValue = default_;
  setValue(default_);
  modTargetIndex = static_cast<int32_t>(modTarget) - 1;
  minStateVersion = minStateVersion_;
}

void Param::setValueNames(const char** names, int32_t count) {
  valueNames = names;
  valueNameCount = count;
}

void Param::setSnapValues(float a, float b, float c, float d) {
  snapValues[0] = a;
  snapCount = 1;
  const float rest[3] = {b, c, d};
  for (int i = 0; i < 3; ++i) {
    if (rest[i] != kAbsent) {
      snapValues[i + 1] = rest[i];
      snapCount = i + 2;
    }
  }
}

void Param::setValue(float v) {
  if (!std::isfinite(v)) return;
  storeShared(target, v);
  if (v == loadShared(value)) return;
  float lo = fromNormalized(0.0f);
  float hi = fromNormalized(1.0f);
  if (lo > hi) {
    const float t = lo;
    lo = hi;
    hi = t;
  }
  const float clamped = v < lo ? lo : v;
  storeShared(value, clamped > hi ? hi : clamped);
  if (listener != nullptr) listener->paramChanged(this);
}

float Param::setNormalized(float x) {
  if (!(x >= 0.0f && x <= 1.0f)) reportCheckFailed();
  if (!std::isfinite(x)) return loadShared(value);  // a host's NaN or infinity moves nothing
  if (x < 0.0f) x = 0.0f;
  if (x > 1.0f) x = 1.0f;
  setValue(fromNormalized(x));
  return loadShared(value);
}

float Param::fromNormalized(float x) const {
  const float range = max - min;
  switch (kind) {
    case kLinear:
      return min + range * x;
    case kPower: {
      // The ends of the scale come often (the audio path's level ceilings ask for 1 every
      // pass), and any power of 1 is exactly 1: no library call for them.
      const float a = std::fabs(x);
      return min + sgn(x) * (a == 1.0f ? 1.0f : std::pow(a, shapeExponent)) * range;
    }
    case kPowerOfValue: {
      const float w = min + range * x;
      return sgn(w) * std::pow(std::fabs(w), shapeExponent);
    }
    case kExponential:
      return min * std::exp(std::log(max / min) * x);
    case kLogarithmic: {
      const float w = min + range * x;
      return shapeExponent * std::log(w > kLogFloor ? w : kLogFloor);
    }
    case kStepped:
      return std::floor(range * x + (min + 0.5f));
    default:
      reportCheckFailed();
      return -1.0f;
  }
}

float Param::toNormalized(float v) const {
  const float range = max - min;
  switch (kind) {
    case kLinear:
      return (v - min) / range;
    case kPower: {
      const float u = (v - min) / range;
      return sgn(u) * std::pow(std::fabs(u), 1.0f / shapeExponent);
    }
    case kPowerOfValue:
      return (sgn(v) * std::pow(std::fabs(v), 1.0f / shapeExponent) - min) / range;
    case kExponential:
      return std::log(v / min) / std::log(max / min);
    case kLogarithmic:
      return (std::exp(v / shapeExponent) - min) / range;
    case kStepped:
      return (v - min) / (range > 1.0f ? range : 1.0f);
    default:
      reportCheckFailed();
      return -1.0f;
  }
}

void Param::addGlobalModulation(float delta) {
  globalModOffset += delta;
  updateModulation();
}

void Param::addVoiceModulation(float delta) {
  voiceModOffset += delta;
  updateModulation();
}

void Param::updateModulation() {
  const float s = voiceModOffset + globalModOffset;
  if (s == 0.0f) {
    storeShared(modulated, 0);
    return;
  }
  const float m = fromNormalized(toNormalized(loadShared(value)) + s);
  // A runaway offset (or an extrapolated shape that overflows) must not carry a NaN or an
  // infinity into the audio path: modulation is then left off for this pass.
  if (!std::isfinite(m)) {
    storeShared(modulated, 0);
    return;
  }
  storeShared(modulatedValue, m);
  storeShared(modulated, 1);
  changed = 1;
}

void Param::clearModulation() {
  storeShared(modulatedValue, loadShared(value));
  globalModOffset = 0.0f;
  voiceModOffset = 0.0f;
  storeShared(modulated, 0);
  changed = 0;
}

float Param::getNormalizedDeviation() const {
  return toNormalized(effectiveValue()) - toNormalized(defaultValue);
}

bool Param::isBipolar() const {
  return std::fabs(toNormalized(defaultValue) - 0.5f) < 0.0001f && defaultValue == 0.0f;
}

void Param::getDisplayText(char* buffer, int32_t size) const { formatValue(buffer, size, loadShared(value)); }

void Param::formatValue(char* buffer, int32_t size, float v) const {
  if (buffer == nullptr || size < 1) return;

  if (formatter != nullptr) {
    char text[kFormatterRoom] = {};
    formatter(v, text);
    text[kFormatterRoom - 1] = '\0';
    const size_t len = strnlen(text, static_cast<size_t>(size - 1));
    std::memcpy(buffer, text, len);
    buffer[len] = '\0';
  } else {
    const int32_t i = truncToInt(static_cast<float>(truncToInt(v)) - min);
    if (valueNames != nullptr && valueNameCount >= 1 && i >= 0 && i < valueNameCount && v >= 0.0f) {
      const char* name = valueNames[i] != nullptr ? valueNames[i] : "";
      int32_t n = 0;
      for (; n < size - 1 && name[n] != '\0'; ++n) buffer[n] = name[n] == '|' ? ' ' : name[n];
      buffer[n] = '\0';
    } else if (kind == kStepped && format != nullptr && std::strchr(format, '|') != nullptr) {
      if (i >= 0) copyListItem(format, i, buffer, size);
    } else {
      const char* f = (format == nullptr || format[0] == '\0') ? kDefaultFormat : format;
      std::snprintf(buffer, static_cast<size_t>(size), f, static_cast<double>(v));
    }
  }
  buffer[size - 1] = '\0';
}

void Param::serialize(uint8_t* buffer, int32_t* pos, int32_t size) const {
  streamWriteFloat(buffer, pos, size, loadShared(value));
}

void Param::deserialize(const uint8_t* buffer, int32_t* pos, int32_t size, int32_t version) {
  if (version >= 0 && version < minStateVersion) {
    storeShared(value, defaultValue);
    storeShared(target, defaultValue);
    return;
  }
  const bool present = buffer != nullptr && *pos >= 0 && static_cast<int64_t>(*pos) + 4 <= size;
  const float stored = streamReadFloat(buffer, pos, size);
  if (present) setValue(stored);  // a non-finite stored value leaves the record as it was
}
