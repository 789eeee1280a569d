#include "MpegDecoder.h"

#include <mpg123.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ChannelFormat.h"

namespace orvane::bass {
namespace {

// Once per process (thread-safe as a static's initialiser); newer versions of the library need it
// no longer and return at once.
bool InitLibrary() {
  static const bool ready = mpg123_init() == MPG123_OK;
  return ready;
}

// Stereo float at every rate the format has: a stream at another rate than the channel's is then
// turned away after it opened (libmpg123 complains on stderr, whatever it is told, when the first
// frame's rate is not among those allowed).
bool AllowEveryRate(mpg123_handle* h) {
  if (mpg123_format_none(h) != MPG123_OK) return false;
  const long* rates = nullptr;
  size_t count = 0;
  mpg123_rates(&rates, &count);
  for (size_t i = 0; i < count; ++i) {
    if (mpg123_format(h, rates[i], MPG123_STEREO, MPG123_ENC_FLOAT_32) != MPG123_OK) return false;
  }
  return true;
}

}  // namespace

MpegDecoder::MpegDecoder(std::shared_ptr<ByteSource> source) : source(std::move(source)), reader(*this->source) {}

ssize_t MpegDecoder::ReadCallback(void* self, void* buffer, size_t bytes) {
  return static_cast<ssize_t>(static_cast<MpegDecoder*>(self)->reader.Read(buffer, bytes));
}

off_t MpegDecoder::SeekCallback(void* self, off_t offset, int whence) {
  BlockReader& reader = static_cast<MpegDecoder*>(self)->reader;
  int64_t target = offset;
  if (whence == SEEK_CUR) target += reader.Tell();
  if (whence == SEEK_END) target += reader.Size();
  return reader.Seek(target) ? static_cast<off_t>(target) : -1;
}

std::unique_ptr<MpegDecoder> MpegDecoder::Open(std::shared_ptr<ByteSource> source) {
  if (!InitLibrary() || !source->Seek(0)) return nullptr;
  std::unique_ptr<MpegDecoder> decoder(new MpegDecoder(std::move(source)));
  int error = MPG123_OK;
  decoder->handle = mpg123_new(nullptr, &error);
  mpg123_handle* h = decoder->handle;
  if (h == nullptr) return nullptr;
  // Stereo float (mono on both sides, at full level), no resampling; no limit on how far to look
  // for the next frame past damage; quiet about damage it skips. Gapless playback is done here (see
  // Trim): libmpg123's own lands seeks off in a file joined from several.
  if (mpg123_param(h, MPG123_FLAGS, MPG123_FORCE_STEREO | MPG123_FORCE_FLOAT | MPG123_QUIET, 0) != MPG123_OK ||
      mpg123_param(h, MPG123_RESYNC_LIMIT, -1, 0) != MPG123_OK ||
      // A seek decodes this many frames before the target first: the bit reservoir reaches back
      // 511 bytes, which at the lowest bit rates is eight frames (with fewer, they come out silent).
      mpg123_param(h, MPG123_PREFRAMES, 10, 0) != MPG123_OK || !AllowEveryRate(h) ||
      mpg123_replace_reader_handle(h, &MpegDecoder::ReadCallback, &MpegDecoder::SeekCallback, nullptr) != MPG123_OK ||
      mpg123_open_handle(h, decoder.get()) != MPG123_OK) {
    return nullptr;
  }
  long rate = 0;
  int channels = 0, encoding = 0;
  if (mpg123_getformat(h, &rate, &channels, &encoding) != MPG123_OK || rate != kSampleRate ||
      channels != kChannels || encoding != MPG123_ENC_FLOAT_32) {
    return nullptr;
  }
  // The encoder's delay and padding of a LAME tag, and the frames its Info frame counts.
  long delay = -1, padding = -1;
  double unused = 0;
  mpg123_getstate(h, MPG123_ENC_DELAY, &delay, &unused);
  mpg123_getstate(h, MPG123_ENC_PADDING, &padding, &unused);
  if (delay >= 0 && padding >= 0) {
    const int64_t frames = mpg123_framelength(h);
    decoder->skip = delay + kDecoderDelay;
    if (frames > 0 && padding > kDecoderDelay) {
      decoder->padTo = frames * mpg123_spf(h);
      decoder->padFrom = decoder->padTo - padding + kDecoderDelay;
    }
  }
  // A first block must decode, so damaged or foreign content is refused now (and left to the
  // FFmpeg module), not when it plays.
  float first[2 * 256];
  Status status = Status::Ok;
  if (decoder->Read(first, 256, status) == 0 || !decoder->Seek(0)) return nullptr;
  return decoder;
}

MpegDecoder::~MpegDecoder() {
  if (handle != nullptr) {
    mpg123_close(handle);
    mpg123_delete(handle);
  }
}

size_t MpegDecoder::Trim(float* decoded, size_t count) {
  // Decoded frames [raw, raw + count) less [0, skip) and [padFrom, padTo).
  const int64_t first = raw;
  raw += static_cast<int64_t>(count);
  size_t kept = 0;
  auto keep = [&](int64_t from, int64_t to) {
    from = std::max(from, first);
    to = std::min(to, raw);
    if (to <= from) return;
    const auto n = static_cast<size_t>(to - from);
    std::memmove(decoded + kept * kChannels, decoded + static_cast<size_t>(from - first) * kChannels, n * kChannels * sizeof(float));
    kept += n;
  };
  if (padFrom < 0) {
    keep(skip, raw);
  } else {
    keep(skip, padFrom);
    keep(std::max(skip, padTo), raw);
  }
  return kept;
}

size_t MpegDecoder::Read(float* out, size_t frames, Status& status) {
  status = Status::Ok;
  size_t got = 0;
  while (got < frames && !ended) {
    size_t bytes = 0;
    float* to = out + got * kChannels;
    const int result = mpg123_read(handle, reinterpret_cast<unsigned char*>(to), (frames - got) * kBytesPerFrame, &bytes);
    got += Trim(to, bytes / kBytesPerFrame);
    if (result == MPG123_OK) continue;
    if (result == MPG123_NEW_FORMAT) {
      // Parts joined from files at different rates: the part at another rate is not played.
      long rate = 0;
      int channels = 0, encoding = 0;
      if (mpg123_getformat(handle, &rate, &channels, &encoding) == MPG123_OK && rate == kSampleRate) continue;
    }
    // The end of the data, or what cannot be played here: nothing more comes.
    ended = true;
  }
  next += static_cast<int64_t>(got);
  if (got < frames) status = Status::End;
  return got;
}

bool MpegDecoder::Seek(int64_t frame) {
  if (frame < 0) return false;
  // The decoded frame that plays as frame: past what Trim leaves out before it.
  int64_t target = frame + skip;
  if (padFrom >= 0 && target >= padFrom) target += padTo - padFrom;
  // Sample-exact: libmpg123 counts the frames (keeping an index) and decodes the ones before the
  // target that the bit reservoir needs (MPG123_PREFRAMES above).
  const off_t landed = mpg123_seek(handle, static_cast<off_t>(target), SEEK_SET);
  if (landed != static_cast<off_t>(target)) return false;
  raw = target;
  next = frame;
  ended = false;
  return true;
}

}  // namespace orvane::bass
