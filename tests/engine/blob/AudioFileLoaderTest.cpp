#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/blob/AudioFileLoader.h"
#include "support/TestAudio.h"

using testaudio::AudioFileFormat;

namespace {

using Channels = std::vector<std::vector<float>>;
using Bytes = std::vector<uint8_t>;

constexpr AudioFileFormat kAllFormats[] = {AudioFileFormat::kWav16, AudioFileFormat::kAiff24,
                                           AudioFileFormat::kFlac16, AudioFileFormat::kWavFloat};

// No load may keep a list larger than this, whatever a header claims (16 MB of floats).
constexpr size_t kBoundedCapacity = size_t{1} << 22;

const char* extension(AudioFileFormat format) {
  return format == AudioFileFormat::kAiff24 ? ".aiff" : format == AudioFileFormat::kFlac16 ? ".flac" : ".wav";
}

std::vector<float> padded(std::vector<float> v, size_t n) {
  v.resize(n, 0.0f);
  return v;
}

std::vector<float> quantisedAll(std::vector<float> v, AudioFileFormat format) {
  for (float& x : v) x = testaudio::quantised(x, format);
  return v;
}

// What a caller of the loader sees; preset to values no load could write, so "untouched" shows.
struct Load {
  Channels lists{{1.0f, 2.0f}};
  float sampleRate = 0.0f;
  uint32_t channels = 77;
  bool failed() const { return lists.empty() && sampleRate == 0.0f && channels == 77u; }
};

Load load(const std::string& path, bool mono, uint64_t maxFrames = kAudioFileMaxFrames) {
  Load r;
  LoadAudioFile(path.c_str(), &r.sampleRate, &r.channels, r.lists, mono, maxFrames);
  return r;
}

void putLE32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Offset of the body of the RIFF chunk `id`, walking the chunk list.
size_t riffChunkBody(const Bytes& b, const char* id) {
  for (size_t at = 12; at + 8 <= b.size();) {
    const uint32_t size = b[at + 4] | (b[at + 5] << 8) | (b[at + 6] << 16) | (uint32_t{b[at + 7]} << 24);
    if (std::memcmp(&b[at], id, 4) == 0) return at + 8;
    at += 8 + size + (size & 1);
  }
  ADD_FAILURE() << "no chunk " << id;
  return 0;
}

// The FLAC stream-info block's packed 64 bits at offset 18, big-endian: rate (20 bits) |
// channels - 1 (3) | bits - 1 (5) | total frames (36).
constexpr uint64_t kFlacFrames = (uint64_t{1} << 36) - 1;

uint64_t flacPacked(const Bytes& b) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | b[18 + i];
  return v;
}

void putFlacPacked(Bytes& b, uint64_t v) {
  for (int i = 7; i >= 0; --i, v >>= 8) b[18 + i] = static_cast<uint8_t>(v);
}

class AudioFileLoaderTest : public ::testing::Test {
 protected:
  std::string write(const std::string& name, AudioFileFormat format, const Channels& channels, int rate = 44100) {
    const std::string path = folder.file(name);
    EXPECT_TRUE(testaudio::writeAudioFile(path, format, channels, rate)) << path;
    return path;
  }
  // A file of 16-bit samples (or `format`), read back as bytes to be damaged.
  Bytes bytesOf(const std::vector<float>& samples, AudioFileFormat format = AudioFileFormat::kWav16) {
    return testaudio::readFileBytes(write(std::string("src") + extension(format), format, {samples}));
  }
  std::string put(const std::string& name, const Bytes& bytes) {
    testaudio::writeFileBytes(folder.file(name), bytes);
    return folder.file(name);
  }

  testaudio::TempFolder folder;
};

}  // namespace

