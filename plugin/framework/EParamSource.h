#pragma once

namespace iplug {

// Where a parameter change came from; passed along with every change notification.
enum EParamSource : int {
  kReset = 0,
  kHost = 1,
  kPresetRecall = 2,
  kUI = 3,
  kEditorDelegate = 4,
  kRecompile = 5,
  kUnknown = 6,
};

}  // namespace iplug
