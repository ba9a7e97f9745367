#pragma once

// No exception may cross into the host: a host call runs its work through GuardHostCall, which
// turns an exception into a failure result.

#include <new>

#include "pluginterfaces/base/funknown.h"

namespace Steinberg {

template <typename F>
tresult GuardHostCall(F&& call, tresult failure = kResultFalse) noexcept {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (...) {
    return failure;
  }
}

}  // namespace Steinberg
