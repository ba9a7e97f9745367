#include "tools/testhost/HostedPlugin.h"

#include <algorithm>

#include "public.sdk/source/common/memorystream.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace testhost {

std::unique_ptr<HostedPlugin> HostedPlugin::create(std::shared_ptr<VstModule> module,
                                                   const TUID classId, std::string& error) {
  void* obj = nullptr;
  tresult result = module->factory()->createInstance(
      reinterpret_cast<FIDString>(classId), reinterpret_cast<FIDString>(IComponent::iid.toTUID()),
      &obj);
  if (result != kResultOk || obj == nullptr) {
    error = "createInstance failed";
    return nullptr;
  }
  auto plugin = adopt(static_cast<IComponent*>(obj), error);
  if (plugin) plugin->module = std::move(module);
  return plugin;
}

std::unique_ptr<HostedPlugin> HostedPlugin::adopt(FUnknown* instance, std::string& error) {
  if (instance == nullptr) {
    error = "no instance";
    return nullptr;
  }
  std::unique_ptr<HostedPlugin> plugin(new HostedPlugin);
  tresult result =
      instance->queryInterface(IComponent::iid, reinterpret_cast<void**>(&plugin->comp));
  instance->release();
  if (result != kResultOk) {
    plugin->comp = nullptr;
    error = "the instance is no component";
    return nullptr;
  }
  if (plugin->comp->queryInterface(IAudioProcessor::iid, reinterpret_cast<void**>(&plugin->proc)) !=
      kResultOk) {
    plugin->proc = nullptr;
    error = "the component is no audio processor";
    return nullptr;
  }
  // A single-component plug-in is its own controller; others would name a controller class.
  if (plugin->comp->queryInterface(IEditController::iid, reinterpret_cast<void**>(&plugin->ctrl)) !=
      kResultOk)
    plugin->ctrl = nullptr;
  return plugin;
}

HostedPlugin::~HostedPlugin() { teardown(); }

tresult HostedPlugin::initialize() {
  tresult result = comp->initialize(static_cast<IHostApplication*>(&hostContext));
  if (result != kResultOk) return result;
  initialized = true;
  if (ctrl != nullptr) ctrl->setComponentHandler(&componentHandler);
  for (MediaType type : {kAudio, kEvent})
    for (BusDirection dir : {kInput, kOutput})
      for (int32 i = 0; i < comp->getBusCount(type, dir); ++i) {
        BusInfo info{};
        if (comp->getBusInfo(type, dir, i, info) == kResultTrue &&
            (info.flags & BusInfo::kDefaultActive) != 0)
          comp->activateBus(type, dir, i, true);
      }
  return result;
}

tresult HostedPlugin::setBusArrangements(std::vector<SpeakerArrangement> in,
                                         std::vector<SpeakerArrangement> out) {
  return proc->setBusArrangements(in.data(), static_cast<int32>(in.size()), out.data(),
                                  static_cast<int32>(out.size()));
}

tresult HostedPlugin::activateBus(MediaType type, BusDirection dir, int32 index, bool state) {
  return comp->activateBus(type, dir, index, state);
}

tresult HostedPlugin::setupProcessing(SampleRate rate, int32 maxSamplesPerBlock, int32 sampleSize,
                                      int32 mode) {
  ProcessSetup wanted{mode, sampleSize, maxSamplesPerBlock, rate};
  tresult result = proc->setupProcessing(wanted);
  if (result == kResultOk) setup = wanted;
  return result;
}

tresult HostedPlugin::setActive(bool state) {
  if (state) layOutBuffers(std::max(setup.maxSamplesPerBlock, 1));
  tresult result = comp->setActive(state);
  if (result == kResultOk) active = state;
  return result;
}

tresult HostedPlugin::setProcessing(bool state) {
  tresult result = proc->setProcessing(state);
  if (result == kResultOk) processing = state;
  return result;
}

void HostedPlugin::layOutBuffers(int32 frames) {
  auto layOut = [&](BusDirection dir, std::vector<Bus>& buses,
                    std::vector<AudioBusBuffers>& buffers) {
    buses.assign(static_cast<size_t>(std::max(comp->getBusCount(kAudio, dir), 0)), Bus{});
    buffers.assign(buses.size(), AudioBusBuffers{});
    for (size_t b = 0; b < buses.size(); ++b) {
      BusInfo info{};
      if (comp->getBusInfo(kAudio, dir, static_cast<int32>(b), info) != kResultTrue) continue;
      const auto count = static_cast<size_t>(std::max(info.channelCount, 0));
      buffers[b].numChannels = static_cast<int32>(count);
      if (setup.symbolicSampleSize == kSample64) {
        buses[b].channels64.assign(count, std::vector<double>(static_cast<size_t>(frames), 0.0));
        for (auto& channel : buses[b].channels64) buses[b].pointers64.push_back(channel.data());
        buffers[b].channelBuffers64 = buses[b].pointers64.data();
      } else {
        buses[b].channels.assign(count, std::vector<float>(static_cast<size_t>(frames), 0.0f));
        for (auto& channel : buses[b].channels) buses[b].pointers.push_back(channel.data());
        buffers[b].channelBuffers32 = buses[b].pointers.data();
      }
    }
  };
  layOut(kInput, inputs, inputBuffers);
  layOut(kOutput, outputs, outputBuffers);
  capacity = frames;
  laidOutSampleSize = setup.symbolicSampleSize;
}

