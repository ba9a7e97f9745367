#pragma once

#include <string>

namespace oskrarender {

// What to play into the plug-in.
enum class Source {
  kDemo,       // the built-in demo groove
  kMidiFile,   // the notes of a Standard MIDI File
  kSequencer,  // the plug-in's own step sequencer, started as a host starts its transport
};

struct RenderOptions {
  std::string bundle;       // the plug-in's ".vst3" bundle folder
  Source source = Source::kDemo;
  std::string midiFile;     // for Source::kMidiFile
  std::string output;       // the WAV file to write
  double sampleRate = 48000.0;
  int blockSize = 512;
  double seconds = 0.0;     // 0: the song's length and a tail (the sequencer: kSequencerSeconds)
  double bpm = 0.0;         // host tempo of the demo and the sequencer; 0: their own
  std::string stateFile;    // a state written by saveStateFile, restored before playing
  std::string presetFile;   // or a preset file (the plug-in's state without the host's tail)
  std::string saveStateFile;  // where to write the plug-in's state after the render
  bool quiet = false;       // no progress line and no summary
};

// Exit codes of the renderer.
enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 1,    // the command line is wrong
  kExitPlugin = 2,   // the bundle can't be loaded, or the plug-in fails a host call
  kExitInput = 3,    // a MIDI, state or preset file is missing or damaged
  kExitOutput = 4,   // the WAV or state file can't be written
};

inline constexpr double kTailSeconds = 2.0;
inline constexpr double kSequencerSeconds = 8.0;
inline constexpr double kMinSampleRate = 8000.0;
inline constexpr double kMaxSampleRate = 384000.0;
inline constexpr int kMaxBlockSize = 8192;
inline constexpr double kMaxSeconds = 3600.0;

// Loads the bundle as a host does, plays the source through its first instrument class and
// writes the main output as a 32-bit float WAV file. The output is moved back by the latency the
// plug-in reports, as hosts compensate it, so a note at 1 s sounds at 1 s in the file. Returns
// an exit code; `error` says what went wrong for any code but kExitOk.
int Render(const RenderOptions& options, std::string& error);

// Parses the command line into options; kExitOk, or kExitUsage with the reason in `error`.
// `help` is set (and nothing else is checked) when help was asked for.
int ParseCommandLine(int argc, const char* const* argv, RenderOptions& options, bool& help,
                     std::string& error);
const char* UsageText();

}  // namespace oskrarender
