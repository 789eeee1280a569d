#include "SndfileDecoder.h"

#include <algorithm>
#include <cstdio>

#include "ChannelFormat.h"

namespace orvane::bass {
namespace {

bool IsPlayedHere(const SF_INFO& info) {
  const int type = info.format & SF_FORMAT_TYPEMASK;
  const int subtype = info.format & SF_FORMAT_SUBMASK;
  const bool pcm = subtype == SF_FORMAT_PCM_S8 || subtype == SF_FORMAT_PCM_U8 || subtype == SF_FORMAT_PCM_16 ||
                   subtype == SF_FORMAT_PCM_24 || subtype == SF_FORMAT_PCM_32 || subtype == SF_FORMAT_FLOAT ||
                   subtype == SF_FORMAT_DOUBLE;
  const bool format = ((type == SF_FORMAT_WAV || type == SF_FORMAT_WAVEX || type == SF_FORMAT_RF64 ||
                        type == SF_FORMAT_AIFF) && pcm) ||
                      (type == SF_FORMAT_OGG && subtype == SF_FORMAT_VORBIS);
  // Other rates need resampling and more channels a down-mix: the FFmpeg module does both.
  return format && info.samplerate == kSampleRate && (info.channels == 1 || info.channels == 2);
}

}  // namespace

SndfileDecoder::SndfileDecoder(std::shared_ptr<ByteSource> source) : source(std::move(source)), reader(*this->source) {}

sf_count_t SndfileDecoder::VirtualLength(void* user) { return static_cast<SndfileDecoder*>(user)->reader.Size(); }

sf_count_t SndfileDecoder::VirtualSeek(sf_count_t offset, int whence, void* user) {
  BlockReader& reader = static_cast<SndfileDecoder*>(user)->reader;
  sf_count_t target = offset;
  if (whence == SEEK_CUR) target += reader.Tell();
  if (whence == SEEK_END) target += reader.Size();
  return reader.Seek(target) ? target : -1;
}

sf_count_t SndfileDecoder::VirtualRead(void* ptr, sf_count_t count, void* user) {
  if (count <= 0) return 0;
  return static_cast<sf_count_t>(static_cast<SndfileDecoder*>(user)->reader.Read(ptr, static_cast<size_t>(count)));
}

sf_count_t SndfileDecoder::VirtualWrite(const void*, sf_count_t, void*) { return 0; }

sf_count_t SndfileDecoder::VirtualTell(void* user) { return static_cast<SndfileDecoder*>(user)->reader.Tell(); }

std::unique_ptr<SndfileDecoder> SndfileDecoder::Open(std::shared_ptr<ByteSource> source) {
  if (!source->Seek(0)) return nullptr;
  std::unique_ptr<SndfileDecoder> decoder(new SndfileDecoder(std::move(source)));
  SF_VIRTUAL_IO io{&VirtualLength, &VirtualSeek, &VirtualRead, &VirtualWrite, &VirtualTell};
  SF_INFO info{};
  decoder->file = sf_open_virtual(&io, SFM_READ, &info, decoder.get());
  if (decoder->file == nullptr || !IsPlayedHere(info)) return nullptr;
  decoder->channels = info.channels;
  decoder->lengthFrames = info.frames > 0 && info.frames != SF_COUNT_MAX ? info.frames : -1;

  // A first block must decode, so damaged or foreign content is refused now (and left to the
  // FFmpeg module), not when it plays.
  float first[2 * 256];
  if (sf_readf_float(decoder->file, first, 256 / decoder->channels) <= 0) return nullptr;
  if (sf_seek(decoder->file, 0, SEEK_SET) != 0) return nullptr;
  return decoder;
}

SndfileDecoder::~SndfileDecoder() {
  if (file != nullptr) sf_close(file);
}

size_t SndfileDecoder::Read(float* out, size_t frames, Status& status) {
  status = Status::Ok;
  if (channels == 1 && mono.size() < frames) mono.resize(frames);
  float* target = channels == 2 ? out : mono.data();
  size_t got = 0;
  while (got < frames) {
    const sf_count_t n =
        sf_readf_float(file, target + got * static_cast<size_t>(channels), static_cast<sf_count_t>(frames - got));
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  if (channels == 1) {
    // Mono plays at full level on both sides.
    for (size_t i = 0; i < got; ++i) out[2 * i] = out[2 * i + 1] = mono[i];
  }
  next += static_cast<int64_t>(got);
  if (got < frames) status = Status::End;
  return got;
}

bool SndfileDecoder::Seek(int64_t frame) {
  if (sf_seek(file, frame, SEEK_SET) != frame) return false;
  next = frame;
  return true;
}

}  // namespace orvane::bass
