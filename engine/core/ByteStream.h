#pragma once

#include <cstdint>
#include <string>

// Little-endian byte-stream helpers shared by every stored format. A stream is a buffer (may be
// null), a position passed by pointer and a size. Writers called with a null buffer only
// advance the position, so running a serializer once with a null buffer measures its size.
// Readers are tolerant of truncation: a read past the end yields 0 (or "") and still
// advances, so callers compare the final position with the size where it matters.
//
// A negative position counts as "no room": nothing is read or written before the buffer.
// Positions saturate at INT32_MAX instead of overflowing.

constexpr int32_t kStreamStringMaxLen = 4096;

// Writes the low n (1..4) bytes of value, least significant first.
bool streamWriteInt(uint8_t* buffer, int32_t* pos, int32_t size, int32_t value, int32_t n);
// The same with the most significant of the n bytes first (MIDI files).
bool streamWriteIntBE(uint8_t* buffer, int32_t* pos, int32_t size, int32_t value, int32_t n);
bool streamWriteFloat(uint8_t* buffer, int32_t* pos, int32_t size, float value);
// Copies what fits; returns true only when all len bytes were copied. pos += len always.
bool streamWriteBytes(uint8_t* buffer, int32_t* pos, int32_t size, const void* source, int32_t len);
// The bytes of s before its first NUL (at most maxLen) and a NUL. A null s is "".
bool streamWriteString(uint8_t* buffer, int32_t* pos, int32_t size, const char* s, int32_t maxLen);

// n (1..4) bytes little-endian; with signedFlag 1 and n < 4 the value is sign-extended
// (two's complement). Out of room or a null buffer reads 0.
int32_t streamReadInt(const uint8_t* buffer, int32_t* pos, int32_t size, int32_t n, int32_t signedFlag);
float streamReadFloat(const uint8_t* buffer, int32_t* pos, int32_t size);
// The bytes up to the first NUL or the end of the buffer; pos moves past them and the NUL.
// A null buffer or a position at or past the end gives "" and leaves pos alone.
void streamReadString(std::string& out, const uint8_t* buffer, int32_t* pos, int32_t size);
// Whether the NUL-terminated text at pos equals expected (counted up to maxLen). pos is not moved.
bool streamMatchString(const uint8_t* buffer, int32_t pos, int32_t size, const char* expected,
                       int32_t maxLen);
