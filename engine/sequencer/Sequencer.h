#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/core/Lcg.h"
#include "engine/core/Param.h"
#include "engine/sequencer/SeqLane.h"
#include "engine/sequencer/SeqLaneState.h"
#include "engine/sequencer/SeqNote.h"

// The built-in drum pattern player: lanes of notes on a grid of 1024 ticks per sixteenth-note
// step, each lane with its own length, played in time with the tempo, with swing and with
// timing and velocity looseness.
//
// Threads: the audio thread calls advance, pollLane, releaseAll, resetPlayState and
// setPosition; only advance touches the lock, and only with a try, so a block in which the
// editor holds it moves the position but no lane (the lanes catch up on the next call). Every
// access to the lanes from elsewhere (editing, loading, saving, export, hit tests) holds the
// lock. The parameters are plain records read by both sides without the lock.
class Sequencer {
 public:
  enum ParamId { kBpm = 0, kHostSync, kSwing, kLooseTime, kLooseVelo, kParamCount };

  static constexpr int32_t kTicksPerStep = 1024;
  // A window wider than this (a relocation, or the catch-up after a busy lock) is skipped
  // rather than firing every note it covers at once.
  static constexpr int32_t kMaxWindowTicks = 512;
  static constexpr double kFreePositionWrap = 768.0;
  static constexpr int32_t kAllLanes = -411;  // clearLane's "every lane"
  static constexpr int32_t kFirstExportKey = 36;

  std::array<Param, kParamCount> params;
  std::atomic<uint32_t> changeCount{0};  // grows with every edit and load
  mutable std::mutex lock;
  double position = 0.0;      // steps since the cycle start
  double freePosition = 0.0;  // free-running steps, wrapped at 768
  int32_t tickPosition = 0;   // swung position in ticks; moves backwards only by the cycle wrap
  std::vector<SeqLane> lanes;
  int32_t cycleLength = 16;   // steps; fixed after construction
  std::vector<SeqLaneState> laneStates;
  int32_t reservedNotes = 32;  // editing never grows a lane beyond this

  Sequencer(int lanes, int stepsPerCycle, int reservedNotes);
  Sequencer(const Sequencer&) = delete;
  Sequencer& operator=(const Sequencer&) = delete;

  // Audio thread. Returns the highest lane that got an event to poll, -1 when none (also for
  // 0 seconds), and 0 when the editor held the lock.
  int advance(double seconds);
  // The humanised velocity of a pending note-on, 0 for a pending note-off, else -1.
  int pollLane(int lane);
  int releaseAll();
  void resetPlayState();
  void setPosition(double steps);

  // Editing (never on the audio thread).
  void addNote(int lane, int start, int length, uint8_t velocity);
  void clearLane(int lane);  // kAllLanes for every lane
  void removeNote(int lane, int index);
  // The note under a tick: index + (tick - start) / (length + 1), or -1.
  float findNoteAt(int lane, int tick) const;

  // The sequencer block. serialize with a null buffer only measures.
  int serialize(uint8_t* bytes, int size) const;
  int deserialize(const uint8_t* bytes, int size, int version);

  // The pattern as MIDI track events (delta times as variable-length quantities), humanised and
  // swung the way the player plays it.
  std::vector<uint8_t> buildExportEvents() const;

  // A first-order random walk of the timing looseness, in steps, over dt seconds.
  void randomizeTiming(float& jitter, float dt) const;
  int randomizeVelocity(int velocity) const;

  // The process-wide generator of the sequencer's looseness (seeded 12345 at load).
  static SharedLcg& sharedRandom();

 private:
  bool advanceLane(int index, int32_t diff, double seconds);
  int64_t laneTicks(const SeqLane& lane) const;
};
