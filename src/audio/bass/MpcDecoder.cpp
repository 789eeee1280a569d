#include "MpcDecoder.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "ChannelFormat.h"
#include "bass.h"

namespace orvane::bass {

// libmpcdec's reader, on the block reader. Its offsets are 32-bit: no Musepack file comes near.
struct MpcDecoder::Callbacks {
  static BlockReader& Reader(mpc_reader* r) { return static_cast<MpcDecoder*>(r->data)->reader; }
  static mpc_int32_t Read(mpc_reader* r, void* out, mpc_int32_t size) {
    return size > 0 ? static_cast<mpc_int32_t>(Reader(r).Read(out, static_cast<size_t>(size))) : 0;
  }
  static mpc_bool_t Seek(mpc_reader* r, mpc_int32_t offset) { return Reader(r).Seek(offset) ? MPC_TRUE : MPC_FALSE; }
  static mpc_int32_t Tell(mpc_reader* r) { return static_cast<mpc_int32_t>(Reader(r).Tell()); }
  static mpc_int32_t Size(mpc_reader* r) { return static_cast<mpc_int32_t>(std::min<int64_t>(Reader(r).Size(), INT32_MAX)); }
  static mpc_bool_t CanSeek(mpc_reader*) { return MPC_TRUE; }
};

MpcDecoder::MpcDecoder(std::shared_ptr<ByteSource> source) : source(std::move(source)), reader(*this->source) {}

bool MpcDecoder::Probe(ByteSource& source) {
  uint8_t head[4] = {};
  if (source.Size() > INT32_MAX || !source.Seek(0) || source.Read(head, 4) != 4) return false;
  return std::memcmp(head, "MPCK", 4) == 0 || (std::memcmp(head, "MP+", 3) == 0 && (head[3] & 0x0F) == 7);
}

std::unique_ptr<MpcDecoder> MpcDecoder::Open(std::shared_ptr<ByteSource> source, int& error) {
  error = BASS_ERROR_FILEFORM;
  if (!source->Seek(0)) return nullptr;
  std::unique_ptr<MpcDecoder> mpc(new MpcDecoder(std::move(source)));
  mpc->callbacks = mpc_reader{&Callbacks::Read, &Callbacks::Seek, &Callbacks::Tell, &Callbacks::Size,
                              &Callbacks::CanSeek, mpc.get()};
  mpc->demux = mpc_demux_init(&mpc->callbacks);
  if (mpc->demux == nullptr) return nullptr;
  mpc_streaminfo info{};
  mpc_demux_get_info(mpc->demux, &info);
  if (info.sample_freq != kSampleRate || info.channels < 1 || info.channels > 2) return nullptr;
  mpc->channels = static_cast<int>(info.channels);
  // The encoder's silence in front is not part of the song (true gapless streams count it).
  if (info.samples > info.beg_silence) mpc->lengthFrames = static_cast<int64_t>(info.samples - info.beg_silence);
  float first[2 * 256];
  Status status = Status::Ok;
  if (mpc->Read(first, 256, status) == 0 || !mpc->Seek(0)) return nullptr;
  error = BASS_OK;
  return mpc;
}

MpcDecoder::~MpcDecoder() {
  if (demux != nullptr) mpc_demux_exit(demux);
}

size_t MpcDecoder::Read(float* out, size_t frames, Status& status) {
  status = Status::Ok;
  size_t got = 0;
  while (got < frames) {
    got += pending.Take(out + got * kChannels, frames - got);
    if (got == frames || ended) break;
    MPC_SAMPLE_FORMAT samples[MPC_DECODER_BUFFER_LENGTH];
    mpc_frame_info frame{};
    frame.buffer = samples;
    if (mpc_demux_decode(demux, &frame) != MPC_STATUS_OK || frame.bits == -1) {
      ended = true;
      break;
    }
    float* to = pending.Append(frame.samples);
    const auto step = static_cast<size_t>(channels);
    for (size_t i = 0; i < frame.samples; ++i) {
      // Mono plays at full level on both sides.
      to[2 * i] = samples[i * step];
      to[2 * i + 1] = samples[i * step + step - 1];
    }
  }
  next += static_cast<int64_t>(got);
  if (got < frames) status = Status::End;
  return got;
}

bool MpcDecoder::Seek(int64_t frame) {
  if (frame < 0 || (lengthFrames >= 0 && frame > lengthFrames)) return false;
  pending.Clear();
  if (mpc_demux_seek_sample(demux, static_cast<mpc_uint64_t>(frame)) != MPC_STATUS_OK) return false;
  ended = false;
  next = frame;
  return true;
}

}  // namespace orvane::bass
