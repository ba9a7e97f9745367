#include "tools/startkit/DrumSynth.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace startkit {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;
constexpr double kRate = kDrumSampleRate;
constexpr double kAttackSeconds = 0.0005;  // fades every hit in, so no sound starts with a step

// White noise in [-1, 1) from a 32-bit linear congruential generator.
class Noise {
 public:
  explicit Noise(uint32_t seed) : mState(seed) {}
  double next() {
    mState = mState * 1664525u + 1013904223u;
    return static_cast<double>(mState) / 2147483648.0 - 1.0;
  }

 private:
  uint32_t mState;
};

// A second-order filter in the usual cookbook forms.
class Biquad {
 public:
  static Biquad lowPass(double hz, double q) { return make(hz, q, Kind::kLow); }
  static Biquad highPass(double hz, double q) { return make(hz, q, Kind::kHigh); }
  static Biquad bandPass(double hz, double q) { return make(hz, q, Kind::kBand); }
  double process(double x) {
    const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1, x1 = x, y2 = y1, y1 = y;
    return y;
  }

 private:
  enum class Kind { kLow, kHigh, kBand };
  static Biquad make(double hz, double q, Kind kind) {
    const double w = kTwoPi * hz / kRate;
    const double alpha = std::sin(w) / (2.0 * q);
    const double c = std::cos(w);
    const double a0 = 1.0 + alpha;
    Biquad f;
    if (kind == Kind::kLow) {
      f.b0 = f.b2 = (1.0 - c) / 2.0 / a0;
      f.b1 = (1.0 - c) / a0;
    } else if (kind == Kind::kHigh) {
      f.b0 = f.b2 = (1.0 + c) / 2.0 / a0;
      f.b1 = -(1.0 + c) / a0;
    } else {
      f.b0 = alpha / a0;
      f.b1 = 0.0;
      f.b2 = -alpha / a0;
    }
    f.a1 = -2.0 * c / a0;
    f.a2 = (1.0 - alpha) / a0;
    return f;
  }
  double b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
};

double decay(double t, double tau) { return std::exp(-t / tau); }
// A decay that starts at `at` seconds, silent before.
double decayFrom(double t, double at, double tau) { return t < at ? 0.0 : std::exp(-(t - at) / tau); }

// A sine whose frequency follows f(t): the phase is the running sum of the frequency.
class Sweep {
 public:
  double next(double hz) {
    const double value = std::sin(mPhase);
    mPhase = std::fmod(mPhase + kTwoPi * hz / kRate, kTwoPi);
    return value;
  }
  double phase() const { return mPhase; }

 private:
  double mPhase = 0.0;
};

// Six detuned square waves, the metallic core of hats and cymbals.
class Metal {
 public:
  double next() {
    double sum = 0.0;
    for (size_t i = 0; i < kHz.size(); ++i) {
      sum += std::fmod(mPhase[i], 1.0) < 0.5 ? 1.0 : -1.0;
      mPhase[i] += kHz[i] / kRate;
    }
    return sum / static_cast<double>(kHz.size());
  }

 private:
  static constexpr std::array<double, 6> kHz = {407.0, 599.0, 740.0, 1043.0, 1079.0, 1607.0};
  std::array<double, 6> mPhase = {0.0, 0.13, 0.31, 0.47, 0.61, 0.83};
};

template <typename Voice>
std::vector<float> render(double seconds, Voice voice) {
  std::vector<double> out(static_cast<size_t>(seconds * kRate));
  for (size_t i = 0; i < out.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    out[i] = voice(t) * std::min(1.0, static_cast<double>(i + 1) / (kAttackSeconds * kRate));
  }
  // A short fade at the end, so a sound cut at its length ends in silence.
  const size_t fade = std::min<size_t>(out.size(), static_cast<size_t>(0.01 * kRate));
  for (size_t i = 0; i < fade; ++i) out[out.size() - 1 - i] *= static_cast<double>(i) / static_cast<double>(fade);
  double peak = 0.0;
  for (double v : out) peak = std::max(peak, std::fabs(v));
  std::vector<float> samples(out.size());
  for (size_t i = 0; i < out.size(); ++i) samples[i] = static_cast<float>(out[i] / peak * kDrumPeak);
  return samples;
}

