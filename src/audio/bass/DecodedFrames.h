#pragma once
// Decoded frames in the channel format waiting to be handed out, for codecs that decode a block
// at a time (a FLAC frame, a Musepack frame): the codec's step appends, Read takes from the front.
// Used by one thread at a time, like the decoder that owns it.

#include <algorithm>
#include <cstddef>
#include <vector>

#include "ChannelFormat.h"

namespace orvane::bass {

class DecodedFrames {
 public:
  // Room for count more frames at the back, for the caller to fill.
  float* Append(size_t count) {
    const size_t at = samples.size();
    samples.resize(at + count * kChannels);
    return samples.data() + at;
  }
  // Moves up to frames frames to out; returns how many (0 when empty).
  size_t Take(float* out, size_t frames) {
    const size_t count = std::min(frames, samples.size() / kChannels - read);
    std::copy_n(samples.data() + read * kChannels, count * kChannels, out);
    read += count;
    if (read * kChannels == samples.size()) Clear();
    return count;
  }
  void Clear() {
    samples.clear();
    read = 0;
  }

 private:
  std::vector<float> samples;  // interleaved; frames before read are handed out already
  size_t read = 0;
};

}  // namespace orvane::bass
