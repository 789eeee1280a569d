#include "OpenmptDecoder.h"

#include <libopenmpt/libopenmpt.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "ChannelFormat.h"
#include "bass.h"

namespace orvane::bass {
namespace {

// Larger files are left to FFmpeg's demuxer (which would read them whole too); no module comes
// near this.
constexpr int64_t kMaxModuleBytes = 128 * 1024 * 1024;

int64_t ToFrames(double seconds) { return static_cast<int64_t>(std::llround(seconds * kSampleRate)); }

bool ReadAll(ByteSource& source, uint8_t* out, size_t size) {
  size_t got = 0;
  while (got < size) {
    const int n = source.Read(out + got, static_cast<int>(std::min<size_t>(size - got, 1 << 20)));
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool OpenmptDecoder::Probe(ByteSource& source) {
  const int64_t size = source.Size();
  if (size <= 0 || size > kMaxModuleBytes || !source.Seek(0)) return false;
  std::vector<uint8_t> head(std::min<size_t>(openmpt_probe_file_header_get_recommended_size(), static_cast<size_t>(size)));
  if (!ReadAll(source, head.data(), head.size())) return false;
  return openmpt_probe_file_header(OPENMPT_PROBE_FILE_HEADER_FLAGS_DEFAULT, head.data(), head.size(),
                                   static_cast<uint64_t>(size), &openmpt_log_func_silent, nullptr,
                                   &openmpt_error_func_ignore, nullptr, nullptr,
                                   nullptr) == OPENMPT_PROBE_FILE_HEADER_RESULT_SUCCESS;
}

std::unique_ptr<OpenmptDecoder> OpenmptDecoder::Open(std::shared_ptr<ByteSource> source, int& error) {
  error = BASS_ERROR_FILEFORM;
  const int64_t size = source->Size();
  if (size <= 0 || size > kMaxModuleBytes || !source->Seek(0)) return nullptr;
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (!ReadAll(*source, bytes.data(), bytes.size())) {
    error = BASS_ERROR_FILEOPEN;
    return nullptr;
  }
  // Sample positions follow a seek, as if the song had played up to there.
  static const openmpt_module_initial_ctl kControls[] = {{"seek.sync_samples", "1"}, {nullptr, nullptr}};
  std::unique_ptr<OpenmptDecoder> decoder(new OpenmptDecoder());
  decoder->module = openmpt_module_create_from_memory2(bytes.data(), bytes.size(), &openmpt_log_func_silent, nullptr,
                                                        &openmpt_error_func_ignore, nullptr, nullptr, nullptr, kControls);
  if (decoder->module == nullptr) return nullptr;
  decoder->source = std::move(source);
  decoder->lengthFrames = ToFrames(openmpt_module_get_duration_seconds(decoder->module));
  // The keys FFmpeg gives a module's texts.
  for (const auto& [key, name] : {std::pair{"title", "title"}, {"artist", "artist"}, {"message", "comment"}, {"date", "date"}}) {
    const char* value = openmpt_module_get_metadata(decoder->module, key);
    if (value != nullptr && value[0] != '\0') decoder->tags.emplace(name, value);
    openmpt_free_string(value);
  }
  error = BASS_OK;
  return decoder;
}

OpenmptDecoder::~OpenmptDecoder() {
  if (module != nullptr) openmpt_module_destroy(module);
}

size_t OpenmptDecoder::Read(float* out, size_t frames, Status& status) {
  status = Status::Ok;
  size_t got = 0;
  while (got < frames) {
    const size_t n = openmpt_module_read_interleaved_float_stereo(module, kSampleRate, frames - got, out + got * kChannels);
    if (n == 0) break;
    got += n;
  }
  next += static_cast<int64_t>(got);
  if (got < frames) status = Status::End;
  return got;
}

bool OpenmptDecoder::Seek(int64_t frame) {
  if (frame < 0) return false;
  // libopenmpt lands on the start of a row near the time — sometimes the next one — and says
  // where. Ask for earlier times until it lands before the target; the frames from there on are
  // rendered and dropped.
  const double target = static_cast<double>(frame) / kSampleRate;
  int64_t landed = ToFrames(openmpt_module_set_position_seconds(module, target));
  for (double back = 0.5; landed > frame; back *= 2) {
    landed = ToFrames(openmpt_module_set_position_seconds(module, std::max(target - back, 0.0)));
    if (target - back <= 0) break;
  }
  if (landed > frame) return false;
  float scratch[2 * 1024];
  while (landed < frame) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(frame - landed, 1024));
    const size_t n = openmpt_module_read_interleaved_float_stereo(module, kSampleRate, want, scratch);
    if (n == 0) break;  // the song ended first
    landed += static_cast<int64_t>(n);
  }
  next = landed;
  return landed == frame;
}

}  // namespace orvane::bass
