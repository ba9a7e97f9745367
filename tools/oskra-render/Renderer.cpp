#include "tools/oskra-render/Renderer.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "pluginterfaces/vst/ivstprocesscontext.h"
#include "tools/oskra-render/DemoGroove.h"
#include "tools/oskra-render/MidiFileReader.h"
#include "tools/testhost/HostedPlugin.h"

namespace oskrarender {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kNoteOn = 0x90;
constexpr float kMaxVelocity = 127.0f;
// The instrument starts its own sequencer on a key of pitch class 10 while no synth track is
// chosen (keys of classes 8 to 11 are its transport, not notes).
constexpr int16 kSequencerStartKey = 46;
constexpr uint8_t kStartKeyVelocity = 100;
constexpr const char* kSynthTrackTitle = "SynthTrack";
constexpr size_t kStateTailBytes = 4;  // the bypass flag a host state carries after the chunk
constexpr size_t kMaxStateFileBytes = 16 << 20;
constexpr double kProgressAfterSeconds = 1.0;
constexpr double kProgressEverySeconds = 0.25;
constexpr double kProgressLogEverySeconds = 5.0;

bool readFile(const std::string& path, std::vector<char>& bytes, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot open " + path;
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (file.bad()) {
    error = "cannot read " + path;
    return false;
  }
  if (bytes.empty()) {
    error = path + " is empty";
    return false;
  }
  if (bytes.size() > kMaxStateFileBytes) {
    error = path + " is too large to be a saved state";
    return false;
  }
  return true;
}

bool writeFile(const std::string& path, const std::vector<char>& bytes, std::string& error) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (file) file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (file) file.close();
  if (!file) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

std::string ascii(const String128 text) {
  std::string out;
  for (int i = 0; i < 128 && text[i] != 0; ++i)
    out.push_back(text[i] < 128 ? static_cast<char>(text[i]) : '?');
  return out;
}

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Whether the instrument would take the sequencer's start key as a note: only when one of its
// tracks plays as a synth (a "SynthTrack" of 0 or more). Plug-ins without that parameter get the
// key as any other note.
bool startKeyIsNote(IEditController* controller) {
  if (controller == nullptr) return false;
  for (int32 i = 0; i < controller->getParameterCount(); ++i) {
    ParameterInfo info{};
    if (controller->getParameterInfo(i, info) != kResultOk) continue;
    if (!endsWith(ascii(info.title), kSynthTrackTitle)) continue;
    const ParamValue plain =
        controller->normalizedParamToPlain(info.id, controller->getParamNormalized(info.id));
    return plain >= 0.0;
  }
  return false;
}

// Where an instrument class of the module is, or -1.
int instrumentClass(const testhost::VstModule& module, PClassInfo2& found) {
  const std::vector<PClassInfo2> classes = module.classInfos();
  for (size_t i = 0; i < classes.size(); ++i) {
    if (std::strcmp(classes[i].category, kVstAudioEffectClass) == 0) {
      found = classes[i];
      return static_cast<int>(i);
    }
  }
  return -1;
}

class WavFile {
 public:
  bool open(const std::string& path, int channels, double rate, std::string& error) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(std::lround(rate));
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    mFile = sf_open(path.c_str(), SFM_WRITE, &info);
    if (mFile == nullptr) {
      error = "cannot write " + path + ": " + sf_strerror(nullptr);
      return false;
    }
    // No peak chunk: it carries the time of writing, and the same render must give the same file.
    sf_command(mFile, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    return true;
  }
  bool write(const std::vector<float>& interleaved, sf_count_t frames) {
    return sf_writef_float(mFile, interleaved.data(), frames) == frames;
  }
  bool close() {
    const bool ok = mFile == nullptr || sf_close(mFile) == 0;
    mFile = nullptr;
    return ok;
  }
  ~WavFile() { close(); }

