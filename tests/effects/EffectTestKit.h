#pragma once

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "effects/EffectRegistry.h"
#include "effects/FxBase.h"
#include "engine/core/Param.h"

// Helpers for driving effects the way the engine does: a two-record parameter block, a
// sample rate, and stereo blocks of at most 64 frames.
namespace fxtest {

// Long signals run in full in optimised builds and cut short under the sanitizers and in
// unoptimised builds, where they would take minutes.
inline double scaledSeconds(double seconds) {
#if defined(__SANITIZE_ADDRESS__) || !defined(NDEBUG)
  return seconds * 0.2;
#else
  return seconds;
#endif
}

struct Stereo {
  std::vector<float> l, r;
  Stereo() = default;
  explicit Stereo(size_t n, float value = 0.0f) : l(n, value), r(n, value) {}
  size_t size() const { return l.size(); }
};

// A reproducible uniform source in [-1, 1), independent of the code under test.
class Noise {
 public:
  explicit Noise(uint32_t seed = 1) : mState(seed) {}
  float next() {
    mState = mState * 747796405u + 2891336453u;
    const uint32_t x = ((mState >> ((mState >> 28) + 4)) ^ mState) * 277803737u;
    return static_cast<float>(static_cast<double>((x >> 22) ^ x) / 2147483648.0 - 1.0);
  }

 private:
  uint32_t mState;
};

// Sample t of x; silence before and after it.
inline double sampleAt(const std::vector<float>& x, int64_t t) {
  return t >= 0 && t < static_cast<int64_t>(x.size()) ? x[static_cast<size_t>(t)] : 0.0;
}

inline std::vector<float> noiseVector(size_t n, uint32_t seed = 1) {
  Noise source(seed);
  std::vector<float> v(n);
  for (float& x : v) x = source.next();
  return v;
}

inline Stereo noise(size_t n, float amplitude, uint32_t seed = 1) {
  Noise a(seed), b(seed * 7919u + 1u);
  Stereo s(n);
  for (size_t i = 0; i < n; ++i) {
    s.l[i] = amplitude * a.next();
    s.r[i] = amplitude * b.next();
  }
  return s;
}

inline Stereo sine(size_t n, double hz, double rate, float amplitude) {
  Stereo s(n);
  for (size_t i = 0; i < n; ++i) {
    s.l[i] = static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate));
    s.r[i] = s.l[i];
  }
  return s;
}

// Every effect of both lists, sends first.
inline std::vector<FxBase*> allPrototypes() {
  const EffectRegistry& reg = getEffectRegistry();
  std::vector<FxBase*> all = reg.sendList;
  all.insert(all.end(), reg.mainList.begin(), reg.mainList.end());
  return all;
}

inline FxBase* prototype(const std::string& name) {
  for (FxBase* p : allPrototypes())
    if (name == p->name()) return p;
  return nullptr;
}

// An installed effect with its own parameter block, as a slot holds it.
struct Rig {
  std::unique_ptr<FxBase> fx;
  Param params[2];

  Rig(FxBase* prototype, float rate) : fx(prototype->create()) {
    fx->setup(params);
    fx->setSampleRate(rate);
  }
  Rig(const std::string& name, float rate) : Rig(prototype(name), rate) {}
  template <class Effect>
  static Rig of(float rate) {
    Effect proto;
    return Rig(&proto, rate);
  }
  // The effect keeps a pointer to params: a rig never moves.
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  template <class Effect>
  Effect& as() { return static_cast<Effect&>(*fx); }

  Rig& set(float p0, float p1) {
    params[0].setValue(p0);
    params[1].setValue(p1);
    return *this;
  }

  // Runs `in` into `out` (which may be `in` itself) in blocks of `block` frames, calling
  // before(position) ahead of each block.
  template <class Before>
  void process(const Stereo& in, Stereo& out, int block, Before before) {
    for (size_t pos = 0; pos < in.size(); pos += static_cast<size_t>(block)) {
      const int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(block), in.size() - pos));
      before(pos);
      const float* src[2] = {in.l.data() + pos, in.r.data() + pos};
      float* dst[2] = {out.l.data() + pos, out.r.data() + pos};
      fx->process(src, dst, n);
    }
  }

  Stereo run(const Stereo& in, int block = 64, float fill = 0.0f) {
    Stereo out(in.size(), fill);
    process(in, out, block, [](size_t) {});
    return out;
  }
};

inline size_t frames(double seconds, double rate) { return static_cast<size_t>(seconds * rate); }

inline float peakOf(const Stereo& s, size_t from = 0) {
  float p = 0.0f;
  for (size_t i = from; i < s.size(); ++i) p = std::max(p, std::max(std::fabs(s.l[i]), std::fabs(s.r[i])));
  return p;
}

// Sum of squares of both channels over frames [from, to).
inline double energyOf(const Stereo& s, size_t from = 0, size_t to = SIZE_MAX) {
  double e = 0.0;
  const size_t end = std::min(to, s.size());
  for (size_t i = from; i < end; ++i)
    e += static_cast<double>(s.l[i]) * s.l[i] + static_cast<double>(s.r[i]) * s.r[i];
  return e;
}

inline bool same(const Stereo& a, const Stereo& b) { return a.l == b.l && a.r == b.r; }

inline bool allFinite(const Stereo& s) {
  for (size_t i = 0; i < s.size(); ++i)
    if (!std::isfinite(s.l[i]) || !std::isfinite(s.r[i])) return false;
  return true;
}

// Test names from display names: letters and digits only.
inline std::string identifier(const char* name) {
  std::string s;
  for (const char* c = name; *c; ++c)
    if (std::isalnum(static_cast<unsigned char>(*c))) s += *c;
  return s;
}

}  // namespace fxtest
