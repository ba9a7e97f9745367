#include "engine/dsp/FftSetup.h"

#include <cmath>
#include <cstring>
#include <new>

#include "engine/dsp/FftRadixPasses.h"
#include "engine/dsp/SimdLanes.h"

namespace {

constexpr std::align_val_t kTableAlignment{64};
constexpr int32_t kMaxFactors = 23;  // what fits behind m and nf in factors[25]
constexpr double kTwoPi = 6.28318530717958647692528676655900577;
constexpr float kSqrtHalf = 0.707106781186547524400844362104849039f;
constexpr float kSqrtTwo = 1.41421356237309504880168872420969808f;

// Splits m into radices: as many 4s as divide it, then 2s, 3s and 5s. A 2 always goes to the
// front, so the even radices come first and every radix-3 or -5 pass has an odd block length.
// Returns false when something other than 2, 3 and 5 remains.
bool factorize(int32_t m, int32_t* factors) {
  static constexpr int32_t kTries[4] = {4, 2, 3, 5};
  int32_t nf = 0;
  int32_t rest = m;
  for (const int32_t radix : kTries) {
    while (rest % radix == 0) {
      if (nf == kMaxFactors) return false;
      rest /= radix;
      factors[2 + nf] = radix;
      ++nf;
      if (radix == 2 && nf > 1) {
        for (int32_t i = nf - 1; i > 0; --i) factors[2 + i] = factors[2 + i - 1];
        factors[2] = 2;
      }
    }
  }
  factors[0] = m;
  factors[1] = nf;
  return rest == 1;
}

// Angles are rounded to float before cos and sin are taken in double precision.
void fillLaneTwiddles(float* e, int32_t N, int32_t Ncvec) {
  for (int32_t k = 0; k < Ncvec; ++k) {
    const int32_t i = k / 4;
    const int32_t j = k % 4;
    for (int32_t r = 0; r < 3; ++r) {
      const float angle = static_cast<float>(-kTwoPi * (r + 1) * k / N);
      e[24 * i + 8 * r + j] = static_cast<float>(std::cos(static_cast<double>(angle)));
      e[24 * i + 8 * r + 4 + j] = static_cast<float>(std::sin(static_cast<double>(angle)));
    }
  }
}

void fillPassTwiddles(float* twiddle, int32_t m, const int32_t* factors) {
  const int32_t nf = factors[1];
  const float argh = static_cast<float>(kTwoPi / m);
  int32_t is = 0;
  int32_t l1 = 1;
  for (int32_t k1 = 0; k1 < nf - 1; ++k1) {
    const int32_t ip = factors[2 + k1];
    const int32_t l2 = l1 * ip;
    const int32_t ido = m / l2;
    int32_t ld = 0;
    for (int32_t j = 1; j < ip; ++j) {
      ld += l1;
      const float argld = static_cast<float>(ld) * argh;
      for (int32_t f = 1; f <= (ido - 1) / 2; ++f) {
        const float angle = static_cast<float>(f) * argld;
        twiddle[is + 2 * f - 2] = static_cast<float>(std::cos(static_cast<double>(angle)));
        twiddle[is + 2 * f - 1] = static_cast<float>(std::sin(static_cast<double>(angle)));
      }
      is += ido;
    }
    l1 = l2;
  }
}

struct CLanes {
  Lanes re;
  Lanes im;
};

inline CLanes operator+(CLanes a, CLanes b) { return {a.re + b.re, a.im + b.im}; }
inline CLanes operator-(CLanes a, CLanes b) { return {a.re - b.re, a.im - b.im}; }
inline Lanes at(const float* p, int32_t v) { return lanesLoad(p + 4 * v); }
inline void put(float* p, int32_t v, Lanes x) { lanesStore(p + 4 * v, x); }

// The lane step. After the radix passes lane j holds the half-complex m-point spectrum X_j of
// x(4q + j). For a lane bin k (0 <= k <= m/2), with Y_j = exp(-2*pi*i*j*k/N) * X_j(k):
//   X(k) = Y0+Y1+Y2+Y3, X(m+k) = Y0-iY1-Y2+iY3, X(2m+k) = Y0-Y1+Y2-Y3, X(3m+k) = Y0+iY1-Y2-iY3,
// and X(2m+k), X(3m+k) are the conjugates of X(2m-k), X(m-k). Bins are taken four at a time,
// one per lane after a transpose, as a group g of bins k = 4g .. 4g+3 holding
// A = X(k), B = X(m+k), C = X(2m-k), D = X(m-k). Lane 0 of group 0 is special: lane bins 0
// and m/2 are real, so they share that slot, which then carries A = (X(0), X(N/2)), B = X(m),
// C = X(3m/2) and D = X(m/2).
struct BinGroup {
  CLanes a, b, c, d;
};

// The internal arrangement: each group as eight consecutive vectors.
BinGroup loadInternal(const float* in, int32_t g) {
  const float* p = in + 32 * g;
  return {{at(p, 0), at(p, 1)}, {at(p, 2), at(p, 3)}, {at(p, 4), at(p, 5)}, {at(p, 6), at(p, 7)}};
}

void storeInternal(float* out, int32_t g, const BinGroup& x) {
  float* p = out + 32 * g;
  put(p, 0, x.a.re);
  put(p, 1, x.a.im);
  put(p, 2, x.b.re);
  put(p, 3, x.b.im);
  put(p, 4, x.c.re);
  put(p, 5, x.c.im);
  put(p, 6, x.d.re);
  put(p, 7, x.d.im);
}

// The canonical layout. Bins of A and B run upwards with the lanes, those of C and D downwards:
// C covers bins 2m-4g-3 .. 2m-4g and D bins m-4g-3 .. m-4g, whose top one is the spare slot in
// group 0.
void storeCanonical(float* out, int32_t m, int32_t g, const BinGroup& x) {
  lanesStore(out + 8 * g, lanesInterleaveLow(x.a.re, x.a.im));
  lanesStore(out + 8 * g + 4, lanesInterleaveHigh(x.a.re, x.a.im));
  lanesStore(out + 2 * m + 8 * g, lanesInterleaveLow(x.b.re, x.b.im));
  lanesStore(out + 2 * m + 8 * g + 4, lanesInterleaveHigh(x.b.re, x.b.im));
  const Lanes cr = lanesReverse(x.c.re), ci = lanesReverse(x.c.im);
  const Lanes dr = lanesReverse(x.d.re), di = lanesReverse(x.d.im);
  float* c = out + 4 * m - 8 * g - 6;
  float* d = out + 2 * m - 8 * g - 6;
  lanesStore(c, lanesInterleaveLow(cr, ci));
  lanesStore(d, lanesInterleaveLow(dr, di));
  if (g > 0) {
    lanesStore(c + 4, lanesInterleaveHigh(cr, ci));
    lanesStore(d + 4, lanesInterleaveHigh(dr, di));
  } else {
    lanesStoreLow2(c + 4, lanesInterleaveHigh(cr, ci));
    lanesStoreLow2(d + 4, lanesInterleaveHigh(dr, di));
    out[3 * m] = lanesFirst(x.c.re);
    out[3 * m + 1] = lanesFirst(x.c.im);
    out[m] = lanesFirst(x.d.re);
    out[m + 1] = lanesFirst(x.d.im);
  }
}

BinGroup loadCanonical(const float* in, int32_t m, int32_t g) {
  const auto split = [](Lanes lo, Lanes hi) { return CLanes{lanesEven(lo, hi), lanesOdd(lo, hi)}; };
  BinGroup x;
  x.a = split(lanesLoad(in + 8 * g), lanesLoad(in + 8 * g + 4));
  x.b = split(lanesLoad(in + 2 * m + 8 * g), lanesLoad(in + 2 * m + 8 * g + 4));
  const float* c = in + 4 * m - 8 * g - 6;
  const float* d = in + 2 * m - 8 * g - 6;
  if (g > 0) {
    x.c = split(lanesLoad(c), lanesLoad(c + 4));
    x.d = split(lanesLoad(d), lanesLoad(d + 4));
  } else {
    x.c = split(lanesLoad(c), lanesLoadLow2(c + 4));
    x.d = split(lanesLoad(d), lanesLoadLow2(d + 4));
  }
  x.c = {lanesReverse(x.c.re), lanesReverse(x.c.im)};
  x.d = {lanesReverse(x.d.re), lanesReverse(x.d.im)};
  if (g == 0) {
    x.c = {lanesWithLane0(x.c.re, in[3 * m]), lanesWithLane0(x.c.im, in[3 * m + 1])};
    x.d = {lanesWithLane0(x.d.re, in[m]), lanesWithLane0(x.d.im, in[m + 1])};
  }
  return x;
}

// Lane spectra to bin groups, written in the canonical layout or the internal arrangement.
template <bool kCanonical>
void combineLanes(const FftSetup* setup, const float* in, float* out) {
  const int32_t m = setup->N / 4;
  const int32_t groups = m / 8;
  for (int32_t g = 0; g < groups; ++g) {
    const float* gi = in + 32 * g;
    Lanes r0 = g == 0 ? at(in, 0) : at(gi, -1);
    Lanes i0 = g == 0 ? at(in, m - 1) : at(gi, 0);
    Lanes r1 = at(gi, 1), i1 = at(gi, 2), r2 = at(gi, 3), i2 = at(gi, 4), r3 = at(gi, 5), i3 = at(gi, 6);
    lanesTranspose(r0, r1, r2, r3);
    lanesTranspose(i0, i1, i2, i3);

    const float* e = setup->e + 24 * g;
    const auto turn = [](Lanes re, Lanes im, const float* ec) {
      const Lanes c = lanesLoad(ec), s = lanesLoad(ec + 4);
      return CLanes{re * c - im * s, re * s + im * c};
    };
    const CLanes y0{r0, i0};
    const CLanes y1 = turn(r1, i1, e);
    const CLanes y2 = turn(r2, i2, e + 8);
    const CLanes y3 = turn(r3, i3, e + 16);
    const CLanes s02 = y0 + y2, d02 = y0 - y2, s13 = y1 + y3, d13 = y1 - y3;

    BinGroup x{s02 + s13,
               {d02.re + d13.im, d02.im - d13.re},
               {s02.re - s13.re, s13.im - s02.im},
               {d02.re - d13.im, -(d02.im + d13.re)}};

    if (g == 0) {
      // Lane 0 held (X_j(0), X_j(m/2)) of the four lanes: u_j and v_j.
      float u[4], v[4];
      for (int32_t j = 0; j < 4; ++j) {
        u[j] = in[j];
        v[j] = in[4 * (m - 1) + j];
      }
      const float t = kSqrtHalf * (v[1] - v[3]);
      const float w = kSqrtHalf * (v[1] + v[3]);
      x.a = {lanesWithLane0(x.a.re, (u[0] + u[2]) + (u[1] + u[3])),
             lanesWithLane0(x.a.im, (u[0] + u[2]) - (u[1] + u[3]))};
      x.b = {lanesWithLane0(x.b.re, u[0] - u[2]), lanesWithLane0(x.b.im, u[3] - u[1])};
      x.c = {lanesWithLane0(x.c.re, v[0] - t), lanesWithLane0(x.c.im, v[2] - w)};
      x.d = {lanesWithLane0(x.d.re, v[0] + t), lanesWithLane0(x.d.im, -v[2] - w)};
    }

    if (kCanonical) {
      storeCanonical(out, m, g, x);
    } else {
      storeInternal(out, g, x);
    }
  }
}

// The inverse of combineLanes, times 4: from bin groups back to the four lane spectra, each
// 4 * X_j.
template <bool kCanonical>
void splitLanes(const FftSetup* setup, const float* in, float* out) {
  const int32_t m = setup->N / 4;
  const int32_t groups = m / 8;
  for (int32_t g = 0; g < groups; ++g) {
    const BinGroup x = kCanonical ? loadCanonical(in, m, g) : loadInternal(in, g);
    // With conj(C) and conj(D) standing for X(2m+k) and X(3m+k):
    const CLanes p{x.a.re + x.c.re, x.a.im - x.c.im}, q{x.a.re - x.c.re, x.a.im + x.c.im};
    const CLanes r{x.b.re + x.d.re, x.b.im - x.d.im}, s{x.b.re - x.d.re, x.b.im + x.d.im};
    const CLanes y0 = p + r, y2 = p - r;
    const CLanes y1{q.re - s.im, q.im + s.re}, y3{q.re + s.im, q.im - s.re};

    const float* e = setup->e + 24 * g;
    const auto unturn = [](CLanes y, const float* ec) {
      const Lanes cs = lanesLoad(ec), sn = lanesLoad(ec + 4);
      return CLanes{y.re * cs + y.im * sn, y.im * cs - y.re * sn};
    };
    Lanes r0 = y0.re, i0 = y0.im;
    const CLanes x1 = unturn(y1, e), x2 = unturn(y2, e + 8), x3 = unturn(y3, e + 16);
    Lanes r1 = x1.re, i1 = x1.im, r2 = x2.re, i2 = x2.im, r3 = x3.re, i3 = x3.im;

    if (g == 0) {
      const float dc = lanesFirst(x.a.re), nyquist = lanesFirst(x.a.im);
      const float reM = lanesFirst(x.b.re), imM = lanesFirst(x.b.im);
      const float reQ = lanesFirst(x.c.re), imQ = lanesFirst(x.c.im);  // X(3m/2)
      const float reP = lanesFirst(x.d.re), imP = lanesFirst(x.d.im);  // X(m/2)
      r0 = lanesWithLane0(r0, dc + nyquist + 2.0f * reM);
      r1 = lanesWithLane0(r1, dc - nyquist - 2.0f * imM);
      r2 = lanesWithLane0(r2, dc + nyquist - 2.0f * reM);
      r3 = lanesWithLane0(r3, dc - nyquist + 2.0f * imM);
      i0 = lanesWithLane0(i0, 2.0f * (reP + reQ));
      i1 = lanesWithLane0(i1, kSqrtTwo * ((reP - reQ) - (imP + imQ)));
      i2 = lanesWithLane0(i2, 2.0f * (imQ - imP));
      i3 = lanesWithLane0(i3, -kSqrtTwo * ((reP - reQ) + (imP + imQ)));
    }
    lanesTranspose(r0, r1, r2, r3);
    lanesTranspose(i0, i1, i2, i3);

    float* go = out + 32 * g;
    if (g == 0) {
      put(out, 0, r0);
      put(out, m - 1, i0);
    } else {
      put(go, -1, r0);
      put(go, 0, i0);
    }
    put(go, 1, r1);
    put(go, 2, i1);
    put(go, 3, r2);
    put(go, 4, i2);
    put(go, 5, r3);
    put(go, 6, i3);
  }
}

}  // namespace