// Every format at every rate: the channels come back as written, or mixed to their mean in
// mono; the mono entry point without mono hands over the left channel; a mono file comes as it is.
TEST_F(AudioFileLoaderTest, EveryFormatAndRateRoundTrips) {
  for (AudioFileFormat format : kAllFormats) {
    for (int rate : {22050, 44100, 96000, 192000}) {
      const std::vector<float> tom = testaudio::tom(rate);
      const Channels source = {padded(testaudio::closedHat(rate), tom.size()), tom};
      const std::string path = write(std::string("rt") + extension(format), format, source, rate);
      const Load r = load(path, false), mono = load(path, true);
      SCOPED_TRACE(testing::Message() << extension(format) << " " << rate);
      ASSERT_TRUE(r.lists.size() == 2u && r.channels == 2u && mono.lists.size() == 1u && mono.channels == 1u);
      EXPECT_EQ(r.sampleRate, static_cast<float>(rate));
      for (size_t c = 0; c < 2; ++c) EXPECT_EQ(r.lists[c], quantisedAll(source[c], format));
      ASSERT_EQ(mono.lists[0].size(), tom.size());
      for (size_t i = 0; i < tom.size(); ++i) ASSERT_EQ(mono.lists[0][i], (r.lists[0][i] + r.lists[1][i]) / 2.0f) << i;
      float got = 0.0f;
      uint32_t channels = 0;
      EXPECT_EQ(LoadAudioFileMono(path.c_str(), &got, false, &channels), r.lists[0]);
      EXPECT_EQ(channels, 2u);
    }
  }
  const std::vector<float> hat = testaudio::closedHat(96000.0);
  const std::string hatPath = write("hat.wav", AudioFileFormat::kWavFloat, {hat}, 96000);
  float rate = 0.0f;
  EXPECT_EQ(load(hatPath, false).lists, Channels{hat});
  EXPECT_EQ(LoadAudioFileMono(hatPath.c_str(), &rate, true, nullptr), hat);
  EXPECT_EQ(rate, 96000.0f);
}

TEST_F(AudioFileLoaderTest, IntegerCodesDecodeToCodeOverHalfRangeAndFloatsPassAsTheyAre) {
  // Written as exact codes, so the expected value comes from the code, not from a quantiser.
  const struct { AudioFileFormat format; double scale; std::vector<int> codes; } files[] = {
      {AudioFileFormat::kWav16, 32768.0, {0, 1, -1, 32767, -32768, 12345, -20000}},
      {AudioFileFormat::kFlac16, 32768.0, {0, 1, -1, 32767, -32768, 12345, -20000}},
      {AudioFileFormat::kAiff24, 8388608.0, {1, -1, 8388607, -8388608, 1234567}},
  };
  for (const auto& f : files) {
    std::vector<float> expected;
    for (int code : f.codes) expected.push_back(static_cast<float>(code / f.scale));
    EXPECT_EQ(load(write(std::string("codes") + extension(f.format), f.format, {expected}), true).lists,
              Channels{expected});
  }
  // Non-finite float samples are the analysis' to judge; the loader reports what the file holds.
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<float> odd = {0.5f, std::nanf(""), inf, -inf, -0.25f};
  const Load r = load(write("odd.wav", AudioFileFormat::kWavFloat, {odd}), true);
  ASSERT_EQ(r.lists.size(), 1u);
  ASSERT_EQ(r.lists[0].size(), odd.size());
  EXPECT_EQ(std::memcmp(r.lists[0].data(), odd.data(), sizeof(float) * odd.size()), 0);
}

TEST_F(AudioFileLoaderTest, MissingNonAudioAndChannelLessFilesFailWithoutTouchingTheOutArguments) {
  const std::vector<float> hit = padded(testaudio::impulse(44100.0, 0.0, 3), 16);
  const Bytes good = bytesOf(testaudio::whiteNoise(200, 1));
  Bytes noChannels = good;
  noChannels[riffChunkBody(good, "fmt ") + 2] = 0;
  const std::string tooWide = write("wide.wav", AudioFileFormat::kWav16, Channels(kAudioFileMaxChannels + 1, hit));
  for (const std::string& path :
       {folder.file("missing.wav"), folder.path(), put("text.wav", {'k', 'i', 'c', 'k', '\n'}), put("empty.wav", {}),
        put("cut.wav", Bytes(good.begin(), good.begin() + 20)), put("riff.wav", Bytes(good.begin(), good.begin() + 12)),
        put("nochannels.wav", noChannels), tooWide}) {
    for (bool mono : {true, false}) EXPECT_TRUE(load(path, mono).failed()) << path;
    float rate = 0.0f;
    uint32_t channels = 77;
    EXPECT_TRUE(LoadAudioFileMono(path.c_str(), &rate, true, &channels).empty());
    EXPECT_EQ(rate + static_cast<float>(channels), 77.0f) << path;
  }
  Channels lists{{1.0f}};
  LoadAudioFile(nullptr, nullptr, nullptr, lists, true);
  EXPECT_TRUE(lists.empty());

  const Load widest = load(write("widest.wav", AudioFileFormat::kWav16, Channels(kAudioFileMaxChannels, hit)), false);
  ASSERT_EQ(widest.lists.size(), static_cast<size_t>(kAudioFileMaxChannels));
  EXPECT_EQ(widest.lists.back(), quantisedAll(hit, AudioFileFormat::kWav16));
}

