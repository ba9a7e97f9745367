#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "bench/engine/BenchScene.h"
#include "engine/BandSynth.h"
#include "plugin/Fennrake.h"
#include "plugin/framework/Timer.h"
#include "tools/testhost/HostedPlugin.h"

// What the plug-in shell adds to the engine: one second at 48 kHz in host blocks of 128 frames
// through `process` of the Oskra bundle loaded by the test host, against the engine's
// processBlock alone on the same sounds, parameters and notes. Each iteration renders a second
// both ways; the counters give the milliseconds of each and the shell's share in percent, and
// the ratio of the two sides' output energy over one untimed second: 1 when both rendered the
// same, so that neither side is timed on cheaper settings.
namespace {

constexpr double kRate = 48000.0;
constexpr int32_t kBlock = 128;
constexpr int32_t kSecond = 48000;
constexpr int32_t kChannels = BandSynth::kMaxOutputChannels;

// The notes of each block: one voice retriggered every half second, or eight new notes (one
// per track) every 16 blocks so that 64 voices keep sounding.
template <typename Note>
void notesOfBlock(int32_t block, bool fullLoad, Note note) {
  if (!fullLoad) {
    if ((block * kBlock) % (kSecond / 2) == 0) note(36, 0.9f);
  } else if (block % 16 == 0) {
    for (int32_t t = 0; t < BandSynth::kTrackCount; ++t) note(36 + t + 12 * ((block / 16) % 8), 0.7f);
  }
}

struct Sides {
  std::unique_ptr<BandSynth> engine = std::make_unique<BandSynth>();
  std::vector<std::vector<float>> buffers = std::vector<std::vector<float>>(kChannels, std::vector<float>(kBlock));
  float* outputs[kChannels] = {};
  std::shared_ptr<testhost::VstModule> module;
  std::unique_ptr<testhost::HostedPlugin> plugin;
  Steinberg::Vst::ProcessData data;

  std::string dataRoot;

  explicit Sides(int32_t polyphony) {
    // Both instances keep their settings in a folder of their own, never in the user's.
    dataRoot = (std::filesystem::temp_directory_path() / "oskra-bench-XXXXXX").string();
    if (::mkdtemp(dataRoot.data()) != nullptr) ::setenv("OSKRA_DATA_DIR", dataRoot.c_str(), 1);
    for (int32_t c = 0; c < kChannels; ++c) outputs[c] = buffers[static_cast<size_t>(c)].data();

    // Both sides load the same saved scene after they are prepared, as a host restores a state:
    // an effect installed on an engine that loaded nothing sets its values up differently.
    iplug::Timer::SetManualMode(true);
    Fennrake* maker = new Fennrake;
    configureBenchScene(maker->mBandSynth, polyphony);
    iplug::IByteChunk chunk;
    maker->SerializeState(chunk);
    std::vector<uint8_t> engineBlock(static_cast<size_t>(maker->mBandSynth.serialize(nullptr, 0)));
    maker->mBandSynth.serialize(engineBlock.data(), static_cast<int32_t>(engineBlock.size()));
    maker->release();
    iplug::Timer::SetManualMode(false);
    engine->prepare(static_cast<float>(kRate), 2);
    engine->deserialize(engineBlock.data(), static_cast<int32_t>(engineBlock.size()));
    engine->updateEffectTypes();
    std::vector<char> state(chunk.GetData(), chunk.GetData() + chunk.Size());
    state.insert(state.end(), 4, 0);

    std::string error;
    module = testhost::VstModule::load(OSKRA_BUNDLE, error);
    if (module) plugin = testhost::HostedPlugin::create(module, module->classInfos().at(0).cid, error);
    if (!plugin) return;
    plugin->initialize();
    for (int32_t bus = 0; bus < kChannels / 2; ++bus) plugin->activateBus(Steinberg::Vst::kAudio, Steinberg::Vst::kOutput, bus, true);
    plugin->setupProcessing(kRate, kBlock);
    plugin->setActive(true);
    plugin->setProcessing(true);
    plugin->setState(state);
    // The module's idle timer installs the effects and hands the sounds over.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    data = plugin->blockData(kBlock);
  }

  ~Sides() {
    if (plugin) plugin->teardown();
    plugin.reset();
    module.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dataRoot, ignored);
  }

  // The milliseconds of one second rendered by the engine alone; with `energy`, not timed, the
  // sum of its squared output samples is added there.
  double engineSecond(bool fullLoad, double* energy = nullptr) {
    const double start = threadMs();
    for (int32_t block = 0; block < kSecond / kBlock; ++block) {
      notesOfBlock(block, fullLoad, [this](int32_t note, float velocity) { engine->processNote(note, velocity, 0, 0); });
      engine->processBlock(outputs, kBlock, kChannels, 0);
      for (int32_t c = 0; energy != nullptr && c < kChannels; ++c) *energy += sumOfSquares(outputs[c]);
    }
    benchmark::DoNotOptimize(buffers[0].data());
    return threadMs() - start;
  }

  // The same through the shell.
  double shellSecond(bool fullLoad, double* energy = nullptr) {
    testhost::EventList events;
    const double start = threadMs();
    for (int32_t block = 0; block < kSecond / kBlock; ++block) {
      events.clear();
      notesOfBlock(block, fullLoad, [&events](int32_t note, float velocity) {
        events.addNoteOn(0, 0, static_cast<Steinberg::int16>(note), velocity);
      });
      data.inputEvents = &events;
      plugin->process(data);
      for (int32_t c = 0; energy != nullptr && c < kChannels; ++c) {
        *energy += sumOfSquares(data.outputs[c / 2].channelBuffers32[c % 2]);
      }
    }
    return threadMs() - start;
  }

  // Processor time of this thread, which runs both sides: on a machine shared with other work
  // the wall clock would time the other work too.
  static double threadMs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
  }

  static double sumOfSquares(const float* samples) {
    double sum = 0.0;
    for (int32_t i = 0; i < kBlock; ++i) sum += static_cast<double>(samples[i]) * samples[i];
    return sum;
  }
};

void compare(benchmark::State& state, bool fullLoad) {
  Sides sides(fullLoad ? 8 : 1);
  if (!sides.plugin) {
    state.SkipWithError("the Oskra bundle did not load");
    return;
  }
  double engineEnergy = 0.0;
  double shellEnergy = 0.0;
  sides.engineSecond(fullLoad, &engineEnergy);
  sides.shellSecond(fullLoad, &shellEnergy);
  double engineMs = 0.0;
  double shellMs = 0.0;
  bool engineFirst = true;  // taking turns, so that neither side always runs on the other's caches
  for (auto _ : state) {
    if (engineFirst) engineMs += sides.engineSecond(fullLoad);
    shellMs += sides.shellSecond(fullLoad);
    if (!engineFirst) engineMs += sides.engineSecond(fullLoad);
    engineFirst = !engineFirst;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["engine_ms"] = engineMs / n;
  state.counters["shell_ms"] = shellMs / n;
  state.counters["shell_percent"] = 100.0 * (shellMs - engineMs) / engineMs;
  state.counters["energy_ratio"] = engineEnergy > 0.0 ? shellEnergy / engineEnergy : 0.0;
}

void BM_ShellOneVoice(benchmark::State& state) { compare(state, false); }
BENCHMARK(BM_ShellOneVoice)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_ShellFullLoad(benchmark::State& state) { compare(state, true); }
BENCHMARK(BM_ShellFullLoad)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace
