#pragma once
// The decoder of FLAC at 44,100 Hz, mono or stereo, on libFLAC, which the sound server's client
// library already brings into every player process (through libsndfile); other rates and more
// channels go to the FFmpeg module, which resamples and mixes down.
//
// A damaged stretch does not end the song: libFLAC finds the next frame, and a frame it cannot
// decode comes out as silence of its length, so what follows plays at its own time and the song
// keeps the length its header gives.
//
// Used by one thread at a time, like every Decoder.

#include <FLAC/stream_decoder.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "BlockReader.h"
#include "DecodedFrames.h"
#include "Decoder.h"

namespace orvane::bass {

class FlacDecoder final : public Decoder {
 public:
  // Null when the source is no FLAC at 44,100 Hz in one or two channels that decodes (the caller
  // then tries the FFmpeg module).
  static std::unique_ptr<FlacDecoder> Open(std::shared_ptr<ByteSource> source);
  ~FlacDecoder() override;
  FlacDecoder(const FlacDecoder&) = delete;
  FlacDecoder& operator=(const FlacDecoder&) = delete;

  size_t Read(float* out, size_t frames, Status& status) override;
  bool Seek(int64_t frame) override;
  int64_t NextFrame() const override { return next; }
  ByteSource& Source() override { return *source; }

 protected:
  int64_t DecoderLengthFrames() const override { return totalFrames > 0 ? totalFrames : -1; }

 private:
  struct Callbacks;
  explicit FlacDecoder(std::shared_ptr<ByteSource> source);
  void TakeFrame(const int32_t* const channelData[], const FLAC__FrameHeader& header);

  std::shared_ptr<ByteSource> source;
  BlockReader reader;
  FLAC__StreamDecoder* decoder = nullptr;
  int channels = 0;
  int rate = 0;
  int64_t totalFrames = 0;  // 0 when STREAMINFO does not count them
  DecodedFrames pending;
  bool atEnd = false;  // sought to the last frame's end
  int64_t next = 0;
};

}  // namespace orvane::bass
