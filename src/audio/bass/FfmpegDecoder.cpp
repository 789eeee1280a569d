#include "FfmpegDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cctype>
#include <cstring>

#include "ChannelFormat.h"
#include "MpcDecoder.h"
#include "OpenmptDecoder.h"
#include "bass.h"

namespace orvane::bass {
namespace {

constexpr int kIoBufferSize = 64 * 1024;
// Decoding starts at least this far before a seek target, and at least kSeekPrerollCodecFrames of
// the codec's frames: codecs with inter-frame state settle (the MP3 bit reservoir reaches back 511
// bytes, which at low bit rates is eight frames and more; with less, they come out silent), and
// containers that seek coarsely land before the target.
constexpr int64_t kSeekPrerollFrames = kSampleRate / 10;
constexpr int kSeekPrerollCodecFrames = 12;
// A file whose first packets all fail to decode is not audio we can play.
constexpr int kMaxBadPacketsAtOpen = 64;

const AVRational kFrameRate{1, kSampleRate};

std::string LowerAscii(const char* text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

void CollectTags(const AVDictionary* dict, std::map<std::string, std::string>& tags) {
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = av_dict_get(dict, "", entry, AV_DICT_IGNORE_SUFFIX)) != nullptr) {
    if (entry->value == nullptr || entry->value[0] == '\0') continue;
    tags.emplace(LowerAscii(entry->key), entry->value);  // emplace keeps the first (container's)
  }
}

}  // namespace

int FfmpegDecoder::ReadPacket(void* opaque, uint8_t* buffer, int size) {
  auto* self = static_cast<FfmpegDecoder*>(opaque);
  const int got = self->source->Read(buffer, size);
  if (got == 0) return AVERROR_EOF;
  if (got == AVERROR_EXIT) self->interrupted = true;
  return got;
}

int64_t FfmpegDecoder::SeekPacket(void* opaque, int64_t offset, int whence) {
  auto* self = static_cast<FfmpegDecoder*>(opaque);
  ByteSource& source = *self->source;
  if ((whence & AVSEEK_SIZE) != 0) return source.Size() >= 0 ? source.Size() : AVERROR(ENOSYS);
  whence &= ~AVSEEK_FORCE;
  int64_t target = offset;
  if (whence == SEEK_CUR) target = source.Tell() + offset;
  if (whence == SEEK_END) {
    if (source.Size() < 0) return AVERROR(ENOSYS);
    target = source.Size() + offset;
  }
  if (!source.Seek(target)) return AVERROR(EIO);
  return target;
}

std::unique_ptr<FfmpegDecoder> FfmpegDecoder::Open(std::shared_ptr<ByteSource> source, int& error) {
  // FFmpeg would otherwise write its diagnostics (probe scores, damaged frames) to stderr; a
  // failed open is reported through the error code instead.
  static const bool quiet = [] {
    av_log_set_level(AV_LOG_QUIET);
    return true;
  }();
  (void)quiet;
  std::unique_ptr<FfmpegDecoder> decoder(new FfmpegDecoder());
  decoder->source = std::move(source);
  error = decoder->OpenStreams();
  if (error != BASS_OK) return nullptr;
  return decoder;
}

