#include "FlacDecoder.h"

#include <algorithm>

#include "ChannelFormat.h"

namespace orvane::bass {

// libFLAC's callbacks, reading through the block reader and collecting decoded frames.
struct FlacDecoder::Callbacks {
  static FlacDecoder& Self(void* data) { return *static_cast<FlacDecoder*>(data); }

  static FLAC__StreamDecoderReadStatus Read(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes, void* data) {
    *bytes = Self(data).reader.Read(buffer, *bytes);
    return *bytes > 0 ? FLAC__STREAM_DECODER_READ_STATUS_CONTINUE : FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
  }
  static FLAC__StreamDecoderSeekStatus Seek(const FLAC__StreamDecoder*, FLAC__uint64 offset, void* data) {
    return Self(data).reader.Seek(static_cast<int64_t>(offset)) ? FLAC__STREAM_DECODER_SEEK_STATUS_OK
                                                                  : FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
  }
  static FLAC__StreamDecoderTellStatus Tell(const FLAC__StreamDecoder*, FLAC__uint64* offset, void* data) {
    *offset = static_cast<FLAC__uint64>(Self(data).reader.Tell());
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
  }
  static FLAC__StreamDecoderLengthStatus Length(const FLAC__StreamDecoder*, FLAC__uint64* length, void* data) {
    *length = static_cast<FLAC__uint64>(Self(data).reader.Size());
    return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
  }
  static FLAC__bool Eof(const FLAC__StreamDecoder*, void* data) {
    const BlockReader& reader = Self(data).reader;
    return reader.Tell() >= reader.Size();
  }
  static FLAC__StreamDecoderWriteStatus Write(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                              const FLAC__int32* const buffer[], void* data) {
    Self(data).TakeFrame(buffer, frame->header);
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }
  static void Metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata, void* data) {
    if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO) return;
    FlacDecoder& self = Self(data);
    const FLAC__StreamMetadata_StreamInfo& info = metadata->data.stream_info;
    self.channels = static_cast<int>(info.channels);
    self.rate = static_cast<int>(info.sample_rate);
    self.totalFrames = static_cast<int64_t>(info.total_samples);
  }
  // A damaged frame: libFLAC looks for the next one by itself.
  static void Error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}
};

FlacDecoder::FlacDecoder(std::shared_ptr<ByteSource> source) : source(std::move(source)), reader(*this->source) {}

std::unique_ptr<FlacDecoder> FlacDecoder::Open(std::shared_ptr<ByteSource> source) {
  if (!source->Seek(0)) return nullptr;
  std::unique_ptr<FlacDecoder> flac(new FlacDecoder(std::move(source)));
  flac->decoder = FLAC__stream_decoder_new();
  if (flac->decoder == nullptr) return nullptr;
  const auto init = FLAC__stream_decoder_init_stream(
      flac->decoder, &Callbacks::Read, &Callbacks::Seek, &Callbacks::Tell, &Callbacks::Length, &Callbacks::Eof,
      &Callbacks::Write, &Callbacks::Metadata, &Callbacks::Error, flac.get());
  if (init != FLAC__STREAM_DECODER_INIT_STATUS_OK || !FLAC__stream_decoder_process_until_end_of_metadata(flac->decoder)) {
    return nullptr;
  }
  if (flac->rate != kSampleRate || flac->channels < 1 || flac->channels > 2) return nullptr;
  // A first block must decode, so damaged or foreign content is refused now (and left to the
  // FFmpeg module), not when it plays.
  float first[2 * 256];
  Status status = Status::Ok;
  if (flac->Read(first, 256, status) == 0 || !flac->Seek(0)) return nullptr;
  return flac;
}

FlacDecoder::~FlacDecoder() {
  if (decoder != nullptr) FLAC__stream_decoder_delete(decoder);
}

void FlacDecoder::TakeFrame(const int32_t* const channelData[], const FLAC__FrameHeader& header) {
  const float scale = 1.0f / static_cast<float>(int64_t{1} << (std::clamp<uint32_t>(header.bits_per_sample, 1, 32) - 1));
  // By the frame's own channel count: that is what libFLAC decoded, even in a damaged stream.
  const int32_t* left = channelData[0];
  const int32_t* right = header.channels >= 2 ? channelData[1] : channelData[0];  // mono at full level on both sides
  // Appended: after damage, one step of the decoder may bring the silence for the broken frame and
  // the next frame too.
  float* to = pending.Append(header.blocksize);
  for (uint32_t i = 0; i < header.blocksize; ++i) {
    to[2 * i] = static_cast<float>(left[i]) * scale;
    to[2 * i + 1] = static_cast<float>(right[i]) * scale;
  }
}

size_t FlacDecoder::Read(float* out, size_t frames, Status& status) {
  status = Status::Ok;
  size_t got = 0;
  while (got < frames) {
    got += pending.Take(out + got * kChannels, frames - got);
    if (got == frames) break;
    if (atEnd || FLAC__stream_decoder_get_state(decoder) == FLAC__STREAM_DECODER_END_OF_STREAM ||
        !FLAC__stream_decoder_process_single(decoder)) {
      break;
    }
  }
  next += static_cast<int64_t>(got);
  if (got < frames) status = Status::End;
  return got;
}

bool FlacDecoder::Seek(int64_t frame) {
  if (frame < 0) return false;
  pending.Clear();
  if (totalFrames > 0 && frame >= totalFrames) {
    // The end itself (libFLAC refuses to go there): nothing more to read until the next seek.
    if (frame > totalFrames) return false;
    atEnd = true;
    next = frame;
    return true;
  }
  // libFLAC lands on the exact sample: the frame that holds it comes back cut to start there.
  if (!FLAC__stream_decoder_seek_absolute(decoder, static_cast<FLAC__uint64>(frame))) {
    FLAC__stream_decoder_flush(decoder);
    pending.Clear();
    return false;
  }
  atEnd = false;
  next = frame;
  return true;
}

}  // namespace orvane::bass
