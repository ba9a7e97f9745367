#include "engine/voice/VoiceCurve.h"

VoiceCurve::VoiceCurve() {
  cursor.knots = nullptr;
  cursor.knotsB = nullptr;
  cursor.count = 0;
  cursor.segment = -1;
  cursor.a = 0.0f;
  cursor.b = 0.0f;
  cursor.c = 0.0f;
  cursor.d = 0.0f;
  cursor.width = 0.0f;
  cursor.prevWidth = 0.0f;
  cursor.nextWidth = 0.0f;
  cursor.mean = 0.0f;
  cursor.base = 0.0f;
  cursor.start = -1.0f;
}

void VoiceCurve::begin(const float* pointsA, const float* pointsB, int32_t count, float m) {
  morph = m;
  cursor.initBlend(pointsA, pointsB, count, m);
}

void VoiceCurve::repoint(const float* pointsA, const float* pointsB) {
  cursor.knots = pointsA;
  cursor.knotsB = pointsB != nullptr ? pointsB : pointsA;
}
