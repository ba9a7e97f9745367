#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "engine/blob/Blob.h"
#include "engine/blob/BlobTestSupport.h"
#include "engine/voice/DrumVoiceSynth.h"
#include "engine/voice/ReferenceModel.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
using Bands = std::vector<float>;

// A blob with the given point positions on every time curve and every frequency curve,
// taken as they are (no re-spacing), with its energy and half-lives set.
Blob makeBlob(const std::function<double(int)>& timePoint, const std::function<double(int)>& frequencyPoint,
              float halfLife = 0.2f) {
  Blob blob;
  for (auto& curve : blob.gridA)
    for (int i = 0; i < Blob::kTimePoints; ++i) curve[size_t(i)] = float(timePoint(i));
  for (auto& curve : blob.gridB)
    for (int j = 0; j < Blob::kFrequencyPoints; ++j) curve[size_t(j)] = float(frequencyPoint(j));
  blob.energy = blob.computeEnergy();
  blob.decayHalfLife.fill(halfLife);
  return blob;
}

double rampTime(int i) { return 96.0 * i / 40; }
double rampFrequency(int j) { return 80.0 * j / 48; }
Blob rampBlob(float halfLife = 0.2f) { return makeBlob(rampTime, rampFrequency, halfLife); }

Bands render(DrumVoiceSynth& voice, float delta) {
  Bands out(80, -1.0f);
  voice.render(delta, out.data());
  return out;
}

void expectFiniteNonNegative(const Bands& b, const char* what) {
  for (size_t i = 0; i < b.size(); ++i) {
    ASSERT_TRUE(std::isfinite(b[i])) << what << " band " << i;
    ASSERT_GE(b[i], 0.0f) << what << " band " << i;
  }
}

// "Model" 4 onwards (setModel 0..6) picks a reference model whose velocity layers shape the
// voice: exactly a layer, between two, layer 0 for no, NaN or negative velocity; below 4 or past
// the table no model, and the profile is left alone.
TEST(DrumVoiceSynth, ModelProfileFollowsTheVelocityLayers) {
  Blob a = rampBlob();
  const ReferenceModel* kick = getReferenceModel(0);
  ASSERT_NE(kick, nullptr);
  DrumVoiceSynth v;
  v.setModel(0);
  const struct {
    float velocity;
    int layer;
    float share;  // of the next layer
  } cases[] = {{100.0f / 127.0f, 3, 0.0f}, {1.0f, 3, 0.999f}, {0.0f, 0, 0.0f}, {kNaN, 0, 0.0f}, {-2.0f, 0, 0.0f}};
  for (const auto& c : cases) {
    v.start(&a, nullptr, 0.0f, c.velocity, 1.0f);
    for (int k = 0; k < 12; ++k)
      EXPECT_NEAR(v.modelProfile[size_t(k)], (1 - c.share) * kick->layers[c.layer][k] + c.share * kick->layers[c.layer + 1][k], 1e-5f)
          << c.velocity << " " << k;
  }
  const auto before = v.modelProfile;
  for (int model : {-4, -1, 7}) {
    v.setModel(model);
    v.start(&a, nullptr, 0.0f, 1.0f, 1.0f);
    EXPECT_EQ(v.modelProfile, before) << model;
  }
}

// The model's values are mixed for the voice's velocity once and kept: a velocity or a model
// that changes in the middle of a note is taken up at the next frame, exactly as if nothing had
// been kept.
TEST(DrumVoiceSynth, KeptModelValuesFollowAChangedVelocityOrModel) {
  Blob a = makeBlob(rampTime, [](int j) { return 80.0 * j / 48 + 0.3 * std::sin(j * 1.7); });
  DrumVoiceSynth kept;
  DrumVoiceSynth fresh;
  for (DrumVoiceSynth* v : {&kept, &fresh}) {
    v->setModel(2);
    v->contrast = 0.2f;
    v->start(&a, nullptr, 0.0f, 0.3f, 1.0f);
  }
  for (int frame = 0; frame < 40; ++frame) {
    if (frame == 10) kept.velocity = fresh.velocity = 0.95f;
    if (frame == 20) kept.velocity = fresh.velocity = kNaN;
    if (frame == 25) kept.velocity = fresh.velocity = 0.6f;
    if (frame == 30) {
      kept.setModel(5);
      fresh.setModel(5);
    }
    fresh.mixedModel = nullptr;  // nothing kept: mixed anew for this frame
    const Bands want = render(fresh, 1.5f);
    const Bands got = render(kept, 1.5f);
    for (size_t band = 0; band < got.size(); ++band) {
      ASSERT_TRUE(got[band] == want[band] || (std::isnan(got[band]) && std::isnan(want[band])))
          << "frame " << frame << " band " << band;
    }
  }
}

