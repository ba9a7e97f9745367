#pragma once

#include <cstdint>

// Milliseconds of wall-clock time since the module was loaded. This is what the engine means
// by "the runtime's clock"; the C library's clock() measures CPU time on Linux and is not used.
int64_t runtimeClockMs();

// The same origin in seconds, with sub-millisecond resolution.
double runtimeClockSeconds();
