#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "plugin/framework/WDL_String.h"

namespace iplug {

// A parameter as the host sees it: a typed, ranged value with a name, unit label and group, a
// shape that maps it to and from 0..1, optional display texts for particular values, and the
// rules that turn a value into text and back. The value is shared by the audio, host and editor
// threads and is only ever read and written atomically; everything else is fixed once the
// plug-in's constructor has set the parameter up. Non-finite values never become the value.
class IParam {
 public:
  enum EParamType : int { kTypeNone = 0, kTypeBool = 1, kTypeInt = 2, kTypeEnum = 3, kTypeDouble = 4 };
  enum EFlags : int {
    kFlagsNone = 0,
    kFlagCannotAutomate = 1,
    kFlagStepped = 2,
    kFlagNegateDisplay = 4,
    kFlagSignDisplay = 8,
  };
  enum EParamUnit : int { kUnitCustom = 21 };
  enum EDisplayType : int {
    kDisplayLinear = 0,
    kDisplayLog = 1,
    kDisplaySquared = 3,
    kDisplaySquareRoot = 4,
    kDisplayCubed = 5,
    kDisplayCubeRoot = 6,
  };

  static constexpr int kMaxTextLength = 31;  // name, label, group and display texts, in bytes
  static constexpr int kMaxDisplayPrecision = 6;

  using DisplayFunc = std::function<void(double value, WDL_String& text)>;

  // How a position 0..1 maps to a value. Init runs once the range is set.
  struct Shape {
    virtual ~Shape() = default;
    virtual std::unique_ptr<Shape> Clone() const = 0;
    virtual void Init(const IParam&) {}
    virtual EDisplayType GetDisplayType() const = 0;
    virtual double NormalizedToValue(double x, const IParam& param) const = 0;
    virtual double ValueToNormalized(double v, const IParam& param) const = 0;
  };

  struct ShapeLinear : Shape {
    std::unique_ptr<Shape> Clone() const override { return std::make_unique<ShapeLinear>(*this); }
    EDisplayType GetDisplayType() const override { return kDisplayLinear; }
    double NormalizedToValue(double x, const IParam& param) const override;
    double ValueToNormalized(double v, const IParam& param) const override;
  };

  // Equal steps in the position are equal ratios of the value.
  struct ShapeExp : Shape {
    double mMul = 1.0;
    double mAdd = 0.0;
    std::unique_ptr<Shape> Clone() const override { return std::make_unique<ShapeExp>(*this); }
    void Init(const IParam& param) override;
    EDisplayType GetDisplayType() const override { return kDisplayLog; }
    double NormalizedToValue(double x, const IParam& param) const override;
    double ValueToNormalized(double v, const IParam& param) const override;
  };

  // The position raised to an exponent.
  struct ShapePowCurve : Shape {
    double mShape;
    explicit ShapePowCurve(double shape) : mShape(shape) {}
    std::unique_ptr<Shape> Clone() const override { return std::make_unique<ShapePowCurve>(*this); }
    EDisplayType GetDisplayType() const override;
    double NormalizedToValue(double x, const IParam& param) const override;
    double ValueToNormalized(double v, const IParam& param) const override;
  };

  IParam();
  IParam(const IParam&) = delete;
  IParam& operator=(const IParam&) = delete;

  void InitDouble(const char* name, double defaultVal, double minVal, double maxVal, double step,
                  const char* label = "", int flags = 0, const char* group = "", const Shape& shape = ShapeLinear(),
                  int unit = kUnitCustom, DisplayFunc displayFunc = nullptr);
  void InitInt(const char* name, int defaultVal, int minVal, int maxVal, const char* label = "", int flags = 0,
               const char* group = "");
  // An integer parameter whose values are choices; their names come through SetDisplayText.
  void InitEnum(const char* name, int defaultVal, int minVal, int maxVal, const char* label = "", int flags = 0,
                const char* group = "");
  void SetDisplayText(double value, const char* text);

  double Constrain(double v) const;
  // Refuse a non-finite value: the parameter keeps the one it has.
  void Set(double v);
  void SetNormalized(double x);
  double FromNormalized(double x) const;
  double ToNormalized(double v) const;
  double GetNormalized() const { return ToNormalized(Value()); }
  double Value() const { return mValue.load(std::memory_order_relaxed); }
  double GetDefault(bool normalized = false) const { return normalized ? ToNormalized(mDefault) : mDefault; }

  const char* GetName() const { return mName; }
  const char* GetLabel() const;
  const char* GetGroup() const { return mGroup; }
  int GetDisplayPrecision() const { return mDisplayPrecision; }
  EParamType Type() const { return mType; }
  int Unit() const { return mUnit; }
  int GetFlags() const { return mFlags; }
  bool GetStepped() const { return (mFlags & kFlagStepped) != 0; }
  bool GetCanAutomate() const { return (mFlags & kFlagCannotAutomate) == 0; }
  double GetMin() const { return mMin; }
  double GetMax() const { return mMax; }
  double GetStep() const { return mStep; }
  const Shape& GetShape() const { return *mShape; }
  int NDisplayTexts() const { return static_cast<int>(mDisplayTexts.size()); }
  // The text of the first display text for exactly this value, else "".
  const char* GetDisplayText(double value) const;

  void GetDisplay(double value, bool normalized, WDL_String& out, bool withDisplayText = true) const;
  void GetDisplay(WDL_String& out, bool withDisplayText = true) const {
    GetDisplay(Value(), false, out, withDisplayText);
  }
  double StringToValue(const char* text) const;

 private:
  struct DisplayText {
    double mValue;
    char mText[kMaxTextLength + 1];
  };

  EParamType mType = kTypeNone;
  int mUnit = kUnitCustom;
  std::atomic<double> mValue{0.0};
  double mMin = 0.0;
  double mMax = 1.0;
  double mStep = 1.0;
  double mDefault = 0.0;
  int mDisplayPrecision = 0;
  int mFlags = 0;
  char mName[kMaxTextLength + 1] = {};
  char mLabel[kMaxTextLength + 1] = {};
  char mGroup[kMaxTextLength + 1] = {};
  std::unique_ptr<Shape> mShape;
  DisplayFunc mDisplayFunc;
  std::vector<DisplayText> mDisplayTexts;
};

}  // namespace iplug
