#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/AudioFileLoader.h"
#include "support/TestAudio.h"

using testaudio::AudioFileFormat;
using testaudio::TempFolder;

namespace {

using Channels = std::vector<std::vector<float>>;

constexpr AudioFileFormat kAllFormats[] = {AudioFileFormat::kWav16, AudioFileFormat::kAiff24,
                                           AudioFileFormat::kFlac16, AudioFileFormat::kWavFloat};

// No load may keep a list larger than this, whatever a header claims (16 MB of floats).
constexpr size_t kBoundedCapacity = size_t{1} << 22;

const char* formatName(AudioFileFormat format) {
  switch (format) {
    case AudioFileFormat::kWav16:
      return "wav16";
    case AudioFileFormat::kAiff24:
      return "aiff24";
    case AudioFileFormat::kFlac16:
      return "flac16";
    case AudioFileFormat::kWavFloat:
      return "wavfloat";
  }
  return "?";
}

const char* extension(AudioFileFormat format) {
  return format == AudioFileFormat::kAiff24   ? ".aiff"
         : format == AudioFileFormat::kFlac16 ? ".flac"
                                              : ".wav";
}

std::vector<float> padded(std::vector<float> v, size_t n) {
  v.resize(n, 0.0f);
  return v;
}

std::vector<float> quantisedAll(const std::vector<float>& v, AudioFileFormat format) {
  std::vector<float> out(v.size());
  for (size_t i = 0; i < v.size(); ++i) out[i] = testaudio::quantised(v[i], format);
  return out;
}

// A stereo pair of different drums, equally long.
Channels drumPair(double sampleRate) {
  const std::vector<float> left = testaudio::kick(sampleRate);
  const std::vector<float> right = padded(testaudio::snare(sampleRate), left.size());
  return {left, right};
}

// What a caller of the loader sees; preset to values no load could write, so "untouched" shows.
struct Load {
  Channels lists{{1.0f, 2.0f}};
  float sampleRate = 0.0f;
  uint32_t channels = 77;
};

Load load(const std::string& path, bool mono, uint64_t maxFrames = kAudioFileMaxFrames) {
  Load r;
  LoadAudioFile(path.c_str(), &r.sampleRate, &r.channels, r.lists, mono, maxFrames);
  return r;
}

void expectFailed(const Load& r) {
  EXPECT_TRUE(r.lists.empty());
  EXPECT_EQ(r.sampleRate, 0.0f);
  EXPECT_EQ(r.channels, 77u);
}

// --- little helpers for damaging headers -------------------------------------------------

uint32_t readLE32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

void writeLE32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Offset of the body of the RIFF chunk `id` (after its 8-byte head), walking the chunk list.
size_t riffChunkBody(const std::vector<uint8_t>& b, const char* id) {
  size_t at = 12;
  while (at + 8 <= b.size()) {
    const uint32_t size = readLE32(b, at + 4);
    if (std::memcmp(&b[at], id, 4) == 0) return at + 8;
    at += 8 + size + (size & 1);
  }
  ADD_FAILURE() << "no chunk " << id;
  return 0;
}

// The FLAC stream-info block's packed 64 bits at offset 18: rate (20) | channels-1 (3) |
// bits-1 (5) | total samples (36), big-endian.
constexpr size_t kFlacPackedInfo = 18;

uint64_t readFlacPacked(const std::vector<uint8_t>& b) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | b[kFlacPackedInfo + i];
  return v;
}

void writeFlacPacked(std::vector<uint8_t>& b, uint64_t v) {
  for (int i = 7; i >= 0; --i, v >>= 8) b[kFlacPackedInfo + i] = static_cast<uint8_t>(v);
}

// Offset just past the last metadata block: where the audio frames begin.
size_t flacMetadataEnd(const std::vector<uint8_t>& b) {
  size_t at = 4;  // "fLaC"
  for (bool last = false; !last && at + 4 <= b.size();) {
    last = (b[at] & 0x80) != 0;
    at += 4 + ((size_t{b[at + 1]} << 16) | (size_t{b[at + 2]} << 8) | b[at + 3]);
  }
  return at;
}

