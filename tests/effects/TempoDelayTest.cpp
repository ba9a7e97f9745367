#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "effects/FxTempoDelay.h"
#include "support/AllocationCounter.h"
#include "tests/effects/EffectTestKit.h"

// The echo comes "Length" sixteenth notes of the tempo late (give or take the tape wobble of
// 3 ms), no later than a second's worth of steps and never beyond the 4.1-second line.
namespace {

using fxtest::Rig;
using fxtest::Stereo;

constexpr double kWobble = 0.003;  // seconds either way

struct Echo {
  size_t at;    // the loudest sample of the echo
  double area;  // the echo's sum over its neighbourhood: its weight, whatever its fraction
};

// The response to a click on the left, without feedback, after the length has settled.
Stereo clickResponse(Rig& rig, double tempo, double seconds, double rate) {
  rig.fx->setTempo(static_cast<float>(tempo));
  rig.run(Stereo(fxtest::frames(2.0, rate)));
  Stereo in(fxtest::frames(seconds, rate));
  in.l[0] = 0.5f;
  return rig.run(in);
}

Echo echoWithin(const Stereo& out, size_t from, size_t to) {
  size_t best = from;
  for (size_t k = from; k < std::min(to, out.size()); ++k)
    if (std::fabs(out.l[k]) > std::fabs(out.l[best])) best = k;
  double area = 0.0;
  for (size_t k = best - 32; k < std::min(best + 32, out.size()); ++k) area += out.l[k];
  return {best, area};
}

// The first echo: the first place the response comes near its loudest (the later copies the
// stereo rotations make are quieter or later).
Echo firstEcho(const Stereo& out) {
  const float loudest = fxtest::peakOf(out);
  size_t i = 32;
  while (i < out.size() && std::fabs(out.l[i]) < 0.5f * loudest) ++i;
  return echoWithin(out, i, i + 8);
}

TEST(TempoDelay, EchoComesLengthSixteenthsLate) {
  const struct {
    double tempo;
    float length;
    double steps;  // where the echo is heard
  } cases[] = {{120, 3, 3}, {120, 8, 8}, {60, 8, 4}, {97, 1, 1}, {400, 5, 5},
               {10, 3, 1},   // below 15 beats per minute one step is still allowed
               {1, 2, 1}};   // a step longer than the line: held at its end
  for (double rate : {44100.0, 96000.0}) {
    for (const auto& c : cases) {
      Rig rig = Rig::of<FxTempoDelay>(static_cast<float>(rate));
      rig.set(c.length, 0.0f);
      const double sixteenth = rate * 15.0 / c.tempo;
      const double expected = std::min(c.steps * sixteenth, 4.1 * rate);
      const Echo echo = firstEcho(clickResponse(rig, c.tempo, expected / rate + 0.1, rate));
      EXPECT_NEAR(static_cast<double>(echo.at), expected, kWobble * rate + 100.0)
          << c.tempo << " bpm, length " << c.length << " at " << rate;
      if (expected < 4.0 * rate) {
        EXPECT_NEAR(static_cast<double>(echo.at), expected, kWobble * rate + 2.0)
            << c.tempo << " bpm, length " << c.length << " at " << rate;
      }
    }
  }
}

// Between whole steps both neighbours sound, each at v (1 + 0.83 (1 - v)) with v = 0.4 for a
// length of 2.5: 0.5992 of the single echo a whole length gives.
TEST(TempoDelay, HalfStepsSoundBothNeighbours) {
  const double rate = 48000.0;
  Rig whole = Rig::of<FxTempoDelay>(48000.0f), half = Rig::of<FxTempoDelay>(48000.0f);
  whole.set(3.0f, 0.0f);
  half.set(2.5f, 0.0f);
  const Echo one = firstEcho(clickResponse(whole, 120.0, 0.5, rate));
  const Stereo out = clickResponse(half, 120.0, 0.5, rate);
  const double sixteenth = rate * 15.0 / 120.0;
  const size_t tolerance = static_cast<size_t>(kWobble * rate) + 2;
  EXPECT_NEAR(static_cast<double>(firstEcho(out).at), 2.0 * sixteenth, static_cast<double>(tolerance));
  for (double steps : {2.0, 3.0}) {
    const size_t at = static_cast<size_t>(steps * sixteenth);
    const Echo e = echoWithin(out, at - tolerance, at + tolerance);
    EXPECT_NEAR(e.area / one.area, 0.5992, 0.02) << steps;
  }
}

// A new tempo moves the echo: the heads glide to the new delay within a second or so.
TEST(TempoDelay, TempoChangeMovesTheEcho) {
  const double rate = 44100.0;
  Rig rig = Rig::of<FxTempoDelay>(44100.0f);
  rig.set(4.0f, 0.0f);
  EXPECT_NEAR(static_cast<double>(firstEcho(clickResponse(rig, 150.0, 0.5, rate)).at),
              4.0 * rate * 15.0 / 150.0, kWobble * rate + 2.0);
  EXPECT_NEAR(static_cast<double>(firstEcho(clickResponse(rig, 90.0, 0.8, rate)).at),
              4.0 * rate * 15.0 / 90.0, kWobble * rate + 2.0);
}

// Tempos from a crawl to far beyond any host, changed every block under full feedback: the
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
    for (size_t pos = 0; pos < in.size(); pos += 64) {
      rig.fx->setTempo(tempos[std::min(pos / stretch, std::size(tempos) - 1)]);
      const int n = static_cast<int>(std::min<size_t>(64, in.size() - pos));
      const float* src[2] = {in.l.data() + pos, in.r.data() + pos};
      float* dst[2] = {out.l.data() + pos, out.r.data() + pos};
      rig.fx->process(src, dst, n);
    }
    EXPECT_EQ(counter.count(), 0);
    EXPECT_TRUE(fxtest::allFinite(out));
    EXPECT_LT(fxtest::peakOf(out), 8.0f);
    const auto& fx = static_cast<const FxTempoDelay&>(*rig.fx);
    for (const DelayReadHead& h : fx.stepHeads) {
      EXPECT_LT(h.position, fx.lines[0].length());
      EXPECT_GE(h.speed, 0.5f);
      EXPECT_LE(h.speed, 2.0f);
    }
  }
}

}  // namespace
