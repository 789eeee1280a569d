#pragma once
// The decoder of PCM WAV and AIFF and of Ogg Vorbis at 44,100 Hz, mono or stereo, on libsndfile
// and libvorbis under it. The sound server's client library already brings those into every
// player process, so playing these formats adds almost nothing to its memory, where the FFmpeg
// module (Decoder.h) brings some seventy libraries. Compressed WAV and AIFF (ADPCM, GSM, …),
// other rates and more channels go to the FFmpeg module.
//
// Used by one thread at a time, like every Decoder.

#include <sndfile.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BlockReader.h"
#include "Decoder.h"

namespace orvane::bass {

class SndfileDecoder final : public Decoder {
 public:
  // Null when the source is not one of the formats above (or holds nothing it can decode); the
  // caller then tries the FFmpeg module, which has the last word on what the content is.
  //
  static std::unique_ptr<SndfileDecoder> Open(std::shared_ptr<ByteSource> source);
  ~SndfileDecoder() override;
  SndfileDecoder(const SndfileDecoder&) = delete;
  SndfileDecoder& operator=(const SndfileDecoder&) = delete;

  size_t Read(float* out, size_t frames, Status& status) override;
  bool Seek(int64_t frame) override;
  int64_t NextFrame() const override { return next; }
  ByteSource& Source() override { return *source; }

 protected:
  int64_t DecoderLengthFrames() const override { return lengthFrames; }

 private:
  explicit SndfileDecoder(std::shared_ptr<ByteSource> source);

  static sf_count_t VirtualLength(void* user);
  static sf_count_t VirtualSeek(sf_count_t offset, int whence, void* user);
  static sf_count_t VirtualRead(void* ptr, sf_count_t count, void* user);
  static sf_count_t VirtualWrite(const void* ptr, sf_count_t count, void* user);
  static sf_count_t VirtualTell(void* user);

  std::shared_ptr<ByteSource> source;
  BlockReader reader;
  SNDFILE* file = nullptr;
  int channels = 0;
  int64_t lengthFrames = -1;
  int64_t next = 0;
  std::vector<float> mono;  // a mono file's samples before they go to both sides
};

}  // namespace orvane::bass