class AudioFileLoaderTest : public ::testing::Test {
 protected:
  std::string write(const std::string& name, AudioFileFormat format, const Channels& channels,
                    int sampleRate) {
    const std::string path = folder.file(name);
    EXPECT_TRUE(testaudio::writeAudioFile(path, format, channels, sampleRate)) << path;
    return path;
  }

  TempFolder folder;
};

}  // namespace

// --- decoding --------------------------------------------------------------------------------

TEST_F(AudioFileLoaderTest, StereoIsMixedDownWithMonoAndDeinterleavedWithout) {
  const Channels source = drumPair(48000.0);
  const std::string path = write("pair.wav", AudioFileFormat::kWav16, source, 48000);

  const Load mono = load(path, true);
  ASSERT_EQ(mono.lists.size(), 1u);
  EXPECT_EQ(mono.channels, 1u);
  EXPECT_EQ(mono.sampleRate, 48000.0f);
  ASSERT_EQ(mono.lists[0].size(), source[0].size());
  for (size_t i = 0; i < source[0].size(); ++i) {
    // 16-bit values and their halves are exact in float, so the mean must be exact too.
    const double l = testaudio::quantised(source[0][i], AudioFileFormat::kWav16);
    const double r = testaudio::quantised(source[1][i], AudioFileFormat::kWav16);
    ASSERT_EQ(mono.lists[0][i], static_cast<float>((l + r) / 2.0)) << i;
  }

  const Load stereo = load(path, false);
  ASSERT_EQ(stereo.lists.size(), 2u);
  EXPECT_EQ(stereo.channels, 2u);
  EXPECT_EQ(stereo.sampleRate, 48000.0f);
  EXPECT_EQ(stereo.lists[0], quantisedAll(source[0], AudioFileFormat::kWav16));
  EXPECT_EQ(stereo.lists[1], quantisedAll(source[1], AudioFileFormat::kWav16));

  // The mono entry point with mono not set hands over the left channel.
  float rate = 0.0f;
  uint32_t channels = 0;
  EXPECT_EQ(LoadAudioFileMono(path.c_str(), &rate, false, &channels), stereo.lists[0]);
  EXPECT_EQ(rate, 48000.0f);
  EXPECT_EQ(channels, 2u);
}

TEST_F(AudioFileLoaderTest, MonoFileIsCopiedUnchangedWithOrWithoutMono) {
  const std::vector<float> hat = testaudio::closedHat(96000.0);
  const std::string path = write("hat.wav", AudioFileFormat::kWavFloat, {hat}, 96000);

  for (bool mono : {true, false}) {
    const Load r = load(path, mono);
    ASSERT_EQ(r.lists.size(), 1u);
    EXPECT_EQ(r.channels, 1u);
    EXPECT_EQ(r.lists[0], hat);
  }
  // The importer's call: mono set, no channel pointer.
  float rate = 0.0f;
  EXPECT_EQ(LoadAudioFileMono(path.c_str(), &rate, true, nullptr), hat);
  EXPECT_EQ(rate, 96000.0f);
}

