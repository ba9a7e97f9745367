#pragma once

// The host's event list for one block, and the list the plug-in may write events into.

#include <vector>

#include "pluginterfaces/vst/ivstevents.h"
#include "tools/testhost/HostObject.h"

namespace testhost {

class EventList final : public HostObject<Steinberg::Vst::IEventList> {
 public:
  void clear() { events.clear(); }
  void addNoteOn(Steinberg::int32 offset, Steinberg::int16 channel, Steinberg::int16 pitch,
                 float velocity);
  void addNoteOff(Steinberg::int32 offset, Steinberg::int16 channel, Steinberg::int16 pitch);
  const std::vector<Steinberg::Vst::Event>& all() const { return events; }

  Steinberg::int32 PLUGIN_API getEventCount() override;
  Steinberg::tresult PLUGIN_API getEvent(Steinberg::int32 index, Steinberg::Vst::Event& e) override;
  Steinberg::tresult PLUGIN_API addEvent(Steinberg::Vst::Event& e) override;

 private:
  std::vector<Steinberg::Vst::Event> events;
};

}  // namespace testhost
