#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/core/ByteStream.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes writeInt(int32_t value, int32_t n, bool bigEndian = false) {
  Bytes bytes(static_cast<size_t>(n), 0xAA);
  int32_t pos = 0;
  EXPECT_TRUE(bigEndian ? streamWriteIntBE(bytes.data(), &pos, n, value, n)
                        : streamWriteInt(bytes.data(), &pos, n, value, n));
  EXPECT_EQ(pos, n);
  return bytes;
}

int32_t readInt(const Bytes& bytes, int32_t n, int32_t signedFlag) {
  int32_t pos = 0;
  const int32_t v = streamReadInt(bytes.data(), &pos, static_cast<int32_t>(bytes.size()), n, signedFlag);
  EXPECT_EQ(pos, n);
  return v;
}

// A record through every writer; returns the bytes it takes.
int32_t writeRecord(uint8_t* buffer, int32_t size) {
  int32_t pos = 0;
  const uint8_t raw[5] = {1, 2, 3, 4, 5};
  streamWriteInt(buffer, &pos, size, 4, 2);
  streamWriteFloat(buffer, &pos, size, 0.25f);
  streamWriteString(buffer, &pos, size, "kick*", kStreamStringMaxLen);
  streamWriteBytes(buffer, &pos, size, raw, 5);
  streamWriteIntBE(buffer, &pos, size, 0x123456, 3);
  streamWriteInt(buffer, &pos, size, -1, 1);
  return pos;
}

}  // namespace