// Rendering before any note is silence; a straight ramp in time and frequency sounds the same
// in every band at every moment, at sqrt(amplitude) x gainScale / sqrt(energy); where the time
// points crowd the sound is louder, and where the columns crowd their bands are.
TEST(DrumVoiceSynth, LevelsFollowTheDensitiesAndTheGains) {
  DrumVoiceSynth idle;
  EXPECT_EQ(render(idle, 1.0f), Bands(80, 0.0f));
  Blob a = rampBlob();
  DrumVoiceSynth v, louder;
  louder.amplitude = 4.0f;
  v.start(&a, nullptr, 0.0f, 0.8f, 1.0f);
  louder.start(&a, nullptr, 0.0f, 0.8f, 0.5f);
  EXPECT_EQ(render(v, 1.0f), Bands(80, 0.0f));  // the first block has no rows to compare with yet
  render(louder, 1.0f);
  const float level = render(v, 1.0f)[0];
  EXPECT_GT(level, 0.0f);
  for (float t = 5.0f; t < 90.0f; t += 3.0f) {
    const Bands out = render(v, t - v.elapsed), other = render(louder, t - louder.elapsed);
    for (int b = 0; b < 80; ++b) {
      ASSERT_NEAR(out[size_t(b)], level, 2e-4f * level) << "t " << t << " band " << b;
      ASSERT_NEAR(other[size_t(b)], level, 2e-4f * level) << "t " << t << " band " << b;  // 2 x 0.5
    }
  }
  // Time: the first 20 gaps are 1.2 units, the rest 3.6. Frequency: columns 0..24 crowd into
  // bands 0..20, columns 24..48 spread over 20..80.
  Blob dense = makeBlob([](int i) { return i <= 20 ? 1.2 * i : 24.0 + 3.6 * (i - 20); },
                        [](int j) { return j <= 24 ? 20.0 * j / 24 : 20.0 + 60.0 * (j - 24) / 24; });
  DrumVoiceSynth d;
  d.start(&dense, nullptr, 0.0f, 0.8f, 1.0f);
  render(d, 2.0f);
  const Bands early = render(d, 3.0f);  // t = 5, inside the dense part
  render(d, 35.0f);
  const Bands late = render(d, 10.0f);  // t = 50
  EXPECT_GT(early[10], 2.0f * early[50]);
  EXPECT_GT(early[50], 3.0f * late[50]);
}

TEST(DrumVoiceSynth, AdvanceSquaresAndTheTailDecays) {
  Blob a = rampBlob(0.05f);
  DrumVoiceSynth rendered;
  DrumVoiceSynth advanced;
  rendered.start(&a, nullptr, 0.0f, 0.8f, 1.0f);
  advanced.start(&a, nullptr, 0.0f, 0.8f, 1.0f);
  Bands power(80);
  float previousLevel = 2.0f;
  float previousMid = std::numeric_limits<float>::infinity();
  int tailFrames = 0;
  for (int frame = 0; frame < 700; ++frame) {
    advanced.advance(1.0f, power.data());
    expectFiniteNonNegative(power, "advance");
    if (advanced.elapsed < 96.0f) {
      // Before the tail both ways agree exactly: advance renders the same block and squares it.
      const Bands amp = render(rendered, framesToBlobTime(float(frame + 1)) - rendered.elapsed);
      for (int b = 0; b < 80; ++b) ASSERT_NEAR(power[size_t(b)], amp[size_t(b)] * amp[size_t(b)], 1e-12f);
      EXPECT_EQ(advanced.level, 1.0f);
    } else {
      ++tailFrames;
      EXPECT_LE(advanced.level, previousLevel);
      EXPECT_LE(power[40], previousMid);
      float loudest = 0.0f;
      for (int k = 0; k < 7; ++k) {
        loudest = std::max(loudest, advanced.rowRates[size_t(k)]);
        EXPECT_GE(advanced.curveRows[size_t(k)], 3.999f);
        EXPECT_LE(advanced.curveRows[size_t(k)], 4.999f);
      }
      EXPECT_EQ(advanced.level, loudest * loudest);
      previousLevel = advanced.level;
      previousMid = power[40];
    }
  }
  EXPECT_GT(tailFrames, 200);
  EXPECT_LT(advanced.level, 1e-3f);
  EXPECT_NEAR(advanced.elapsedFrames, 700.0f, 1e-3f);
  EXPECT_NEAR(advanced.elapsed, framesToBlobTime(700.0f), 1e-4f);
}

