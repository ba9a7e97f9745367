#include "support/TestAudio.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "engine/core/Lcg.h"

namespace testaudio {
namespace {

constexpr double kTwoPi = 6.283185307179586;

size_t sampleCount(double sampleRate, double seconds) {
  return static_cast<size_t>(std::lround(sampleRate * seconds));
}

void normalise(std::vector<float>& samples, float peak) {
  float max = 0.0f;
  for (float s : samples) max = std::max(max, std::fabs(s));
  if (max <= 0.0f) return;
  const double gain = static_cast<double>(peak) / max;
  for (float& s : samples) s = static_cast<float>(s * gain);
}

// A decaying sine whose frequency glides from `endHz + glideHz` towards `endHz`.
std::vector<float> glide(double sampleRate, double seconds, double endHz, double glideHz,
                         double glideTime, double decayTime) {
  std::vector<float> out(sampleCount(sampleRate, seconds));
  double phase = 0.0;
  for (size_t n = 0; n < out.size(); ++n) {
    const double t = n / sampleRate;
    out[n] = static_cast<float>(std::sin(phase) * std::exp(-t / decayTime));
    phase += kTwoPi * (endHz + glideHz * std::exp(-t / glideTime)) / sampleRate;
  }
  return out;
}

std::vector<float> hat(double sampleRate, double seconds, double decayTime, uint32_t seed) {
  const std::vector<float> noise = whiteNoise(sampleCount(sampleRate, seconds), seed);
  std::vector<float> out(noise.size());
  float prev1 = 0.0f;  // x[n-1]
  float prev2 = 0.0f;  // x[n-2]
  for (size_t n = 0; n < out.size(); ++n) {
    const float x = noise[n];
    const double highPassed = x - 2.0 * prev1 + prev2;
    out[n] = static_cast<float>(highPassed * std::exp(-(n / sampleRate) / decayTime));
    prev2 = prev1;
    prev1 = x;
  }
  normalise(out, kDrumPeak);
  return out;
}

}  // namespace

std::vector<float> whiteNoise(size_t count, uint32_t seed) {
  std::vector<float> out(count);
  uint32_t x = seed;
  for (float& s : out) {
    x = lcgStep(x);
    s = static_cast<float>(static_cast<int32_t>(x) / 2147483648.0);
  }
  return out;
}

std::vector<float> kick(double sampleRate) {
  std::vector<float> out = glide(sampleRate, 0.6, 45.0, 105.0, 0.04, 0.25);
  if (!out.empty()) out[0] += 0.5f;  // the beater's click
  normalise(out, kDrumPeak);
  return out;
}

std::vector<float> snare(double sampleRate, uint32_t seed) {
  const std::vector<float> noise = whiteNoise(sampleCount(sampleRate, 0.4), seed);
  std::vector<float> out(noise.size());
  float prev = 0.0f;
  for (size_t n = 0; n < out.size(); ++n) {
    const double t = n / sampleRate;
    const double rattle = (noise[n] - 0.9 * prev) * std::exp(-t / 0.08);
    const double body =
        (std::sin(kTwoPi * 180.0 * t) + std::sin(kTwoPi * 330.0 * t)) * std::exp(-t / 0.12);
    out[n] = static_cast<float>(rattle + 0.5 * body);
    prev = noise[n];
  }
  normalise(out, kDrumPeak);
  return out;
}

std::vector<float> closedHat(double sampleRate, uint32_t seed) {
  return hat(sampleRate, 0.15, 0.03, seed);
}

std::vector<float> openHat(double sampleRate, uint32_t seed) {
  return hat(sampleRate, 2.0, 0.6, seed);
}

std::vector<float> tom(double sampleRate) {
  std::vector<float> out = glide(sampleRate, 1.0, 90.0, 30.0, 0.1, 0.3);
  normalise(out, kDrumPeak);
  return out;
}

std::vector<float> tone(double sampleRate, double hz, double seconds, float amplitude) {
  std::vector<float> out(sampleCount(sampleRate, seconds));
  const double fadeIn = 0.005 * sampleRate;
  for (size_t n = 0; n < out.size(); ++n) {
    const double fade = std::min(1.0, n / fadeIn);
    out[n] = static_cast<float>(amplitude * fade * std::sin(kTwoPi * hz * (n / sampleRate)));
  }
  return out;
}

std::vector<float> impulse(double sampleRate, double seconds, size_t at) {
  std::vector<float> out(std::max(sampleCount(sampleRate, seconds), at + 1), 0.0f);
  out[at] = 1.0f;
  return out;
}

int sampleBits(AudioFileFormat format) {
  switch (format) {
    case AudioFileFormat::kWav16:
    case AudioFileFormat::kFlac16:
      return 16;
    case AudioFileFormat::kAiff24:
      return 24;
    case AudioFileFormat::kWavFloat:
      return 0;
  }
  return 0;
}

namespace {

int64_t quantisedStep(float value, int bits) {
  const double scale = std::ldexp(1.0, bits - 1);
  const double q = std::nearbyint(static_cast<double>(value) * scale);
  return static_cast<int64_t>(std::clamp(q, -scale, scale - 1.0));
}

int libraryFormat(AudioFileFormat format) {
  switch (format) {
    case AudioFileFormat::kWav16:
      return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    case AudioFileFormat::kAiff24:
      return SF_FORMAT_AIFF | SF_FORMAT_PCM_24;
    case AudioFileFormat::kFlac16:
      return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    case AudioFileFormat::kWavFloat:
      return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  }
  return 0;
}

}  // namespace

float quantised(float value, AudioFileFormat format) {
  const int bits = sampleBits(format);
  if (bits == 0) return value;
  return static_cast<float>(quantisedStep(value, bits) / std::ldexp(1.0, bits - 1));
}

bool writeAudioFile(const std::string& path, AudioFileFormat format,
                    const std::vector<std::vector<float>>& channels, int sampleRate) {
  if (channels.empty()) return false;
  const size_t frames = channels[0].size();
  // The library writes a FLAC header only with the first frames: without any it would leave
  // an empty file, which is no FLAC file at all.
  if (frames == 0 && format == AudioFileFormat::kFlac16) return false;
  for (const auto& c : channels) {
    if (c.size() != frames) return false;
  }
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = static_cast<int>(channels.size());
  info.format = libraryFormat(format);
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file) return false;

