#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "BlobTestSupport.h"
#include "engine/BandScale.h"
#include "engine/Blob.h"
#include "engine/ContrastCurve.h"

namespace {

// The band centres as they are published, rounded to 0.01 Hz.
const double kPublishedHz[80] = {
    24, 38.42, 53.65, 69.76, 86.79, 104.78, 123.81, 143.91, 165.17, 187.64, 211.39, 236.49, 263.03,
    291.08, 320.73, 352.07, 385.2, 420.22, 457.24, 496.37, 537.73, 581.45, 627.66, 676.51, 728.15,
    782.74, 840.43, 901.42, 965.89, 1034.03, 1106.06, 1182.2, 1262.69, 1347.76, 1437.69, 1532.75,
    1633.23, 1739.44, 1851.71, 1970.39, 2095.83, 2228.43, 2368.6, 2516.76, 2673.37, 2838.92,
    3013.91, 3198.88, 3394.4, 3601.08, 3819.55, 4050.48, 4294.58, 4552.61, 4825.35, 5113.66,
    5418.41, 5740.54, 6081.05, 6440.99, 6821.45, 7223.62, 7648.73, 8098.1, 8573.09, 9075.18,
    9605.91, 10166.92, 10759.93, 11386.77, 12049.36, 12749.75, 13490.1, 14272.68, 15099.9,
    15974.3, 16898.59, 17875.6, 18908.34, 20000};

double contrastReference(double x, double a) {
  if (a > 0) {
    const double y = std::fmax(x - 0.1 * a, 0.0);
    return x + a * ((0.1 * y + 1) * y * y / ((0.4 * y + 0.4) * y + 0.15) - x);
  }
  return x * (1 + a - 0.2 * a * x / (x * x + std::pow(0.1 + 0.08 * a, 2)));
}

}  // namespace

TEST(BlobViews, BandScaleAndContrast) {
  for (size_t b = 0; b < 80; ++b) EXPECT_NEAR(kBandCentreHz[b], kPublishedHz[b], 0.005 + kPublishedHz[b] * 1e-7) << b;
  EXPECT_EQ(kBandCentreHz[79] - kBandCentreHz[78], 1091.65625f);
  // Linear between centres; past either end along the end widths.
  EXPECT_FLOAT_EQ(bandPositionToHz(10.25f), kBandCentreHz[10] + 0.25f * (kBandCentreHz[11] - kBandCentreHz[10]));
  EXPECT_FLOAT_EQ(bandPositionToHz(79.0f), 20000.0f);
  EXPECT_FLOAT_EQ(bandPositionToHz(80.0f), 20000.0f + 1091.65625f);
  EXPECT_FLOAT_EQ(bandPositionToHz(-1.0f), 24.0f - (kBandCentreHz[1] - 24.0f));

  const std::vector<float> inputs = {0.0f, 0.05f, 0.0999f, 0.1f, 0.3f, 1.0f, 2.5f};
  for (float amount : {-1.0f, -0.4f, 0.0f, 0.5f, 1.0f}) {
    std::vector<float> values = inputs;
    applyContrast(values.data(), static_cast<int32_t>(values.size()) - 1, amount);
    for (size_t i = 0; i + 1 < values.size(); ++i)
      EXPECT_NEAR(values[i], contrastReference(inputs[i], amount), 1e-5 * (1 + inputs[i])) << amount << " " << i;
    EXPECT_EQ(values.back(), inputs.back());  // only the first n
  }
}

TEST(BlobViews, MapOfARamp) {
  Blob blob;
  blob.refresh();
  int32_t rows = 0;
  int32_t columns = 0;
  Blob::getGridSizes(rows, columns);
  EXPECT_EQ(rows * 100 + columns, 4149);
  FloatGrid positions = {{1.0f}};  // wrong shapes are replaced
  FloatGrid densities(41, std::vector<float>(3, 0.0f));
  blob.renderMap(positions, densities, 0.0f, false);
  ASSERT_EQ(positions.size(), 41u);
  ASSERT_EQ(densities.size(), 41u);
  // The ramp's points per unit less 7/17 of them, in time and in band.
  const double expected = (40.0 / 96.0) * (1 - 7.0 / 17.0) * (48.0 / 80.0) * (1 - 7.0 / 17.0);
  // The outer nodes sit just outside the picture.
  const auto place = [](int32_t i, int32_t n) { return i == 0 ? -0.001 : i == n ? 1.001 : static_cast<double>(i) / n; };
  for (int32_t r = 0; r < 41; ++r) {
    ASSERT_EQ(positions[r].size(), 98u);
    ASSERT_EQ(densities[r].size(), 49u);
    for (int32_t c = 0; c < 49; ++c) {
      EXPECT_NEAR(densities[r][c], expected, 1e-5);
      EXPECT_NEAR(positions[r][2 * c], place(r, 40), 1e-5);
      EXPECT_NEAR(positions[r][2 * c + 1], place(c, 48), 1e-5);
    }
  }
}

