// The Oskra bundle as the build makes it, loaded through the in-tree test host as a Linux host
// loads a plug-in.
#include <algorithm>
#include <map>
#include <random>
#include <thread>

#include "plugin/vst3/Vst3Text.h"
#include "tests/plugin/FennrakeTestKit.h"
#include "tools/testhost/HostedPlugin.h"

namespace vst = Steinberg::Vst;
using testhost::HostedPlugin;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kRandomSeconds = 6;
#else
constexpr int kRandomSeconds = 60;
#endif
constexpr int kBlock = 512, kBuses = 9;

// Loaded, initialised, every output bus on (but `inactiveBus`), set up for `sampleSize`, active
// and processing; with a saved state (made by an instance linked into the test program) in which
// track 1 plays an analysed kick on bus `bus`.
std::unique_ptr<HostedPlugin> start(double rate, int bus, int32_t sampleSize = vst::kSample32, int inactiveBus = -1) {
  iplug::Timer::SetManualMode(true);
  FennrakePtr maker(new Fennrake);
  for (Blob& blob : maker->mBandSynth.tracks[0].blobs) EXPECT_TRUE(blob.analyze(testaudio::kick(44100.0), 44100.0f, true, 0));
  maker->mBandSynth.params[BandSynth::trackParam(0, TrackParam::kOutput)].setValue(static_cast<float>(bus));
  iplug::IByteChunk chunk;
  maker->SerializeState(chunk);
  maker.reset();
  iplug::Timer::SetManualMode(false);
  std::vector<char> state(chunk.GetData(), chunk.GetData() + chunk.Size());
  state.insert(state.end(), 4, 0);  // the bypass flag
  std::string error;
  auto module = testhost::VstModule::load(OSKRA_BUNDLE, error);
  auto plugin = module ? HostedPlugin::create(module, module->classInfos().at(0).cid, error) : nullptr;
  EXPECT_TRUE(plugin) << error;
  if (!plugin) return nullptr;
  plugin->initialize();
  for (int b = 0; b < kBuses; ++b) plugin->activateBus(vst::kAudio, vst::kOutput, b, b != inactiveBus);
  EXPECT_EQ(plugin->setupProcessing(rate, kBlock, sampleSize), Steinberg::kResultOk);
  plugin->setActive(true), plugin->setProcessing(true);
  EXPECT_EQ(plugin->setState(state), Steinberg::kResultOk);
  return plugin;
}

}  // namespace

TEST(OskraBundle, LoadsWithItsClassParametersAndBuses) {
  ScopedDataRoot root;
  auto plugin = start(48000.0, 0);
  ASSERT_TRUE(plugin);
  std::string error;
  const Steinberg::PClassInfo2 info = testhost::VstModule::load(OSKRA_BUNDLE, error)->classInfos().at(0);
  char cid[33] = {};
  Steinberg::FUID::fromTUID(info.cid).toString(cid);
  EXPECT_EQ(std::string(cid) + info.name + info.subCategories + info.version + info.sdkVersion,
            "F2AEE70D00DE4F4E544B32374F736B72OskraInstrument|Synth2.0.0VST 3.7.12");
  std::map<vst::ParamID, std::string> titles;
  for (int i = 0; i < plugin->controller()->getParameterCount(); ++i) {
    vst::ParameterInfo param{};
    plugin->controller()->getParameterInfo(i, param);
    if (param.id < 117) titles[param.id] = iplug::ToUtf8(param.title);
  }
  EXPECT_EQ(titles.size(), 117u);
  EXPECT_EQ(titles[0] + "," + titles[116], "Track 1 Amp,Synth Detune");
  ASSERT_EQ(plugin->component()->getBusCount(vst::kAudio, vst::kOutput), kBuses);
  for (int bus = 0; bus < kBuses; ++bus) {
    vst::BusInfo bi{};
    plugin->component()->getBusInfo(vst::kAudio, vst::kOutput, bus, bi);
    EXPECT_EQ(iplug::ToUtf8(bi.name) + std::to_string(bi.channelCount), (bus ? "Bus " + std::to_string(bus) : "Main") + "2");
  }
  std::vector<char> before, after;  // a refused state is answered as refused and changes nothing
  plugin->getState(before);
  EXPECT_EQ(plugin->setState(std::vector<char>(64, 'x')), Steinberg::kResultFalse);
  plugin->getState(after);
  EXPECT_EQ(after, before);
  EXPECT_EQ(plugin->processor()->getLatencySamples(), 64u);
  EXPECT_EQ(plugin->processor()->getTailSamples(), 0u);
}