TEST(DrumVoiceSynth, ZeroDeltaKeepsTheRowsAndRecomputesWithTheCurrentGain) {
  Blob a = rampBlob();
  DrumVoiceSynth v;
  v.start(&a, nullptr, 0.0f, 0.8f, 1.0f);
  render(v, 1.0f);
  const Bands before = render(v, 1.0f);
  const auto rows = v.rowPositions;
  const auto rates = v.rowRates;
  const auto curveRows = v.curveRows;
  v.amplitude = 4.0f;  // twice the amplitude
  const Bands again = render(v, 0.0f);
  EXPECT_EQ(v.rowPositions, rows);
  EXPECT_EQ(v.rowRates, rates);
  EXPECT_EQ(v.curveRows, curveRows);
  for (int b = 0; b < 80; ++b) EXPECT_FLOAT_EQ(again[size_t(b)], 2.0f * before[size_t(b)]);
  // The same in the tail, where the rows would otherwise wander.
  render(v, 100.0f);
  const auto tailRows = v.curveRows;
  const float level = v.level;
  render(v, 0.0f);
  EXPECT_EQ(v.curveRows, tailRows);
  EXPECT_EQ(v.level, level);
}

TEST(DrumVoiceSynth, ShiftZeroesTheBandsItMovesOut) {
  // Columns crowd into the lower half so the shifted image differs from the unshifted one.
  Blob a = makeBlob(rampTime, [](int j) { return j <= 24 ? 30.0 * j / 24 : 30.0 + 50.0 * (j - 24) / 24; });
  const auto shifted = [&](float s) {
    DrumVoiceSynth v;
    v.start(&a, nullptr, 0.0f, 0.8f, 1.0f);
    v.frequencyShift = s;
    render(v, 4.0f);
    return render(v, 4.0f);
  };
  const Bands plain = shifted(0.0f);
  const Bands down = shifted(-10.4f);
  for (int b = 0; b < 70; ++b) EXPECT_GT(down[size_t(b)], 0.0f) << b;
  for (int b = 70; b < 80; ++b) EXPECT_EQ(down[size_t(b)], 0.0f) << b;
  // Band 25 shifted down by 10.4 reads the picture around 35.4: the sparse upper half.
  EXPECT_LT(down[25], 0.7f * plain[25]);
  EXPECT_NEAR(down[25], plain[45], 0.05f * plain[45]);

  const Bands up = shifted(3.0f);
  for (int b = 0; b < 3; ++b) EXPECT_EQ(up[size_t(b)], 0.0f) << b;
  for (int b = 3; b < 80; ++b) EXPECT_GT(up[size_t(b)], 0.0f) << b;
  EXPECT_NEAR(up[20], plain[17], 1e-6f);

  for (float s : {80.0f, 200.0f, -80.0f, -1e30f, 1e30f}) {
    const Bands out = shifted(s);
    for (float x : out) EXPECT_EQ(x, 0.0f) << s;
  }
  expectFiniteNonNegative(shifted(kNaN), "NaN shift");
}