FftSetup* fftNewSetup(uint32_t N, int32_t kind) {
  if (kind != kFftRealKind) return nullptr;
  if (N < kFftMinSize || N % 32 != 0 || N > kFftMaxSize) return nullptr;

  const int32_t size = static_cast<int32_t>(N);
  const int32_t m = size / 4;
  int32_t factors[25] = {};
  if (!factorize(m, factors)) return nullptr;

  FftSetup* setup = new (std::nothrow) FftSetup;
  if (setup == nullptr) return nullptr;
  setup->N = size;
  setup->kind = kind;
  setup->Ncvec = size / 8;
  std::memcpy(setup->factors, factors, sizeof(factors));
  // 2*Ncvec vectors: 6*Ncvec floats of lane twiddles, then 2*Ncvec = m for the passes.
  setup->data = static_cast<float*>(::operator new(sizeof(float) * static_cast<size_t>(size),
                                                   kTableAlignment, std::nothrow));
  if (setup->data == nullptr) {
    delete setup;
    return nullptr;
  }
  setup->e = setup->data;
  setup->twiddle = setup->data + 6 * setup->Ncvec;
  std::memset(setup->data, 0, sizeof(float) * static_cast<size_t>(size));
  fillLaneTwiddles(setup->e, size, setup->Ncvec);
  fillPassTwiddles(setup->twiddle, m, setup->factors);
  return setup;
}

