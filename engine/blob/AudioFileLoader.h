#pragma once

#include <cstdint>
#include <vector>

// Loading of audio files (WAV, AIFF, FLAC, ...) into float32 sample lists at the file's own
// sample rate and channel count, for sound import. Runs on the user-interface thread.

// The longest file that is loaded: 2^25 frames, about 12.7 minutes at 44.1 kHz, far beyond any
// drum hit. Longer files are cut here and the part that was read is kept.
inline constexpr uint64_t kAudioFileMaxFrames = uint64_t{1} << 25;

// Files with more channels than this are refused. It covers every speaker layout up to 22.2
// and ambisonics up to seventh order, and keeps the decoder's working block small.
inline constexpr int32_t kAudioFileMaxChannels = 64;

// Decodes the whole file at `path`. On success `out` holds one list per output channel, all of
// the length actually decoded; with `mono` set the channels are mixed down to one. The sample
// rate and the output channel count are written through the pointers that are not null.
// On failure (a file that can't be opened or recognised, no channels, too many channels, a
// sample rate below 1 Hz, out of memory) `out` is emptied and neither pointer is written.
//
// The frame count in the file's header is never trusted: decoding goes on in blocks until the
// decoder stops or `maxFrames` frames (never more than kAudioFileMaxFrames) are kept. Files
// with more than two output channels are cut earlier, so that no load keeps more samples than
// that many stereo frames would.
void LoadAudioFile(const char* path, float* sampleRate, uint32_t* channels,
                   std::vector<std::vector<float>>& out, bool mono,
                   uint64_t maxFrames = kAudioFileMaxFrames);

// LoadAudioFile, then channel 0 of the result; an empty list when no channel was decoded.
std::vector<float> LoadAudioFileMono(const char* path, float* sampleRate, bool mono,
                                     uint32_t* channels);

// In place: frame f of the interleaved `samples` becomes the mean of its `channels` samples
// (summed in channel order in float32, then divided), and the list shrinks to the frame count.
// Trailing samples that don't fill a frame are dropped. A channel count below 1 leaves the
// list as it is.
void MixDownToMono(std::vector<float>& samples, int channels);
