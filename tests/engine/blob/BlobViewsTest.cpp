#include <gtest/gtest.h>

#include "engine/blob/BlobTestSupport.h"
#include "engine/dsp/ContrastCurve.h"
#include "engine/dsp/BandScale.h"

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

}  // namespace

TEST(BlobViews, BandScaleAndContrast) {
  for (size_t b = 0; b < 80; ++b) EXPECT_NEAR(kBandCentreHz[b], kPublishedHz[b], 0.005 + kPublishedHz[b] * 1e-7) << b;
  EXPECT_EQ(kBandCentreHz[79] - kBandCentreHz[78], 1091.65625f);
  // Linear between centres; past either end along the end widths.
  EXPECT_FLOAT_EQ(bandPositionToHz(10.25f), kBandCentreHz[10] + 0.25f * (kBandCentreHz[11] - kBandCentreHz[10]));
  EXPECT_FLOAT_EQ(bandPositionToHz(79.0f), 20000.0f);
  EXPECT_FLOAT_EQ(bandPositionToHz(80.0f), 20000.0f + 1091.65625f);
  EXPECT_FLOAT_EQ(bandPositionToHz(-1.0f), 24.0f - (kBandCentreHz[1] - 24.0f));

  // Contrast keeps the order of values; 0 changes nothing, a positive amount pushes quiet values
  // down (full contrast silences everything up to 0.1), a negative one lifts them and lowers
  // loud ones; the larger the amount, the further apart quiet and loud values end.
  std::vector<float> inputs;
  for (float x = 0.0f; x < 2.5f; x += 0.01f) inputs.push_back(x);
  double previousRatio = 0.0;
  for (float amount : {-1.0f, -0.4f, 0.0f, 0.5f, 1.0f}) {
    std::vector<float> values = inputs;
    values.push_back(7.0f);
    applyContrast(values.data(), static_cast<int32_t>(inputs.size()), amount);
    EXPECT_EQ(values.back(), 7.0f);  // only the first n
    for (size_t i = 0; i < inputs.size(); ++i) {
      const float x = inputs[i], y = values[i];
      ASSERT_TRUE(std::isfinite(y) && y >= 0.0f) << amount << " " << x;
      ASSERT_TRUE(i == 0 || y >= values[i - 1] - 1e-6f) << amount << " " << x;
      ASSERT_TRUE(amount != 0.0f || y == x) << x;
      ASSERT_TRUE(amount <= 0.0f || x >= 0.3f || y <= x + 1e-6f) << amount << " " << x;
      ASSERT_TRUE(amount != 1.0f || x > 0.1f || y == 0.0f) << x;
    }
    EXPECT_TRUE(amount >= 0.0f || (values[5] > inputs[5] && values[240] < inputs[240])) << amount;
    const double ratio = values[30] / values[200];  // quiet against loud
    EXPECT_TRUE(amount == -1.0f || ratio < previousRatio) << amount;
    previousRatio = ratio;
  }
}

TEST(BlobViews, MapOfARamp) {
  int32_t rows = 0, columns = 0;
  Blob::getGridSizes(rows, columns);
  ASSERT_TRUE(rows == 41 && columns == 49);
  Blob blob;
  blob.refresh();
  FloatGrid positions = {{1.0f}}, densities(41, std::vector<float>(3, 0.0f));  // wrong shapes are replaced
  blob.renderMap(positions, densities, 0.0f, false);
  ASSERT_EQ(positions.size() + densities.size(), 82u);
  // The ramp's points per unit less 7/17 of them, in time and in band.
  const double expected = (40.0 / 96.0) * (1 - 7.0 / 17.0) * (48.0 / 80.0) * (1 - 7.0 / 17.0);
  // The outer nodes sit just outside the picture.
  const auto place = [](int32_t i, int32_t n) { return i == 0 ? -0.001 : i == n ? 1.001 : static_cast<double>(i) / n; };
  for (int32_t r = 0; r < 41; ++r) {
    ASSERT_EQ(positions[r].size() + densities[r].size(), 98u + 49u);
    for (int32_t c = 0; c < 49; ++c) {
      EXPECT_NEAR(densities[r][c], expected, 1e-5);
      EXPECT_NEAR(positions[r][2 * c], place(r, 40), 1e-5);
      EXPECT_NEAR(positions[r][2 * c + 1], place(c, 48), 1e-5);
    }
  }
}