 private:
  SNDFILE* mFile = nullptr;
};

// A progress line for renders that take a while: nothing for the first second, then the share
// done, rewritten in place on a terminal and as a line every few seconds in a log.
class Progress {
 public:
  explicit Progress(bool enabled) : mEnabled(enabled), mTerminal(isatty(STDERR_FILENO) == 1) {}
  void update(double doneSeconds, double totalSeconds) {
    if (!mEnabled) return;
    const double now = elapsed();
    if (now < kProgressAfterSeconds) return;
    if (now - mLast < (mTerminal ? kProgressEverySeconds : kProgressLogEverySeconds)) return;
    mLast = now;
    std::fprintf(stderr, "%srendering: %.1f s of %.1f s (%.0f%%)%s", mTerminal ? "\r" : "",
                 doneSeconds, totalSeconds, 100.0 * doneSeconds / std::max(totalSeconds, 1e-9),
                 mTerminal ? "" : "\n");
    mShown = true;
  }
  void finish() {
    if (mShown && mTerminal) std::fputc('\n', stderr);
  }

 private:
  double elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - mStart).count();
  }
  bool mEnabled;
  bool mTerminal;
  bool mShown = false;
  double mLast = -1e9;
  std::chrono::steady_clock::time_point mStart = std::chrono::steady_clock::now();
};

bool buildSong(const RenderOptions& options, Song& song, std::string& error) {
  switch (options.source) {
    case Source::kDemo:
      song = DemoGroove(options.bpm > 0.0 ? options.bpm : kDemoBpm);
      return true;
    case Source::kMidiFile:
      return ReadMidiFile(options.midiFile, song, error);
    case Source::kSequencer:
      song = Song{};
      song.tempo = {TempoPoint{0.0, 0.0, options.bpm > 0.0 ? options.bpm : TempoPoint{}.bpm}};
      return true;
  }
  return false;
}

void addEvent(testhost::EventList& list, const SongEvent& e, int32 offset) {
  const uint8_t kind = e.status & 0xF0;
  const int16 channel = e.status & 0x0F;
  if (kind == kNoteOn && e.data2 > 0)
    list.addNoteOn(offset, channel, e.data1, e.data2 / kMaxVelocity);
  else if (kind == kNoteOn || kind == kNoteOff)
    list.addNoteOff(offset, channel, e.data1);
  // Controllers, pressure and program changes are not played.
}

}  // namespace