TEST(DrumVoiceSynth, ContrastAndTransformSetTheGain) {
  Blob a = rampBlob();
  Blob b = rampBlob();
  b.energy = a.energy * 4.0f;
  const auto level = [&](float contrast, float transform) {
    DrumVoiceSynth v;
    v.start(&a, &b, 0.0f, 0.8f, 1.0f);
    v.contrast = contrast;
    v.transform = transform;
    render(v, 2.0f);
    return render(v, 2.0f)[40];
  };
  const float base = level(0.0f, 0.0f);
  // Halfway to B: the loudness of the mix is (sqrt(E) + sqrt(4E)) / 2 = 1.5 sqrt(E).
  EXPECT_NEAR(level(0.0f, 0.5f), base / 1.5f, 1e-5f * base);
  EXPECT_NEAR(level(0.0f, 1.0f), base / 2.0f, 1e-5f * base);
  // Contrast -1 replaces the blobs' loudness by a fixed one: the level no longer depends on it,
  // however large it is (a huge one must not cancel against the fixed one and leave the gain
  // divided by the floor).
  const float flat = level(-1.0f, 0.0f);
  EXPECT_GT(flat, 0.0f);
  b.energy = 1e30f;
  for (float transform : {0.5f, 1.0f}) EXPECT_NEAR(level(-1.0f, transform), flat, 1e-4f * flat);
}

TEST(DrumVoiceSynth, ModelsStayBoundedAtEveryVelocity) {
  Blob a = rampBlob();
  float plainMax = 0.0f;
  {
    DrumVoiceSynth v;
    v.start(&a, nullptr, 0.0f, 0.0f, 1.0f);
    for (int f = 0; f < 100; ++f) {
      Bands out(80);
      v.advance(1.0f, out.data());
      plainMax = std::max(plainMax, *std::max_element(out.begin(), out.end()));
    }
  }
  for (int model = 0; model < 7; ++model) {
    for (float velocity : {0.0f, 0.3f, 100.0f / 127.0f, 1.0f, kNaN}) {
      DrumVoiceSynth v;
      v.setModel(model);
      v.start(&a, nullptr, 0.0f, velocity, 1.0f);
      // A shift just under a band down puts band 79 at 79.9: above the lowered top column.
      v.frequencyShift = -0.9f;
      for (int f = 0; f < 500; ++f) {
        Bands out(80);
        v.advance(1.0f, out.data());
        expectFiniteNonNegative(out, "model");
        // Low layers lower the top columns below 80: the bands above them must still read
        // the last time curves, not a stray entry.
        for (float x : out) ASSERT_LT(x, 4.0f * plainMax) << model << " " << velocity << " frame " << f;
      }
    }
  }
}

TEST(DrumVoiceSynth, NeutralLayerOfAModelSoundsLikeNoModel) {
  Blob a = makeBlob(rampTime, [](int j) { return 80.0 * std::pow(j / 48.0, 1.5); });
  DrumVoiceSynth plain;
  DrumVoiceSynth modelled;
  modelled.setModel(2);
  plain.start(&a, nullptr, 0.0f, 100.0f / 127.0f, 1.0f);
  modelled.start(&a, nullptr, 0.0f, 100.0f / 127.0f, 1.0f);
  Bands p(80), m(80);
  for (int f = 0; f < 300; ++f) {
    plain.advance(1.0f, p.data());
    modelled.advance(1.0f, m.data());
    if (plain.elapsed >= 96.0f) break;
    for (int b = 0; b < 80; ++b) ASSERT_NEAR(m[size_t(b)], p[size_t(b)], 1e-3f * p[size_t(b)] + 1e-12f) << f << " " << b;
  }
}

TEST(DrumVoiceSynth, CraftedBlobsAndNanVelocityStayInBounds) {
  std::vector<uint8_t> high(Blob::kByteSize, 0xFF);
  std::vector<uint8_t> zero(Blob::kByteSize, 0x00);
  high[0] = Blob::kFormatVersion;
  zero[0] = Blob::kFormatVersion;
  Blob crafted[2];
  ASSERT_EQ(crafted[0].deserialize(high.data(), int32_t(high.size()), nullptr), Blob::kByteSize);
  ASSERT_EQ(crafted[1].deserialize(zero.data(), int32_t(zero.size()), nullptr), Blob::kByteSize);
  Blob ramp = rampBlob();
  for (Blob* a : {&crafted[0], &crafted[1], &ramp}) {
    for (Blob* b : {&crafted[0], &crafted[1]}) {
      for (int model : {-1, 0, 6}) {
        for (float velocity : {kNaN, 1.0f}) {
          DrumVoiceSynth v;
          v.setModel(model);
          v.start(a, b, 0.5f, velocity, 1.0f);
          v.transform = 0.3f;
          v.contrast = 0.5f;
          Bands out(80), scratch(80);
          for (int f = 0; f < 450; ++f) {
            v.render(framesToBlobTime(float(f + 1)) - v.elapsed, out.data(), scratch.data());
            for (int i = 0; i < 80; ++i) {
              ASSERT_TRUE(std::isfinite(out[size_t(i)])) << model << " frame " << f;
              ASSERT_TRUE(std::isfinite(scratch[size_t(i)]));
            }
          }
        }
      }
    }
  }
}

