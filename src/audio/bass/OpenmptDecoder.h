#pragma once
// Tracker modules (MOD, S3M, XM, IT and the rest libopenmpt knows) rendered at the channel's rate
// by libopenmpt, built into the decoder module beside the FFmpeg decoder (FFmpeg reaches modules
// through the same library, so it costs nothing more). Rendered here rather than through FFmpeg
// for exact seeks: libopenmpt moves to the start of a pattern row and says where that is, the
// rest up to the target is rendered and dropped; FFmpeg's demuxer hides where the row began.
//
// Used by one thread at a time, like every Decoder.

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "Decoder.h"

struct openmpt_module;

namespace orvane::bass {

class OpenmptDecoder final : public Decoder {
 public:
  // True when the first bytes of source look like a module libopenmpt plays. Moves the source.
  static bool Probe(ByteSource& source);
  // Loads the whole module (they are small); null + BASS error code when it does not load.
  static std::unique_ptr<OpenmptDecoder> Open(std::shared_ptr<ByteSource> source, int& error);
  ~OpenmptDecoder() override;
  OpenmptDecoder(const OpenmptDecoder&) = delete;
  OpenmptDecoder& operator=(const OpenmptDecoder&) = delete;

  size_t Read(float* out, size_t frames, Status& status) override;
  bool Seek(int64_t frame) override;
  int64_t NextFrame() const override { return next; }
  ByteSource& Source() override { return *source; }

 protected:
  int64_t DecoderLengthFrames() const override { return lengthFrames; }

 private:
  OpenmptDecoder() = default;

  std::shared_ptr<ByteSource> source;
  openmpt_module* module = nullptr;
  int64_t lengthFrames = -1;
  int64_t next = 0;
};

}  // namespace orvane::bass