int Render(const RenderOptions& options, std::string& error) {
  try {
    Song song;
    if (!buildSong(options, song, error)) return kExitInput;
    std::vector<char> state;
    if (!options.stateFile.empty() && !readFile(options.stateFile, state, error)) return kExitInput;
    if (!options.presetFile.empty()) {
      if (!readFile(options.presetFile, state, error)) return kExitInput;
      state.insert(state.end(), kStateTailBytes, 0);  // not bypassed
    }

    std::error_code ec;
    if (!std::filesystem::exists(options.bundle, ec)) {
      error = "there is no plug-in bundle at " + options.bundle +
              " (tools/build.sh installs Oskra.vst3 into ~/.vst3; --bundle names another)";
      return kExitPlugin;
    }
    std::string reason;
    std::shared_ptr<testhost::VstModule> module = testhost::VstModule::load(options.bundle, reason);
    if (!module) {
      error = "cannot load the plug-in bundle " + options.bundle + ": " + reason;
      return kExitPlugin;
    }
    PClassInfo2 info{};
    if (instrumentClass(*module, info) < 0) {
      error = options.bundle + " holds no instrument or effect class";
      return kExitPlugin;
    }
    std::unique_ptr<testhost::HostedPlugin> plugin =
        testhost::HostedPlugin::create(module, info.cid, reason);
    if (!plugin || plugin->initialize() != kResultOk) {
      error = "cannot create " + std::string(info.name) + ": " + (plugin ? "initialize failed" : reason);
      return kExitPlugin;
    }
    // Hosts restore a saved state before the instance starts processing.
    if (!state.empty() && plugin->setState(state) != kResultOk) {
      error = options.presetFile.empty() ? "the plug-in refused the state in " + options.stateFile
                                         : "the plug-in refused the preset in " + options.presetFile;
      return kExitInput;
    }
    if (plugin->setupProcessing(options.sampleRate, options.blockSize, kSample32, kOffline) != kResultOk ||
        plugin->setActive(true) != kResultOk) {
      error = "the plug-in refused " + std::to_string(options.sampleRate) + " Hz with blocks of " +
              std::to_string(options.blockSize);
      return kExitPlugin;
    }
    plugin->setProcessing(true);
    BusInfo bus{};
    if (plugin->component()->getBusInfo(kAudio, kOutput, 0, bus) != kResultOk || bus.channelCount < 1) {
      error = "the plug-in has no audio output";
      return kExitPlugin;
    }
    const int channels = bus.channelCount;
    const int64_t latency = std::max<int64_t>(plugin->processor()->getLatencySamples(), 0);

    double seconds = options.seconds;
    if (seconds <= 0.0)
      seconds = options.source == Source::kSequencer ? kSequencerSeconds : song.endSeconds() + kTailSeconds;
    const int64_t frames = static_cast<int64_t>(std::ceil(seconds * options.sampleRate));

    if (options.source == Source::kSequencer && !startKeyIsNote(plugin->controller()))
      song.events.insert(song.events.begin(), SongEvent{0.0, kNoteOn, kSequencerStartKey, kStartKeyVelocity});

    WavFile wav;
    if (!wav.open(options.output, channels, options.sampleRate, error)) return kExitOutput;

    Progress progress(!options.quiet);
    std::vector<float> interleaved(static_cast<size_t>(options.blockSize) * static_cast<size_t>(channels));
    testhost::EventList events;
    size_t next = 0;
    double peak = 0.0;
    bool finite = true;
    for (int64_t pos = 0; pos < frames + latency; pos += options.blockSize) {
      const int32 n = static_cast<int32>(std::min<int64_t>(options.blockSize, frames + latency - pos));
      events.clear();
      for (; next < song.events.size(); ++next) {
        const int64_t at = std::llround(song.events[next].seconds * options.sampleRate);
        if (at >= pos + n) break;
        addEvent(events, song.events[next], static_cast<int32>(std::max<int64_t>(at - pos, 0)));
      }
      const double now = static_cast<double>(pos) / options.sampleRate;
      ProcessContext context{};
      context.state = ProcessContext::kPlaying | ProcessContext::kTempoValid |
                      ProcessContext::kProjectTimeMusicValid | ProcessContext::kTimeSigValid |
                      ProcessContext::kBarPositionValid;
      context.sampleRate = options.sampleRate;
      context.projectTimeSamples = pos;
      context.projectTimeMusic = song.quartersAt(now);
      context.tempo = song.bpmAt(now);
      context.timeSigNumerator = 4;
      context.timeSigDenominator = 4;
      context.barPositionMusic = std::floor(context.projectTimeMusic / 4.0) * 4.0;
      if (plugin->process(n, &events, nullptr, &context) != kResultOk) {
        error = "the plug-in failed to process the block at frame " + std::to_string(pos);
        return kExitPlugin;
      }
      // The first `latency` frames come before time 0 of the song: hosts drop them.
      const int64_t skip = std::clamp<int64_t>(latency - pos, 0, n);
      const int64_t keep = n - skip;
      for (int64_t i = 0; i < keep; ++i) {
        for (int c = 0; c < channels; ++c) {
          const float v = plugin->output(0, c)[skip + i];
          interleaved[static_cast<size_t>(i * channels + c)] = v;
          finite = finite && std::isfinite(v);
          peak = std::max(peak, static_cast<double>(std::fabs(v)));
        }
      }
      if (keep > 0 && !wav.write(interleaved, keep)) {
        error = "cannot write " + options.output;
        return kExitOutput;
      }
      progress.update(static_cast<double>(pos + n - latency) / options.sampleRate, seconds);
    }
    progress.finish();
    if (!wav.close()) {
      error = "cannot write " + options.output;
      return kExitOutput;
    }

    if (!options.saveStateFile.empty()) {
      std::vector<char> saved;
      if (plugin->getState(saved) != kResultOk || saved.empty()) {
        error = "the plug-in gave no state to save";
        return kExitPlugin;
      }
      if (!writeFile(options.saveStateFile, saved, error)) return kExitOutput;
    }
    plugin->teardown();

    if (!options.quiet) {
      char level[32] = "silence";
      if (!finite)
        std::snprintf(level, sizeof(level), "not finite");
      else if (peak > 0.0)
        std::snprintf(level, sizeof(level), "%.1f dBFS", 20.0 * std::log10(peak));
      std::printf("%s: %.2f s, %.0f Hz, %d channel%s, peak %s\n", options.output.c_str(), seconds,
                  options.sampleRate, channels, channels == 1 ? "" : "s", level);
    }
    return kExitOk;
  } catch (const std::exception& e) {
    error = std::string("out of memory: ") + e.what();
    return kExitPlugin;
  }
}

}  // namespace oskrarender
