#include "engine/dsp/FftRadixPasses.h"

#include "engine/dsp/SimdLanes.h"

// Notation of the butterflies: D_j is input spectrum j, z_j = D_j(f) turned by exp(-2*pi*i*j*f/L)
// (L = ip*ido), and Z(t) = sum_j z_j * exp(-2*pi*i*j*t/ip). The output spectrum Y of length L then
// holds Y(f + ido*t) = Z(t) and, by symmetry, Y(ido*(t+1) - f) = conj(Z(ip-1-t)); the half-complex
// order puts Z(t) into block 2t at (f pair) and conj(Z(ip-1-t)) into block 2t+1, mirrored. Bin 0
// of each input is real, and when ido is even so is its middle bin, which gets a fixed rotation.
// The backward passes read the same places and run the inverse butterflies.

namespace {

struct Complex {
  Lanes re;
  Lanes im;
};

inline Complex operator+(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }
inline Complex operator-(Complex a, Complex b) { return {a.re - b.re, a.im - b.im}; }
inline Complex operator*(Lanes s, Complex a) { return {s * a.re, s * a.im}; }

inline Lanes at(const float* p, int32_t v) { return lanesLoad(p + 4 * v); }
inline void put(float* p, int32_t v, Lanes x) { lanesStore(p + 4 * v, x); }
inline Complex pairAt(const float* p, int32_t v) { return {at(p, v), at(p, v + 1)}; }
inline Complex conjPairAt(const float* p, int32_t v) { return {at(p, v), -at(p, v + 1)}; }
inline void putPair(float* p, int32_t v, Complex z) {
  put(p, v, z.re);
  put(p, v + 1, z.im);
}
// Stores the conjugate: the mirrored half of a half-complex spectrum.
inline void putConjPair(float* p, int32_t v, Complex z) {
  put(p, v, z.re);
  put(p, v + 1, -z.im);
}

// z * exp(-i*a) for the forward direction, z * exp(+i*a) for the backward one; w = (cos a, sin a).
inline Complex turnForward(Complex z, const float* w) {
  const Lanes c = lanesSplat(w[0]);
  const Lanes s = lanesSplat(w[1]);
  return {c * z.re + s * z.im, c * z.im - s * z.re};
}
inline Complex turnBackward(Complex z, const float* w) {
  const Lanes c = lanesSplat(w[0]);
  const Lanes s = lanesSplat(w[1]);
  return {c * z.re - s * z.im, c * z.im + s * z.re};
}

// -i*z and +i*z.
inline Complex mulMinusI(Complex z) { return {z.im, -z.re}; }
inline Complex mulPlusI(Complex z) { return {-z.im, z.re}; }

// Block addresses for one k. A forward pass reads the ip blocks of multiplier j spread l1*ido
// vectors apart and writes ip consecutive blocks; a backward pass does the opposite.
template <int32_t kRadix>
struct Blocks {
  const float* in[kRadix];
  float* out[kRadix];
};

template <int32_t kRadix>
Blocks<kRadix> forwardBlocks(const float* cc, float* ch, int32_t ido, int32_t l1, int32_t k) {
  Blocks<kRadix> b;
  for (int32_t j = 0; j < kRadix; ++j) {
    b.in[j] = cc + 4 * ido * (k + l1 * j);
    b.out[j] = ch + 4 * ido * (j + kRadix * k);
  }
  return b;
}

template <int32_t kRadix>
Blocks<kRadix> backwardBlocks(const float* cc, float* ch, int32_t ido, int32_t l1, int32_t k) {
  Blocks<kRadix> b;
  for (int32_t j = 0; j < kRadix; ++j) {
    b.in[j] = cc + 4 * ido * (j + kRadix * k);
    b.out[j] = ch + 4 * ido * (k + l1 * j);
  }
  return b;
}

constexpr float kSqrtHalf = 0.707106781186547524400844362104849039f;
constexpr float kSqrtTwo = 1.41421356237309504880168872420969808f;
constexpr float kSin60 = 0.866025403784438646763723170752936183f;  // sin(pi/3)
constexpr float kCos72 = 0.309016994374947424102293417182819059f;  // cos(2pi/5)
constexpr float kSin72 = 0.951056516295153572116439333379382143f;
constexpr float kCos144 = -0.809016994374947424102293417182819059f;  // cos(4pi/5)
constexpr float kSin144 = 0.587785252292473129168705954639072769f;

// ---------------------------------------------------------------------------------------------
// Forward passes

void forward2(int32_t ido, int32_t l1, const float* cc, float* ch, const float* wa) {
  for (int32_t k = 0; k < l1; ++k) {
    const Blocks<2> b = forwardBlocks<2>(cc, ch, ido, l1, k);
    const float *d0 = b.in[0], *d1 = b.in[1];
    float *o0 = b.out[0], *o1 = b.out[1];

    const Lanes a0 = at(d0, 0), a1 = at(d1, 0);
    put(o0, 0, a0 + a1);
    put(o1, ido - 1, a0 - a1);

    for (int32_t i = 1; i + 1 < ido; i += 2) {
      const int32_t ic = ido - i - 2;
      const Complex z0 = pairAt(d0, i);
      const Complex z1 = turnForward(pairAt(d1, i), wa + i - 1);
      putPair(o0, i, z0 + z1);
      putConjPair(o1, ic, z0 - z1);
    }
    if ((ido & 1) == 0) {
      put(o0, ido - 1, at(d0, ido - 1));
      put(o1, 0, -at(d1, ido - 1));
    }
  }
}

void forward3(int32_t ido, int32_t l1, const float* cc, float* ch, const float* wa) {
  const float* wa1 = wa;
  const float* wa2 = wa + ido;
  const Lanes half = lanesSplat(-0.5f);
  const Lanes sin60 = lanesSplat(kSin60);
  for (int32_t k = 0; k < l1; ++k) {
    const Blocks<3> b = forwardBlocks<3>(cc, ch, ido, l1, k);
    const float *d0 = b.in[0], *d1 = b.in[1], *d2 = b.in[2];
    float *o0 = b.out[0], *o1 = b.out[1], *o2 = b.out[2];

    const Lanes a0 = at(d0, 0), a1 = at(d1, 0), a2 = at(d2, 0);
    const Lanes s = a1 + a2;
    put(o0, 0, a0 + s);
    put(o1, ido - 1, a0 + half * s);
    put(o2, 0, sin60 * (a2 - a1));

    for (int32_t i = 1; i + 1 < ido; i += 2) {
      const int32_t ic = ido - i - 2;
      const Complex z0 = pairAt(d0, i);
      const Complex z1 = turnForward(pairAt(d1, i), wa1 + i - 1);
      const Complex z2 = turnForward(pairAt(d2, i), wa2 + i - 1);
      const Complex sum = z1 + z2;
      const Complex base = z0 + half * sum;
      const Complex rot = mulMinusI(sin60 * (z1 - z2));
      putPair(o0, i, z0 + sum);
      putPair(o2, i, base + rot);
      putConjPair(o1, ic, base - rot);
    }
  }
}

void forward4(int32_t ido, int32_t l1, const float* cc, float* ch, const float* wa) {
  const float* wa1 = wa;
  const float* wa2 = wa + ido;
  const float* wa3 = wa + 2 * ido;
  for (int32_t k = 0; k < l1; ++k) {
    const Blocks<4> b = forwardBlocks<4>(cc, ch, ido, l1, k);
    const float *d0 = b.in[0], *d1 = b.in[1], *d2 = b.in[2], *d3 = b.in[3];
    float *o0 = b.out[0], *o1 = b.out[1], *o2 = b.out[2], *o3 = b.out[3];

    {
      const Lanes a0 = at(d0, 0), a1 = at(d1, 0), a2 = at(d2, 0), a3 = at(d3, 0);
      const Lanes s02 = a0 + a2, s13 = a1 + a3;
      put(o0, 0, s02 + s13);
      put(o1, ido - 1, a0 - a2);
      put(o2, 0, a3 - a1);
      put(o3, ido - 1, s02 - s13);
    }

    for (int32_t i = 1; i + 1 < ido; i += 2) {
      const int32_t ic = ido - i - 2;
      const Complex z0 = pairAt(d0, i);
      const Complex z1 = turnForward(pairAt(d1, i), wa1 + i - 1);
      const Complex z2 = turnForward(pairAt(d2, i), wa2 + i - 1);
      const Complex z3 = turnForward(pairAt(d3, i), wa3 + i - 1);
      const Complex s02 = z0 + z2, d02 = z0 - z2;
      const Complex s13 = z1 + z3;
      const Complex rot = mulMinusI(z1 - z3);
      putPair(o0, i, s02 + s13);
      putPair(o2, i, d02 + rot);
      putConjPair(o1, ic, d02 - rot);
      putConjPair(o3, ic, s02 - s13);
    }

    if ((ido & 1) == 0) {
      const Lanes sqrtHalf = lanesSplat(kSqrtHalf);
      const Lanes x0 = at(d0, ido - 1), x1 = at(d1, ido - 1), x2 = at(d2, ido - 1), x3 = at(d3, ido - 1);
      const Lanes t = sqrtHalf * (x1 - x3);
      const Lanes u = sqrtHalf * (x1 + x3);
      put(o0, ido - 1, x0 + t);
      put(o1, 0, -(x2 + u));
      put(o2, ido - 1, x0 - t);
      put(o3, 0, x2 - u);
    }
  }
}

void forward5(int32_t ido, int32_t l1, const float* cc, float* ch, const float* wa) {
  const float* wa1 = wa;
  const float* wa2 = wa + ido;
  const float* wa3 = wa + 2 * ido;
  const float* wa4 = wa + 3 * ido;
  const Lanes c1 = lanesSplat(kCos72), s1 = lanesSplat(kSin72);
  const Lanes c2 = lanesSplat(kCos144), s2 = lanesSplat(kSin144);
  for (int32_t k = 0; k < l1; ++k) {
    const Blocks<5> b = forwardBlocks<5>(cc, ch, ido, l1, k);
    const float *d0 = b.in[0], *d1 = b.in[1], *d2 = b.in[2], *d3 = b.in[3], *d4 = b.in[4];
    float *o0 = b.out[0], *o1 = b.out[1], *o2 = b.out[2], *o3 = b.out[3], *o4 = b.out[4];

    {
      const Lanes a0 = at(d0, 0), a1 = at(d1, 0), a2 = at(d2, 0), a3 = at(d3, 0), a4 = at(d4, 0);
      const Lanes sum1 = a1 + a4, dif1 = a1 - a4, sum2 = a2 + a3, dif2 = a2 - a3;
      put(o0, 0, a0 + sum1 + sum2);
      put(o1, ido - 1, a0 + c1 * sum1 + c2 * sum2);
      put(o2, 0, -(s1 * dif1 + s2 * dif2));
      put(o3, ido - 1, a0 + c2 * sum1 + c1 * sum2);
      put(o4, 0, s1 * dif2 - s2 * dif1);
    }

    for (int32_t i = 1; i + 1 < ido; i += 2) {
      const int32_t ic = ido - i - 2;
      const Complex z0 = pairAt(d0, i);
      const Complex z1 = turnForward(pairAt(d1, i), wa1 + i - 1);
      const Complex z2 = turnForward(pairAt(d2, i), wa2 + i - 1);
      const Complex z3 = turnForward(pairAt(d3, i), wa3 + i - 1);
      const Complex z4 = turnForward(pairAt(d4, i), wa4 + i - 1);
      const Complex sum1 = z1 + z4, dif1 = z1 - z4, sum2 = z2 + z3, dif2 = z2 - z3;
      const Complex base1 = z0 + c1 * sum1 + c2 * sum2;
      const Complex base2 = z0 + c2 * sum1 + c1 * sum2;
      const Complex rot1 = mulMinusI(s1 * dif1 + s2 * dif2);
      const Complex rot2 = mulMinusI(s2 * dif1 - s1 * dif2);
      putPair(o0, i, z0 + sum1 + sum2);
      putPair(o2, i, base1 + rot1);
      putPair(o4, i, base2 + rot2);
      putConjPair(o1, ic, base1 - rot1);
      putConjPair(o3, ic, base2 - rot2);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Backward passes

void backward2(int32_t ido, int32_t l1, const float* cc, float* ch, const float* wa) {
  for (int32_t k = 0; k < l1; ++k) {
    const Blocks<2> b = backwardBlocks<2>(cc, ch, ido, l1, k);
    const float *i0 = b.in[0], *i1 = b.in[1];
    float *o0 = b.out[0], *o1 = b.out[1];

    const Lanes a0 = at(i0, 0), a1 = at(i1, ido - 1);
    put(o0, 0, a0 + a1);
    put(o1, 0, a0 - a1);

    for (int32_t i = 1; i + 1 < ido; i += 2) {
      const int32_t ic = ido - i - 2;
      const Complex z0 = pairAt(i0, i);
      const Complex z1 = conjPairAt(i1, ic);
      putPair(o0, i, z0 + z1);
      putPair(o1, i, turnBackward(z0 - z1, wa + i - 1));
    }
    if ((ido & 1) == 0) {
      const Lanes two = lanesSplat(2.0f);
      put(o0, ido - 1, two * at(i0, ido - 1));
      put(o1, ido - 1, -(two * at(i1, 0)));
    }
  }
}

void backward3(int32_t ido, int32_t l1, const float* cc, float* ch, const float* wa) {
  const float* wa1 = wa;
  const float* wa2 = wa + ido;
  const Lanes half = lanesSplat(-0.5f);
  const Lanes sin60 = lanesSplat(kSin60);
  for (int32_t k = 0; k < l1; ++k) {
    const Blocks<3> b = backwardBlocks<3>(cc, ch, ido, l1, k);
    const float *i0 = b.in[0], *i1 = b.in[1], *i2 = b.in[2];
    float *o0 = b.out[0], *o1 = b.out[1], *o2 = b.out[2];

    {
      const Lanes a0 = at(i0, 0), re = at(i1, ido - 1), im = at(i2, 0);
      const Lanes t = a0 - re;
      const Lanes u = lanesSplat(2.0f * kSin60) * im;
      put(o0, 0, a0 + re + re);
      put(o1, 0, t - u);
      put(o2, 0, t + u);
    }

    for (int32_t i = 1; i + 1 < ido; i += 2) {
      const int32_t ic = ido - i - 2;
      const Complex z0 = pairAt(i0, i);
      const Complex z1 = pairAt(i2, i);
      const Complex z2 = conjPairAt(i1, ic);
      const Complex sum = z1 + z2;
      const Complex base = z0 + half * sum;
      const Complex rot = mulPlusI(sin60 * (z1 - z2));
      putPair(o0, i, z0 + sum);
      putPair(o1, i, turnBackward(base + rot, wa1 + i - 1));
      putPair(o2, i, turnBackward(base - rot, wa2 + i - 1));
    }
  }
}

void backward4(int32_t ido, int32_t l1, const float* cc, float* ch, const float* wa) {
  const float* wa1 = wa;
  const float* wa2 = wa + ido;
  const float* wa3 = wa + 2 * ido;
  for (int32_t k = 0; k < l1; ++k) {
    const Blocks<4> b = backwardBlocks<4>(cc, ch, ido, l1, k);
    const float *i0 = b.in[0], *i1 = b.in[1], *i2 = b.in[2], *i3 = b.in[3];
    float *o0 = b.out[0], *o1 = b.out[1], *o2 = b.out[2], *o3 = b.out[3];

    {
      const Lanes a0 = at(i0, 0), re1 = at(i1, ido - 1), im1 = at(i2, 0), a2 = at(i3, ido - 1);
      const Lanes p = a0 + a2, q = a0 - a2;
      const Lanes re2 = re1 + re1, im2 = im1 + im1;
      put(o0, 0, p + re2);
      put(o1, 0, q - im2);
      put(o2, 0, p - re2);
      put(o3, 0, q + im2);
    }

    for (int32_t i = 1; i + 1 < ido; i += 2) {
      const int32_t ic = ido - i - 2;
      const Complex z0 = pairAt(i0, i);
      const Complex z1 = pairAt(i2, i);
      const Complex z2 = conjPairAt(i3, ic);
      const Complex z3 = conjPairAt(i1, ic);
      const Complex s02 = z0 + z2, d02 = z0 - z2;
      const Complex s13 = z1 + z3;
      const Complex rot = mulPlusI(z1 - z3);
      putPair(o0, i, s02 + s13);
      putPair(o1, i, turnBackward(d02 + rot, wa1 + i - 1));
      putPair(o2, i, turnBackward(s02 - s13, wa2 + i - 1));
      putPair(o3, i, turnBackward(d02 - rot, wa3 + i - 1));
    }

    if ((ido & 1) == 0) {
      const Lanes two = lanesSplat(2.0f);
      const Lanes sqrtTwo = lanesSplat(kSqrtTwo);
      const Lanes x = at(i0, ido - 1), y = at(i1, 0), u = at(i2, ido - 1), v = at(i3, 0);
      put(o0, ido - 1, two * (x + u));
      put(o1, ido - 1, sqrtTwo * ((x - u) - (y + v)));
      put(o2, ido - 1, two * (v - y));
      put(o3, ido - 1, -(sqrtTwo * ((x - u) + (y + v))));
    }
  }
}

void backward5(int32_t ido, int32_t l1, const float* cc, float* ch, const float* wa) {
  const float* wa1 = wa;
  const float* wa2 = wa + ido;
  const float* wa3 = wa + 2 * ido;
  const float* wa4 = wa + 3 * ido;
  const Lanes c1 = lanesSplat(kCos72), s1 = lanesSplat(kSin72);
  const Lanes c2 = lanesSplat(kCos144), s2 = lanesSplat(kSin144);
  for (int32_t k = 0; k < l1; ++k) {
    const Blocks<5> b = backwardBlocks<5>(cc, ch, ido, l1, k);
    const float *i0 = b.in[0], *i1 = b.in[1], *i2 = b.in[2], *i3 = b.in[3], *i4 = b.in[4];
    float *o0 = b.out[0], *o1 = b.out[1], *o2 = b.out[2], *o3 = b.out[3], *o4 = b.out[4];

    {
      const Lanes a0 = at(i0, 0);
      const Lanes re1 = at(i1, ido - 1), im1 = at(i2, 0);
      const Lanes re2 = at(i3, ido - 1), im2 = at(i4, 0);
      const Lanes sum1 = re1 + re1, sum2 = re2 + re2, dif1 = im1 + im1, dif2 = im2 + im2;
      const Lanes base1 = a0 + c1 * sum1 + c2 * sum2;
      const Lanes base2 = a0 + c2 * sum1 + c1 * sum2;
      const Lanes rot1 = s1 * dif1 + s2 * dif2;
      const Lanes rot2 = s2 * dif1 - s1 * dif2;
      put(o0, 0, a0 + sum1 + sum2);
      put(o1, 0, base1 - rot1);
      put(o4, 0, base1 + rot1);
      put(o2, 0, base2 - rot2);
      put(o3, 0, base2 + rot2);
    }

    for (int32_t i = 1; i + 1 < ido; i += 2) {
      const int32_t ic = ido - i - 2;
      const Complex z0 = pairAt(i0, i);
      const Complex z1 = pairAt(i2, i);
      const Complex z2 = pairAt(i4, i);
      const Complex z3 = conjPairAt(i3, ic);
      const Complex z4 = conjPairAt(i1, ic);
      const Complex sum1 = z1 + z4, dif1 = z1 - z4, sum2 = z2 + z3, dif2 = z2 - z3;
      const Complex base1 = z0 + c1 * sum1 + c2 * sum2;
      const Complex base2 = z0 + c2 * sum1 + c1 * sum2;
      const Complex rot1 = mulPlusI(s1 * dif1 + s2 * dif2);
      const Complex rot2 = mulPlusI(s2 * dif1 - s1 * dif2);
      putPair(o0, i, z0 + sum1 + sum2);
      putPair(o1, i, turnBackward(base1 + rot1, wa1 + i - 1));
      putPair(o2, i, turnBackward(base2 + rot2, wa2 + i - 1));
      putPair(o3, i, turnBackward(base2 - rot2, wa3 + i - 1));
      putPair(o4, i, turnBackward(base1 - rot1, wa4 + i - 1));
    }
  }
}

}  // namespace

void fftRealPassForward(int32_t ip, int32_t ido, int32_t l1, const float* in, float* out, const float* wa) {
  switch (ip) {
    case 2: forward2(ido, l1, in, out, wa); break;
    case 3: forward3(ido, l1, in, out, wa); break;
    case 4: forward4(ido, l1, in, out, wa); break;
    case 5: forward5(ido, l1, in, out, wa); break;
    default: break;
  }
}

void fftRealPassBackward(int32_t ip, int32_t ido, int32_t l1, const float* in, float* out, const float* wa) {
  switch (ip) {
    case 2: backward2(ido, l1, in, out, wa); break;
    case 3: backward3(ido, l1, in, out, wa); break;
    case 4: backward4(ido, l1, in, out, wa); break;
    case 5: backward5(ido, l1, in, out, wa); break;
    default: break;
  }
}