TEST(ByteStream, IntegerLayoutsAndBoundaryValues) {
  EXPECT_EQ(writeInt(-2, 2), (Bytes{0xFE, 0xFF}));
  EXPECT_EQ(writeInt(0x01020304, 4), (Bytes{4, 3, 2, 1}));
  EXPECT_EQ(writeInt(0x01020304, 4, true), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(writeInt(0x01020304, 3), (Bytes{4, 3, 2}));
  EXPECT_EQ(writeInt(0x123456, 3, true), (Bytes{0x12, 0x34, 0x56}));

  // Two's complement at every width: the most negative value reads back negative.
  for (int32_t n = 1; n <= 4; ++n) {
    const int64_t half = int64_t{1} << (8 * n - 1);
    for (int64_t v : {-half, -half + 1, int64_t{-1}, int64_t{0}, half - 1})
      EXPECT_EQ(readInt(writeInt(static_cast<int32_t>(v), n), n, 1), v) << n;
    for (int64_t v : {half, 2 * half - 1})  // unsigned; four bytes are the full int32
      EXPECT_EQ(readInt(writeInt(static_cast<int32_t>(v), n), n, 0), static_cast<int32_t>(v)) << n;
  }
}

TEST(ByteStream, FloatsKeepTheirBits) {
  for (float f : {0.0f, -0.0f, 1.0f, -3.5e-38f, 1e38f, std::numeric_limits<float>::infinity()}) {
    uint8_t bytes[4];
    int32_t pos = 0;
    ASSERT_TRUE(streamWriteFloat(bytes, &pos, 4, f));
    pos = 0;
    const float back = streamReadFloat(bytes, &pos, 4);
    EXPECT_EQ(std::memcmp(&back, &f, 4), 0);
    EXPECT_EQ(pos, 4);
    if (f == 1.0f) {
      EXPECT_EQ(Bytes(bytes, bytes + 4), (Bytes{0x00, 0x00, 0x80, 0x3F}));
    }
  }
}

TEST(ByteStream, MeasuringPassEqualsWritingPassAndNothingIsWrittenPastTheSize) {
  const int32_t measured = writeRecord(nullptr, 0);
  EXPECT_EQ(measured, 2 + 4 + 6 + 5 + 3 + 1);
  Bytes buffer(static_cast<size_t>(measured) + 8, 0xCD);
  EXPECT_EQ(writeRecord(buffer.data(), measured), measured);
  EXPECT_EQ(Bytes(buffer.begin() + measured, buffer.end()), Bytes(8, 0xCD));
  int32_t pos = 0;
  std::string name;
  EXPECT_EQ(streamReadInt(buffer.data(), &pos, measured, 2, 0), 4);
  EXPECT_EQ(streamReadFloat(buffer.data(), &pos, measured), 0.25f);
  streamReadString(name, buffer.data(), &pos, measured);
  EXPECT_EQ(name, "kick*");
  EXPECT_EQ(Bytes(buffer.begin() + 12, buffer.begin() + measured),
            (Bytes{1, 2, 3, 4, 5, 0x12, 0x34, 0x56, 0xFF}));

  // Too small for the whole record: the writers stop at its end but advance as before.
  Bytes small(10, 0xCD);
  EXPECT_EQ(writeRecord(small.data(), 7), measured);
  EXPECT_EQ(Bytes(small.begin() + 7, small.end()), Bytes(3, 0xCD));
}

TEST(ByteStream, TruncatedNullAndOutOfRangePositions) {
  const uint8_t three[3] = {1, 2, 3};
  int32_t pos = 1;
  EXPECT_EQ(streamReadInt(three, &pos, 3, 4, 0), 0);  // past the end: 0, and still advances
  EXPECT_EQ(streamReadFloat(three, &pos, 3), 0.0f);
  EXPECT_EQ(pos, 9);
  pos = 0;
  EXPECT_EQ(streamReadInt(nullptr, &pos, 8, 2, 1), 0);
  EXPECT_EQ(pos, 2);
  std::string s = "left";
  streamReadString(s, nullptr, &pos, 4);
  EXPECT_EQ(pos, 2);
  EXPECT_FALSE(streamMatchString(nullptr, 0, 0, "", kStreamStringMaxLen));

  // A negative position has no room: nothing is read or written before the buffer.
  uint8_t bytes[8] = {};
  s = "left";
  pos = -2;
  EXPECT_FALSE(streamWriteInt(bytes, &pos, 8, 0x7777, 4));
  EXPECT_EQ(pos, 2);
  pos = -3;
  EXPECT_FALSE(streamWriteBytes(bytes, &pos, 8, "abcdef", 6));
  pos = -1;
  EXPECT_FALSE(streamWriteString(bytes, &pos, 8, "ab", kStreamStringMaxLen));
  pos = -4;
  EXPECT_EQ(streamReadInt(bytes, &pos, 8, 4, 0), 0);
  pos = -1;
  streamReadString(s, bytes, &pos, 8);
  EXPECT_EQ(s, "");
  EXPECT_EQ(pos, -1);
  EXPECT_EQ(Bytes(bytes, bytes + 8), Bytes(8, 0));

  pos = std::numeric_limits<int32_t>::max() - 2;  // saturates instead of overflowing
  EXPECT_FALSE(streamWriteInt(nullptr, &pos, 0, 1, 4));
  EXPECT_EQ(pos, std::numeric_limits<int32_t>::max());
}

TEST(ByteStream, StringsAndByteCopies) {
  uint8_t room[8] = {9, 9, 9};
  int32_t pos = 0;
  EXPECT_FALSE(streamWriteString(room, &pos, 3, "abc", kStreamStringMaxLen));  // no room for the end
  EXPECT_EQ(pos, 4);
  EXPECT_EQ(room[0], 9);
  pos = 0;
  EXPECT_TRUE(streamWriteString(room, &pos, 8, "abcdefgh", 3));  // cut at maxLen
  EXPECT_EQ(pos, 4);
  EXPECT_STREQ(reinterpret_cast<char*>(room), "abc");
  pos = 0;
  EXPECT_TRUE(streamWriteString(room, &pos, 8, nullptr, kStreamStringMaxLen));
  EXPECT_EQ(pos, 1);

  // At the end: empty and unmoved; unterminated: up to the end, position one past it.
  const uint8_t text[4] = {'a', 'b', 'c', 'd'};
  std::string s = "x";
  pos = 4;
  streamReadString(s, text, &pos, 4);
  EXPECT_EQ(s + std::to_string(pos), "4");
  pos = 1;
  streamReadString(s, text, &pos, 4);
  EXPECT_EQ(s + std::to_string(pos), "bcd5");

  const uint8_t src[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  uint8_t four[4] = {};
  pos = 0;
  EXPECT_FALSE(streamWriteBytes(four, &pos, 4, src, 10));  // a partial copy still advances
  EXPECT_EQ(pos, 10);
  EXPECT_EQ(four[3], 4);
  pos = 2;
  EXPECT_TRUE(streamWriteBytes(four, &pos, 4, src, 0));

  const uint8_t chunk[] = {'F', 'e', 'n', 'r', 'a', 'k', 'S', 't', 'a', 't', 'e', 0, 7};
  EXPECT_TRUE(streamMatchString(chunk, 0, sizeof chunk, "FenrakState", kStreamStringMaxLen));
  EXPECT_FALSE(streamMatchString(chunk, 0, sizeof chunk, "Fenrak", kStreamStringMaxLen));
  EXPECT_FALSE(streamMatchString(chunk, 0, sizeof chunk, "FenrakStateX", kStreamStringMaxLen));
  EXPECT_TRUE(streamMatchString(chunk, 0, sizeof chunk, "FenrakStateX", 11));
  EXPECT_FALSE(streamMatchString(chunk, 0, 6, "FenrakState", kStreamStringMaxLen));
  EXPECT_FALSE(streamMatchString(chunk, -1, sizeof chunk, "F", kStreamStringMaxLen));
}
