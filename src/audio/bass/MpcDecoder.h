#pragma once
// Musepack (SV7, SV8) at 44,100 Hz, mono or stereo, on libmpcdec, the format's own decoder, built
// into the decoder module. FFmpeg's Musepack decoders neither leave out the decoder's delay and
// the last frame's padding nor land where their time stamps say after a seek (some 30 ms late);
// libmpcdec plays the stream's exact samples and seeks to the sample.
//
// Used by one thread at a time, like every Decoder.

#include <mpc/mpcdec.h>

#include <cstdint>
#include <memory>

#include "BlockReader.h"
#include "DecodedFrames.h"
#include "Decoder.h"

namespace orvane::bass {

class MpcDecoder final : public Decoder {
 public:
  // True when the source starts like Musepack. Moves the source.
  static bool Probe(ByteSource& source);
  // Null + BASS error code when the stream is not one this decoder plays (the caller then tries
  // FFmpeg, which resamples other rates).
  static std::unique_ptr<MpcDecoder> Open(std::shared_ptr<ByteSource> source, int& error);
  ~MpcDecoder() override;
  MpcDecoder(const MpcDecoder&) = delete;
  MpcDecoder& operator=(const MpcDecoder&) = delete;

  size_t Read(float* out, size_t frames, Status& status) override;
  bool Seek(int64_t frame) override;
  int64_t NextFrame() const override { return next; }
  ByteSource& Source() override { return *source; }

 protected:
  int64_t DecoderLengthFrames() const override { return lengthFrames; }

 private:
  struct Callbacks;
  explicit MpcDecoder(std::shared_ptr<ByteSource> source);

  std::shared_ptr<ByteSource> source;
  BlockReader reader;
  mpc_reader callbacks{};
  mpc_demux* demux = nullptr;
  int channels = 0;
  int64_t lengthFrames = -1;
  DecodedFrames pending;
  bool ended = false;
  int64_t next = 0;
};

}  // namespace orvane::bass