// A state whose bypass flag is missing is still the whole sound: it loads, and the answer says so.
TEST(OskraBundle, AStateWithoutItsBypassFlagIsLoadedAndAccepted) {
  ScopedDataRoot root;
  auto plugin = start(48000.0, 2);
  ASSERT_TRUE(plugin);
  std::vector<char> state, reloaded;
  ASSERT_EQ(plugin->getState(state), Steinberg::kResultOk);
  auto other = start(48000.0, 6);
  ASSERT_TRUE(other);
  EXPECT_EQ(other->setState(std::vector<char>(state.begin(), state.end() - 4)), Steinberg::kResultOk);
  ASSERT_EQ(other->getState(reloaded), Steinberg::kResultOk);
  EXPECT_EQ(reloaded, state);
}

namespace {

constexpr int kKickBus = 3, kInactiveBus = 5, kRunBlocks = 12;

// The same notes at the same block size in blocks of `sampleSize`, then one bypassed block: every
// output bus's host buffers, block after block. Each run has a thread of its own, so the engine's
// per-thread random draws start alike.
std::vector<std::vector<double>> runNotes(int32_t sampleSize) {
  std::vector<std::vector<double>> out(kBuses * 2);
  std::thread([&] {
    auto plugin = start(48000.0, kKickBus, sampleSize, kInactiveBus);
    if (!plugin) return;
    for (int block = 0; block <= kRunBlocks; ++block) {
      testhost::EventList events;
      testhost::ParameterChanges changes;
      if (block % 4 == 0) events.addNoteOn(17 * block, 0, 36, 0.9f);  // track 1's kick
      if (block % 4 == 2) events.addNoteOn(40, 0, 39, 0.5f);           // another track
      if (block == kRunBlocks) changes.add(65536, 0, 1.0);            // the last block bypassed
      EXPECT_EQ(plugin->process(kBlock, &events, &changes), Steinberg::kResultOk);
      for (int c = 0; c < kBuses * 2; ++c)
        for (int i = 0; i < kBlock; ++i)
          out[size_t(c)].push_back(sampleSize == vst::kSample64 ? plugin->output64(c / 2, c % 2)[i] : plugin->output(c / 2, c % 2)[i]);
    }
  }).join();
  return out;
}

}  // namespace

// A host that processes in double gets what a single-precision host gets, on every output bus;
// a bus it switched off keeps its buffers untouched, and bypassed blocks are silent.
TEST(OskraBundle, SixtyFourBitBlocksGiveTheThirtyTwoBitSamples) {
  ScopedDataRoot root;
  const std::vector<std::vector<double>> single = runNotes(vst::kSample32), twice = runNotes(vst::kSample64);
  ASSERT_EQ(single.size(), twice.size());
  const size_t bypassed = size_t(kRunBlocks) * kBlock;
  for (int c = 0; c < kBuses * 2; ++c) {
    const auto& a = single[size_t(c)];
    const auto& b = twice[size_t(c)];
    ASSERT_EQ(a.size(), size_t(kRunBlocks + 1) * kBlock);
    ASSERT_EQ(b.size(), a.size());
    double energy = 0.0;
    for (size_t i = 0; i < a.size(); ++i) {
      ASSERT_EQ(static_cast<float>(b[i]), static_cast<float>(a[i])) << c << " " << i;
      if (c / 2 == kInactiveBus) {
        ASSERT_EQ(b[i], HostedPlugin::kUntouched) << c << " " << i;
      } else if (i >= bypassed) {
        ASSERT_EQ(b[i], 0.0) << c << " " << i;
      } else {
        energy += a[i] * a[i];
      }
    }
    if (c / 2 == kKickBus) {
      EXPECT_GT(energy, 1e-3) << c;
    }
  }
}

