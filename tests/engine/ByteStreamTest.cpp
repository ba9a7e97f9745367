#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/ByteStream.h"

namespace {

std::vector<uint8_t> writeInt(int32_t value, int32_t n, bool bigEndian = false) {
  std::vector<uint8_t> bytes(static_cast<size_t>(n), 0xAA);
  int32_t pos = 0;
  const bool ok = bigEndian ? streamWriteIntBE(bytes.data(), &pos, n, value, n)
                            : streamWriteInt(bytes.data(), &pos, n, value, n);
  EXPECT_TRUE(ok);
  EXPECT_EQ(pos, n);
  return bytes;
}

int32_t readInt(const std::vector<uint8_t>& bytes, int32_t n, int32_t signedFlag) {
  int32_t pos = 0;
  const int32_t v = streamReadInt(bytes.data(), &pos, static_cast<int32_t>(bytes.size()), n, signedFlag);
  EXPECT_EQ(pos, n);
  return v;
}

// A small composite record written through every writer, used for the measuring pass.
int32_t writeRecord(uint8_t* buffer, int32_t size) {
  int32_t pos = 0;
  streamWriteInt(buffer, &pos, size, 4, 2);
  streamWriteFloat(buffer, &pos, size, 0.25f);
  streamWriteString(buffer, &pos, size, "kick*", kStreamStringMaxLen);
  const uint8_t raw[5] = {1, 2, 3, 4, 5};
  streamWriteBytes(buffer, &pos, size, raw, 5);
  streamWriteIntBE(buffer, &pos, size, 0x123456, 3);
  streamWriteInt(buffer, &pos, size, -1, 1);
  return pos;
}

}  // namespace

