#pragma once
// The decoder for the common formats at the channel's rate — MPEG audio (layers I to III), FLAC,
// Ogg Vorbis, WAV and AIFF at 44,100 Hz, mono or stereo — on libsndfile and the codec libraries
// under it (mpg123, libFLAC, libvorbis). The sound server's client library already brings those
// into every player process, so playing these formats adds almost nothing to its memory, where
// the FFmpeg module (Decoder.h) brings some seventy libraries. Everything else, and every URL
// stream, goes to the FFmpeg module.
//
// Used by one thread at a time, like every Decoder.

#include <sndfile.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Decoder.h"

namespace orvane::bass {

class SndfileDecoder final : public Decoder {
 public:
  // Null when the source is not one of the formats above (or holds nothing it can decode); the
  // caller then tries the FFmpeg module, which has the last word on what the content is.
  static std::unique_ptr<SndfileDecoder> Open(std::shared_ptr<ByteSource> source);
  ~SndfileDecoder() override;
  SndfileDecoder(const SndfileDecoder&) = delete;
  SndfileDecoder& operator=(const SndfileDecoder&) = delete;

  size_t Read(float* out, size_t frames, Status& status) override;
  bool Seek(int64_t frame) override;
  int64_t NextFrame() const override { return next; }
  int64_t LengthFrames() const override { return lengthFrames; }
  int64_t BitRate() const override { return 0; }  // files only: nothing waits for a download
  ByteSource& Source() override { return *source; }

 private:
  SndfileDecoder() = default;

  static sf_count_t VirtualLength(void* user);
  static sf_count_t VirtualSeek(sf_count_t offset, int whence, void* user);
  static sf_count_t VirtualRead(void* ptr, sf_count_t count, void* user);
  static sf_count_t VirtualWrite(const void* ptr, sf_count_t count, void* user);
  static sf_count_t VirtualTell(void* user);

  // The codec libraries read a frame at a time; the source is read in large blocks instead, as
  // one system call per MP3 frame would cost more than decoding it.
  static constexpr size_t kReadBlock = 64 * 1024;

  std::shared_ptr<ByteSource> source;
  std::vector<uint8_t> block;  // source bytes [blockStart, blockStart + block.size())
  int64_t blockStart = 0;
  int64_t position = 0;  // where libsndfile reads next
  SNDFILE* file = nullptr;
  int channels = 0;
  int64_t lengthFrames = -1;
  int64_t next = 0;
  std::vector<float> mono;  // a mono file's samples before they go to both sides
};

}  // namespace orvane::bass