TEST(BlobViews, MapFadesAndNeverNaN) {
  Blob ramp, cleared, edited;
  ramp.refresh();
  cleared.clear();
  edited.refresh();
  edited.attract(0.3f, 0.2f, 0.2f, 0.2f, 1.0f);
  FloatGrid positions, densities;
  for (const Blob* blob : {&ramp, &cleared, &edited}) {
    for (float contrast : {-1.0f, 0.0f, 0.5f, 1.0f}) {
      blob->renderMap(positions, densities, contrast, true);
      ASSERT_TRUE(blob_test::allFinite(positions) && blob_test::allFinite(densities)) << contrast;
      for (size_t r = 0; r < 41; ++r)  // not negative, and faded to 0 at the first row and column
        for (size_t c = 0; c < 49; ++c) EXPECT_TRUE(densities[r][c] >= 0.0f && (r > 0 || densities[r][c] == 0.0f) && (c > 0 || densities[r][c] < 1e-20f));
    }
  }
  // Full contrast silences a plain ramp: the fades then see an all-zero map and keep it so.
  ramp.renderMap(positions, densities, 1.0f, true);
  EXPECT_EQ(densities, FloatGrid(41, std::vector<float>(49, 0.0f)));
  // Faded, the middle of an edited blob keeps most of its density and the edges lose it.
  edited.renderMap(positions, densities, 0.0f, false);
  const float middle = densities[20][24];
  edited.renderMap(positions, densities, 0.0f, true);
  EXPECT_GT(densities[20][24], 0.3f * middle);
  EXPECT_LT(densities[1][1], densities[20][24]);
}

TEST(BlobViews, WaveformMixAndEdgeCases) {
  const auto wave = [](const Blob* a, const Blob* b, float morph, size_t n) {
    std::vector<float> out(n, 3.0f);
    Blob::renderWaveform(a, b, morph, out);
    return out;
  };
  Blob a;
  a.refresh();
  a.attract(0.2f, 0.1f, 0.15f, 0.1f, 1.5f);
  Blob b;
  b.refresh();
  b.drag(0.7f, 0.5f, 0.05f, 0.1f, 0.3f, 0.3f);
  EXPECT_TRUE(wave(&a, &b, 0.5f, 0).empty());
  EXPECT_EQ(wave(&a, nullptr, 0.3f, 37), wave(&a, &a, 0.3f, 37));  // a null b means a
  const std::vector<float> atB = wave(&b, nullptr, 0.0f, 37), mixed = wave(&a, &b, 1.0f, 37);
  for (size_t i = 0; i < mixed.size(); ++i) EXPECT_NEAR(mixed[i], atB[i], 1e-6);
  const std::vector<float> half = wave(&a, &b, 0.5f, 37);
  EXPECT_TRUE(std::all_of(half.begin(), half.end(), [](float v) { return v >= 0.0f && v <= 1.0f; }));
  EXPECT_GT(*std::max_element(half.begin(), half.end()), 0.0f);
  EXPECT_TRUE(std::isfinite(wave(&a, &b, 0.4f, 1)[0]));
  // Ramps pass the rows evenly: a flat envelope. Time curves crowded at the start: a falling one.
  Blob ramp, early;
  for (auto& curve : early.gridA)
    for (size_t i = 0; i < curve.size(); ++i) curve[i] = 96.0f * (i / 40.0f) * (i / 40.0f);
  const std::vector<float> even = wave(&ramp, nullptr, 0.0f, 64), falling = wave(&early, nullptr, 0.0f, 64);
  const auto [low, high] = std::minmax_element(even.begin(), even.end());
  EXPECT_TRUE(*low > 0.1f && *high - *low < 1e-4f) << *low << " " << *high;
  EXPECT_GT(falling[2], 2.0f * falling[60]);
  // Frequency curves spread far beyond the band axis are nowhere dense: the envelope is all
  // zero instead of being divided by zero.
  Blob sparse;
  for (auto& curve : sparse.gridB)
    for (size_t j = 0; j < curve.size(); ++j) curve[j] = 400.0f * j / 48.0f;
  EXPECT_EQ(wave(&sparse, nullptr, 0.0f, 50), std::vector<float>(50, 0.0f));
}