int FfmpegDecoder::OpenStreams() {
  auto* ioBuffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
  if (ioBuffer == nullptr) return BASS_ERROR_MEM;
  io = avio_alloc_context(ioBuffer, kIoBufferSize, 0, this, &FfmpegDecoder::ReadPacket, nullptr, &FfmpegDecoder::SeekPacket);
  if (io == nullptr) {
    av_free(ioBuffer);
    return BASS_ERROR_MEM;
  }
  format = avformat_alloc_context();
  packet = av_packet_alloc();
  frame = av_frame_alloc();
  if (format == nullptr || packet == nullptr || frame == nullptr) return BASS_ERROR_MEM;
  format->pb = io;
  format->flags |= AVFMT_FLAG_CUSTOM_IO;
  io->seekable = source->SeekableWhileOpening() ? AVIO_SEEKABLE_NORMAL : 0;
  // The audio's parameters come from its headers and first frames; a longer analysis would make a
  // URL stream wait for that much download before it could start.
  format->max_analyze_duration = AV_TIME_BASE / 10;

  // The name only breaks ties between formats whose content probes equally well.
  const std::string name = source->NameHint();
  if (avformat_open_input(&format, name.c_str(), nullptr, nullptr) < 0) {
    format = nullptr;  // freed by FFmpeg on failure
    if (interrupted) return BASS_ERROR_TIMEOUT;
    return BASS_ERROR_FILEFORM;
  }
  avformat_find_stream_info(format, nullptr);  // best effort; the decoder check below decides
  io->seekable = AVIO_SEEKABLE_NORMAL;

  const AVCodec* decoderCodec = nullptr;
  streamIndex = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoderCodec, 0);
  if (streamIndex == AVERROR_DECODER_NOT_FOUND) return BASS_ERROR_CODEC;
  if (streamIndex < 0) return BASS_ERROR_FILEFORM;
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    if (static_cast<int>(i) != streamIndex) format->streams[i]->discard = AVDISCARD_ALL;
  }
  AVStream* stream = format->streams[streamIndex];

  codec = avcodec_alloc_context3(decoderCodec);
  if (codec == nullptr) return BASS_ERROR_MEM;
  if (avcodec_parameters_to_context(codec, stream->codecpar) < 0) return BASS_ERROR_CODEC;
  codec->pkt_timebase = stream->time_base;
  if (avcodec_open2(codec, decoderCodec, nullptr) < 0) return BASS_ERROR_CODEC;
  seekPreroll = kSeekPrerollFrames;
  if (codec->frame_size > 0 && codec->sample_rate > 0) {
    seekPreroll = std::max(seekPreroll, av_rescale(int64_t{kSeekPrerollCodecFrames} * codec->frame_size, kSampleRate,
                                                   codec->sample_rate));
  }

  if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
    lengthFrames = av_rescale_q(stream->duration, stream->time_base, kFrameRate);
  } else if (format->duration != AV_NOPTS_VALUE && format->duration > 0) {
    lengthFrames = av_rescale_q(format->duration, AV_TIME_BASE_Q, kFrameRate);
  }
  bitRate = stream->codecpar->bit_rate > 0 ? stream->codecpar->bit_rate : std::max<int64_t>(format->bit_rate, 0);
  CollectTags(format->metadata, tags);
  CollectTags(stream->metadata, tags);

  // Decode until the first samples exist: a file that yields none is refused now, not at play.
  int badPackets = 0;
  while (pendingCount == 0 && !finished) {
    if (DecodeMore() == Status::Interrupted) return BASS_ERROR_TIMEOUT;
    if (pendingCount == 0 && ++badPackets > kMaxBadPacketsAtOpen) break;
  }
  if (pendingCount == 0) return BASS_ERROR_FILEFORM;
  return BASS_OK;
}

FfmpegDecoder::~FfmpegDecoder() {
  swr_free(&resampler);
  avcodec_free_context(&codec);
  if (format != nullptr) avformat_close_input(&format);
  if (io != nullptr) av_freep(&io->buffer);
  avio_context_free(&io);
  av_packet_free(&packet);
  av_frame_free(&frame);
}

void FfmpegDecoder::ReserveOutput(size_t frames) {
  const size_t needed = pendingRead + pendingCount + frames;
  if (needed <= pendingCapacity) return;
  // Move what is left to the front first; grow only when that is not enough.
  if (pendingRead > 0 && pendingCount + frames <= pendingCapacity) {
    std::memmove(pending.get(), pending.get() + pendingRead * kChannels, pendingCount * kChannels * sizeof(float));
    pendingRead = 0;
    return;
  }
  const size_t capacity = std::max(pendingCount + frames, pendingCapacity * 2);
  auto grown = std::make_unique<float[]>(capacity * kChannels);
  if (pendingCount > 0) {
    std::memcpy(grown.get(), pending.get() + pendingRead * kChannels, pendingCount * kChannels * sizeof(float));
  }
  pending = std::move(grown);
  pendingCapacity = capacity;
  pendingRead = 0;
}