TEST_F(AudioFileLoaderTest, EveryFormatRoundTripsWithinHalfAQuantisationStep) {
  for (AudioFileFormat format : kAllFormats) {
    for (int rate : {22050, 44100, 96000, 192000}) {
      SCOPED_TRACE(std::string(formatName(format)) + " at " + std::to_string(rate));
      const double sr = rate;
      const std::vector<float> tom = testaudio::tom(sr);
      const size_t n = tom.size();
      const Channels first = {padded(testaudio::kick(sr), n), tom};
      const Channels second = {padded(testaudio::closedHat(sr), n),
                               padded(testaudio::tone(sr, 2095.83), n)};
      const Channels third = {padded(testaudio::snare(sr), n),
                              padded(testaudio::impulse(sr, 0.01, 5), n)};

      const int bits = testaudio::sampleBits(format);
      const double halfStep = bits ? std::ldexp(0.5, -(bits - 1)) : 0.0;
      int index = 0;
      for (const Channels* source : {&first, &second, &third}) {
        const std::string path =
            write("rt" + std::to_string(index++) + extension(format), format, *source, rate);
        const Load r = load(path, false);
        ASSERT_EQ(r.lists.size(), 2u);
        EXPECT_EQ(r.sampleRate, static_cast<float>(rate));
        for (size_t c = 0; c < 2; ++c) {
          ASSERT_EQ(r.lists[c].size(), n);
          EXPECT_EQ(r.lists[c], quantisedAll((*source)[c], format));
          double worst = 0.0;
          for (size_t i = 0; i < n; ++i) {
            // A full-scale 1.0 clips to the largest integer value, one step below.
            if ((*source)[c][i] == 1.0f) continue;
            worst = std::max(worst, std::fabs(double{r.lists[c][i]} - (*source)[c][i]));
          }
          EXPECT_LE(worst, halfStep);
        }
      }
    }
  }
}

TEST_F(AudioFileLoaderTest, FileMadeOfIntegerCodesDecodesToCodeOverHalfRange) {
  // Integer codes written directly, so the expected value v / 2^(bits-1) comes from the code
  // and not from the writer's own quantiser.
  const std::vector<int> codes16 = {0, 1, -1, 32767, -32768, 12345, -20000};
  for (AudioFileFormat format : {AudioFileFormat::kWav16, AudioFileFormat::kFlac16}) {
    std::vector<float> source;
    for (int v : codes16) source.push_back(static_cast<float>(v / 32768.0));
    const std::string path =
        write(std::string("codes") + extension(format), format, {source}, 44100);
    const Load r = load(path, true);
    ASSERT_EQ(r.lists.size(), 1u);
    for (size_t i = 0; i < codes16.size(); ++i)
      EXPECT_EQ(r.lists[0][i], static_cast<float>(codes16[i] / 32768.0)) << formatName(format);
  }
  const std::vector<int> codes24 = {1, -1, 8388607, -8388608, 1234567};
  std::vector<float> source;
  for (int v : codes24) source.push_back(static_cast<float>(v / 8388608.0));
  const Load r = load(write("codes.aiff", AudioFileFormat::kAiff24, {source}, 44100), true);
  ASSERT_EQ(r.lists.size(), 1u);
  for (size_t i = 0; i < codes24.size(); ++i)
    EXPECT_EQ(r.lists[0][i], static_cast<float>(codes24[i] / 8388608.0));
}

TEST_F(AudioFileLoaderTest, NonFiniteFloatSamplesArePassedThrough) {
  // The analysis decides what to do with them; the loader reports what the file holds.
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<float> source = {0.5f, std::nanf(""), inf, -inf, -0.25f};
  const Load r = load(write("odd.wav", AudioFileFormat::kWavFloat, {source}, 44100), true);
  ASSERT_EQ(r.lists.size(), 1u);
  ASSERT_EQ(r.lists[0].size(), source.size());
  EXPECT_EQ(r.lists[0][0], 0.5f);
  EXPECT_TRUE(std::isnan(r.lists[0][1]));
  EXPECT_EQ(r.lists[0][2], inf);
  EXPECT_EQ(r.lists[0][3], -inf);
  EXPECT_EQ(r.lists[0][4], -0.25f);
}

// --- failures --------------------------------------------------------------------------------

