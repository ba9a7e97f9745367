#include <gtest/gtest.h>

#include <complex>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "engine/dsp/SpectralSynth.h"

namespace {

// Reading many synthesisers at once gives what reading each alone gives, bit for bit: shelves
// on and off, content ending (the shelf's tail, then silence, then a drained ring read as
// silence at once), content coming back after that, reads that wrap round the ring or are
// longer than a hop, and a two-channel synthesiser among them; one synthesiser alone (with and
// without a shelf), a few, and more than two lane groups.
TEST(SpectralSynthMany, ReadsLikeEachAlone) {
  // First synthesiser and count: synthesiser 3 has no shelf to run.
  for (const auto& [first, kCount] : {std::pair{0, 1}, {3, 1}, {0, 3}, {0, 10}}) {
    auto make = [](int k) {
      auto synth = std::make_unique<SpectralSynth>(256, k == 7 ? 2 : 1, 64);
      synth->setSampleRate(48000.0f, 2.0f + static_cast<float>(k), k == 3 ? 1.0f : 10.0f);
      return synth;
    };
    std::vector<std::unique_ptr<SpectralSynth>> together, alone;
    for (int k = 0; k < kCount; ++k) {
      together.push_back(make(first + k));
      alone.push_back(make(first + k));
    }
    const int reads[] = {64, 64, 37, 64, 91, 64, 64, 64, 64, 64, 64, 64, 64, 64,
                         64, 64, 64, 64, 64, 64, 64, 64, 27, 64, 64, 64, 64, 64};
    for (int hop = 0; hop < 28; ++hop) {
      for (int k = 0; k < kCount; ++k) {
        // The synthesisers fall quiet one after another; some sound again later.
        if (hop < 4 + k || (hop >= 20 && hop < 24 && k % 3 == 0)) {
          const std::complex<float> value(0.3f + 0.1f * static_cast<float>(k), -0.2f * static_cast<float>(hop % 3));
          const std::complex<float>* values[2] = {&value, &value};
          together[size_t(k)]->addBins(values, 2 + k, 1, together[size_t(k)]->channels());
          alone[size_t(k)]->addBins(values, 2 + k, 1, alone[size_t(k)]->channels());
        }
        together[size_t(k)]->synthesizeFrame(together[size_t(k)]->channels());
        alone[size_t(k)]->synthesizeFrame(alone[size_t(k)]->channels());
      }
      const int n = reads[hop];
      std::vector<std::vector<float>> outTogether(kCount, std::vector<float>(size_t(n), -1.0f));
      std::vector<std::vector<float>> outAlone = outTogether;
      SpectralSynth* synths[10];
      float* out[10];
      bool silentTogether[10];
      for (int k = 0; k < kCount; ++k) {
        synths[k] = together[size_t(k)].get();
        out[k] = outTogether[size_t(k)].data();
      }
      SpectralSynth::readMono(synths, out, kCount, n, silentTogether);
      for (int k = 0; k < kCount; ++k) {
        float* channel = outAlone[size_t(k)].data();
        bool silentAlone = false;
        alone[size_t(k)]->read(&channel, 0, n, 1, &silentAlone);
        EXPECT_EQ(silentTogether[k], silentAlone) << first << "+" << kCount << " hop " << hop << " synth " << k;
        ASSERT_EQ(std::memcmp(outTogether[size_t(k)].data(), outAlone[size_t(k)].data(), sizeof(float) * size_t(n)), 0)
            << first << "+" << kCount << " hop " << hop << " synth " << k;
      }
    }
  }
}

}  // namespace
