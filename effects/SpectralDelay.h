#pragma once

#include <cstdint>
#include <vector>

#include "engine/dsp/Fft.h"

// Delays every frequency bin of a mono signal by its own, fractional number of analysis frames,
// with the phase carried along so a click comes out as a dispersed chirp. Frames of N samples
// with a hop of N/4 are windowed and transformed; a ring of the last H spectra holds the past,
// each bin mixes the two past frames around its delay, and the frames are resynthesised by
// weighted overlap-add. Latency is N samples plus each bin's own delay.
//
// init allocates everything; process, setDelays and reset never allocate.
struct SpectralDelay {
  // The longest history init gives: 4096 spectra of 256 bins are 4 MB, and no delay curve of
  // an owner needs more than a few hundred frames.
  static constexpr int kMaxHistory = 4096;

  struct Complex {
    float re = 0.0f;
    float im = 0.0f;
  };

  uint8_t centred = 0;  // frames start at the write index (1 would start them half a frame on)
  int32_t size = 0;     // N, frame and transform size
  int32_t hop = 0;      // N / 4
  int32_t frameSize = 0;
  Fft fft;  // owned plan of N points, canonical layout
  std::vector<float> analysisWindow;
  std::vector<float> synthesisWindow;
  std::vector<float> inputRing;
  std::vector<float> outputRing;
  std::vector<float> spectrum;  // scratch for the mixed spectrum
  std::vector<float> frame;     // scratch for the time-domain frame
  int32_t writeIndex = 0;
  int32_t nextFrame = 0;
  int32_t historySize = 0;             // H
  std::vector<float> history;          // H spectra of N floats, in the transform's layout
  std::vector<int32_t> binDelays;      // whole-frame part of each bin's delay
  std::vector<Complex> coefficients0;  // weight of the frame binDelays back
  std::vector<Complex> coefficients1;  // weight of the frame one further back
  int32_t currentSlot = 0;

  // N a power of two the transform supports; H is raised to a power of two (at least 2, at most
  // kMaxHistory). Returns false, leaving a silent processor, when N cannot be transformed.
  bool init(int n, int historyLength);
  // `count` bins (N/2 at most) get a delay in frames and a linear gain. Delays are held within
  // what the history can give back: 0 to H - 1 frames.
  void setDelays(const float* delay, const float* gain, int count);
  void process(const float* in, float* out, int n);
  // Forgets the past spectra; the input and output rings keep their samples.
  void reset();

 private:
  void processFrame();
};
