#pragma once

#include <cstdint>
#include <string>

// What the support text reports about the host and the audio set-up.
struct ProductInfo {
  std::string hostPath = "unknown";  // the host's executable
  std::string kernelRelease;         // "" when unknown
  int32_t lastBlockSize = -1;        // -1 before the first audio block
  float sampleRate = 0.0f;           // 0 before the first reset
  int32_t outputChannels = -1;       // connected output channels; -1 before the first block
};

// The host path and kernel release of the running process, the audio fields at their start
// values for the caller to fill in.
ProductInfo CurrentProductInfo();

// The text of the information box that the user copies into support requests: lines ended by
// "\r\n" naming the product, version, format, architecture, host, system, block size, sample
// rate and channel count.
std::string GetProductInfoText(const ProductInfo& info);