  const size_t stride = channels.size();
  const int bits = sampleBits(format);
  sf_count_t written = 0;
  if (bits == 0) {
    std::vector<float> interleaved(frames * stride);
    for (size_t f = 0; f < frames; ++f)
      for (size_t c = 0; c < stride; ++c) interleaved[f * stride + c] = channels[c][f];
    written = sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(frames));
  } else {
    // The library's int interface is left-aligned 32-bit: the file keeps the top `bits` bits,
    // so these samples land in the file without any rounding of the library's own.
    std::vector<int> interleaved(frames * stride);
    for (size_t f = 0; f < frames; ++f)
      for (size_t c = 0; c < stride; ++c)
        interleaved[f * stride + c] =
            static_cast<int>(quantisedStep(channels[c][f], bits) * (int64_t{1} << (32 - bits)));
    written = sf_writef_int(file, interleaved.data(), static_cast<sf_count_t>(frames));
  }
  const bool closed = sf_close(file) == 0;
  return closed && written == static_cast<sf_count_t>(frames);
}

std::vector<uint8_t> readFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

TempFolder::TempFolder() {
  const char* dataDir = std::getenv("OSKRA_DATA_DIR");
  const std::filesystem::path base = (dataDir && *dataDir) ? dataDir : "/tmp";
  std::filesystem::create_directories(base);
  std::string pattern = (base / "oskra-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed under " + base.string());
  mPath = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(mPath, ignored);
}

}  // namespace testaudio
