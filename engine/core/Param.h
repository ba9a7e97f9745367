#pragma once

#include <cstdint>

#include "engine/core/SharedValue.h"

// The engine's own parameter record: range, shape (how a 0..1 position maps to a value),
// display rules, snap values, modulation offsets and the state version it first appeared in.
// Records live by value in vectors; everything they point to (label, format, names, prefix)
// is static and never owned.
//
// The value and its modulated form are read by other threads while the audio thread moves them
// (a saved state, the editor's upkeep): the methods read and write them whole (SharedValue.h).
class Param {
 public:
  // Told each time a value really changes, on the thread that changed it.
  class Listener {
   public:
    virtual void paramChanged(Param* param) = 0;

   protected:
    ~Listener() = default;
  };

  using Formatter = void (*)(float value, char* buffer);
  using Transform = float (*)(float value);

  enum Kind : uint32_t {
    kLinear = 0,
    kPower = 1,         // the position is raised to the exponent
    kPowerOfValue = 2,  // the linear value is raised to the exponent
    kExponential = 3,   // needs min > 0
    kLogarithmic = 4,   // the exponent is a scale factor
    kStepped = 5,       // whole numbers
  };

  static constexpr float kAbsent = 1e35f;  // marks an absent optional float argument
  static constexpr int kMaxSnapValues = 4;

  uint32_t kind = kLinear;
  const char* label = nullptr;
  const char* format = nullptr;  // printf format, or '|'-separated value names for kind 5
  const char** valueNames = nullptr;
  const char* groupPrefix = nullptr;
  Formatter formatter = nullptr;
  Transform valueTransform = nullptr;
  int32_t valueNameCount = 0;
  int32_t minStateVersion = 0;
  Listener* listener = nullptr;
  float value = 0.0f;
  float defaultValue = 0.0f;
  float modulatedValue;
  float shownValue = 0.0f;
  float target = 0.0f;
  float globalModOffset = 0.0f;
  float voiceModOffset = 0.0f;
  int32_t index = -1;
  int32_t modTargetIndex = -1;
  int32_t modulated = 0;
  int32_t changed = 0;
  int32_t shownModulated = 0;
  float min = 0.0f;
  float max = 1.0f;
  float shapeExponent = 0.0f;
  float snapValues[kMaxSnapValues] = {0.0f, 0.0f, 0.0f, 0.0f};
  int32_t snapCount = 0;

  Param();

  // modTarget 1 declares a modulation target (its index is assigned later), 0 none.
  void init(uint32_t kind, float min, float max, float shapeExponent, const char* format,
            const char* label, float defaultValue, uint8_t modTarget = 0,
            const char* groupPrefix = nullptr, int32_t minStateVersion = 0);
  void setValueNames(const char** names, int32_t count);
  void setSnapValues(float a, float b = kAbsent, float c = kAbsent, float d = kAbsent);

  // Requests v: the stored value is clamped to the range, the request kept in target.
  // A non-finite request changes nothing.
  void setValue(float v);
  float setNormalized(float x);
  float fromNormalized(float x) const;
  float toNormalized(float v) const;

  // The value in force: the modulated value while modulation applies, else the value.
  float effectiveValue() const {
    return loadShared(modulated) != 0 ? loadShared(modulatedValue) : loadShared(value);
  }

  void addGlobalModulation(float delta);
  void addVoiceModulation(float delta);
  void updateModulation();
  void clearModulation();
  float getNormalizedDeviation() const;
  bool isBipolar() const;

  void getDisplayText(char* buffer, int32_t size) const;
  void formatValue(char* buffer, int32_t size, float v) const;

  void serialize(uint8_t* buffer, int32_t* pos, int32_t size) const;
  void deserialize(const uint8_t* buffer, int32_t* pos, int32_t size, int32_t version);
};