// For every tag the host can name (the plug-in's parameters, the bypass tag, the controllers),
// any value becomes a text within the host's 128 characters, and no text becomes a value outside
// 0..1.
TEST(OskraBundle, ParameterTextsAreBoundedForEveryTag) {
  ScopedDataRoot root;
  std::string error;
  auto module = testhost::VstModule::load(OSKRA_BUNDLE, error);
  auto plugin = module ? HostedPlugin::create(module, module->classInfos().at(0).cid, error) : nullptr;
  ASSERT_TRUE(plugin) << error;
  ASSERT_EQ(plugin->initialize(), Steinberg::kResultOk);
  Steinberg::Vst::IEditController* controller = plugin->controller();
  std::vector<vst::ParamID> tags = {65536, 65537};
  for (vst::ParamID tag = 0; tag < 117; ++tag) tags.push_back(tag);
  for (vst::ParamID tag = 65538; tag < 65538 + 130; ++tag) tags.push_back(tag);
  const double values[] = {0.0, 1.0, -1.0, 2.0, 1e122, 1e300, -1e300, NAN, INFINITY, -INFINITY};
  const std::u16string texts[] = {u"1e200", u"-1e308", u"100 %", u"100", u"-1", u"0.5", u"nan", u"inf", u"-inf", u"", u"On", u"abc"};
  int accepted = 0;
  for (vst::ParamID tag : tags) {
    for (double value : values) {
      vst::String128 text;
      std::fill(std::begin(text), std::end(text), u'x');
      controller->getParamStringByValue(tag, value, text);
      ASSERT_NE(std::find(std::begin(text), std::end(text), u'\0'), std::end(text)) << tag << " " << value;
    }
    for (std::u16string text : texts) {
      vst::ParamValue value = -7.0;
      if (controller->getParamValueByString(tag, text.data(), value) != Steinberg::kResultTrue) continue;
      ++accepted;
      ASSERT_TRUE(value >= 0.0 && value <= 1.0) << tag << " " << iplug::ToUtf8(text.c_str()) << " " << value;
    }
  }
  EXPECT_GT(accepted, 1000);  // most tags read most of these texts as some value
}

// Heard from the first block after the host restored the state, without waiting for the idle timer.
TEST(OskraBundle, ANoteOnTrackOneSoundsOnlyOnTheBusItIsRoutedTo) {
  ScopedDataRoot root;
  for (int target : {0, 3, 8}) {
    auto plugin = start(48000.0, target);
    ASSERT_TRUE(plugin);
    std::vector<double> energy(kBuses, 0.0);
    for (int block = 0; block < 20; ++block) {
      testhost::EventList events;
      if (block == 0) events.addNoteOn(0, 0, 36, 1.0f);
      plugin->process(kBlock, &events);
      for (int i = 0; i < kBuses * 2 * kBlock; ++i) energy[size_t(i / (2 * kBlock))] += std::pow(plugin->output(i / (2 * kBlock), i / kBlock % 2)[i % kBlock], 2.0);
    }
    for (int bus = 0; bus < kBuses; ++bus) EXPECT_TRUE(bus == target ? energy[bus] > 1e-3 : energy[bus] == 0.0) << bus << " " << energy[bus];
  }
}

TEST(OskraBundle, RandomNotesAndParameterChangesStayFiniteAndBounded) {
  ScopedDataRoot root;
  std::mt19937 random(2024);
  for (double rate : {44100.0, 96000.0}) {
    auto plugin = start(rate, 0);
    ASSERT_TRUE(plugin);
    vst::ProcessContext context{};
    context.tempo = 120.0;
    context.state = vst::ProcessContext::kPlaying | vst::ProcessContext::kTempoValid | vst::ProcessContext::kProjectTimeMusicValid;
    float peak = 0.0f;
    for (int block = 0; block < static_cast<int>(kRandomSeconds * rate / kBlock); ++block) {
      testhost::EventList events;
      testhost::ParameterChanges changes;
      for (int k = static_cast<int>(random() % 4); k > 0; --k) {
        const auto offset = static_cast<int32_t>(random() % kBlock);
        const auto channel = static_cast<int16_t>(random() % 16), pitch = static_cast<int16_t>(random() % 128);
        random() % 3 ? events.addNoteOn(offset, channel, pitch, static_cast<float>(random() % 128) / 127.0f) : events.addNoteOff(offset, channel, pitch);
      }
      if (random() % 4 == 0) changes.add(random() % 117, static_cast<int32_t>(random() % kBlock), (random() % 1001) / 1000.0);
      if (random() % 50 == 0) context.tempo = 40.0 + static_cast<double>(random() % 200);
      context.projectTimeMusic += kBlock / rate * context.tempo / 60.0;
      plugin->process(kBlock, &events, &changes, &context);
      for (int i = 0; i < kBuses * 2 * kBlock; ++i) {
        const float v = plugin->output(i / (2 * kBlock), i / kBlock % 2)[i % kBlock];
        peak = std::isfinite(v) ? std::max(peak, std::fabs(v)) : INFINITY;
      }
    }
    EXPECT_LT(peak, 32.0f) << rate;
  }
}
