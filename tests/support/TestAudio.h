#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Synthetic drum sounds and audio files for tests. Every sound is generated in code from fixed
// seeds, so a test sees the same samples on every run and machine.
namespace testaudio {

// Peak level of the generated drum sounds: loud, yet clear of clipping in 16-bit files.
inline constexpr float kDrumPeak = 0.8f;

// Kick: a sine swept from 150 Hz down to 45 Hz (f = 45 + 105 e^(-t/0.04)) under an e^(-t/0.25)
// decay, with a one-sample click at the start; 0.6 s.
std::vector<float> kick(double sampleRate);

// Snare: pre-emphasised white noise (x[n] - 0.9 x[n-1]) under an e^(-t/0.08) decay, plus 180 Hz
// and 330 Hz tones under an e^(-t/0.12) decay; 0.4 s.
std::vector<float> snare(double sampleRate, uint32_t seed = 0x5EED5A4Eu);

// Hats: white noise differenced twice (a strong high-pass); the closed hat decays as
// e^(-t/0.03) over 0.15 s, the open hat as e^(-t/0.6) over 2 s.
std::vector<float> closedHat(double sampleRate, uint32_t seed = 0xC105EDu);
std::vector<float> openHat(double sampleRate, uint32_t seed = 0x0BE7A7u);

// Tom: a sine gliding from 120 Hz to 90 Hz (f = 90 + 30 e^(-t/0.1)) under an e^(-t/0.3) decay;
// 1 s.
std::vector<float> tom(double sampleRate);

// A sine of `hz` at `amplitude` with a 5 ms linear fade-in.
std::vector<float> tone(double sampleRate, double hz, double seconds = 0.5, float amplitude = 0.5f);

// Silence of `seconds` with a single 1.0 sample at index `at`.
std::vector<float> impulse(double sampleRate, double seconds = 0.1, size_t at = 0);

// White noise in [-1, 1) from the engine's 32-bit LCG, starting at `seed`.
std::vector<float> whiteNoise(size_t count, uint32_t seed);

enum class AudioFileFormat { kWav16, kAiff24, kFlac16, kWavFloat };

// Bits of an integer sample of `format`; 0 for float files.
int sampleBits(AudioFileFormat format);

// The value a sample reads back as after a trip through a file of `format`: rounded to the
// nearest step of 2^-(bits-1) and clipped to the integer range; float files keep it exactly.
float quantised(float value, AudioFileFormat format);

// Writes the channels (all of the same length) as a file of `format` at `sampleRate`. Integer
// formats are quantised here with `quantised`, so the file holds exactly those values.
// Returns false when the file could not be written; a FLAC file needs at least one frame.
bool writeAudioFile(const std::string& path, AudioFileFormat format,
                    const std::vector<std::vector<float>>& channels, int sampleRate);

// Whole-file byte access, for tests that damage headers.
std::vector<uint8_t> readFileBytes(const std::string& path);
bool writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// A new, empty folder of its own under $OSKRA_DATA_DIR (or /tmp when it is not set), removed
// with everything in it when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return mPath; }
  std::string file(const std::string& name) const { return mPath + "/" + name; }

 private:
  std::string mPath;
};

}  // namespace testaudio
