#pragma once

#include <array>
#include <cstdint>

#include "engine/blob/Blob.h"
#include "engine/voice/VoiceCurve.h"

struct ReferenceModel;

// The synthesis state of one drum voice: it walks the voice's two blobs in blob time and turns
// them into the amplitudes of the 80 bands, once per rendered frame.
//
// A blob is a mesh whose node density is loudness. At time t each time curve is read
// backwards: the row it reaches says how far the sound has come along that column, and how
// fast that row advances is the loudness in time. The frequency curves, read at those rows,
// give every column's frequency; how many columns fall into a band is the loudness in
// frequency. A band's amplitude is the product of the two.
//
// A reference model (modelIndex 0..6) lets velocity change the timing, the pitch and the band
// profile besides loudness; a negative modelIndex means none.
struct DrumVoiceSynth {
  static constexpr int32_t kBands = 80;
  static constexpr int32_t kCurves = Blob::kTimeCurves;            // 7
  static constexpr int32_t kColumns = Blob::kFrequencyPoints;      // 49
  static constexpr int32_t kFrequencyCurves = Blob::kFrequencyCurves;  // 6
  static constexpr int32_t kProfilePoints = 12;
  // Past this blob time the rows stop advancing and the rates decay by the blobs' half-lives.
  static constexpr float kTailStart = Blob::kTimeRange;
  static constexpr float kUnsetRow = 1e9f;

  // Set by the engine before every block.
  float transform = 0.0f;       // morph between blobA (0) and blobB (1) for this block
  float frequencyShift = 0.0f;  // shift of the whole sound in bands, positive upwards
  float amplitude = 1.0f;       // power gain; its square root scales the amplitudes
  float contrast = 0.0f;        // -1..1

  // Set by start.
  const Blob* blobA = nullptr;
  const Blob* blobB = nullptr;
  std::array<VoiceCurve, kCurves> curves;
  float elapsed = 0.0f;         // position in blob time units
  float elapsedFrames = 0.0f;   // the same position in frames
  float level = 1.0f;           // in the tail: the loudest remaining row rate, squared
  int32_t modelIndex = -1;      // set by setModel
  float velocity = 0.0f;
  float gainScale = 1.0f;
  // The model's band gain profile at this velocity; one more entry repeats the last, so the
  // profile can be read linearly up to its end.
  std::array<float, kProfilePoints + 1> modelProfile;
  // The profile spread over the bands, linear between its points: made when the profile is.
  alignas(64) std::array<float, kBands> bandProfile;
  // The model's values (profile, time maps, pitch offsets) at the voice's velocity, mixed from
  // its two velocity layers when the model or the velocity is new to the voice.
  static constexpr int32_t kModelValues = 272;
  std::array<float, kModelValues> modelValues;
  const ReferenceModel* mixedModel = nullptr;
  float mixedVelocity = 0.0f;

  // Working lists. columnFrequencies holds the 49 columns and a sentinel above them;
  // modelOffsets the per-curve offsets with one extrapolated entry at each end.
  alignas(64) std::array<float, 53> columnFrequencies;
  std::array<float, 11> rowPositions;
  alignas(64) std::array<float, 11> rowRates;
  alignas(64) std::array<float, 11> curveRows;
  std::array<float, 9> modelOffsets;

  DrumVoiceSynth();

  // Prepares a note: b may be null (a plays alone), morph 0 = a, 1 = b for the time curves.
  // The rows start unset, so a reused voice renders like a fresh one.
  void start(const Blob* a, const Blob* b, float morph, float velocity, float gainScale);
  // index = the track's "Model" value - 4: 0..6 select a reference model, below 0 none.
  void setModel(int32_t index);
  // Points the voice at fresh copies of its blobs (the same sounds, newly handed over) without
  // restarting it. b may be null.
  void setBlobs(const Blob* a, const Blob* b);

  // Spreads modelProfile over the bands (bandProfile); start does, after setting the profile.
  void spreadProfile();
  // modelValues for this model at the current velocity, mixed anew only when either changed.
  const float* modelAtVelocity(const ReferenceModel& model);

  // Moves the voice on by dtFrames and writes the 80 band powers (squared amplitudes).
  void advance(float dtFrames, float* out);
  // Moves the voice on by delta blob time units and writes the 80 band amplitudes. scratch
  // (80 values, may be null) receives each band's column density above the baseline.
  void render(float delta, float* out, float* scratch = nullptr) { renderBands(delta, out, scratch, false); }
  // render, with the amplitudes squared into powers when squared is set.
  void renderBands(float delta, float* out, float* scratch, bool squared);
};
