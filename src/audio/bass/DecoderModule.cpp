// Choosing a stream's decoder, and loading the FFmpeg decoder module the first time one needs it.
//
// Threads: any thread may open a stream; the module is loaded once (std::call_once) and stays
// loaded for the life of the process, so decoders it made never outlive their code.
#include <dlfcn.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "ChannelFormat.h"
#include "Decoder.h"
#include "FlacDecoder.h"
#include "MpegDecoder.h"
#include "SndfileDecoder.h"
#include "TagsFile.h"
#include "bass.h"
#include "text/ProgramFolders.h"

namespace orvane::bass {
namespace {

OpenDecoderFunction LoadModule() {
  // Among the program's modules; programs that live elsewhere (the tests) name the folder in
  // ORVANE_MODULE_DIR.
  void* module = nullptr;
  if (const char* dir = std::getenv("ORVANE_MODULE_DIR"); dir && *dir)
    module = ::dlopen((std::string(dir) + "/" + kDecoderModuleName).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) module = ::dlopen((text::OwnProgramFolders().Modules + kDecoderModuleName).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    std::fprintf(stderr, "Orvane: the decoder module cannot be loaded: %s\n", ::dlerror());
    return nullptr;
  }
  auto open = reinterpret_cast<OpenDecoderFunction>(::dlsym(module, kOpenDecoderSymbol));
  if (!open) std::fprintf(stderr, "Orvane: %s has no %s\n", kDecoderModuleName, kOpenDecoderSymbol);
  return open;
}

// The decoders of the common formats (Decoder.h), for what the headers showed the content to be;
// null when it is none of theirs.
std::unique_ptr<Decoder> OpenCommon(const std::shared_ptr<ByteSource>& source, const FileTags& header) {
  switch (header.format) {
    case AudioFormat::Mpeg:
      return MpegDecoder::Open(source);
    case AudioFormat::Flac:
      return FlacDecoder::Open(source);
    case AudioFormat::Wav:
    case AudioFormat::Aiff:
    case AudioFormat::Ogg:
      return SndfileDecoder::Open(source);
    default:
      return nullptr;
  }
}

}  // namespace

std::unique_ptr<Decoder> Decoder::Open(std::shared_ptr<ByteSource> source, int& error) {
  // A file's headers first: what the content is and how long it lasts. A download is left to the
  // module, which can recognise it without jumping ahead.
  FileTags header;
  const bool known = source->SeekableWhileOpening() && ReadSourceTags(*source, header);
  std::unique_ptr<Decoder> decoder;
  if (known) decoder = OpenCommon(source, header);
  if (!decoder) {
    if (source->SeekableWhileOpening() && !source->Seek(0)) {
      error = BASS_ERROR_FILEOPEN;
      return nullptr;
    }
    static std::once_flag once;
    static OpenDecoderFunction open = nullptr;
    std::call_once(once, [] { open = LoadModule(); });
    if (!open) {
      error = BASS_ERROR_CODEC;
      return nullptr;
    }
    decoder.reset(open(&source, &error));
    if (!decoder) return nullptr;
  }
  error = BASS_OK;
  if (known) {
    // The header reader knows which texts a format declares and which are raw bytes; FFmpeg's
    // metadata no longer tells. So its tags are the stream's wherever it can read them.
    decoder->tags = std::move(header.tags);
    if (header.seconds >= 0) decoder->SetHeaderLength(std::llround(header.seconds * kSampleRate));
  } else {
    MakeDecoderTagsReadable(decoder->tags);
  }
  return decoder;
}

}  // namespace orvane::bass
