#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/oskra-render/Renderer.h"

namespace oskrarender {

namespace {

bool number(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtod(text.c_str(), &end);
  return errno == 0 && end == text.c_str() + text.size() && std::isfinite(value);
}

std::string defaultBundle() {
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : ".") + "/.vst3/Oskra.vst3";
}

}  // namespace

const char* UsageText() {
  return "usage: oskra-render [--demo | --midi FILE.mid | --sequencer] --out FILE.wav [options]\n"
         "\n"
         "Plays notes through a VST3 instrument, as a host does, and writes its main output as a\n"
         "32-bit float WAV file (moved back by the latency the plug-in reports).\n"
         "\n"
         "  --demo             the built-in demo groove (the default)\n"
         "  --midi FILE        the notes of a Standard MIDI File, at its tempo\n"
         "  --sequencer        the instrument's own step sequencer, started on the transport\n"
         "  --out FILE         the WAV file to write\n"
         "  --bundle PATH      the .vst3 bundle (default ~/.vst3/Oskra.vst3)\n"
         "  --rate HZ          sample rate (default 48000)\n"
         "  --block N          frames per block (default 512)\n"
         "  --seconds S        length (default: the song and 2 s more; the sequencer 8 s)\n"
         "  --bpm BPM          host tempo of the demo and the sequencer\n"
         "  --state FILE       restore a state saved with --save-state before playing\n"
         "  --preset FILE      restore a preset file before playing\n"
         "  --save-state FILE  write the plug-in's state after playing\n"
         "  --quiet            no progress line and no summary\n"
         "\n"
         "Exit codes: 0 done, 1 bad command line, 2 the bundle can't be loaded or the plug-in\n"
         "failed, 3 a MIDI, state or preset file is missing or damaged, 4 the output can't be\n"
         "written.\n";
}

int ParseCommandLine(int argc, const char* const* argv, RenderOptions& options, bool& help,
                     std::string& error) {
  help = false;
  options = RenderOptions{};
  options.bundle = defaultBundle();
  int sources = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) {
        error = arg + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    auto numeric = [&](double& out, double lo, double hi) {
      std::string text;
      if (!value(text)) return false;
      if (!number(text, out) || out < lo || out > hi) {
        char range[64];
        std::snprintf(range, sizeof(range), " takes a number from %g to %g", lo, hi);
        error = arg + range + ", not \"" + text + "\"";
        return false;
      }
      return true;
    };
    double n = 0.0;
    bool ok = true;
    if (arg == "--help" || arg == "-h") {
      help = true;
      return kExitOk;
    } else if (arg == "--demo") {
      options.source = Source::kDemo, ++sources;
    } else if (arg == "--sequencer") {
      options.source = Source::kSequencer, ++sources;
    } else if (arg == "--midi") {
      options.source = Source::kMidiFile, ++sources;
      ok = value(options.midiFile);
    } else if (arg == "--out") {
      ok = value(options.output);
    } else if (arg == "--bundle") {
      ok = value(options.bundle);
    } else if (arg == "--state") {
      ok = value(options.stateFile);
    } else if (arg == "--preset") {
      ok = value(options.presetFile);
    } else if (arg == "--save-state") {
      ok = value(options.saveStateFile);
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--rate") {
      ok = numeric(options.sampleRate, kMinSampleRate, kMaxSampleRate);
    } else if (arg == "--block") {
      ok = numeric(n, 1, kMaxBlockSize);
      if (ok && n != std::floor(n)) {
        error = "--block takes a whole number of frames";
        ok = false;
      }
      options.blockSize = static_cast<int>(n);
    } else if (arg == "--seconds") {
      ok = numeric(options.seconds, 0.001, kMaxSeconds);
    } else if (arg == "--bpm") {
      ok = numeric(options.bpm, 1.0, 999.0);
    } else {
      error = "unknown option " + arg;
      ok = false;
    }
    if (!ok) return kExitUsage;
  }
  if (sources > 1) {
    error = "choose one of --demo, --midi and --sequencer";
    return kExitUsage;
  }
  if (options.output.empty()) {
    error = "--out FILE.wav is missing";
    return kExitUsage;
  }
  if (!options.stateFile.empty() && !options.presetFile.empty()) {
    error = "choose one of --state and --preset";
    return kExitUsage;
  }
  return kExitOk;
}

}  // namespace oskrarender
