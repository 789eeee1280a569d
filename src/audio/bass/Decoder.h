#pragma once
// Decoding of one stream to the channel format (ChannelFormat.h), with exact seeking and the
// container's tags.
//
// Common formats at 44.1 kHz (MPEG audio, FLAC, Ogg Vorbis, WAV, AIFF) decode through libsndfile
// (SndfileDecoder.h), which the sound server's client library loads anyway. Everything else goes
// to FFmpeg (FfmpegDecoder.h), which lives in a module of its own, liborvane_decode.so beside the
// executable, loaded the first time such a stream is opened: FFmpeg pulls in some seventy
// libraries, and a player that has not needed it should not carry them.
//
// A Decoder is used by one thread at a time: the stream's decoder thread, or whoever holds the
// stream's decoder mutex (seeks, decoding channels). It never calls back into the library.

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "ByteSource.h"

namespace orvane::bass {

class Decoder {
 public:
  enum class Status { Ok, End, Interrupted };

  // Recognises the format by content and decodes the first frames (so garbage is refused here).
  // Null + BASS error code: FILEFORM (not audio FFmpeg knows, empty), CODEC (no decoder, or the
  // decoder module is missing), MEM, TIMEOUT/FILEOPEN when the source failed while being read.
  static std::unique_ptr<Decoder> Open(std::shared_ptr<ByteSource> source, int& error);
  virtual ~Decoder() = default;

  // Decodes up to frames frames into out (interleaved stereo float). Fewer only when status is End
  // (no more data) or Interrupted (the source asked to be left alone; seek before reading again).
  virtual size_t Read(float* out, size_t frames, Status& status) = 0;

  // Moves so that the next frame read is frame (counted from the stream's first sample), decoding
  // and discarding up to it. False when the container cannot seek there; the read position is then
  // undefined until the next successful Seek.
  virtual bool Seek(int64_t frame) = 0;

  // Index of the next frame Read returns.
  virtual int64_t NextFrame() const = 0;
  // Container duration in frames; -1 when unknown.
  virtual int64_t LengthFrames() const = 0;
  // Average encoded bit rate, bits per second; 0 when unknown.
  virtual int64_t BitRate() const = 0;
  // The container's tags as readable UTF-8 (keys lower case, as FileTags in TagsFile.h has them).
  // Open takes a file's tags from the header reader whichever decoder plays it, so a song shows
  // the same texts in the list (TAGS_OpenFile) as while it plays.
  const std::map<std::string, std::string>& Tags() const { return tags; }
  virtual ByteSource& Source() = 0;

 protected:
  std::map<std::string, std::string> tags;
};

// The decoder module's one entry point: opens a decoder on *source (which it takes a copy of);
// null and a BASS error code in *error on failure.
using OpenDecoderFunction = Decoder* (*)(std::shared_ptr<ByteSource>* source, int* error);
inline constexpr const char* kDecoderModuleName = "liborvane_decode.so";
inline constexpr const char* kOpenDecoderSymbol = "OrvaneOpenDecoder";

}  // namespace orvane::bass
