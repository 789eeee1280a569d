#pragma once
// Fixtures for the audio library's tests: short audio files made at test time with the ffmpeg
// command-line tool, and helpers to measure what was decoded or played.

#include <cstdint>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace orvane::test {

// Runs a program found on PATH (no shell) with the given arguments (argv[0] included); true when
// it exited with 0.
bool RunProgram(const std::vector<std::string>& argv);

// Runs ffmpeg (no shell) with -y and the given arguments; true when it succeeded.
bool RunFfmpeg(const std::vector<std::string>& args);

// Writes seconds of a lavfi source expression (e.g. "sine=frequency=1000:sample_rate=44100")
// encoded with codecArgs (e.g. {"-c:a", "libmp3lame"}) to dir/name; returns the path, empty on failure.
std::string MakeAudio(const TempDir& dir, const std::string& name, const std::string& lavfi,
                      const std::vector<std::string>& codecArgs);

// A stereo sine of amplitude 0.5 as 32-bit float WAV (lossless: exact levels).
std::string MakeSineWav(const TempDir& dir, const std::string& name, double hz, double seconds);

// Interleaved stereo float samples of a raw file (SDL's disk output).
std::vector<float> ReadFloats(const std::string& path);

// Decodes a whole stream through BASS_STREAM_DECODE; interleaved stereo float.
std::vector<float> DecodeAll(uint32_t stream);

// Peak absolute value of the left channel over frames [from, to).
float PeakLeft(const std::vector<float>& samples, size_t from, size_t to);

// Index of the first frame at or after from whose left sample exceeds threshold; -1 when none.
int64_t FirstLoudFrame(const std::vector<float>& samples, float threshold, size_t from = 0);

// Points SDL's disk driver at a file in dir (call before BASS_Init) and returns its path.
std::string UseDiskOutput(const TempDir& dir);

}  // namespace orvane::test