TEST_F(AudioFileLoaderTest, MissingAndNonAudioFilesFailWithoutTouchingTheOutArguments) {
  const std::string good = write("good.wav", AudioFileFormat::kWav16, drumPair(44100.0), 44100);
  const std::vector<uint8_t> goodBytes = testaudio::readFileBytes(good);
  ASSERT_GT(goodBytes.size(), 100u);

  const std::string text = folder.file("notes.wav");
  testaudio::writeFileBytes(text, {'k', 'i', 'c', 'k', ' ', 'o', 'n', ' ', '1', '\n'});
  const std::string empty = folder.file("empty.wav");
  testaudio::writeFileBytes(empty, {});
  const std::string truncated = folder.file("truncated.wav");
  testaudio::writeFileBytes(truncated,
                            std::vector<uint8_t>(goodBytes.begin(), goodBytes.begin() + 20));
  const std::string riffOnly = folder.file("riff.wav");
  testaudio::writeFileBytes(riffOnly,
                            std::vector<uint8_t>(goodBytes.begin(), goodBytes.begin() + 12));

  for (const std::string& path :
       {folder.file("missing.wav"), text, empty, truncated, riffOnly, folder.path()}) {
    SCOPED_TRACE(path);
    for (bool mono : {true, false}) expectFailed(load(path, mono));
    float rate = 0.0f;
    uint32_t channels = 77;
    EXPECT_TRUE(LoadAudioFileMono(path.c_str(), &rate, true, &channels).empty());
    EXPECT_EQ(rate, 0.0f);
    EXPECT_EQ(channels, 77u);
  }

  Channels lists{{1.0f}};
  LoadAudioFile(nullptr, nullptr, nullptr, lists, true);
  EXPECT_TRUE(lists.empty());
}

TEST_F(AudioFileLoaderTest, ZeroFrameFilesGiveEmptyListsAndTheFilesRate) {
  for (AudioFileFormat format : kAllFormats) {
    SCOPED_TRACE(formatName(format));
    std::string path = folder.file(std::string("silent") + extension(format));
    if (format == AudioFileFormat::kFlac16) {
      // A FLAC stream of metadata only, of unknown length: the decoder finds no frames.
      std::vector<uint8_t> bytes = testaudio::readFileBytes(
          write("one.flac", format, Channels(2, std::vector<float>(1, 0.5f)), 48000));
      bytes.resize(flacMetadataEnd(bytes));
      writeFlacPacked(bytes, readFlacPacked(bytes) & ~((uint64_t{1} << 36) - 1));
      testaudio::writeFileBytes(path, bytes);
    } else {
      ASSERT_TRUE(testaudio::writeAudioFile(path, format, Channels(2), 48000));
    }
    const Load stereo = load(path, false);
    ASSERT_EQ(stereo.lists.size(), 2u);
    EXPECT_TRUE(stereo.lists[0].empty());
    EXPECT_TRUE(stereo.lists[1].empty());
    EXPECT_EQ(stereo.sampleRate, 48000.0f);
    EXPECT_EQ(stereo.channels, 2u);

    const Load mono = load(path, true);
    ASSERT_EQ(mono.lists.size(), 1u);
    EXPECT_TRUE(mono.lists[0].empty());
    EXPECT_EQ(mono.sampleRate, 48000.0f);
    EXPECT_EQ(mono.channels, 1u);
  }
}

TEST_F(AudioFileLoaderTest, ChannelCountsBeyondTheBoundAreRefused) {
  const std::vector<float> hit = padded(testaudio::impulse(44100.0, 0.0, 3), 16);

  Channels widest(kAudioFileMaxChannels, hit);
  const Load accepted = load(write("widest.wav", AudioFileFormat::kWav16, widest, 44100), false);
  ASSERT_EQ(accepted.lists.size(), static_cast<size_t>(kAudioFileMaxChannels));
  EXPECT_EQ(accepted.lists.back(), quantisedAll(hit, AudioFileFormat::kWav16));

  Channels tooWide(kAudioFileMaxChannels + 1, hit);
  const std::string path = write("toowide.wav", AudioFileFormat::kWav16, tooWide, 44100);
  expectFailed(load(path, false));
  expectFailed(load(path, true));

  // A header that claims no channels at all.
  std::vector<uint8_t> bytes =
      testaudio::readFileBytes(write("mono.wav", AudioFileFormat::kWav16, {hit}, 44100));
  const size_t fmt = riffChunkBody(bytes, "fmt ");
  bytes[fmt + 2] = 0;
  bytes[fmt + 3] = 0;
  testaudio::writeFileBytes(folder.file("nochannels.wav"), bytes);
  expectFailed(load(folder.file("nochannels.wav"), true));
}