bool FfmpegDecoder::ConfigureResampler(const AVFrame* input) {
  const int channels = input->ch_layout.nb_channels;
  const uint64_t mask = input->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? input->ch_layout.u.mask : 0;
  if (resampler != nullptr && input->format == inFormat && input->sample_rate == inRate && channels == inChannels &&
      mask == inLayoutMask) {
    return true;
  }
  if (resampler != nullptr) DrainResampler();
  swr_free(&resampler);

  AVChannelLayout inLayout{};
  if (input->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || channels <= 0) {
    av_channel_layout_default(&inLayout, std::max(channels, 1));
  } else if (av_channel_layout_copy(&inLayout, &input->ch_layout) < 0) {
    return false;
  }
  AVChannelLayout outLayout = AV_CHANNEL_LAYOUT_STEREO;
  const int result = swr_alloc_set_opts2(&resampler, &outLayout, AV_SAMPLE_FMT_FLT, kSampleRate, &inLayout,
                                         static_cast<AVSampleFormat>(input->format), input->sample_rate, 0, nullptr);
  av_channel_layout_uninit(&inLayout);
  if (result < 0) return false;
  if (channels == 1) {
    // Mono plays at full level on both sides (the default mix would lower it by 3 dB).
    const double matrix[2] = {1.0, 1.0};
    swr_set_matrix(resampler, matrix, 1);
  }
  if (swr_init(resampler) < 0) {
    swr_free(&resampler);
    return false;
  }
  inFormat = input->format;
  inRate = input->sample_rate;
  inChannels = channels;
  inLayoutMask = mask;
  return true;
}

void FfmpegDecoder::DrainResampler() {
  if (resampler == nullptr) return;
  const int64_t delayed = swr_get_delay(resampler, kSampleRate) + 16;
  ReserveOutput(static_cast<size_t>(delayed));
  auto* out = reinterpret_cast<uint8_t*>(pending.get() + (pendingRead + pendingCount) * kChannels);
  const int got = swr_convert(resampler, &out, static_cast<int>(delayed), nullptr, 0);
  if (got > 0) pendingCount += static_cast<size_t>(got);
}

bool FfmpegDecoder::Convert(AVFrame* input) {
  if (!ConfigureResampler(input)) return false;
  if (syncToTimestamp) {
    // Where did the seek land? The time stamp says, relative to the first sample of the stream.
    const int64_t pts = input->best_effort_timestamp;
    if (pts != AV_NOPTS_VALUE && firstPtsKnown) {
      pendingPos = av_rescale_q(pts - firstPts, codec->pkt_timebase, kFrameRate) - static_cast<int64_t>(pendingCount);
    }
    syncToTimestamp = false;
  }
  if (!firstPtsKnown) {
    firstPts = input->best_effort_timestamp != AV_NOPTS_VALUE ? input->best_effort_timestamp : 0;
    firstPtsKnown = true;
  }
  const int outMax = swr_get_out_samples(resampler, input->nb_samples);
  if (outMax <= 0) return true;
  ReserveOutput(static_cast<size_t>(outMax));
  auto* out = reinterpret_cast<uint8_t*>(pending.get() + (pendingRead + pendingCount) * kChannels);
  const int got = swr_convert(resampler, &out, outMax, const_cast<const uint8_t**>(input->extended_data),
                              input->nb_samples);
  if (got > 0) pendingCount += static_cast<size_t>(got);
  return true;
}

Decoder::Status FfmpegDecoder::DecodeMore() {
  for (;;) {
    const int received = avcodec_receive_frame(codec, frame);
    if (received == 0) {
      Convert(frame);
      av_frame_unref(frame);
      return Status::Ok;
    }
    if (received == AVERROR_EOF) {
      DrainResampler();
      finished = true;
      return Status::Ok;
    }
    if (received != AVERROR(EAGAIN)) continue;  // a broken frame: the next one may be fine
    if (inputEnded) {
      // The codec wants input after being told the input ended: nothing more will come.
      DrainResampler();
      finished = true;
      return Status::Ok;
    }
    const int read = av_read_frame(format, packet);
    if (read < 0) {
      // A refused read (a seek or a free is waiting) is not the end of the stream.
      if (interrupted) return Status::Interrupted;
      avcodec_send_packet(codec, nullptr);
      inputEnded = true;
      continue;
    }
    if (packet->stream_index == streamIndex) {
      avcodec_send_packet(codec, packet);  // a damaged packet is skipped
    }
    av_packet_unref(packet);
  }
}

