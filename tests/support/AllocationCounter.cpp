#include "support/AllocationCounter.h"
#include "support/AllocationFailure.h"

#include <cstdlib>
#include <new>

namespace {

thread_local int64_t tAllocations = 0;
thread_local bool tCounting = false;
thread_local bool tFailing = false;

void* allocate(std::size_t size) {
  if (tCounting) ++tAllocations;
  if (tFailing) throw std::bad_alloc();
  if (size == 0) size = 1;
  void* p = std::malloc(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void* allocateAligned(std::size_t size, std::align_val_t align) {
  if (tCounting) ++tAllocations;
  if (tFailing) throw std::bad_alloc();
  const std::size_t a = static_cast<std::size_t>(align);
  if (size == 0) size = 1;
  const std::size_t rounded = (size + a - 1) / a * a;
  void* p = std::aligned_alloc(a, rounded);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

// The nothrow forms: the same allocation, with failure as a null pointer.
template <class Allocate>
void* orNull(Allocate allocateNow) noexcept {
  try {
    return allocateNow();
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

AllocationCounter::AllocationCounter() : mStart(tAllocations), mWasActive(tCounting) { tCounting = true; }

AllocationCounter::~AllocationCounter() { tCounting = mWasActive; }

int64_t AllocationCounter::count() const { return tAllocations - mStart; }

AllocationFailure::AllocationFailure() : mWasFailing(tFailing) { tFailing = true; }

AllocationFailure::~AllocationFailure() { tFailing = mWasFailing; }

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return orNull([=] { return allocate(size); });
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return orNull([=] { return allocate(size); });
}
void* operator new(std::size_t size, std::align_val_t align) { return allocateAligned(size, align); }
void* operator new[](std::size_t size, std::align_val_t align) { return allocateAligned(size, align); }
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  return orNull([=] { return allocateAligned(size, align); });
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  return orNull([=] { return allocateAligned(size, align); });
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
