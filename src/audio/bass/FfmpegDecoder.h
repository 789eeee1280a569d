#pragma once
// The FFmpeg decoder behind Decoder (Decoder.h), built into the module liborvane_decode.so.

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "Decoder.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;
struct SwrContext;

namespace orvane::bass {

class FfmpegDecoder final : public Decoder {
 public:
  // Recognises the format by content and decodes the first frames (so garbage is refused here).
  // Null + BASS error code: FILEFORM (not audio FFmpeg knows, empty), CODEC (no decoder), MEM,
  // TIMEOUT/FILEOPEN when the source failed while being read.
  static std::unique_ptr<FfmpegDecoder> Open(std::shared_ptr<ByteSource> source, int& error);
  ~FfmpegDecoder() override;
  FfmpegDecoder(const FfmpegDecoder&) = delete;
  FfmpegDecoder& operator=(const FfmpegDecoder&) = delete;

  // Decodes up to frames frames into out (interleaved stereo float). Fewer only when status is End
  // (no more data) or Interrupted (the source asked to be left alone; seek before reading again).
  size_t Read(float* out, size_t frames, Status& status) override;

  // Moves so that the next frame read is frame (counted from the stream's first sample), decoding
  // and discarding up to it. False when the container cannot seek there; the read position is then
  // undefined until the next successful Seek.
  bool Seek(int64_t frame) override;

  // Index of the next frame Read returns.
  int64_t NextFrame() const override { return pendingPos; }
  // Container duration in frames; -1 when unknown.
  int64_t LengthFrames() const override { return lengthFrames; }
  // Average encoded bit rate, bits per second; 0 when unknown.
  int64_t BitRate() const override { return bitRate; }
  ByteSource& Source() override { return *source; }

 private:
  FfmpegDecoder() = default;
  int OpenStreams();
  Status DecodeMore();
  bool Convert(AVFrame* frame);
  bool ConfigureResampler(const AVFrame* frame);
  void DrainResampler();
  void ReserveOutput(size_t frames);

  static int ReadPacket(void* opaque, uint8_t* buffer, int size);
  static int64_t SeekPacket(void* opaque, int64_t offset, int whence);

  std::shared_ptr<ByteSource> source;
  AVIOContext* io = nullptr;
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  SwrContext* resampler = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  int streamIndex = -1;

  // The resampler's current input format.
  int inFormat = -1;
  int inRate = 0;
  int inChannels = 0;
  uint64_t inLayoutMask = 0;

  // Decoded frames not handed out yet: pending[pendingRead*2 …) holds pendingCount frames whose
  // first one is frame pendingPos of the stream.
  std::unique_ptr<float[]> pending;
  size_t pendingCapacity = 0;
  size_t pendingRead = 0;
  size_t pendingCount = 0;
  int64_t pendingPos = 0;

  // Seek handling: the first frame decoded after a seek tells where we landed (by its time stamp,
  // relative to firstPts); everything before discardBefore is dropped.
  bool syncToTimestamp = false;
  int64_t discardBefore = 0;
  int64_t firstPts = 0;
  bool firstPtsKnown = false;

  bool inputEnded = false;   // the demuxer is exhausted; the codec has been told
  bool finished = false;     // nothing more will come
  bool interrupted = false;  // a read was refused by the source since the last seek

  int64_t lengthFrames = -1;
  int64_t bitRate = 0;
};

}  // namespace orvane::bass
