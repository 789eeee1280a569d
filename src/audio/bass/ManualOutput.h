#pragma once
// A sound output that plays only when it is pulled, for tests that must hear exactly what was
// played whatever the load of the machine: no real time, no sleeping and hoping.
//
//   orvane::bass::UseManualOutput(true);          // before BASS_Init
//   BASS_Init(-1, 44100, 0, nullptr, nullptr);    // opens the manual device, not SDL's
//   … BASS_ChannelPlay(stream, FALSE) …
//   std::vector<float> block(2 * 4410);
//   orvane::bass::PullOutput(block.data(), 4410);  // the next 0.1 s, mixed as a sound card would get it
//
// A pull is mixed in device periods (1024 frames), as a sound card asks; each waits (at most waitMs
// in all) until every playing stream has its frames decoded, so what a pull returns never depends
// on how fast the decoder threads ran. A pulled frame counts as heard. While the output is stopped
// (BASS_Stop) a pull gives silence and plays nothing.
//
// Threads: UseManualOutput before BASS_Init; PullOutput from one thread at a time, any thread.

#include <cstddef>

namespace orvane::bass {

void UseManualOutput(bool on);
// Mixes the next frames (interleaved stereo float) into out, which it clears first. False when the
// library's output is not the manual device.
bool PullOutput(float* out, size_t frames, int waitMs = 10000);

}  // namespace orvane::bass
