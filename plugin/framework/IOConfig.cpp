#include "plugin/framework/IOConfig.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>

namespace iplug {

int IOConfig::NChansOnBus(ERoute direction, int busIdx) const {
  return busIdx >= 0 && busIdx < NBuses(direction) ? mBuses[direction][static_cast<size_t>(busIdx)].mNChans : 0;
}

int IOConfig::GetTotalNChannels(ERoute direction) const {
  int total = 0;
  for (const IBusInfo& bus : mBuses[direction]) total += std::max(bus.mNChans, 0);
  return total;
}

bool IOConfig::ContainsWildcard(ERoute direction) const {
  return std::any_of(mBuses[direction].begin(), mBuses[direction].end(),
                     [](const IBusInfo& bus) { return bus.mNChans == IBusInfo::kWildcardChannels; });
}

namespace {

// Reads a count as "%d" would, from the start of the text; 0 where no number stands. False for a
// count no configuration can have.
bool readCount(std::string_view text, int& count) {
  if (text == "*") {
    count = IBusInfo::kWildcardChannels;
    return true;
  }
  const std::string copy(text);
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(copy.c_str(), &end, 10);
  if (end == copy.c_str()) {
    count = 0;
    return true;
  }
  if (errno == ERANGE || value < 0 || value > kMaxChannelsPerBus) return false;
  count = static_cast<int>(value);
  return true;
}

bool readSide(std::string_view text, ERoute direction, std::vector<IBusInfo>& buses) {
  size_t start = 0;
  while (true) {
    const size_t dot = text.find('.', start);
    int count = 0;
    if (!readCount(text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start), count)) {
      return false;
    }
    if (count != 0) {
      if (static_cast<int>(buses.size()) == kMaxBusesPerSide) return false;
      buses.push_back(IBusInfo{direction, count});
    }
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

}  // namespace

int ParseChannelIOStr(const char* text, std::vector<IOConfig>& configs, int& maxNInChans, int& maxNOutChans,
                      int& maxNInBuses, int& maxNOutBuses) {
  configs.clear();
  maxNInChans = maxNOutChans = maxNInBuses = maxNOutBuses = 0;
  const std::string_view all(text != nullptr ? text : "");
  size_t start = 0;
  while (start < all.size()) {
    const size_t space = all.find(' ', start);
    const std::string_view token =
        all.substr(start, space == std::string_view::npos ? std::string_view::npos : space - start);
    start = space == std::string_view::npos ? all.size() : space + 1;
    if (token.empty()) continue;
    const size_t dash = token.find('-');
    IOConfig config;
    bool ok = true;
    if (dash == std::string_view::npos) {
      ok = readSide(token, kInput, config.mBuses[kInput]);
    } else {
      const std::string_view outputs = token.substr(dash + 1);
      ok = outputs.find('-') == std::string_view::npos &&
           readSide(token.substr(0, dash), kInput, config.mBuses[kInput]) &&
           readSide(outputs, kOutput, config.mBuses[kOutput]);
    }
    if (!ok) {
      configs.clear();
      maxNInChans = maxNOutChans = maxNInBuses = maxNOutBuses = 0;
      return 0;
    }
    maxNInChans = std::max(maxNInChans, config.GetTotalNChannels(kInput));
    maxNOutChans = std::max(maxNOutChans, config.GetTotalNChannels(kOutput));
    maxNInBuses = std::max(maxNInBuses, config.NBuses(kInput));
    maxNOutBuses = std::max(maxNOutBuses, config.NBuses(kOutput));
    configs.push_back(std::move(config));
  }
  return static_cast<int>(configs.size());
}

}  // namespace iplug