// --- headers that lie ------------------------------------------------------------------------

TEST_F(AudioFileLoaderTest, WavDataSizeClaimingFourGigabytesLoadsWhatIsThere) {
  const std::vector<float> noise = testaudio::whiteNoise(10000, 7);
  std::vector<uint8_t> bytes =
      testaudio::readFileBytes(write("noise.wav", AudioFileFormat::kWav16, {noise, noise}, 44100));
  writeLE32(bytes, riffChunkBody(bytes, "data") - 4, 0xFFFFFFF0u);
  writeLE32(bytes, 4, 0xFFFFFFF8u);
  const std::string path = folder.file("huge.wav");
  testaudio::writeFileBytes(path, bytes);

  for (bool mono : {true, false}) {
    const Load r = load(path, mono);
    ASSERT_EQ(r.lists.size(), mono ? 1u : 2u);
    EXPECT_EQ(r.lists[0], quantisedAll(noise, AudioFileFormat::kWav16));
    EXPECT_LE(r.lists[0].capacity(), kBoundedCapacity);
  }
}

TEST_F(AudioFileLoaderTest, FlacFrameCountClaimsAreOnlyHints) {
  const std::vector<float> noise = testaudio::whiteNoise(10000, 11);
  const std::vector<uint8_t> original =
      testaudio::readFileBytes(write("noise.flac", AudioFileFormat::kFlac16, {noise}, 44100));
  const uint64_t packed = readFlacPacked(original);
  ASSERT_EQ(packed & ((uint64_t{1} << 36) - 1), 10000u);  // the layout is what we think
  ASSERT_EQ(packed >> 44, 44100u);

  // Unknown length (0) and the largest length the header can state (2^36 - 1).
  for (uint64_t claim : {uint64_t{0}, (uint64_t{1} << 36) - 1, uint64_t{5000}}) {
    SCOPED_TRACE(claim);
    std::vector<uint8_t> bytes = original;
    writeFlacPacked(bytes, (packed & ~((uint64_t{1} << 36) - 1)) | claim);
    const std::string path = folder.file("claim.flac");
    testaudio::writeFileBytes(path, bytes);

    const Load r = load(path, true);
    ASSERT_EQ(r.lists.size(), 1u);
    EXPECT_EQ(r.sampleRate, 44100.0f);
    EXPECT_LE(r.lists[0].capacity(), kBoundedCapacity);
    // Whatever the claim, the frames that decode are kept and are the right ones.
    ASSERT_GE(r.lists[0].size(), std::min<size_t>(claim ? claim : 10000, 10000));
    ASSERT_LE(r.lists[0].size(), 10000u);
    const std::vector<float> expected = quantisedAll(noise, AudioFileFormat::kFlac16);
    for (size_t i = 0; i < r.lists[0].size(); ++i) ASSERT_EQ(r.lists[0][i], expected[i]) << i;
  }
}

