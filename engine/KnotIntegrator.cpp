#include "engine/KnotIntegrator.h"

void KnotIntegrator::init(const float* knotList, int32_t n) {
  knots = knotList;
  knotsB = nullptr;
  count = n;
}

void KnotIntegrator::initBlend(const float* listA, const float* listB, int32_t n, float) {
  knots = listA;
  knotsB = listB;
  count = n;
}

float KnotIntegrator::integral(float) { return 0.0f; }

float KnotIntegrator::integralBlend(float, float) { return 0.0f; }

void resampleKnotDensity(const float*, int32_t, float* out, int32_t bins, float, float, float) {
  for (int32_t i = 0; i < bins; ++i) out[i] = 0.0f;
}

float knotsFromDensity(const float*, int32_t, float*, int32_t, float) { return 0.0f; }

void transposeTable(const float* src, int32_t rows, int32_t cols, float* dst) {
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < cols; ++c) dst[c * rows + r] = src[r * cols + c];
}

bool intersectKnotGrids(const float*, const float*, int32_t, int32_t, float*, float*, int32_t,
                        int32_t) {
  return false;
}
