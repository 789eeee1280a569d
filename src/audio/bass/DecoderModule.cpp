// Choosing a stream's decoder, and loading the FFmpeg decoder module the first time one needs it.
//
// Threads: any thread may open a stream; the module is loaded once (std::call_once) and stays
// loaded for the life of the process, so decoders it made never outlive their code.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "Decoder.h"
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

}  // namespace

std::unique_ptr<Decoder> Decoder::Open(std::shared_ptr<ByteSource> source, int& error) {
  // The common formats first, without loading the module (SndfileDecoder.h). A download is left
  // to the module, which can recognise it without jumping ahead.
  FileTags header;
  bool headerRead = false;
  if (source->SeekableWhileOpening()) {
    if (std::unique_ptr<Decoder> common = SndfileDecoder::Open(source)) {
      error = BASS_OK;
      return common;
    }
    // The header reader knows which texts a format declares and which are raw bytes; FFmpeg's
    // metadata no longer tells. So its tags are the stream's wherever it can read them.
    headerRead = source->Seek(0) && ReadSourceTags(*source, header);
    if (!source->Seek(0)) {
      error = BASS_ERROR_FILEOPEN;
      return nullptr;
    }
  }
  static std::once_flag once;
  static OpenDecoderFunction open = nullptr;
  std::call_once(once, [] { open = LoadModule(); });
  if (!open) {
    error = BASS_ERROR_CODEC;
    return nullptr;
  }
  std::unique_ptr<Decoder> decoder(open(&source, &error));
  if (!decoder) return nullptr;
  if (headerRead) {
    decoder->tags = std::move(header.tags);
  } else {
    MakeDecoderTagsReadable(decoder->tags);
  }
  return decoder;
}

}  // namespace orvane::bass