ProcessData HostedPlugin::blockData(int32 numSamples) {
  if (numSamples > capacity || laidOutSampleSize != setup.symbolicSampleSize ||
      outputs.size() != static_cast<size_t>(comp->getBusCount(kAudio, kOutput)))
    layOutBuffers(std::max(numSamples, capacity));
  for (Bus& bus : inputs) {
    for (auto& channel : bus.channels) std::fill(channel.begin(), channel.end(), 0.0f);
    for (auto& channel : bus.channels64) std::fill(channel.begin(), channel.end(), 0.0);
  }
  for (Bus& bus : outputs) {
    for (auto& channel : bus.channels) std::fill(channel.begin(), channel.end(), kUntouched);
    for (auto& channel : bus.channels64) std::fill(channel.begin(), channel.end(), kUntouched);
  }
  outEvents.clear();
  outChanges.clear();
  ProcessData data;
  data.processMode = setup.processMode;
  data.symbolicSampleSize = setup.symbolicSampleSize;
  data.numSamples = numSamples;
  data.numInputs = static_cast<int32>(inputBuffers.size());
  data.numOutputs = static_cast<int32>(outputBuffers.size());
  data.inputs = inputBuffers.empty() ? nullptr : inputBuffers.data();
  data.outputs = outputBuffers.empty() ? nullptr : outputBuffers.data();
  data.outputParameterChanges = &outChanges;
  data.outputEvents = &outEvents;
  return data;
}

tresult HostedPlugin::process(int32 numSamples, IEventList* events, IParameterChanges* changes,
                              ProcessContext* context) {
  ProcessData data = blockData(numSamples);
  data.inputEvents = events;
  data.inputParameterChanges = changes;
  data.processContext = context;
  return process(data);
}

tresult HostedPlugin::process(ProcessData& data) { return proc->process(data); }

const float* HostedPlugin::output(int32 bus, int32 channel) const {
  if (bus < 0 || bus >= static_cast<int32>(outputs.size())) return nullptr;
  const auto& channels = outputs[static_cast<size_t>(bus)].channels;
  if (channel < 0 || channel >= static_cast<int32>(channels.size())) return nullptr;
  return channels[static_cast<size_t>(channel)].data();
}

const double* HostedPlugin::output64(int32 bus, int32 channel) const {
  if (bus < 0 || bus >= static_cast<int32>(outputs.size())) return nullptr;
  const auto& channels = outputs[static_cast<size_t>(bus)].channels64;
  if (channel < 0 || channel >= static_cast<int32>(channels.size())) return nullptr;
  return channels[static_cast<size_t>(channel)].data();
}

tresult HostedPlugin::getState(std::vector<char>& bytes) {
  MemoryStream stream;
  tresult result = comp->getState(&stream);
  if (result == kResultOk && stream.getData() != nullptr)
    bytes.assign(stream.getData(), stream.getData() + stream.getSize());
  else
    bytes.clear();
  return result;
}

tresult HostedPlugin::setState(const std::vector<char>& bytes) {
  MemoryStream stream(const_cast<char*>(bytes.data()), static_cast<TSize>(bytes.size()));
  tresult result = comp->setState(&stream);
  // Hosts hand the same bytes to the controller too; a single component ignores them.
  if (result == kResultOk && ctrl != nullptr) {
    stream.seek(0, IBStream::kIBSeekSet, nullptr);
    ctrl->setComponentState(&stream);
  }
  return result;
}

void HostedPlugin::teardown() {
  if (comp == nullptr) return;
  if (processing) proc->setProcessing(false);
  if (active) comp->setActive(false);
  processing = active = false;
  if (ctrl != nullptr) ctrl->setComponentHandler(nullptr);
  if (initialized) comp->terminate();
  initialized = false;
  if (ctrl != nullptr) ctrl->release();
  if (proc != nullptr) proc->release();
  comp->release();
  ctrl = nullptr;
  proc = nullptr;
  comp = nullptr;
}

}  // namespace testhost
