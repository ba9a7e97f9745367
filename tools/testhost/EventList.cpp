#include "tools/testhost/EventList.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace testhost {

void EventList::addNoteOn(int32 offset, int16 channel, int16 pitch, float velocity) {
  Event e{};
  e.sampleOffset = offset;
  e.type = Event::kNoteOnEvent;
  e.noteOn = {channel, pitch, 0.0f, velocity, 0, -1};
  events.push_back(e);
}

void EventList::addNoteOff(int32 offset, int16 channel, int16 pitch) {
  Event e{};
  e.sampleOffset = offset;
  e.type = Event::kNoteOffEvent;
  e.noteOff = {channel, pitch, 0.0f, -1, 0.0f};
  events.push_back(e);
}

int32 PLUGIN_API EventList::getEventCount() { return static_cast<int32>(events.size()); }

tresult PLUGIN_API EventList::getEvent(int32 index, Event& e) {
  if (index < 0 || index >= getEventCount()) return kInvalidArgument;
  e = events[static_cast<size_t>(index)];
  return kResultOk;
}

tresult PLUGIN_API EventList::addEvent(Event& e) {
  events.push_back(e);
  return kResultOk;
}

}  // namespace testhost
