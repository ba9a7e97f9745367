#include "engine/blob/AudioFileLoader.h"

#include <sndfile.h>

#include <algorithm>
#include <new>
#include <utility>

namespace {

// Frames decoded per read call: large enough that the per-call overhead vanishes, small enough
// that the working block stays at 2 MB even for the widest accepted file.
constexpr sf_count_t kChunkFrames = 8192;

// The header's frame count only sizes the first reservation, and only up to this many frames
// (4 MB per channel): a header may claim anything, and a small compressed file can claim
// billions of frames. Longer files simply grow their lists as they decode.
constexpr uint64_t kMaxReserveFrames = uint64_t{1} << 20;

// Closes the decoder on every way out, including an allocation failure.
class SoundFile {
 public:
  explicit SoundFile(const char* path) : mFile(sf_open(path, SFM_READ, &mInfo)) {}
  ~SoundFile() {
    if (mFile) sf_close(mFile);
  }
  SoundFile(const SoundFile&) = delete;
  SoundFile& operator=(const SoundFile&) = delete;

  bool isOpen() const { return mFile != nullptr; }
  const SF_INFO& info() const { return mInfo; }
  sf_count_t readFrames(float* interleaved, sf_count_t frames) {
    return sf_readf_float(mFile, interleaved, frames);
  }

 private:
  SF_INFO mInfo{};
  SNDFILE* mFile;
};

// Frame f of `in` (interleaved) becomes the mean of its channels at out[f]. `out` may be `in`:
// frame f is read from index f * channels >= f before out[f] is written.
void mixFrames(const float* in, size_t frames, int channels, float* out) {
  const size_t stride = static_cast<size_t>(channels);
  const float divisor = static_cast<float>(channels);
  for (size_t f = 0; f < frames; ++f) {
    const float* frame = in + f * stride;
    float sum = frame[0];
    for (size_t c = 1; c < stride; ++c) sum += frame[c];
    out[f] = sum / divisor;
  }
}

}  // namespace

void MixDownToMono(std::vector<float>& samples, int channels) {
  if (channels < 1) return;
  const size_t frames = samples.size() / static_cast<size_t>(channels);
  mixFrames(samples.data(), frames, channels, samples.data());
  samples.resize(frames);
}

void LoadAudioFile(const char* path, float* sampleRate, uint32_t* channels,
                   std::vector<std::vector<float>>& out, bool mono, uint64_t maxFrames) {
  out.clear();
  if (path == nullptr) return;

  SoundFile file(path);
  if (!file.isOpen()) return;
  const SF_INFO& info = file.info();
  if (info.channels < 1 || info.channels > kAudioFileMaxChannels || info.samplerate < 1) return;

  const int fileChannels = info.channels;
  const bool mixDown = mono && fileChannels >= 2;
  const size_t outChannels = mono ? 1 : static_cast<size_t>(fileChannels);

  // Never more frames than the global cap, and never more samples than that many stereo
  // frames: a wide file must not multiply the memory a load may take.
  const uint64_t frameCap = std::min(maxFrames, kAudioFileMaxFrames);
  const uint64_t limit = std::min<uint64_t>(frameCap, frameCap * 2 / outChannels);

  try {
    std::vector<std::vector<float>> lists(outChannels);
    const uint64_t claimed = info.frames > 0 ? static_cast<uint64_t>(info.frames) : 0;
    const uint64_t reserve = std::min({claimed, limit, kMaxReserveFrames});
    for (auto& list : lists) list.reserve(reserve);

    std::vector<float> block(static_cast<size_t>(kChunkFrames) * static_cast<size_t>(fileChannels));
    uint64_t kept = 0;
    // The decoder decides where the file ends; its header's length is only a claim.
    while (kept < limit) {
      const sf_count_t wanted =
          static_cast<sf_count_t>(std::min<uint64_t>(kChunkFrames, limit - kept));
      const sf_count_t got = std::min(file.readFrames(block.data(), wanted), wanted);
      if (got <= 0) break;
      const size_t frames = static_cast<size_t>(got);

      if (mixDown) {
        std::vector<float>& list = lists[0];
        const size_t start = list.size();
        list.resize(start + frames);
        mixFrames(block.data(), frames, fileChannels, list.data() + start);
      } else {
        const size_t stride = static_cast<size_t>(fileChannels);
        for (size_t c = 0; c < outChannels; ++c) {
          std::vector<float>& list = lists[c];
          const size_t start = list.size();
          list.resize(start + frames);
          float* dst = list.data() + start;
          for (size_t f = 0; f < frames; ++f) dst[f] = block[f * stride + c];
        }
      }
      kept += frames;
    }
    out = std::move(lists);
  } catch (const std::bad_alloc&) {
    // A file too large for the memory at hand is a failed load, not a crash of the host.
    out.clear();
    return;
  }

  if (sampleRate) *sampleRate = static_cast<float>(info.samplerate);
  if (channels) *channels = static_cast<uint32_t>(outChannels);
}

std::vector<float> LoadAudioFileMono(const char* path, float* sampleRate, bool mono,
                                     uint32_t* channels) {
  std::vector<std::vector<float>> lists;
  LoadAudioFile(path, sampleRate, channels, lists, mono);
  if (lists.empty()) return {};
  // Channel 0 is handed over rather than copied: the caller gets the same samples with one
  // file-sized buffer less.
  return std::move(lists[0]);
}
