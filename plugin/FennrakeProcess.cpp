// Block processing: the step sequencer kept in step with the host, host MIDI and sequencer
// notes handed to the engine in the control period they fall in, and the engine's rendering.
// Audio thread only: nothing here waits for a lock (the load lock is only tried), and nothing
// allocates but the MIDI queue when more messages wait than it has room for.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/DenormalGuard.h"
#include "plugin/Fennrake.h"

using namespace iplug;

namespace {

enum MidiKind : int {
  kNoteOff = 8,
  kNoteOn = 9,
  kPolyPressure = 10,
  kControlChange = 11,
  kProgramChange = 12,
  kChannelPressure = 13,
  kPitchBend = 14,
};

// The engine's controller ids.
constexpr int kPitchBendId = 0;
constexpr int kChannelPressureId = 1;
constexpr int kFirstControlChangeId = 1000;

// While no synth track is chosen, the top four pitch classes drive the sequencer.
constexpr int kFirstTransportKey = 8;
constexpr int kHoldToPlayKey = 9;
constexpr int kStartKey = 10;
constexpr int kStopKey = 11;

constexpr float kDataScale = 1.0f / 127.0f;
constexpr int kBendCentre = 8192;
constexpr double kStepsPerBeat = 4.0;
// A host position this close to the sequencer's is reached by running slightly faster or
// slower; any further away the sequencer jumps there.
constexpr double kMaxNudgeSteps = 0.5;

int dataByte(uint8_t byte) { return byte & 0x7F; }

}  // namespace

void Fennrake::ProcessMidiMsg(const IMidiMsg& msg) {
  // Bypassed, no block would ever take the message out: it is not played later either.
  if (GetBypassed()) return;
  const int kind = msg.StatusKind();
  if (kind >= kNoteOff && kind <= kPitchBend) mMidiQueue.Add(msg);  // a message that finds no room is dropped
}

void Fennrake::OnBypassedBlock(int nFrames) {
  // What this block would have played is dropped, not saved up for after the bypass.
  const int frames = std::max(nFrames, 0);
  while (!mMidiQueue.Empty() && mMidiQueue.Peek().mOffset < frames) mMidiQueue.Remove();
  mMidiQueue.Flush(frames);
}

void Fennrake::ProcessBlock(float** /*inputs*/, float** outputs, int nFrames) {
  const DenormalGuard denormals;
  const int frames = std::max(nFrames, 0);
  if (nFrames != mLastBlockSize.load(std::memory_order_relaxed)) mLastBlockSize.store(nFrames, std::memory_order_relaxed);
  mOutputChannels.store(NChannelsConnected(kOutput), std::memory_order_relaxed);
  // Every channel the widest configuration has: the host's buffers, or scratch where the host
  // connected none, so every connected buffer is written whatever the engine routes where.
  const int channels = MaxNChannels(kOutput);

  // A load in progress (or waiting) has the engine: this block is silent, and what the load
  // brings plays from the next one.
  std::unique_lock<std::recursive_mutex> engine(mLoadLock, std::defer_lock);
  if (mLoadsWaiting.load(std::memory_order_relaxed) != 0 || !engine.try_lock()) {
    SilenceBlock(outputs, channels, frames);
    return;
  }
  TakePendingHostParams();
  if (mVoiceResetPending.load(std::memory_order_relaxed) && mVoiceResetPending.exchange(false)) mBandSynth.resetVoices(0);

  const float rate = mSampleRate.load(std::memory_order_acquire);
  if (!(rate > 0.0f) || outputs == nullptr) {
    // Nothing is prepared before the first reset: silence, and no note waits for later.
    while (!mMidiQueue.Empty()) mMidiQueue.Remove();
    SilenceBlock(outputs, channels, frames);
    return;
  }

  const ITimeInfo& time = GetTimeInfo();
  const bool hostSync = mSequencer.params[Sequencer::kHostSync].effectiveValue() > 0.0f;
  const int32_t hostRunning = time.mTransportIsRunning ? 1 : 0;
  const bool tempoValid = std::isfinite(time.mTempo) && time.mTempo > 0.0;
  double nudge = 0.0;  // seconds the sequencer runs ahead of (or behind) its own time this block
  if (hostSync) {
    if (tempoValid) mSequencer.params[Sequencer::kBpm].setValue(static_cast<float>(time.mTempo));
    if (hostRunning != mLastHostTransport) mSeqPlaying.store(hostRunning);
    if (hostRunning != 0 || mSeqPlaying.load() == 0) {
      const double hostSteps = time.mPPQPos * kStepsPerBeat;
      const double cycle = mSequencer.cycleLength;
      double d = std::fmod(hostSteps - mSequencer.position, cycle);
      if (d > cycle / 2.0) d -= cycle;
      if (std::fabs(d) > kMaxNudgeSteps) {
        mSequencer.setPosition(hostSteps);
      } else if (tempoValid && std::isfinite(d)) {
        nudge = d * 60.0 / (time.mTempo * kStepsPerBeat);
      }
    }
  }
  mLastHostTransport = hostSync ? hostRunning : -1;

  if (hostRunning != 0) {
    mBandSynth.beatPosition = time.mPPQPos;
    mBandSynth.playing = true;
  } else {
    mBandSynth.beatPosition = mSequencer.freePosition / kStepsPerBeat;
    mBandSynth.playing = mSeqPlaying.load() != 0;
  }
  const float bpm = mSequencer.params[Sequencer::kBpm].effectiveValue();
  mBandSynth.tempo = bpm;
  mBandSynth.modMatrix.tempo = bpm;

  // Sub-blocks end where the engine's control periods end, so sequencer steps and MIDI take
  // effect at a control pass.
  for (int s = 0; s < frames;) {
    const int countdown = mBandSynth.controlCountdown;
    const int length = std::min(frames - s, countdown > 0 ? countdown : BandSynth::kControlPeriod);

    const int playing = mSeqPlaying.load(std::memory_order_relaxed);
    // Taken and marked started in one step: a play or stop from the editor in between is seen
    // by the next sub-block, never overwritten.
    const int started = mSeqStarted.exchange(1, std::memory_order_relaxed);
    int lastLane = 0;
    if (playing != 0) {
      const float dt = static_cast<float>(length) / rate * static_cast<float>(playing);
      const double bound = std::fabs(dt) / 4.0;
      const double share = std::max(-bound, std::min(nudge, bound));
      lastLane = mSequencer.advance(dt + share);
      nudge -= share;
    } else if (started == 0) {
      lastLane = mSequencer.releaseAll();
    }
    for (int lane = 0; lane <= lastLane; ++lane) {
      const int velocity = mSequencer.pollLane(lane);
      if (velocity >= 0) {
        mBandSynth.processNote(kFirstSequencerNote + lane, static_cast<float>(velocity) * kDataScale, 0, 0);
      }
    }
    if (started == 0) mSequencer.resetPlayState();  // a start or stop always leaves the sequencer at step 0

    // Messages due by the start of this sub-block, late ones included, so each reaches the
    // first control pass at or after its frame. Taking one at the pass that began its period
    // instead would depend on whether the host's block happened to hold the message when that
    // pass ran: the same notes would sound up to a period apart at different block sizes.
    while (!mMidiQueue.Empty() && mMidiQueue.Peek().mOffset <= s) {
      HandleMidiMsg(mMidiQueue.Peek(), s);
      mMidiQueue.Remove();
    }

    mBandSynth.processBlock(outputs, length, channels, s);
    s += length;
  }
  mMidiQueue.Flush(frames);
}

