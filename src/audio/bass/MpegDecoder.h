#pragma once
// The decoder of MPEG audio (layers I to III) at 44,100 Hz, mono or stereo, on libmpg123, which
// the sound server's client library already brings into every player process (through
// libsndfile); other rates go to the FFmpeg module, which resamples.
//
// It reads to the last frame it can decode, whatever length a header announced, and resyncs past
// damage however long (a stretch of zeros, the tags between the parts of a joined file). The
// encoder's delay and padding that a LAME tag announces are left out (gapless playback, the way
// FFmpeg does it).
//
// Used by one thread at a time, like every Decoder.

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "BlockReader.h"
#include "Decoder.h"

struct mpg123_handle_struct;

namespace orvane::bass {

class MpegDecoder final : public Decoder {
 public:
  // Null when the source holds no MPEG audio at 44,100 Hz that decodes (the caller then tries the
  // FFmpeg module).
  static std::unique_ptr<MpegDecoder> Open(std::shared_ptr<ByteSource> source);
  ~MpegDecoder() override;
  MpegDecoder(const MpegDecoder&) = delete;
  MpegDecoder& operator=(const MpegDecoder&) = delete;

  size_t Read(float* out, size_t frames, Status& status) override;
  bool Seek(int64_t frame) override;
  int64_t NextFrame() const override { return next; }
  ByteSource& Source() override { return *source; }

 protected:
  int64_t DecoderLengthFrames() const override { return -1; }  // the header reader counts the frames

 private:
  explicit MpegDecoder(std::shared_ptr<ByteSource> source);

  static ssize_t ReadCallback(void* self, void* buffer, size_t bytes);
  static off_t SeekCallback(void* self, off_t offset, int whence);
  // Leaves out of count decoded frames at decoded (the next ones after raw) what gapless playback
  // does not play; returns how many are left, moved to the front.
  size_t Trim(float* decoded, size_t count);

  // The decoder's own delay, which a LAME tag's encoder delay does not count.
  static constexpr int64_t kDecoderDelay = 529;

  std::shared_ptr<ByteSource> source;
  BlockReader reader;
  mpg123_handle_struct* handle = nullptr;
  // Gapless playback, as FFmpeg does it: the first skip decoded frames are the encoder's and the
  // decoder's delay; [padFrom, padTo) is the encoder's padding at the end of the frames the Info
  // frame counts — in the middle of a file joined from several, where the next part follows.
  int64_t skip = 0;
  int64_t padFrom = -1;
  int64_t padTo = -1;
  int64_t raw = 0;  // decoded frames so far, counted from the first audio frame
  int64_t next = 0;
  bool ended = false;
};

}  // namespace orvane::bass
