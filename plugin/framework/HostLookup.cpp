#include "plugin/framework/HostLookup.h"

#include <cstring>

namespace iplug {

namespace {

struct HostKey {
  const char* key;
  int number;
};

// Searched in this order: longer names come before the keys they contain ("wavelab elements"
// before "wavelab"), and the most generic keys come last.
constexpr HostKey kHostKeys[] = {
    {"reaper", 1},         {"protools", 2},
    {"cubase", 3},         {"nuendo", 4},
    {"cakewalk", 5},       {"vegas", 6},
    {"fruity", 7},         {"samplitude", 8},
    {"live", 9},           {"tracktion", 10},
    {"ntracks", 11},       {"melodyne", 12},
    {"vstmanlib", 13},     {"aulab", 14},
    {"forte", 15},         {"chainer", 16},
    {"audition", 17},      {"orion", 18},
    {"bias", 19},          {"sawstudio", 20},
    {"logic", 21},         {"garageband", 22},
    {"digital", 23},       {"audiomulch", 25},
    {"presonus", 26},      {"vst3plugintesthost", 27},
    {"ardour", 28},        {"renoise", 29},
    {"openmpt", 30},       {"wavelab elements", 32},
    {"wavelab", 31},       {"twistedwave", 33},
    {"bitwig studio", 34}, {"reason", 36},
    {"gwvst", 37},         {"waveform", 38},
    {"audacity", 39},      {"acoustica", 40},
    {"plugindoctor", 41},  {"izotope rx", 42},
    {"savihost", 43},      {"blue cat's vst host", 44},
    {"mixbus", 45},        {"standalone", 24},
    {"www", 35},
};

}  // namespace

int LookUpHost(const char* name) {
  if (name == nullptr) return kHostUnknown;
  char lower[256];
  const size_t length = strnlen(name, sizeof(lower) - 1);
  for (size_t i = 0; i < length; ++i) {
    const char c = name[i];
    lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  lower[length] = '\0';
  for (const HostKey& host : kHostKeys) {
    if (std::strstr(lower, host.key) != nullptr) return host.number;
  }
  return kHostUnknown;
}

}  // namespace iplug
