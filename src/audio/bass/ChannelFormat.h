#pragma once
// The one format every stream is decoded to: 44,100 Hz, stereo, interleaved 32-bit float.
// Positions and lengths of a channel count bytes of this format.

#include <cstdint>

namespace orvane::bass {

constexpr int kSampleRate = 44100;
constexpr int kChannels = 2;
constexpr int kBytesPerFrame = kChannels * static_cast<int>(sizeof(float));  // 8

}  // namespace orvane::bass
