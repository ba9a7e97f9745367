#pragma once

#include <cstdint>

// The contrast curve shared by the blob map and the voices' band amplitudes, applied in place
// to the first n values (each at least 0). A positive amount pushes small values towards 0 and
// lets large ones follow a soft knee; a negative amount lifts small values towards a plateau;
// 0 leaves the values alone. Amounts are meant to lie in -1..1.
void applyContrast(float* values, int32_t n, float amount);