TEST(BlobViews, MapFadesAndNeverNaN) {
  Blob ramp;
  ramp.refresh();
  Blob cleared;
  cleared.clear();
  Blob edited;
  edited.refresh();
  edited.attract(0.3f, 0.2f, 0.2f, 0.2f, 1.0f);
  FloatGrid positions;
  FloatGrid densities;
  for (const Blob* blob : {&ramp, &cleared, &edited}) {
    for (float contrast : {-1.0f, 0.0f, 0.5f, 1.0f}) {
      blob->renderMap(positions, densities, contrast, true);
      ASSERT_TRUE(blob_test::allFinite(positions));
      ASSERT_TRUE(blob_test::allFinite(densities)) << contrast;
      for (int32_t r = 0; r < 41; ++r) EXPECT_NEAR(densities[r][0], 0.0f, 1e-20f);
      for (int32_t c = 0; c < 49; ++c) EXPECT_EQ(densities[0][c], 0.0f);
      for (const auto& row : densities)
        for (float v : row) EXPECT_GE(v, 0.0f);
    }
  }
  // Full contrast silences a plain ramp: the fades then see an all-zero map and keep it so.
  ramp.renderMap(positions, densities, 1.0f, true);
  for (const auto& row : densities)
    for (float v : row) EXPECT_EQ(v, 0.0f);
  // Faded, the middle of an edited blob keeps most of its density and the edges lose it.
  edited.renderMap(positions, densities, 0.0f, false);
  const float middle = densities[20][24];
  edited.renderMap(positions, densities, 0.0f, true);
  EXPECT_GT(densities[20][24], 0.3f * middle);
  EXPECT_LT(densities[1][1], densities[20][24]);
}

TEST(BlobViews, WaveformOfRampTimeCurves) {
  // Ramp time curves pass the rows at 1 / 2.4 per time unit, each of the n points advancing
  // 95 / 2.4 / n rows. The frequency curves bend differently, so each has its own loudness.
  Blob blob;
  for (int32_t m = 0; m < 6; ++m)
    for (int32_t j = 0; j < 49; ++j) blob.gridB[m][j] = 80.0f * std::pow(j / 48.0f, 0.6f + 0.3f * m);
  double loudness[6];
  for (int32_t m = 0; m < 6; ++m) {
    const auto& q = blob.gridB[m];
    double sum = 0;
    for (int32_t j = 1; j <= 47; ++j) {
      const double s = std::fmax(q[j + 1] - q[j - 1], 0.001) * 0.5;
      const double d = std::fmax(1.0 / s - 7.0 / 17.0 * 49.0 / 80.0, 0.0);
      const double band = std::fmin(std::fmax(static_cast<double>(q[j]), 0.0), 78.999);
      const int32_t i = static_cast<int32_t>(band);
      const double hz = kPublishedHz[i] + (band - i) * (kPublishedHz[i + 1] - kPublishedHz[i]);
      sum += (19600.0 / (hz * hz + 19600.0) + 0.01) * std::pow(d, 4) * s;
    }
    loudness[m] = std::pow(sum, 0.25);
  }
  const int32_t n = 64;
  const double step = 95.0 / 2.4 / n;
  std::vector<double> expected(n);
  double sumSquares = 0;
  double peak = 0;
  for (int32_t i = 0; i < n; ++i) {
    const double mid = std::fmin((i + 0.5) * step / 8.0, 4.999);
    const int32_t m = std::min(static_cast<int32_t>(mid), 4);
    const double v = ((1 - (mid - m)) * loudness[m] + (mid - m) * loudness[m + 1]) * (step - 16.882353 / n);
    expected[i] = v * v;
    sumSquares += v * v * v * v;
    peak = std::fmax(peak, v * v);
  }
  const double divisor = std::fmax(2 * std::sqrt(sumSquares / n), peak);
  std::vector<float> out(n, -1.0f);
  Blob::renderWaveform(&blob, nullptr, 0.0f, out);
  for (int32_t i = 0; i < n; ++i) EXPECT_NEAR(out[i], expected[i] / divisor, 2e-4) << i;
}

TEST(BlobViews, WaveformMixAndEdgeCases) {
  Blob a;
  a.refresh();
  a.attract(0.2f, 0.1f, 0.15f, 0.1f, 1.5f);
  Blob b;
  b.refresh();
  b.drag(0.7f, 0.5f, 0.05f, 0.1f, 0.3f, 0.3f);
  std::vector<float> empty;
  Blob::renderWaveform(&a, &b, 0.5f, empty);
  EXPECT_TRUE(empty.empty());

  std::vector<float> alone(37);
  std::vector<float> mixed(37);
  Blob::renderWaveform(&a, nullptr, 0.3f, alone);
  Blob::renderWaveform(&a, &a, 0.3f, mixed);
  EXPECT_EQ(alone, mixed);
  Blob::renderWaveform(&b, nullptr, 0.0f, alone);
  Blob::renderWaveform(&a, &b, 1.0f, mixed);
  for (size_t i = 0; i < mixed.size(); ++i) EXPECT_NEAR(mixed[i], alone[i], 1e-6);
  Blob::renderWaveform(&a, &b, 0.5f, mixed);
  float peak = 0.0f;
  for (float v : mixed) {
    ASSERT_TRUE(v >= 0.0f && v <= 1.0f) << v;
    peak = std::fmax(peak, v);
  }
  EXPECT_GT(peak, 0.0f);

  // Frequency curves spread far beyond the band axis are nowhere dense: the envelope is all
  // zero instead of being divided by zero.
  Blob sparse;
  for (auto& curve : sparse.gridB)
    for (size_t j = 0; j < curve.size(); ++j) curve[j] = 400.0f * j / 48.0f;
  std::vector<float> silent(50, 3.0f);
  Blob::renderWaveform(&sparse, nullptr, 0.0f, silent);
  for (float v : silent) EXPECT_EQ(v, 0.0f);
  std::vector<float> one(1);
  Blob::renderWaveform(&a, &b, 0.4f, one);
  EXPECT_TRUE(std::isfinite(one[0]));
}
