#pragma once

#include <complex>
#include <cstdint>

// Solves for the chain z_0 .. z_{n-1} that minimises
//   sum_i w_i·|z_i - x_i|²  +  sum_i s_i·|z_{i+1} - c_i·z_i|²
// when a_i = |c_i|²: each value is tied to its own data by a real weight and to its neighbour
// by a real coupling weight and a complex step factor. One forward elimination and one back
// substitution of the tridiagonal system, in linear time.
//
// x, z: n values; w, den: n values; c, a, s: n - 1 values. x and z may be the same buffer
// (each x_i is read before z_i is written). den is left holding the forward pivots. No
// allocation; n <= 0 does nothing.
void smoothComplexChain(const std::complex<float>* x, int32_t n, const float* w, const std::complex<float>* c,
                        const float* a, const float* s, std::complex<float>* z, float* den);

// Independent chains side by side, four per group of lanes: every array holds value i of
// group g (any number of groups) at [4·(groups·i + g)], lanes 0..3 of the group in order, with
// the complex values split into real and imaginary arrays. Each lane's result is exactly what
// smoothComplexChain gives for that lane's chain alone; the groups' chains overlap in time, so
// several groups cost little more than one. In place (x == z) as above.
void smoothComplexChainLanes(const float* xRe, const float* xIm, int32_t n, const float* w, const float* cRe,
                             const float* cIm, const float* a, const float* s, float* zRe, float* zIm, float* den,
                             int32_t groups);
