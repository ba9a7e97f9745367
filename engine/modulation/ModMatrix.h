#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/modulation/ModRoute.h"
#include "engine/modulation/ModSourceState.h"

class Param;
class PointCurve;

namespace ModRowParam {
enum : int32_t { kSource = 0, kAmount, kScaler, kTarget, kCount };
}

// Modulation sources as a row's "Source" numbers them.
namespace ModSource {
enum : int32_t {
  kNone = 0,
  kEnv1 = 1,   // .. 4
  kLfo1 = 5,   // .. 8
  kConstant = 9,
  kBpmOctave = 10,
  kNoiseWhite = 11,  // pink, brown, hold follow
  kCount = 15
};
}

namespace ModScaler {
enum : int32_t { kNone = 0, kVelocity, kModWheel, kPitchbend, kAftertouch, kNoteOctave, kCount };
}

// Routes modulation sources through eight rows of four parameters (source, amount, scaler,
// target) onto the engine's parameters, and advances the sources themselves.
class ModMatrix {
 public:
  static constexpr int32_t kMaxRows = 8;
  // Marks an absent host beat position.
  static constexpr double kNoBeatPosition = 1e35;

  int32_t rowCount = 8;
  int32_t envCount = 4;
  int32_t lfoCount = 4;
  float tempo = 120.0f;  // BPM
  Param* params = nullptr;
  Param* envParams = nullptr;
  Param* lfoParams = nullptr;
  Param* rowParams = nullptr;
  // The parameters a row can target, in the order of the rows' "Target" values. The engine
  // fills it before init.
  std::vector<int32_t> exposedParams;
  int32_t paramsPerEnvelope = 8;
  int32_t paramsPerLfo = 6;
  int32_t paramsPerRow = 4;
  ModRoute routes[kMaxRows];
  int32_t routeCount = 0;
  PointCurve* lfoShapes = nullptr;

  ModMatrix() = default;
  // The rows' "Target" records point at this matrix's name texts.
  ModMatrix(const ModMatrix&) = delete;
  ModMatrix& operator=(const ModMatrix&) = delete;

  // Keeps the pointers and counts, and declares the four records of each row.
  void init(Param* params, Param* rowParams, int32_t rowCount, Param* envParams, int32_t envCount,
            Param* lfoParams, int32_t lfoCount, PointCurve* lfoShapes);

  // Fills routes for one pass: the global rows when track is negative, else the per-voice
  // rows. Returns routes; routeCount holds their number.
  const ModRoute* collectRoutes(int32_t track);

  float sourceValue(const ModSourceState& state, int32_t source) const;

  // Advances one state record by one step of `seconds` (and `beats`). hostBeatPosition may be
  // kNoBeatPosition. engineWide is null for the engine's own record; on a voice's record the
  // LFOs that do not run per voice copy the engine's. noteOn restarts what restarts with a
  // note.
  void processLfos(ModSourceState& state, double seconds, double beats, double hostBeatPosition,
                   const ModSourceState* engineWide, bool noteOn);

  // What every record's step of one length shares: the envelopes' settings and the noises'
  // smoothing. Neither is a modulation target, so a control pass reads them once for all its
  // voices.
  struct StepSettings {
    EnvelopeSettings envelopes[ModSourceState::kEnvelopeCount];
    float smoothing[3] = {};  // white, pink, brown
  };
  StepSettings stepSettings(double seconds) const;
  // processLfos with the step's shared settings read beforehand. deferEnvelopes puts the
  // envelopes' steps off (EnvelopeState::defer) for a record whose envelopes nobody reads this
  // step; settings must then keep their values until the envelopes settle.
  void processLfos(ModSourceState& state, const StepSettings& settings, double seconds, double beats,
                   double hostBeatPosition, const ModSourceState* engineWide, bool noteOn, bool deferEnvelopes);

  // Note-on restart of the LFOs that retrigger (on a voice call only those that do not run
  // per voice) and of the four envelopes.
  void retriggerLfos(ModSourceState& state, bool voiceCall);

  static const char** sourceNames();
  static const char** scalerNames();
  // "Prefix|Label" of every exposed parameter, in the order of exposedParams.
  const char** targetNames() { return mTargetNamePointers.data(); }

 private:
  static constexpr std::size_t kTargetNameRoom = 32;
  std::vector<std::array<char, kTargetNameRoom>> mTargetNames;
  std::vector<const char*> mTargetNamePointers;
};