TEST_F(AudioFileLoaderTest, SampleRatesBelowOneAreRefusedAndPositiveOnesPassedOn) {
  const std::vector<float> noise = testaudio::whiteNoise(4000, 3);
  const std::vector<uint8_t> wav =
      testaudio::readFileBytes(write("noise.wav", AudioFileFormat::kWav16, {noise}, 44100));
  const size_t fmt = riffChunkBody(wav, "fmt ");
  ASSERT_EQ(readLE32(wav, fmt + 4), 44100u);

  // No rate at all is no usable file.
  std::vector<uint8_t> bytes = wav;
  writeLE32(bytes, fmt + 4, 0);
  testaudio::writeFileBytes(folder.file("rate0.wav"), bytes);
  expectFailed(load(folder.file("rate0.wav"), true));

  // A rate that is absurd but positive is the analysis' to judge; the samples are intact.
  for (uint32_t rate : {1u, 0x7FFFFFFFu}) {
    bytes = wav;
    writeLE32(bytes, fmt + 4, rate);
    testaudio::writeFileBytes(folder.file("rate.wav"), bytes);
    const Load r = load(folder.file("rate.wav"), true);
    ASSERT_EQ(r.lists.size(), 1u) << rate;
    EXPECT_EQ(r.sampleRate, static_cast<float>(rate));
    EXPECT_EQ(r.lists[0], quantisedAll(noise, AudioFileFormat::kWav16));
  }

  // A rate above 2^31 reads as negative.
  bytes = wav;
  writeLE32(bytes, fmt + 4, 0xF0000000u);
  testaudio::writeFileBytes(folder.file("negative.wav"), bytes);
  expectFailed(load(folder.file("negative.wav"), true));

  // FLAC: a stream-info rate of 0 is no usable file either.
  std::vector<uint8_t> flac =
      testaudio::readFileBytes(write("noise.flac", AudioFileFormat::kFlac16, {noise}, 44100));
  writeFlacPacked(flac, readFlacPacked(flac) & ~(uint64_t{0xFFFFF} << 44));
  testaudio::writeFileBytes(folder.file("rate0.flac"), flac);
  expectFailed(load(folder.file("rate0.flac"), true));
}

TEST_F(AudioFileLoaderTest, FileCutShortKeepsTheFramesBeforeTheCut) {
  const std::vector<float> noise = testaudio::whiteNoise(10000, 5);
  std::vector<uint8_t> bytes =
      testaudio::readFileBytes(write("noise.wav", AudioFileFormat::kWav16, {noise}, 44100));
  const size_t data = riffChunkBody(bytes, "data");
  bytes.resize(data + 2 * 4000 + 1);  // 4000 whole frames and half of the next
  testaudio::writeFileBytes(folder.file("cut.wav"), bytes);

  const Load r = load(folder.file("cut.wav"), true);
  ASSERT_EQ(r.lists.size(), 1u);
  ASSERT_EQ(r.lists[0].size(), 4000u);
  const std::vector<float> expected = quantisedAll(noise, AudioFileFormat::kWav16);
  EXPECT_TRUE(std::equal(r.lists[0].begin(), r.lists[0].end(), expected.begin()));
}

TEST_F(AudioFileLoaderTest, LongFilesAreCutAtTheFrameCap) {
  const size_t frames = 25000;
  const Channels source = {testaudio::whiteNoise(frames, 1), testaudio::whiteNoise(frames, 2)};
  const std::string path = write("long.wav", AudioFileFormat::kWavFloat, source, 44100);

  // Caps below, at and across the decoder's block size, and above the file's length.
  for (uint64_t cap : {uint64_t{0}, uint64_t{1}, uint64_t{8192}, uint64_t{8197}, uint64_t{10000},
                       uint64_t{24999}, uint64_t{25000}, uint64_t{1} << 20}) {
    SCOPED_TRACE(cap);
    const size_t kept = std::min<size_t>(cap, frames);
    const Load stereo = load(path, false, cap);
    ASSERT_EQ(stereo.lists.size(), 2u);
    EXPECT_EQ(stereo.sampleRate, 44100.0f);
    for (size_t c = 0; c < 2; ++c)
      EXPECT_EQ(stereo.lists[c], std::vector<float>(source[c].begin(), source[c].begin() + kept));

    const Load mono = load(path, true, cap);
    ASSERT_EQ(mono.lists.size(), 1u);
    ASSERT_EQ(mono.lists[0].size(), kept);
    for (size_t i = 0; i < kept; ++i)
      ASSERT_EQ(mono.lists[0][i], (source[0][i] + source[1][i]) / 2.0f) << i;
  }
}