TEST_F(AudioFileLoaderTest, ZeroFrameFilesGiveEmptyListsAndTheFilesRate) {
  for (AudioFileFormat format : kAllFormats) {
    std::string path = folder.file(std::string("silent") + extension(format));
    if (format == AudioFileFormat::kFlac16) {
      // A FLAC stream of metadata only, of unknown length: the decoder finds no frames.
      Bytes bytes = testaudio::readFileBytes(write("one.flac", format, Channels(2, {0.5f}), 48000));
      size_t end = 4;
      for (bool last = false; !last;) {
        last = (bytes[end] & 0x80) != 0;
        end += 4 + ((size_t{bytes[end + 1]} << 16) | (size_t{bytes[end + 2]} << 8) | bytes[end + 3]);
      }
      bytes.resize(end);
      putFlacPacked(bytes, flacPacked(bytes) & ~kFlacFrames);
      put(std::string("silent") + extension(format), bytes);
    } else {
      ASSERT_TRUE(testaudio::writeAudioFile(path, format, Channels(2), 48000));
    }
    for (bool mono : {false, true}) {
      const Load r = load(path, mono);
      EXPECT_EQ(r.lists, Channels(mono ? 1 : 2)) << extension(format);
      EXPECT_EQ(r.sampleRate, 48000.0f);
      EXPECT_EQ(r.channels, mono ? 1u : 2u);
    }
  }
}

TEST_F(AudioFileLoaderTest, LengthClaimsAreOnlyHints) {
  const std::vector<float> noise = testaudio::whiteNoise(10000, 7);
  const std::vector<float> wav16 = quantisedAll(noise, AudioFileFormat::kWav16);
  // A WAV data chunk claiming 4 GB loads what is there, in bounded memory.
  Bytes wav = testaudio::readFileBytes(write("noise.wav", AudioFileFormat::kWav16, {noise, noise}));
  putLE32(wav, riffChunkBody(wav, "data") - 4, 0xFFFFFFF0u);
  putLE32(wav, 4, 0xFFFFFFF8u);
  for (bool mono : {true, false}) {
    const Load r = load(put("huge.wav", wav), mono);
    ASSERT_EQ(r.lists.size(), mono ? 1u : 2u);
    EXPECT_EQ(r.lists[0], wav16);
    EXPECT_LE(r.lists[0].capacity(), kBoundedCapacity);
  }

  // A FLAC length of unknown (0), the largest it can state, or too short: the frames that
  // decode are kept and are the right ones.
  const Bytes flac = bytesOf(noise, AudioFileFormat::kFlac16);
  ASSERT_EQ(flacPacked(flac) & kFlacFrames, 10000u);  // the layout is what we think
  ASSERT_EQ(flacPacked(flac) >> 44, 44100u);
  for (uint64_t claim : {uint64_t{0}, kFlacFrames, uint64_t{5000}}) {
    Bytes bytes = flac;
    putFlacPacked(bytes, (flacPacked(flac) & ~kFlacFrames) | claim);
    const Load r = load(put("claim.flac", bytes), true);
    ASSERT_EQ(r.lists.size(), 1u);
    EXPECT_LE(r.lists[0].capacity(), kBoundedCapacity);
    ASSERT_GE(r.lists[0].size(), claim ? std::min<size_t>(claim, 10000) : 10000) << claim;
    ASSERT_LE(r.lists[0].size(), 10000u);
    EXPECT_TRUE(std::equal(r.lists[0].begin(), r.lists[0].end(), wav16.begin())) << claim;
  }

  // A file cut short keeps the whole frames before the cut.
  Bytes cut = bytesOf(noise);
  cut.resize(riffChunkBody(cut, "data") + 2 * 4000 + 1);
  EXPECT_EQ(load(put("cut.wav", cut), true).lists, Channels{std::vector<float>(wav16.begin(), wav16.begin() + 4000)});
}

TEST_F(AudioFileLoaderTest, SampleRatesBelowOneAreRefusedAndPositiveOnesPassedOn) {
  const std::vector<float> noise = testaudio::whiteNoise(4000, 3);
  const Bytes wav = bytesOf(noise);
  const size_t rateAt = riffChunkBody(wav, "fmt ") + 4;
  for (uint32_t rate : {0u, 0xF0000000u, 1u, 0x7FFFFFFFu}) {  // above 2^31 reads as negative
    Bytes bytes = wav;
    putLE32(bytes, rateAt, rate);
    const Load r = load(put("rate.wav", bytes), true);
    if (static_cast<int32_t>(rate) < 1) {
      EXPECT_TRUE(r.failed()) << rate;
    } else {  // absurd but positive: the analysis' to judge
      EXPECT_EQ(r.sampleRate, static_cast<float>(rate));
      EXPECT_EQ(r.lists, Channels{quantisedAll(noise, AudioFileFormat::kWav16)});
    }
  }
  Bytes flac = bytesOf(noise, AudioFileFormat::kFlac16);
  putFlacPacked(flac, flacPacked(flac) & ~(uint64_t{0xFFFFF} << 44));
  EXPECT_TRUE(load(put("rate0.flac", flac), true).failed());
}

