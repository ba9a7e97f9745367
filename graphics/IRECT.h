#pragma once

namespace iplug::igraphics {

// A rectangle for bounds and hit tests, left/top inclusive, right/bottom exclusive.
struct IRECT {
  float L = 0.0f;
  float T = 0.0f;
  float R = 0.0f;
  float B = 0.0f;

  IRECT() = default;
  IRECT(float l, float t, float r, float b) : L(l), T(t), R(r), B(b) {}

  float W() const { return R - L; }
  float H() const { return B - T; }
  bool Contains(float x, float y) const { return x >= L && x < R && y >= T && y < B; }
  bool operator==(const IRECT&) const = default;
};

}  // namespace iplug::igraphics