void fftDestroySetup(FftSetup* setup) {
  if (setup == nullptr) return;
  ::operator delete(setup->data, kTableAlignment);
  delete setup;
}

bool fftReorder(const FftSetup* setup, const float* input, float* output, int32_t direction) {
  if (setup == nullptr || input == nullptr || output == nullptr || input == output) return false;
  const int32_t m = setup->N / 4;
  const int32_t groups = m / 8;
  for (int32_t g = 0; g < groups; ++g) {
    if (direction == kFftForward) {
      storeCanonical(output, m, g, loadInternal(input, g));
    } else {
      storeInternal(output, g, loadCanonical(input, m, g));
    }
  }
  return true;
}

bool fftTransformInternal(const FftSetup* setup, const float* input, float* output, float* scratch,
                          int32_t direction, int32_t ordered) {
  if (setup == nullptr || input == nullptr || output == nullptr || scratch == nullptr ||
      scratch == output) {
    return false;
  }
  const int32_t m = setup->N / 4;
  const int32_t nf = setup->factors[1];
  const int32_t* radices = setup->factors + 2;

  // Every step reads one buffer and writes the other. The first target is chosen so that the
  // last step lands in output, unless that would make the first step overwrite its own input;
  // then the result is copied at the end.
  float* buffers[2] = {output, scratch};
  const int32_t steps = nf + 1;
  int32_t target = (steps - 1) & 1;
  if (buffers[target] == input) target ^= 1;
  const float* src = input;
  const auto nextTarget = [&]() {
    float* dst = buffers[target];
    target ^= 1;
    return dst;
  };

  if (direction == kFftForward) {
    int32_t l2 = m;
    for (int32_t kh = nf - 1; kh >= 0; --kh) {
      const int32_t ip = radices[kh];
      const int32_t l1 = l2 / ip;
      const int32_t ido = m / l2;
      float* dst = nextTarget();
      fftRealPassForward(ip, ido, l1, src, dst, setup->twiddle + (m - ip * ido));
      src = dst;
      l2 = l1;
    }
    // The lane step writes the canonical layout directly when asked for it, which saves a
    // separate reorder pass over the spectrum.
    float* dst = nextTarget();
    if (ordered) {
      combineLanes<true>(setup, src, dst);
    } else {
      combineLanes<false>(setup, src, dst);
    }
    src = dst;
  } else {
    float* dst = nextTarget();
    if (ordered) {
      splitLanes<true>(setup, src, dst);
    } else {
      splitLanes<false>(setup, src, dst);
    }
    src = dst;
    int32_t l1 = 1;
    int32_t offset = 0;
    for (int32_t k1 = 0; k1 < nf; ++k1) {
      const int32_t ip = radices[k1];
      const int32_t l2 = l1 * ip;
      const int32_t ido = m / l2;
      dst = nextTarget();
      fftRealPassBackward(ip, ido, l1, src, dst, setup->twiddle + offset);
      src = dst;
      offset += (ip - 1) * ido;
      l1 = l2;
    }
  }

  if (src != output) std::memcpy(output, src, sizeof(float) * static_cast<size_t>(setup->N));
  return true;
}