void Fennrake::SilenceBlock(float** outputs, int channels, int frames) {
  for (int c = 0; outputs != nullptr && c < channels; ++c) {
    if (outputs[c] != nullptr) std::memset(outputs[c], 0, sizeof(float) * static_cast<size_t>(frames));
  }
  mMidiQueue.Flush(frames);
}

void Fennrake::HandleMidiMsg(const IMidiMsg& msg, int subBlockStart) {
  const int channel = msg.Channel();
  const int data1 = dataByte(msg.mData1);
  const int data2 = dataByte(msg.mData2);
  switch (msg.StatusKind()) {
    case kNoteOn:
    case kNoteOff: {
      if (HandleTransportKey(msg)) return;
      const float velocity = msg.StatusKind() == kNoteOn ? static_cast<float>(data2) * kDataScale : 0.0f;
      mBandSynth.processNote(data1, velocity, std::max(msg.mOffset - subBlockStart, 0), channel);
      return;
    }
    case kPolyPressure:
      mBandSynth.setPolyPressure(static_cast<float>(data2) * kDataScale, data1, channel);
      return;
    case kControlChange:
      mBandSynth.setController(kFirstControlChangeId + data1, static_cast<float>(data2) * kDataScale, channel);
      return;
    case kChannelPressure:
      mBandSynth.setController(kChannelPressureId, static_cast<float>(data1) * kDataScale, channel);
      return;
    case kPitchBend:
      mBandSynth.setController(kPitchBendId, static_cast<float>(data2 * 128 + data1 - kBendCentre) / kBendCentre,
                               channel);
      return;
    default:  // program change
      return;
  }
}

bool Fennrake::HandleTransportKey(const IMidiMsg& msg) {
  const Param& synthTrack = mBandSynth.params[static_cast<size_t>(BandSynth::synthParam(SynthParam::kSynthTrack))];
  const int pitchClass = dataByte(msg.mData1) % 12;
  if (!(synthTrack.effectiveValue() < 0.0f) || pitchClass < kFirstTransportKey) return false;
  const bool noteOn = msg.StatusKind() == kNoteOn;
  if (pitchClass == kHoldToPlayKey) {
    mSeqPlaying.store(noteOn && dataByte(msg.mData2) > 0 ? 1 : 0);
    mSeqStarted.store(0);
  } else if (noteOn && (pitchClass == kStartKey || pitchClass == kStopKey)) {
    mSeqPlaying.store(pitchClass == kStartKey ? 1 : 0);
    mSeqStarted.store(0);
  }
  return true;
}
