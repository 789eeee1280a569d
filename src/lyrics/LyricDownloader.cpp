#include "lyrics/LyricDownloader.h"

#include <dlfcn.h>

#include <cstring>

#include "lyrics/LRC_Header.h"

namespace orvane::lyrics {
namespace {

// The buffer size the callers of the library have always used; longer lyrics take a second call.
constexpr int32_t kFirstBufferSize = 4096;

std::string ZeroTerminated(const char* text) { return text ? std::string(text) : std::string(); }

}  // namespace

bool TLrcResultCopy::Instrumental() const {
  return (Flags & LRC_RESULT_INSTRUMENTAL) != 0 && (Flags & LRC_RESULT_SYNCED) == 0;
}

bool TLrcResultCopy::PlainOnly() const {
  return (Flags & LRC_RESULT_PLAIN) != 0 && (Flags & (LRC_RESULT_SYNCED | LRC_RESULT_INSTRUMENTAL)) == 0;
}

std::shared_ptr<TLyricDownloader> TLyricDownloader::Load(const std::string& appFolder) {
  std::string path = appFolder;
  if (!path.empty() && path.back() != '/') path += '/';
  return LoadFile(path + kLibraryName);
}

std::shared_ptr<TLyricDownloader> TLyricDownloader::LoadFile(const std::string& libraryPath) {
  try {
    // A path with a "/" keeps dlopen from searching the library path for a stranger's file.
    if (libraryPath.find('/') == std::string::npos) return nullptr;
    void* library = ::dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) return nullptr;
    auto create = reinterpret_cast<LRC_CreateObjProc>(::dlsym(library, "LRC_CreateObj"));
    ILrcDown* object = create ? create(&IID_LrcDown) : nullptr;
    if (!object) {
      ::dlclose(library);
      return nullptr;
    }
    return std::shared_ptr<TLyricDownloader>(new TLyricDownloader(library, object));
  } catch (...) {
    return nullptr;
  }
}

TLyricDownloader::~TLyricDownloader() {
  object->Release();
  ::dlclose(library);
}

std::optional<std::vector<TLrcResultCopy>> TLyricDownloader::Search(std::string_view title, std::string_view singer,
                                                                    std::string_view extra,
                                                                    TProviderFailure* failure) const {
  if (failure) *failure = TProviderFailure::NoConnection;
  try {
    const std::string t(title), s(singer), e(extra);
    object->ClearResults();
    const int32_t found = object->SearchLyrics(t.c_str(), s.c_str(), e.c_str(), 0);
    if (found < 0) {
      if (failure && found == LRC_E_ANSWER) *failure = TProviderFailure::BadAnswer;
      return std::nullopt;
    }
    std::vector<TLrcResultCopy> results;
    const int32_t count = object->ResultCount();
    for (int32_t i = 0; i < count; ++i) {
      const TLrcResult* result = object->ResultAt(i);
      if (!result) continue;
      results.push_back({ZeroTerminated(result->Title), ZeroTerminated(result->Singer), ZeroTerminated(result->Extra),
                         result->Id, result->DurationMs, result->Flags});
    }
    return results;
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<std::string> TLyricDownloader::Download(int64_t id) const {
  try {
    std::string buffer(kFirstBufferSize, '\0');
    int32_t length = object->DownloadLyric(id, buffer.data(), kFirstBufferSize);
    if (length < 0) return std::nullopt;
    if (length >= kFirstBufferSize) {
      // Too long for the first buffer: the library keeps the text, so this call does not fetch again.
      buffer.assign(static_cast<size_t>(length) + 1, '\0');
      length = object->DownloadLyric(id, buffer.data(), static_cast<int32_t>(buffer.size()));
      if (length < 0) return std::nullopt;
    }
    buffer.resize(::strnlen(buffer.data(), buffer.size()));
    return buffer;
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace orvane::lyrics
