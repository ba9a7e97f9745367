#include "tools/oskra-render/DemoGroove.h"

#include <cstdint>

namespace oskrarender {

namespace {

constexpr int kStepsPerBar = 16;
constexpr int kBars = 2;
constexpr int kRepeats = 2;
constexpr double kStepsPerQuarter = 4.0;
constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kNoteOff = 0x80;

struct Hit {
  int step;  // sixteenths from the start of the two bars
  uint8_t note;
  uint8_t velocity;
};

// Bar one lays the groove down; bar two answers with a clap and a fill of toms and rim.
constexpr Hit kGroove[] = {
    {0, 43, 96},  {0, 36, 127}, {2, 42, 80},  {4, 38, 118}, {4, 42, 100}, {6, 36, 104},
    {6, 42, 80},  {8, 42, 100}, {10, 36, 116}, {10, 42, 80}, {11, 40, 90}, {12, 38, 120},
    {12, 42, 100}, {14, 42, 80}, {15, 37, 84},
    {16, 36, 127}, {18, 42, 80}, {20, 38, 118}, {20, 42, 100}, {22, 36, 104}, {22, 42, 80},
    {24, 42, 100}, {26, 36, 116}, {26, 42, 80}, {27, 40, 90}, {28, 39, 120}, {28, 38, 100},
    {29, 41, 110}, {30, 37, 100}, {31, 41, 100},
};

}  // namespace

Song DemoGroove(double bpm) {
  Song song;
  song.tempo = {TempoPoint{0.0, 0.0, bpm}};
  const double secondsPerStep = 60.0 / bpm / kStepsPerQuarter;
  for (int repeat = 0; repeat < kRepeats; ++repeat) {
    for (const Hit& hit : kGroove) {
      const double start = (repeat * kBars * kStepsPerBar + hit.step) * secondsPerStep;
      song.events.push_back({start, kNoteOn, hit.note, hit.velocity});
      song.events.push_back({start + secondsPerStep, kNoteOff, hit.note, 0});
    }
  }
  song.sortEvents();
  return song;
}

}  // namespace oskrarender