TEST_F(AudioFileLoaderTest, FrameCapsKeepTheFirstFrames) {
  const size_t frames = 25000;
  Channels source;
  for (uint32_t c = 0; c < 4; ++c) source.push_back(testaudio::whiteNoise(frames, 100 + c));
  const Channels pair(source.begin(), source.begin() + 2);
  const std::string path = write("long.wav", AudioFileFormat::kWavFloat, pair);
  // Caps below, at and across the decoder's block size, and above the file's length.
  for (uint64_t cap : {uint64_t{0}, uint64_t{1}, uint64_t{8197}, uint64_t{24999}, uint64_t{1} << 20}) {
    const size_t kept = std::min<size_t>(cap, frames);
    const Load stereo = load(path, false, cap);
    ASSERT_EQ(stereo.lists.size(), 2u);
    for (size_t c = 0; c < 2; ++c) EXPECT_EQ(stereo.lists[c], std::vector<float>(pair[c].begin(), pair[c].begin() + kept));
    const Load mono = load(path, true, cap);
    ASSERT_EQ(mono.lists.at(0).size(), kept);
    for (size_t i = 0; i < kept; ++i) ASSERT_EQ(mono.lists[0][i], (pair[0][i] + pair[1][i]) / 2.0f) << i;
  }
  // Four channels kept: half the frames of the stereo cap. Mixed to mono: the full cap.
  const std::string quad = write("quad.wav", AudioFileFormat::kWavFloat, source);
  const Load wide = load(quad, false, 10000);
  ASSERT_EQ(wide.lists.size(), 4u);
  for (size_t c = 0; c < 4; ++c) EXPECT_EQ(wide.lists[c], std::vector<float>(source[c].begin(), source[c].begin() + 5000));
  EXPECT_EQ(load(quad, true, 10000).lists.at(0).size(), 10000u);
}

TEST_F(AudioFileLoaderTest, MultichannelFilesMixDownAsMixDownToMonoDoes) {
  Channels source;
  for (uint32_t c = 0; c < 5; ++c) source.push_back(testaudio::whiteNoise(9000, 200 + c));  // over a decoder block
  std::vector<float> interleaved;
  for (size_t f = 0; f < 9000; ++f)
    for (size_t c = 0; c < 5; ++c) interleaved.push_back(source[c][f]);
  MixDownToMono(interleaved, 5);
  EXPECT_EQ(load(write("five.wav", AudioFileFormat::kWavFloat, source), true).lists, Channels{interleaved});
}

TEST(MixDownToMono, MeanPerFrameInChannelOrder) {
  for (int channels : {2, 3, 7}) {
    for (size_t count : {size_t{0}, size_t{1}, size_t{5}, size_t{6}, size_t{1001}}) {
      std::vector<float> samples = testaudio::whiteNoise(count, static_cast<uint32_t>(count * 31 + channels));
      const std::vector<float> original = samples;
      MixDownToMono(samples, channels);
      ASSERT_EQ(samples.size(), count / channels);  // a trailing partial frame is dropped
      for (size_t f = 0; f < samples.size(); ++f) {
        double sum = 0.0;
        for (int c = 0; c < channels; ++c) sum += original[f * channels + c];
        EXPECT_NEAR(samples[f], sum / channels, 1e-6) << channels << " " << count << " " << f;
      }
    }
  }
  // In channel order 1e8 + 1 rounds back to 1e8 in float and the 1 is lost; any other order or
  // a double sum keeps it.
  std::vector<float> samples = {1e8f, 1.0f, -1e8f, -1e8f, 1.0f, 1e8f, 1e8f, -1e8f, 1.0f};
  MixDownToMono(samples, 3);
  EXPECT_EQ(samples, (std::vector<float>{0.0f, 0.0f, 1.0f / 3.0f}));
  for (int channels : {1, 0, -2}) {  // one channel keeps the list, none leave it alone
    samples = {0.5f, -0.25f, 0.125f};
    MixDownToMono(samples, channels);
    EXPECT_EQ(samples, (std::vector<float>{0.5f, -0.25f, 0.125f})) << channels;
  }
}
