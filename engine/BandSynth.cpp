#include "engine/BandSynth.h"

#include <algorithm>

#include "effects/EffectRegistry.h"

namespace {

constexpr int32_t kGroupParamCounts[BandSynth::kGroupCount] = {20, 6, 8, 6, 4, 4, 11};
constexpr int32_t kGroupMemberCounts[BandSynth::kGroupCount] = {8, 1, 4, 4, 8, 4, 1};
constexpr int32_t kLfoShapePoints = 64;
// Each track's parameters in the order a modulation row lists them.
constexpr int32_t kExposedTrackParams[] = {
    TrackParam::kTimescale, TrackParam::kFrequency, TrackParam::kContrast, TrackParam::kTransform,
    TrackParam::kDensity,   TrackParam::kAmp,       TrackParam::kPan,      TrackParam::kWidth,
    TrackParam::kFilter,    TrackParam::kClip,      TrackParam::kSend1,    TrackParam::kSend2};

}  // namespace

BandSynth::BandSynth() : lfoShapes(ModSourceState::kLfoCount, PointCurve(kLfoShapePoints)) {
  paramGroups.resize(kGroupCount + 1);
  int32_t next = 0;
  for (int32_t g = 0; g < kGroupCount; ++g) {
    for (int32_t m = 0; m < kGroupMemberCounts[g]; ++m) {
      paramGroups[static_cast<size_t>(g)].push_back(next);
      next += kGroupParamCounts[g];
    }
  }
  paramGroups[kGroupCount].push_back(next);

  getEffectRegistry();
  params.resize(kParamCount);
  declareParams();
  buildIndexLists();
  modMatrix.init(params.data(), &params[kRowParamsStart], 8, &params[kEnvParamsStart],
                 ModSourceState::kEnvelopeCount, &params[kLfoParamsStart], ModSourceState::kLfoCount,
                 lfoShapes.data());

  for (int32_t i = 0; i < kParamCount; ++i) {
    Param& p = params[static_cast<size_t>(i)];
    p.index = i;
    if (p.modTargetIndex != -1) {
      p.modTargetIndex = static_cast<int32_t>(modTargets.size());
      modTargets.push_back(i);
    }
  }
}

BandSynth::~BandSynth() = default;

void BandSynth::buildIndexLists() {
  std::fill(std::begin(mModOwner), std::end(mModOwner), kNoOwner);
  std::vector<int32_t>& exposed = modMatrix.exposedParams;
  for (int32_t k = 0; k < GlobalParam::kCount; ++k) {
    exposed.push_back(globalParam(k));
    sharedModParams.push_back(globalParam(k));
  }
  for (int32_t t = 0; t < kTrackCount; ++t) {
    for (int32_t k : kExposedTrackParams) {
      exposed.push_back(trackParam(t, k));
      trackModParams[t].push_back(trackParam(t, k));
    }
  }
  for (int32_t k = 0; k < SynthParam::kCount; ++k) {
    if (params[static_cast<size_t>(synthParam(k))].modTargetIndex == -1) continue;
    exposed.push_back(synthParam(k));
    sharedModParams.push_back(synthParam(k));
  }
  for (int32_t i : sharedModParams) mModOwner[i] = kSharedOwner;
  for (int32_t t = 0; t < kTrackCount; ++t)
    for (int32_t i : trackModParams[t]) mModOwner[i] = static_cast<int8_t>(t);
}

bool BandSynth::isTrackAudible(int32_t track) const {
  if (track < 0 || track >= kTrackCount) return false;
  if (soloTrack >= 0) return track == soloTrack;
  return (muteMask & (1 << track)) == 0;
}

void BandSynth::copyTrackBlobs(const Blob (&source)[2], Blob (&destination)[2]) {
  destination[0].assign(source[0], true);
  destination[1].assign(source[1], true);
}
