#include "engine/dsp/Fft.h"

#include <cstring>
#include <new>
#include <utility>

#include "engine/dsp/VectorOps.h"

namespace {

constexpr std::align_val_t kBufferAlignment{64};

float* newBuffer(int32_t n) {
  return static_cast<float*>(::operator new(sizeof(float) * static_cast<size_t>(n), kBufferAlignment,
                                            std::nothrow));
}

void deleteBuffer(float* p) {
  if (p != nullptr) ::operator delete(p, kBufferAlignment);
}

}  // namespace

int32_t log2OfPowerOfTwo(int32_t v) {
  if (v <= 0 || (v & (v - 1)) != 0) return -1;
  int32_t b = 0;
  while ((1 << b) != v) ++b;
  return b;
}

Fft::~Fft() { destroy(); }

Fft::Fft(Fft&& other) noexcept
    : kind(other.kind),
      setup(std::exchange(other.setup, nullptr)),
      work(std::exchange(other.work, nullptr)),
      work2(std::exchange(other.work2, nullptr)),
      forwardScale(other.forwardScale),
      inverseScale(other.inverseScale),
      log2N(other.log2N) {}

Fft& Fft::operator=(Fft&& other) noexcept {
  if (this != &other) {
    destroy();
    kind = other.kind;
    setup = std::exchange(other.setup, nullptr);
    work = std::exchange(other.work, nullptr);
    work2 = std::exchange(other.work2, nullptr);
    forwardScale = other.forwardScale;
    inverseScale = other.inverseScale;
    log2N = other.log2N;
  }
  return *this;
}

bool Fft::init(int32_t log2Size, int32_t layoutKind) {
  destroy();
  // Checked before shifting: a -1 from log2OfPowerOfTwo must not reach 1 << log2N.
  if (log2Size < kMinLog2 || log2Size > kMaxLog2 || layoutKind != kInterleaved) return false;
  const int32_t n = 1 << log2Size;
  setup = fftNewSetup(static_cast<uint32_t>(n), kFftRealKind);
  work = newBuffer(n);
  work2 = newBuffer(n);
  if (setup == nullptr || work == nullptr || work2 == nullptr) {
    destroy();
    return false;
  }
  std::memset(work, 0, sizeof(float) * static_cast<size_t>(n));
  std::memset(work2, 0, sizeof(float) * static_cast<size_t>(n));
  log2N = log2Size;
  kind = layoutKind;
  forwardScale = 1.0f / static_cast<float>(n);
  inverseScale = 1.0f / static_cast<float>(n);
  return true;
}

void Fft::destroy() {
  fftDestroySetup(setup);
  deleteBuffer(work);
  deleteBuffer(work2);
  setup = nullptr;
  work = nullptr;
  work2 = nullptr;
  kind = 0;
  log2N = 0;
  forwardScale = 0.0f;
  inverseScale = 0.0f;
}

void Fft::forward(const float* input, float* output, int32_t n) {
  if (setup == nullptr) return;
  const int32_t size = setup->N;
  if (n < 0 || n > size) n = size;
  const float* source = input;
  if (n < size) {
    // Zero-extended in a buffer of its own, so the first pass never writes over what it reads.
    vecCopy(input, work2, n);
    std::memset(work2 + n, 0, sizeof(float) * static_cast<size_t>(size - n));
    source = work2;
  }
  fftTransformInternal(setup, source, output, work, kFftForward, 1);
}

void Fft::inverse(const float* input, float* output) {
  if (setup == nullptr) return;
  fftTransformInternal(setup, input, output, work, kFftBackward, 1);
}

void Fft::inverseFromSplit(const float* re, const float* im, float* output) {
  if (setup == nullptr) return;
  // work2 holds the interleaved spectrum and work serves as scratch: nothing is allocated
  // per call, which matters because this runs for every hop on the audio thread.
  splitToInterleaved(re, im, work2, setup->N);
  fftTransformInternal(setup, work2, output, work, kFftBackward, 1);
}
