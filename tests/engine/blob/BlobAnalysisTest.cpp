#include <gtest/gtest.h>

#include <cfloat>
#include <limits>
#include <string>

#include "engine/blob/AnalysisFilterBank.h"
#include "engine/blob/AnalysisStages.h"
#include "engine/blob/BlobTestSupport.h"
#include "engine/dsp/BandScale.h"
#include "support/TestAudio.h"

namespace {

using blob_test::bytesOf;
constexpr float kRate = 44100.0f;
constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

Blob analysed(const std::vector<float>& samples, float rate = kRate) {
  Blob blob;
  EXPECT_TRUE(blob.analyze(samples, rate, true, 0)) << rate;
  return blob;
}

std::vector<float> concat(std::vector<float> a, const std::vector<float>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Density-weighted mean position of the frequency curves' points: where the sound sits.
double bandCentroid(const Blob& blob) {
  FloatGrid density;
  curveDensity(density, blob.gridB, 0.0f);
  double sum = 0.0, weight = 0.0;
  for (size_t m = 0; m < density.size(); ++m)
    for (size_t j = 0; j < density[m].size(); ++j) sum += density[m][j] * blob.gridB[m][j], weight += density[m][j];
  return sum / weight;
}

// The band at the densest point of frequency curve m.
int32_t peakBand(const Blob& blob, size_t m) {
  const std::vector<float>& p = blob.gridB[m];
  size_t best = 1;
  for (size_t j = 1; j + 1 < p.size(); ++j) best = p[j + 1] - p[j - 1] < p[best + 1] - p[best - 1] ? j : best;
  return static_cast<int32_t>(p[best]);
}

// Root mean square of the point differences over both grids, in axis units.
double gridDistance(const Blob& a, const Blob& b) {
  double sum = 0.0;
  for (const auto& [x, y] : {std::pair{&a.gridA, &b.gridA}, std::pair{&a.gridB, &b.gridB}})
    for (size_t k = 0; k < x->size(); ++k)
      for (size_t i = 0; i < (*x)[k].size(); ++i) sum += std::pow((*x)[k][i] - (*y)[k][i], 2);
  return std::sqrt(sum / (7 * 41 + 6 * 49));
}

// Rising curves from 0 to the range end, already as refresh leaves them, with a finite energy.
void expectWellFormed(const Blob& blob, const std::string& what) {
  for (const auto& [grid, range] : {std::pair{&blob.gridA, 96.0f}, std::pair{&blob.gridB, 80.0f}}) {
    for (const auto& curve : *grid) {
      EXPECT_TRUE(std::fabs(curve.front()) < 1e-3f && std::fabs(curve.back() - range) < 1e-3f) << what;
      for (size_t i = 1; i < curve.size(); ++i) ASSERT_GT(curve[i], curve[i - 1]) << what << " point " << i;
    }
  }
  Blob again = blob;
  EXPECT_LT(again.refresh(), 1e-4f) << what;
  EXPECT_TRUE(std::isfinite(blob.energy) && blob.energy > 0.0f) << what;
}

}  // namespace

TEST(BlobAnalysis, FilterBankTablesHoldTheirStatedFacts) {
  const AnalysisFilterBank& bank = analysisFilterBank();
  double sum = 0.0;
  for (int32_t n = 0; n < 256; ++n) {
    sum += bank.window[n];
    EXPECT_TRUE(n == 0 || n >= 128 || (bank.window[n] == bank.window[256 - n] && bank.window[n] > bank.window[n - 1]));
  }
  EXPECT_NEAR(sum, 2.0, 1e-5);
  // Per band: the first bin, then weights summing to 1.63 (from band 10); high-band records
  // from band 50. The counts fill the flat tables exactly.
  int32_t taps = 0, weightFloats = 0, highFloats = 0;
  for (int32_t b = 0; b < kBandCount; ++b) {
    const int32_t w = bank.binWeightCounts[b];
    const float* record = &bank.binWeights[weightFloats];
    EXPECT_EQ(w, b < 9 ? 4 : 5);
    EXPECT_EQ(bank.highBandCounts[b] > 0, b >= 50);
    EXPECT_TRUE(b < 10 || std::fabs(record[1] + record[2] + record[3] + record[4] - 1.63) < 1e-5) << b;
    EXPECT_LE(record[0] + w - 2, 128.0f);
    taps += bank.kernelHalfLengths[b];
    weightFloats += w;
    highFloats += bank.highBandCounts[b];
  }
  EXPECT_EQ(taps, 601);
  EXPECT_EQ(weightFloats, 391);
  EXPECT_EQ(highFloats, 563);
}

TEST(BlobAnalysis, RefusedInputsLeaveTheBlobAlone) {
  const std::vector<float> snare = testaudio::snare(kRate);
  std::vector<float> faint = snare;  // passes the silence test, but nothing survives the gates
  for (float& v : faint) v *= 1e-10f;
  const struct {
    const char* what;
    std::vector<float> samples;
    float rate;
    int32_t frameOffset;
  } cases[] = {
      {"empty", {}, kRate, 0},
      {"zeros", std::vector<float>(4000, 0.0f), kRate, 0},
      {"absolute sum below 1e-20", std::vector<float>(1000, 1e-25f), kRate, 0},
      {"only non-finite", {kNan, kInf, -kInf, kNan}, kRate, 0},
      {"faint", faint, kRate, 0},
      {"NaN rate", snare, kNan, 0},
      {"infinite rate", snare, kInf, 0},
      {"zero rate", snare, 0.0f, 0},
      {"negative rate", snare, -kRate, 0},
      {"frames past the end", snare, kRate, 20000},
  };
  Blob blob = analysed(testaudio::kick(kRate));
  const std::vector<uint8_t> before = bytesOf(blob);
  const uint32_t revision = blob.revision;
  for (const auto& c : cases) {
    EXPECT_FALSE(blob.analyze(c.samples, c.rate, true, c.frameOffset)) << c.what;
    EXPECT_TRUE(bytesOf(blob) == before && blob.revision == revision) << c.what;
  }
  // Non-finite samples inside a hit count as 0.
  std::vector<float> damaged = snare, zeroed = snare;
  for (const auto& [i, bad] : {std::pair{100, kNan}, {2000, kInf}, {3000, -kInf}}) damaged[i] = bad, zeroed[i] = 0.0f;
  EXPECT_EQ(bytesOf(analysed(damaged)), bytesOf(analysed(zeroed)));
}

TEST(BlobAnalysis, DrumsGiveWellFormedBlobsInTheirPlace) {
  const Blob kick = analysed(testaudio::kick(kRate));
  const Blob tom = analysed(testaudio::tom(kRate));
  const Blob snare = analysed(testaudio::snare(kRate));
  const Blob closedHat = analysed(testaudio::closedHat(kRate));
  const Blob openHat = analysed(testaudio::openHat(kRate));
  for (const auto& [blob, name] : {std::pair{&kick, "kick"}, {&tom, "tom"}, {&snare, "snare"},
                                   {&closedHat, "closed hat"}, {&openHat, "open hat"}})
    expectWellFormed(*blob, name);
  EXPECT_LT(std::fmax(bandCentroid(kick), bandCentroid(tom)), 10.0);
  EXPECT_LT(bandCentroid(kick) + 20.0, bandCentroid(snare));
  EXPECT_LT(bandCentroid(snare) + 5.0, bandCentroid(closedHat));
  EXPECT_LT(bandCentroid(snare) + 5.0, bandCentroid(openHat));
  // The open hat rings to the end of the axis; the closed one has stopped well before it.
  EXPECT_GT(openHat.tailPosition, closedHat.tailPosition + 15.0f);
  EXPECT_TRUE(openHat.decayHalfLife[3] > 0.0f && closedHat.decayHalfLife[3] == 0.0f);

  for (int32_t band : {3, 20, 40, 55, 70, 78}) {
    const Blob blob = analysed(testaudio::tone(kRate, kBandCentreHz[static_cast<size_t>(band)]));
    for (size_t m : {1u, 3u}) EXPECT_NEAR(peakBand(blob, m), band, 1) << band;
  }
}

TEST(BlobAnalysis, LeadingSilenceAndWhatFollowsTheHitDoNotMatter) {
  const std::vector<float> hit = testaudio::tom(kRate);
  const std::vector<uint8_t> reference = bytesOf(analysed(hit));
  EXPECT_EQ(bytesOf(analysed(concat(std::vector<float>(13230, 0.0f), hit))), reference);
  EXPECT_EQ(bytesOf(analysed(concat(std::vector<float>(13230, 1e-25f), hit))), reference);
  EXPECT_EQ(bytesOf(analysed(hit, 44100.05f)), reference);  // within 0.1 Hz: not resampled
  // Only the first ~0.6 s reach the blob: quiet noise after the hit gives the same blob
  // whether it lasts one second or two minutes.
  std::vector<float> noise = testaudio::whiteNoise(static_cast<size_t>(120 * kRate), 99u);
  for (float& v : noise) v *= 1e-4f;
  const std::vector<uint8_t> shortTail =
      bytesOf(analysed(concat(hit, std::vector<float>(noise.begin(), noise.begin() + 44100))));
  EXPECT_EQ(bytesOf(analysed(concat(hit, noise))), shortTail);
}

// The kick and the tom, two low sweeps a listener still tells apart, lie more than 3 units
// apart; a change of rate may move a blob by a sixth of that. (At 22.05 kHz the kick's click
// above 11 kHz is lost.)
TEST(BlobAnalysis, OtherSampleRatesGiveCloseBlobs) {
  const Blob kick = analysed(testaudio::kick(kRate));
  const Blob tom = analysed(testaudio::tom(kRate));
  ASSERT_GT(gridDistance(kick, tom), 3.0);
  for (float rate : {22050.0f, 48000.0f, 96000.0f}) {
    EXPECT_LT(gridDistance(analysed(testaudio::kick(rate), rate), kick), 0.5) << rate;
    EXPECT_LT(gridDistance(analysed(testaudio::tom(rate), rate), tom), 0.5) << rate;
  }
}

TEST(BlobAnalysis, AbsurdRatesAndOffsetsGiveBoundedWork) {
  const std::vector<float> hit = testaudio::snare(kRate);
  for (float rate : {1.0f, 1e-40f, 2e9f, FLT_MAX}) {
    Blob blob;
    EXPECT_TRUE(blob.analyze(hit, rate, true, 0)) << rate;
    expectWellFormed(blob, "rate " + std::to_string(rate));
  }
  for (int32_t offset : {-5000, 5000, -2000000000, INT32_MAX}) {
    Blob blob;
    if (blob.analyze(hit, kRate, offset > 0, offset)) expectWellFormed(blob, "offset " + std::to_string(offset));
  }
  // Frames that start 30 s into a long hit: the low cut starts shortly before them.
  Blob late;
  ASSERT_TRUE(late.analyze(testaudio::tone(kRate, kBandCentreHz[30], 31.0), kRate, true, 30 * 44100));
  expectWellFormed(late, "late frames");
  EXPECT_NEAR(peakBand(late, 2), 30, 1);
}