size_t FfmpegDecoder::Read(float* out, size_t frames, Status& status) {
  status = Status::Ok;
  size_t produced = 0;
  while (produced < frames) {
    if (pendingCount > 0) {
      // Frames before a seek target are dropped here.
      if (pendingPos < discardBefore) {
        const auto drop = static_cast<size_t>(std::min<int64_t>(discardBefore - pendingPos, pendingCount));
        pendingRead += drop;
        pendingCount -= drop;
        pendingPos += static_cast<int64_t>(drop);
        continue;
      }
      const size_t count = std::min(frames - produced, pendingCount);
      std::memcpy(out + produced * kChannels, pending.get() + pendingRead * kChannels, count * kChannels * sizeof(float));
      produced += count;
      pendingRead += count;
      pendingCount -= count;
      pendingPos += static_cast<int64_t>(count);
      if (pendingCount == 0) pendingRead = 0;
      continue;
    }
    if (finished) {
      status = Status::End;
      break;
    }
    if (DecodeMore() == Status::Interrupted) {
      status = Status::Interrupted;
      break;
    }
  }
  return produced;
}

bool FfmpegDecoder::Seek(int64_t target) {
  if (target < 0) return false;
  AVStream* stream = format->streams[streamIndex];
  const int64_t start = std::max<int64_t>(target - seekPreroll, 0);
  const int64_t timestamp = av_rescale_q(start, kFrameRate, stream->time_base) + (firstPtsKnown ? firstPts : 0);

  interrupted = false;
  io->eof_reached = 0;
  io->error = 0;
  int result = av_seek_frame(format, streamIndex, timestamp, AVSEEK_FLAG_BACKWARD);
  if (result < 0) result = av_seek_frame(format, streamIndex, timestamp, AVSEEK_FLAG_ANY);
  if (result < 0 && start == 0) {
    // Containers without an index still go back to their first byte.
    result = avformat_seek_file(format, -1, INT64_MIN, 0, 0, AVSEEK_FLAG_BYTE);
  }
  if (result < 0) return false;

  avcodec_flush_buffers(codec);
  swr_free(&resampler);
  pendingRead = 0;
  pendingCount = 0;
  pendingPos = start;  // replaced by the first frame's time stamp when it has one
  syncToTimestamp = true;
  discardBefore = target;
  inputEnded = false;
  finished = false;

  // Decode up to the target now, so NextFrame() tells where playback really continues.
  while (!finished && (pendingCount == 0 || pendingPos + static_cast<int64_t>(pendingCount) <= target)) {
    if (DecodeMore() == Status::Interrupted) return false;
    if (pendingPos < discardBefore && pendingCount > 0) {
      const auto drop = static_cast<size_t>(std::min<int64_t>(discardBefore - pendingPos, pendingCount));
      pendingRead += drop;
      pendingCount -= drop;
      pendingPos += static_cast<int64_t>(drop);
      if (pendingCount == 0) pendingRead = 0;
    }
  }
  if (pendingCount == 0 && finished && pendingPos < target) pendingPos = target;
  return true;
}

}  // namespace orvane::bass

// The module's entry point (see Decoder.h): Musepack decodes through libmpcdec (MpcDecoder.h) and
// tracker modules render through libopenmpt (OpenmptDecoder.h), for their exact seeks; everything
// else, and every download, goes through FFmpeg.
extern "C" __attribute__((visibility("default"))) orvane::bass::Decoder* OrvaneOpenDecoder(
    std::shared_ptr<orvane::bass::ByteSource>* source, int* error) {
  using namespace orvane::bass;
  if ((*source)->SeekableWhileOpening()) {
    if (MpcDecoder::Probe(**source)) {
      if (std::unique_ptr<MpcDecoder> mpc = MpcDecoder::Open(*source, *error)) return mpc.release();
    } else if (OpenmptDecoder::Probe(**source)) {
      if (std::unique_ptr<OpenmptDecoder> module = OpenmptDecoder::Open(*source, *error)) return module.release();
    }
  }
  if ((*source)->SeekableWhileOpening() && !(*source)->Seek(0)) {
    *error = BASS_ERROR_FILEOPEN;
    return nullptr;
  }
  return FfmpegDecoder::Open(*source, *error).release();
}
