#pragma once

#include <cstdint>

// How many lanes the vector kernels work at once: 16 (AVX-512), 8 (AVX2) or 4 (SSE, or the
// portable lanes). The wider kernels need instructions that not every x86-64 processor has;
// the widest one this processor runs is chosen. All widths give the same results bit for bit,
// so the choice only changes the speed.
int32_t supportedLaneWidth();
// The width in use: the supported one, or less while a limit is set.
int32_t laneWidth();
// Tests limit the width (4, 8 or 16; anything else lifts the limit) to check the narrower
// kernels on a processor that has the wider ones.
void setLaneWidthLimit(int32_t width);
