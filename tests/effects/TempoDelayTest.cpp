#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>

#include "effects/FxChorus.h"
#include "effects/FxTempoDelay.h"
#include "support/AllocationCounter.h"
#include "tests/effects/EffectTestKit.h"

// The echo comes "Length" sixteenth notes of the tempo late (give or take the tape wobble of
// 3 ms), at most a second's worth of steps (but always one) and never beyond the 4.1-second line.
namespace {

using fxtest::Rig;
using fxtest::Stereo;

constexpr double kWobble = 0.003;  // seconds either way

// The response to a click on the left after two seconds at `tempo`, in which the length and
// the read heads settle.
Stereo clickResponse(Rig& rig, double tempo, double seconds, double rate) {
  rig.fx->setTempo(static_cast<float>(tempo));
  rig.run(Stereo(fxtest::frames(2.0, rate)));
  Stereo in(fxtest::frames(seconds, rate));
  in.l[0] = 0.5f;
  return rig.run(in);
}

// Where the first echo peaks: the first place the response comes near its loudest (the copies
// the stereo rotations make are quieter or later).
double firstEcho(const Stereo& out) {
  const float loudest = fxtest::peakOf(out);
  size_t i = 32;
  while (i < out.size() && std::fabs(out.l[i]) < 0.5f * loudest) ++i;
  size_t best = i;
  for (size_t k = i; k < std::min(i + 8, out.size()); ++k)
    if (std::fabs(out.l[k]) > std::fabs(out.l[best])) best = k;
  return static_cast<double>(best);
}

// An echo's weight, whatever fraction of a sample it lands on: its sum around `at`.
double echoArea(const Stereo& out, double at, double tolerance) {
  size_t best = static_cast<size_t>(at - tolerance);
  for (size_t k = best; k < static_cast<size_t>(at + tolerance); ++k)
    if (std::fabs(out.l[k]) > std::fabs(out.l[best])) best = k;
  double area = 0.0;
  for (size_t k = best - 32; k < best + 32; ++k) area += out.l[k];
  return area;
}

// Each instance is first run at another rate, so the new rate must have reached it.
TEST(TempoDelay, EchoComesLengthSixteenthsLate) {
  const struct {
    double tempo;
    float length;
    double steps;  // where the echo is heard
  } cases[] = {{120, 3, 3}, {120, 8, 8}, {60, 8, 4}, {97, 1, 1}, {400, 5, 5},
               {10, 3, 1},   // below 15 beats per minute one step is still allowed
               {1, 2, 1},    // a step longer than the line: held at its end
               {1e5, 1, 0}};  // a step shorter than a chunk: held at the shortest tap
  for (double rate : {44100.0, 96000.0}) {
    for (const auto& c : cases) {
      Rig rig = Rig::of<FxTempoDelay>(rate == 44100.0 ? 96000.0f : 22050.0f);
      rig.set(c.length, 0.0f);
      rig.run(fxtest::noise(4096, 0.5f));
      rig.fx->setSampleRate(static_cast<float>(rate));
      const double expected = std::max(std::min(c.steps * rate * 15.0 / c.tempo, 4.1 * rate), 68.0);
      const double at = firstEcho(clickResponse(rig, c.tempo, expected / rate + 0.1, rate));
      EXPECT_GE(at, 66.0) << c.tempo;  // never read from where the writer has not been
      const double slack = expected < 4.0 * rate ? 2.0 : 100.0;
      EXPECT_NEAR(at, expected, kWobble * rate + slack) << c.tempo << " bpm, length " << c.length << " at " << rate;
    }
  }
  // A new tempo moves the echo: the heads glide to the new delay within a second or so. A tempo
  // that cannot be played at is not taken.
  Rig rig = Rig::of<FxTempoDelay>(44100.0f);
  rig.set(4.0f, 0.0f);
  for (double tempo : {150.0, 90.0, 130.0, 0.0, -120.0, HUGE_VAL}) {
    const double expected = 4.0 * 44100.0 * 15.0 / (tempo > 0.0 && tempo < 1e9 ? tempo : 130.0);
    EXPECT_NEAR(firstEcho(clickResponse(rig, tempo, 0.8, 44100.0)), expected, kWobble * 44100.0 + 2.0) << tempo;
  }
}

// Between whole steps both neighbours sound, each at v (1 + 0.83 (1 - v)) with v = 0.4 for a
// length of 2.5: 0.5992 of the single echo a whole length gives.
TEST(TempoDelay, HalfStepsSoundBothNeighbours) {
  const double rate = 48000.0, sixteenth = rate * 15.0 / 120.0, tolerance = kWobble * rate + 2.0;
  Rig whole = Rig::of<FxTempoDelay>(48000.0f), half = Rig::of<FxTempoDelay>(48000.0f);
  whole.set(3.0f, 0.0f);
  half.set(2.5f, 0.0f);
  const double one = echoArea(clickResponse(whole, 120.0, 0.5, rate), 3.0 * sixteenth, tolerance);
  const Stereo out = clickResponse(half, 120.0, 0.5, rate);
  EXPECT_NEAR(firstEcho(out), 2.0 * sixteenth, tolerance);
  for (double steps : {2.0, 3.0}) EXPECT_NEAR(echoArea(out, steps * sixteenth, tolerance) / one, 0.5992, 0.02) << steps;
}

// Tempos from a crawl to far beyond any host, changed while it runs under full feedback: the
// output stays finite and bounded, the heads stay on their lines, and nothing is allocated.
TEST(TempoDelay, AnyTempoStaysBoundedWithoutAllocating) {
  for (float rate : {22050.0f, 192000.0f}) {
    Rig rig = Rig::of<FxTempoDelay>(rate);
    rig.set(8.0f, 100.0f);
    const Stereo in = fxtest::noise(fxtest::frames(fxtest::scaledSeconds(8.0), rate), 1.0f, 3);
    Stereo out(in.size());
    const float tempos[] = {400.0f, 1.0f, 7.0f, 14.9f, 1e4f, 1e-3f, 60.0f, 1e30f, 120.0f};
    const size_t stretch = in.size() / std::size(tempos);
    AllocationCounter counter;
    rig.process(in, out, 64,
                [&](size_t pos) { rig.fx->setTempo(tempos[std::min(pos / stretch, std::size(tempos) - 1)]); });
    EXPECT_EQ(counter.count(), 0);
    EXPECT_TRUE(fxtest::allFinite(out));
    EXPECT_LT(fxtest::peakOf(out), 8.0f);
    const auto& fx = rig.as<FxTempoDelay>();
    for (const DelayReadHead& h : fx.stepHeads) {
      EXPECT_LT(h.position, fx.lines[0].length());
      EXPECT_TRUE(h.speed >= 0.5f && h.speed <= 2.0f);
    }
  }
}

// The chorus voices read at delays that swing under the LFO: never shorter than 10 ms (nor 36
// samples), never off their lines, wider for more "Depth" and for a slower "Rate".
TEST(Chorus, VoiceDelaysSwingWithDepthAndRate) {
  for (double rate : {44100.0, 96000.0}) {
    const auto swing = [rate](float depth, float lfo) {
      Rig rig = Rig::of<FxChorus>(static_cast<float>(rate));
      rig.set(depth, lfo);
      const Stereo in = fxtest::noise(fxtest::frames(2.2 / lfo, rate), 0.5f, 9);  // a full LFO period and more
      Stereo out(in.size());
      double seen[2] = {1e9, -1e9};
      rig.process(in, out, 64, [&](size_t pos) {
        for (const DelayLine& voice : rig.as<FxChorus>().voiceLines) {
          if (pos == 0) break;  // before the first read
          const double d = std::fmod(voice.head.expectedWritePos - voice.head.position + voice.length(), voice.length());
          EXPECT_LT(d, voice.length() - 1.0);
          seen[0] = std::min(seen[0], d);
          seen[1] = std::max(seen[1], d);
        }
      });
      EXPECT_TRUE(fxtest::allFinite(out));
      EXPECT_GE(seen[0], std::max(0.01 * rate, 36.0) - 1.0) << rate << " " << depth << " " << lfo;
      return seen[1] - seen[0];
    };
    EXPECT_GT(swing(50.0f, 2.0f), 1.5 * swing(10.0f, 2.0f)) << rate;
    EXPECT_GT(swing(50.0f, 0.5f), 1.5 * swing(50.0f, 4.0f)) << rate;
    EXPECT_GT(swing(100.0f, 0.5f), 0.0) << rate;
  }
}

}  // namespace
