#include "engine/ReferenceModel.h"

namespace {

constexpr int32_t kModelCount = 7;
constexpr const char* kModelNames[kModelCount] = {"Kick",      "Snare", "Tom",  "Hihat Closed",
                                                  "Hihat Open", "Crash", "Piano"};

}  // namespace

int32_t getReferenceModelCount() { return kModelCount; }

const char* getReferenceModelName(int32_t index) {
  if (index < 0 || index >= kModelCount) return "";
  return kModelNames[index];
}

const ReferenceModel* getReferenceModel(int32_t index) {
  (void)index;
  return nullptr;
}