std::vector<float> kick() {
  Sweep body;
  Noise noise(0x4B1C4u);
  Biquad click = Biquad::highPass(2000.0, 0.7);
  return render(0.7, [&](double t) {
    const double hz = 48.0 + 110.0 * decay(t, 0.03) + 25.0 * decay(t, 0.2);
    const double x = body.next(hz) * decay(t, 0.32) + 0.5 * click.process(noise.next()) * decay(t, 0.004);
    return std::tanh(1.6 * x);
  });
}

std::vector<float> rim() {
  Sweep high, low;
  Noise noise(0x21Au);
  Biquad crack = Biquad::highPass(3000.0, 0.7);
  return render(0.2, [&](double t) {
    return 0.6 * high.next(1680.0) * decay(t, 0.010) + 0.5 * low.next(510.0) * decay(t, 0.022) +
           0.6 * crack.process(noise.next()) * decay(t, 0.003);
  });
}

std::vector<float> snare() {
  Sweep drum, shell;
  Noise noise(0x5A4Eu);
  Biquad wires = Biquad::bandPass(5000.0, 0.7);
  Biquad air = Biquad::highPass(1200.0, 0.7);
  return render(0.5, [&](double t) {
    const double n = noise.next();
    const double tone = 0.55 * drum.next(180.0 + 40.0 * decay(t, 0.02)) * decay(t, 0.07) +
                        0.3 * shell.next(330.0) * decay(t, 0.05);
    return tone + (0.9 * wires.process(n) + 0.5 * air.process(n)) * decay(t, 0.15);
  });
}

std::vector<float> clap() {
  Noise noise(0xC1A9u);
  Biquad hands = Biquad::bandPass(1150.0, 2.0);
  Biquad room = Biquad::highPass(900.0, 0.7);
  return render(0.6, [&](double t) {
    // Three quick hand claps, then the room's tail.
    const double bursts = decayFrom(t, 0.0, 0.007) + decayFrom(t, 0.011, 0.007) + decayFrom(t, 0.023, 0.007);
    const double envelope = std::min(1.0, bursts) + 0.9 * decayFrom(t, 0.032, 0.14);
    const double n = noise.next();
    return (hands.process(n) * 2.0 + 0.3 * room.process(n)) * envelope;
  });
}

std::vector<float> percussion() {
  Sweep head;
  Noise noise(0xC0A6u);
  Biquad slap = Biquad::highPass(2000.0, 0.7);
  return render(0.6, [&](double t) {
    const double x = head.next(200.0 + 40.0 * decay(t, 0.01));
    return x * decay(t, 0.18) + 0.25 * std::sin(2.3 * head.phase()) * decay(t, 0.04) +
           0.3 * slap.process(noise.next()) * decay(t, 0.002);
  });
}

std::vector<float> tom() {
  Sweep head;
  Noise noise(0x70Au);
  Biquad stick = Biquad::lowPass(3000.0, 0.7);
  return render(0.9, [&](double t) {
    const double x = head.next(92.0 + 55.0 * decay(t, 0.09));
    const double y = x * decay(t, 0.42) + 0.2 * std::sin(1.5 * head.phase()) * decay(t, 0.1) +
                     0.3 * stick.process(noise.next()) * decay(t, 0.01);
    return std::tanh(1.3 * y);
  });
}

// Hats and cymbals: the metallic squares and some noise, band-limited to the top octaves.
std::vector<float> metal(double seconds, double tau, double bandHz, uint32_t seed) {
  Metal squares;
  Noise noise(seed);
  Biquad band = Biquad::bandPass(bandHz, 0.8);
  Biquad high = Biquad::highPass(bandHz * 0.7, 0.7);
  return render(seconds, [&](double t) {
    const double x = squares.next() + 0.4 * noise.next();
    return high.process(band.process(x)) * decay(t, tau);
  });
}

}  // namespace

std::vector<float> SynthesizeDrum(Drum drum) {
  switch (drum) {
    case Drum::kKick: return kick();
    case Drum::kRim: return rim();
    case Drum::kSnare: return snare();
    case Drum::kClap: return clap();
    case Drum::kPercussion: return percussion();
    case Drum::kTom: return tom();
    case Drum::kHihat: return metal(0.25, 0.04, 9000.0, 0x4A7u);
    case Drum::kCymbal: return metal(1.6, 0.55, 6000.0, 0xC7B1u);
  }
  return {};
}

}  // namespace startkit