TEST(DrumVoiceSynth, TinyLastGapCannotBlowUpTheBands) {
  // Every time curve crowds its last point against the one before it.
  Blob a = makeBlob([](int i) { return i < 40 ? 95.9999 * i / 39 : 96.0; }, rampFrequency);
  DrumVoiceSynth v;
  v.start(&a, nullptr, 0.0f, 0.8f, 1.0f);
  const double gain = 1.0 / std::sqrt(double(a.energy));
  // At most 20 row rates per time unit, times the columns' density in a band.
  const double bound = 20.0 * (48.0 / 80) * gain;
  for (float t = 0.5f; t < 100.0f; t += 0.5f) {
    const Bands out = render(v, t - v.elapsed);
    expectFiniteNonNegative(out, "tiny gap");
    for (float x : out) ASSERT_LE(x, bound) << t;
  }
}

// Pairs of voices that must render the same bands frame by frame until the tail: the same
// inputs twice; a null second blob against the first given twice; a voice reused after a note
// cut early against a fresh one; a voice handed a fresh copy of its blob mid-note against one
// that keeps the original.
TEST(DrumVoiceSynth, VoicesThatMustSoundAlike) {
  Blob a = rampBlob();
  blob_test::perturb(a, 0.4f, 77u);
  a.energy = a.computeEnergy();
  Blob b = rampBlob(), copy = a;
  Blob other = makeBlob([](int i) { return 0.5 * i; }, rampFrequency);
  other.gridA[0][40] = 96.0f;
  const auto expectAlike = [](DrumVoiceSynth& x, DrumVoiceSynth& y, const std::function<void(int)>& atFrame) {
    Bands bx(80), by(80);
    int frames = 0;
    for (; frames < 500; ++frames) {
      atFrame(frames);
      x.advance(1.0f, bx.data());
      y.advance(1.0f, by.data());
      if (y.elapsed >= 96.0f) break;
      ASSERT_EQ(bx, by) << frames;
    }
    EXPECT_GT(frames, 350);
  };
  DrumVoiceSynth one, two;
  for (DrumVoiceSynth* v : {&one, &two}) {
    v->setModel(1);
    v->start(&a, &b, 0.3f, 0.5f, 1.0f);
    v->transform = 0.4f;
    v->frequencyShift = -2.5f;
    v->contrast = 0.3f;
  }
  expectAlike(one, two, [](int) {});
  DrumVoiceSynth alone, twice;
  alone.start(&a, nullptr, 0.9f, 0.5f, 1.0f);
  twice.start(&a, &a, 0.9f, 0.5f, 1.0f);
  expectAlike(alone, twice, [](int) {});
  DrumVoiceSynth reused, fresh;
  Bands scratch(80);
  reused.start(&other, nullptr, 0.0f, 0.5f, 1.0f);
  reused.advance(0.1f, scratch.data());
  reused.start(&a, nullptr, 0.0f, 0.8f, 1.0f);
  fresh.start(&a, nullptr, 0.0f, 0.8f, 1.0f);
  expectAlike(reused, fresh, [](int) {});
  DrumVoiceSynth moved, stayed;
  moved.start(&a, nullptr, 0.0f, 0.8f, 1.0f);
  stayed.start(&a, nullptr, 0.0f, 0.8f, 1.0f);
  expectAlike(moved, stayed, [&](int f) {
    if (f == 30) moved.setBlobs(&copy, nullptr);
  });
  EXPECT_TRUE(moved.blobA == &copy && moved.blobB == &copy && moved.curves[2].cursor.knots == copy.gridA[2].data());
}

}  // namespace
