#include "plugin/ProductInfo.h"

#include <cmath>

#include "platform/SystemInfo.h"

namespace {

// Truncated toward zero; a rate no host could mean (not finite, beyond 32 bits) shows as 0.
int64_t wholeRate(float rate) {
  if (!std::isfinite(rate) || std::fabs(rate) >= 2147483648.0f) return 0;
  return static_cast<int64_t>(rate);
}

}  // namespace

ProductInfo CurrentProductInfo() {
  ProductInfo info;
  info.hostPath = hostExecutablePath();
  info.kernelRelease = kernelRelease();
  return info;
}

std::string GetProductInfoText(const ProductInfo& info) {
  try {
    std::string text = "(hit ctrl+c to copy this)\r\n\r\n";
    text += "Product: Oskra\r\nVersion: 2.0.0\r\nFormat: VST3\r\nArch: x86-64\r\n";
    text += "Host: " + info.hostPath + "\r\n";
    text += "OS: Linux " + info.kernelRelease + "\r\n";
    text += "Buffersize: " + std::to_string(info.lastBlockSize) + "\r\n";
    text += "Samplerate: " + std::to_string(wholeRate(info.sampleRate)) + "\r\n";
    text += "Channels: " + std::to_string(info.outputChannels) + "\r\n";
    return text;
  } catch (const std::exception&) {
    return {};
  }
}