TEST_F(AudioFileLoaderTest, WideFilesKeepNoMoreSamplesThanTheStereoCap) {
  const size_t frames = 12000;
  Channels source;
  for (uint32_t c = 0; c < 4; ++c) source.push_back(testaudio::whiteNoise(frames, 100 + c));
  const std::string path = write("quad.wav", AudioFileFormat::kWavFloat, source, 44100);

  // Four channels kept: half the frames of the cap. Mixed to mono: the full cap.
  const Load wide = load(path, false, 10000);
  ASSERT_EQ(wide.lists.size(), 4u);
  for (size_t c = 0; c < 4; ++c) {
    ASSERT_EQ(wide.lists[c].size(), 5000u);
    EXPECT_TRUE(std::equal(wide.lists[c].begin(), wide.lists[c].end(), source[c].begin()));
  }
  const Load mono = load(path, true, 10000);
  ASSERT_EQ(mono.lists.size(), 1u);
  EXPECT_EQ(mono.lists[0].size(), 10000u);
}

TEST_F(AudioFileLoaderTest, MultichannelMixDownFollowsTheMixFunction) {
  const size_t frames = 9000;  // more than one decoder block
  Channels source;
  for (uint32_t c = 0; c < 5; ++c) source.push_back(testaudio::whiteNoise(frames, 200 + c));
  const std::string path = write("five.wav", AudioFileFormat::kWavFloat, source, 44100);

  std::vector<float> interleaved;
  for (size_t f = 0; f < frames; ++f)
    for (size_t c = 0; c < 5; ++c) interleaved.push_back(source[c][f]);
  MixDownToMono(interleaved, 5);

  const Load r = load(path, true);
  ASSERT_EQ(r.lists.size(), 1u);
  EXPECT_EQ(r.channels, 1u);
  EXPECT_EQ(r.lists[0], interleaved);
}

// --- MixDownToMono ---------------------------------------------------------------------------

TEST(MixDownToMono, MeanPerFrameAgainstDoubleReference) {
  for (int channels : {2, 3, 4, 7}) {
    for (size_t count : {size_t{0}, size_t{1}, size_t{5}, size_t{6}, size_t{7}, size_t{1001}}) {
      SCOPED_TRACE(std::to_string(channels) + " channels, " + std::to_string(count) + " samples");
      std::vector<float> samples =
          testaudio::whiteNoise(count, static_cast<uint32_t>(count * 31 + channels));
      const std::vector<float> original = samples;
      MixDownToMono(samples, channels);
      const size_t frames = count / channels;  // a trailing partial frame is dropped
      ASSERT_EQ(samples.size(), frames);
      for (size_t f = 0; f < frames; ++f) {
        double sum = 0.0;
        for (int c = 0; c < channels; ++c) sum += original[f * channels + c];
        EXPECT_NEAR(samples[f], sum / channels, 1e-6) << f;
      }
    }
  }
}

TEST(MixDownToMono, SumsInFloatInChannelOrder) {
  // In channel order, 1e8 + 1 rounds back to 1e8 in float and the 1 is lost; any other order
  // or a double sum keeps it.
  std::vector<float> samples = {1e8f, 1.0f, -1e8f, -1e8f, 1.0f, 1e8f, 1e8f, -1e8f, 1.0f};
  MixDownToMono(samples, 3);
  EXPECT_EQ(samples, (std::vector<float>{0.0f, 0.0f, 1.0f / 3.0f}));
}

TEST(MixDownToMono, OneChannelKeepsTheListAndNoChannelsLeaveItAlone) {
  const std::vector<float> original = {0.5f, -0.25f, 0.125f};
  for (int channels : {1, 0, -2}) {
    std::vector<float> samples = original;
    MixDownToMono(samples, channels);
    EXPECT_EQ(samples, original) << channels;
  }
}