TEST(ByteStream, IntegersAreLittleEndianAndBigEndianOnRequest) {
  EXPECT_EQ(writeInt(-2, 2), (std::vector<uint8_t>{0xFE, 0xFF}));
  EXPECT_EQ(writeInt(0x1234, 2, true), (std::vector<uint8_t>{0x12, 0x34}));
  EXPECT_EQ(writeInt(0x01020304, 4), (std::vector<uint8_t>{4, 3, 2, 1}));
  EXPECT_EQ(writeInt(0x01020304, 4, true), (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(writeInt(0x01020304, 3), (std::vector<uint8_t>{4, 3, 2}));
}

TEST(ByteStream, BoundaryValuesRoundTripForEveryWidth) {
  for (int32_t n = 1; n <= 4; ++n) {
    SCOPED_TRACE(n);
    const int64_t bits = 8 * n;
    const int64_t smin = -(int64_t{1} << (bits - 1));
    const int64_t smax = (int64_t{1} << (bits - 1)) - 1;
    for (int64_t v : {smin, smin + 1, int64_t{-1}, int64_t{0}, int64_t{1}, smax - 1, smax}) {
      EXPECT_EQ(readInt(writeInt(static_cast<int32_t>(v), n), n, 1), v);
    }
    if (n < 4) {
      const int64_t umax = (int64_t{1} << bits) - 1;
      for (int64_t v : {int64_t{0}, smax, smax + 1, umax}) {
        EXPECT_EQ(readInt(writeInt(static_cast<int32_t>(v), n), n, 0), v);
      }
    }
  }
}

TEST(ByteStream, SignExtensionIsTwosComplement) {
  EXPECT_EQ(readInt({0xFF, 0xFF}, 2, 1), -1);
  EXPECT_EQ(readInt({0x00, 0x80}, 2, 1), -32768);
  EXPECT_EQ(readInt({0x00, 0x80}, 2, 0), 32768);
  EXPECT_EQ(readInt({0x80}, 1, 1), -128);
  EXPECT_EQ(readInt({0x81}, 1, 1), -127);
  EXPECT_EQ(readInt({0x7F}, 1, 1), 127);
  EXPECT_EQ(readInt({0x00, 0x00, 0x80}, 3, 1), -8388608);
  EXPECT_EQ(readInt({0xFF, 0xFF, 0xFF, 0xFF}, 4, 0), -1);  // four bytes are the full i32
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
  }
  uint8_t one[4];
  int32_t pos = 0;
  streamWriteFloat(one, &pos, 4, 1.0f);
  EXPECT_EQ(one[0], 0x00);
  EXPECT_EQ(one[3], 0x3F);
  EXPECT_EQ(one[2], 0x80);
}

TEST(ByteStream, MeasuringPassEqualsWritingPassAndNothingIsWrittenPastTheSize) {
  const int32_t measured = writeRecord(nullptr, 0);
  EXPECT_EQ(measured, 2 + 4 + 6 + 5 + 3 + 1);
  std::vector<uint8_t> buffer(static_cast<size_t>(measured) + 8, 0xCD);
  EXPECT_EQ(writeRecord(buffer.data(), measured), measured);
  for (size_t i = static_cast<size_t>(measured); i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xCD);

  // Reading back what was written.
  int32_t pos = 0;
  EXPECT_EQ(streamReadInt(buffer.data(), &pos, measured, 2, 0), 4);
  EXPECT_EQ(streamReadFloat(buffer.data(), &pos, measured), 0.25f);
  std::string name;
  streamReadString(name, buffer.data(), &pos, measured);
  EXPECT_EQ(name, "kick*");
  pos += 5;
  EXPECT_EQ(pos, 17);
  EXPECT_EQ(buffer[17], 0x12);
  EXPECT_EQ(buffer[19], 0x56);

  // A buffer too small for the whole record: the writers stop at its end but advance as before.
  std::vector<uint8_t> small(10, 0xCD);
  std::vector<uint8_t> guard(small);
  EXPECT_EQ(writeRecord(small.data(), 7), measured);
  for (size_t i = 7; i < small.size(); ++i) EXPECT_EQ(small[i], 0xCD);
}

TEST(ByteStream, TruncatedInputReadsZeroAndStillAdvances) {
  const uint8_t bytes[3] = {1, 2, 3};
  int32_t pos = 1;
  EXPECT_EQ(streamReadInt(bytes, &pos, 3, 4, 0), 0);
  EXPECT_EQ(pos, 5);
  EXPECT_EQ(streamReadFloat(bytes, &pos, 3), 0.0f);
  EXPECT_EQ(pos, 9);
  pos = 0;
  EXPECT_EQ(streamReadInt(nullptr, &pos, 8, 2, 1), 0);  // a null buffer reads 0 and advances
  EXPECT_EQ(pos, 2);
}

TEST(ByteStream, NegativePositionsHaveNoRoom) {
  uint8_t bytes[8] = {};
  int32_t pos = -2;
  EXPECT_FALSE(streamWriteInt(bytes, &pos, 8, 0x7777, 4));
  EXPECT_EQ(pos, 2);
  pos = -3;
  EXPECT_FALSE(streamWriteBytes(bytes, &pos, 8, "abcdef", 6));
  EXPECT_EQ(pos, 3);
  pos = -1;
  EXPECT_FALSE(streamWriteString(bytes, &pos, 8, "ab", kStreamStringMaxLen));
  pos = -4;
  EXPECT_EQ(streamReadInt(bytes, &pos, 8, 4, 0), 0);
  std::string s = "left";
  pos = -1;
  streamReadString(s, bytes, &pos, 8);
  EXPECT_EQ(s, "");
  EXPECT_EQ(pos, -1);
  for (uint8_t b : bytes) EXPECT_EQ(b, 0);
}

TEST(ByteStream, PositionsSaturateInsteadOfOverflowing) {
  int32_t pos = std::numeric_limits<int32_t>::max() - 2;
  EXPECT_FALSE(streamWriteInt(nullptr, &pos, 0, 1, 4));
  EXPECT_EQ(pos, std::numeric_limits<int32_t>::max());
}

TEST(ByteStream, Strings) {
  int32_t pos = 0;
  EXPECT_FALSE(streamWriteString(nullptr, &pos, 0, "abc", kStreamStringMaxLen));
  EXPECT_EQ(pos, 4);
  uint8_t room[3] = {9, 9, 9};
  pos = 0;
  EXPECT_FALSE(streamWriteString(room, &pos, 3, "abc", kStreamStringMaxLen));
  EXPECT_EQ(pos, 4);
  EXPECT_EQ(room[0], 9);

  uint8_t cut[8] = {};
  pos = 0;
  EXPECT_TRUE(streamWriteString(cut, &pos, 8, "abcdefgh", 3));  // maxLen cuts the text
  EXPECT_EQ(pos, 4);
  EXPECT_STREQ(reinterpret_cast<char*>(cut), "abc");
  pos = 0;
  EXPECT_TRUE(streamWriteString(cut, &pos, 8, nullptr, kStreamStringMaxLen));
  EXPECT_EQ(pos, 1);

  // At the end of the buffer: empty and unmoved; unterminated: up to the end, pos = size + 1.
  const uint8_t text[4] = {'a', 'b', 'c', 'd'};
  std::string s = "x";
  pos = 4;
  streamReadString(s, text, &pos, 4);
  EXPECT_EQ(s, "");
  EXPECT_EQ(pos, 4);
  pos = 1;
  streamReadString(s, text, &pos, 4);
  EXPECT_EQ(s, "bcd");
  EXPECT_EQ(pos, 5);
  pos = 0;
  streamReadString(s, nullptr, &pos, 4);
  EXPECT_EQ(pos, 0);
}

TEST(ByteStream, PartialByteCopies) {
  uint8_t room[4] = {};
  const uint8_t src[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  int32_t pos = 0;
  EXPECT_FALSE(streamWriteBytes(room, &pos, 4, src, 10));
  EXPECT_EQ(pos, 10);
  EXPECT_EQ(room[3], 4);
  pos = 0;
  EXPECT_TRUE(streamWriteBytes(room, &pos, 4, src, 4));
  pos = 2;
  EXPECT_TRUE(streamWriteBytes(room, &pos, 4, src, 0));
  pos = 0;
  EXPECT_FALSE(streamWriteBytes(nullptr, &pos, 0, src, 7));
  EXPECT_EQ(pos, 7);
}

TEST(ByteStream, MatchStringComparesWholeTextWithoutMoving) {
  const uint8_t chunk[] = {'F', 'e', 'n', 'r', 'a', 'k', 'S', 't', 'a', 't', 'e', 0, 7};
  EXPECT_TRUE(streamMatchString(chunk, 0, sizeof chunk, "FenrakState", kStreamStringMaxLen));
  EXPECT_FALSE(streamMatchString(chunk, 0, sizeof chunk, "Fenrak", kStreamStringMaxLen));
  EXPECT_FALSE(streamMatchString(chunk, 0, sizeof chunk, "FenrakStateX", kStreamStringMaxLen));
  EXPECT_TRUE(streamMatchString(chunk, 0, sizeof chunk, "FenrakStateX", 11));  // counted to maxLen
  EXPECT_FALSE(streamMatchString(chunk, 0, 6, "FenrakState", kStreamStringMaxLen));  // cut short
  EXPECT_FALSE(streamMatchString(nullptr, 0, 0, "", kStreamStringMaxLen));
  EXPECT_FALSE(streamMatchString(chunk, -1, sizeof chunk, "F", kStreamStringMaxLen));
}
