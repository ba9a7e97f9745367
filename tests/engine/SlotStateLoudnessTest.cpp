#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "engine/EngineTestRig.h"
#include "support/TestAudio.h"

namespace {

using namespace engine_test;

constexpr float kRate = 48000.0f;
constexpr float kBound = 100.0f;
// Track 0's slot B blob in a state block whose first two slot names are empty.
constexpr size_t kSlotBBlob = 2 + 281 * 4 + (1 + 1 + 1137) + (1 + 1);

// Shorter renders of the first note only under the sanitizers and in unoptimised builds; a bad
// gain shows from the first control pass.
#if defined(__SANITIZE_ADDRESS__) || !defined(NDEBUG)
constexpr float kSeconds = 0.1f;
constexpr size_t kNotes = 1;
#else
constexpr float kSeconds = 1.0f;
constexpr size_t kNotes = 2;
#endif

// A blob file whose 16-bit codes are all `code`, or random ones when code is negative.
std::vector<uint8_t> blobFile(int32_t code) {
  std::vector<uint8_t> bytes(Blob::kByteSize, 0);
  bytes[0] = Blob::kFormatVersion;
  uint32_t x = 99u;
  for (size_t i = 1; i + 1 < bytes.size(); i += 2) {
    const uint32_t c = code >= 0 ? static_cast<uint32_t>(code) : (x = x * 1664525u + 1013904223u) >> 16;
    bytes[i] = static_cast<uint8_t>(c & 0xFF);
    bytes[i + 1] = static_cast<uint8_t>(c >> 8);
  }
  return bytes;
}

void loadFile(BandSynth& e, int32_t code) {
  const std::vector<uint8_t> bytes = blobFile(code);
  ASSERT_EQ(e.tracks[0].blobs[0].deserialize(bytes.data(), Blob::kByteSize, nullptr), Blob::kByteSize);
}

// What track 0 (note 36) can hold in its two slots. Slot B is left as the engine built it
// unless the state says otherwise.
const struct {
  const char* name;
  std::function<void(BandSynth&)> make;
} kSlotStates[] = {
    {"fresh", [](BandSynth&) {}},
    {"cleared", [](BandSynth& e) { e.tracks[0].blobs[0].clear(); }},
    {"constructed", [](BandSynth& e) {
       loadTestSounds(e);
       e.tracks[0].blobs[1].present = 1;
     }},
    {"refused read",
     [](BandSynth& e) {
       // A saved state whose slot-B blob carries a version this reader refuses: the slot keeps
       // the blob it had and stays present.
       auto source = std::make_unique<BandSynth>();
       loadTestSounds(*source);
       source->tracks[0].blobs[1].present = 1;
       std::vector<uint8_t> bytes(static_cast<size_t>(source->serialize(nullptr, 0)));
       source->serialize(bytes.data(), static_cast<int32_t>(bytes.size()));
       ASSERT_TRUE(bytes[kSlotBBlob - 2] == 1 && bytes[kSlotBBlob] == Blob::kFormatVersion);
       bytes[kSlotBBlob] = 2;
       bytes.erase(bytes.begin() + kSlotBBlob + 1, bytes.begin() + kSlotBBlob + Blob::kByteSize);
       ASSERT_EQ(e.deserialize(bytes.data(), static_cast<int32_t>(bytes.size())), static_cast<int32_t>(bytes.size()));
       ASSERT_EQ(e.tracks[0].blobs[1].present, 1u);
     }},
    {"analysed", [](BandSynth& e) { ASSERT_TRUE(e.tracks[0].blobs[0].analyze(testaudio::kick(kRate), kRate, true, 0)); }},
    {"all-zero file", [](BandSynth& e) { loadFile(e, 0); }},
    {"all-65535 file", [](BandSynth& e) { loadFile(e, 65535); }},
    {"tiny-span file", [](BandSynth& e) { loadFile(e, 60); }},
    {"random file", [](BandSynth& e) { loadFile(e, -1); }},
};

}  // namespace

// Whatever the slots hold, no "Contrast" and "Transform" setting turns a note into a blast.
TEST(SlotStateLoudness, EverySlotStatePlaysBoundedAtEveryContrastAndTransform) {
  const NoteEvent notes[] = {{0, 36, 1.0f}, {0, 48, 0.3f}};
  const int32_t frames = static_cast<int32_t>(kRate * kSeconds);
  for (const auto& state : kSlotStates)
    for (float contrast : {-100.0f, 0.0f, 100.0f})
      for (float transform : {0.0f, 50.0f, 100.0f})
        for (size_t n = 0; n < kNotes; ++n) {
          // Every cell from silence, so one cell's fault cannot show up in the next.
          auto e = std::make_unique<BandSynth>();
          state.make(*e);
          ASSERT_FALSE(HasFatalFailure()) << state.name;
          e->updateEffectTypes();
          sharedNoiseGenerator().reseed(12345u);
          e->prepare(kRate, 2);
          trackParam(*e, 0, TrackParam::kContrast).setValue(contrast);
          trackParam(*e, 0, TrackParam::kTransform).setValue(transform);
          const Channels out = render(*e, frames, 256, {notes[n]});
          float peak = 0.0f;
          for (const auto& c : out)
            for (float v : c) peak = std::fmax(peak, std::fabs(v));
          EXPECT_TRUE(allFinite(out, kBound))
              << state.name << " contrast " << contrast << " transform " << transform << " note " << notes[n].note
              << " peak " << peak;
        }
}
