#pragma once
// TLyricDownloader: the player's hold on the lyric provider library. Load opens liblrcdown.so,
// asks it for its object and keeps one reference; the destructor releases it and closes the
// library. When the library is missing or hands out no object there is no downloader: Load
// returns null, and every caller treats null as "no network lyrics" (the lookup then neither
// downloads nor marks its text as downloaded).
//
// Threads: the main window holds the downloader as a shared_ptr and gives each worker that uses
// it (the lookup, the search dialog's threads) its own copy, so the library stays loaded until
// the last of them is done — also when the window goes first. Search and Download may be called
// on any thread, several at once; they run the library's call sequence on the calling thread,
// whose result list is its own (see LRC_Header.h), and hand back copies. Both block for the
// transfer. Never throw.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class ILrcDown;

namespace orvane::lyrics {

// A search result copied out of the library.
struct TLrcResultCopy {
  std::string Title;
  std::string Singer;
  std::string Extra;
  int64_t Id = 0;
  int32_t DurationMs = 0;  // 0: unknown
  uint32_t Flags = 0;      // LRC_RESULT_* of LRC_Header.h

  // A track without words.
  bool Instrumental() const;
  // Words without times only: nothing the desktop line could follow.
  bool PlainOnly() const;
};

// Why the provider gave no answer.
enum class TProviderFailure : uint8_t {
  NoConnection,  // the server could not be reached or went silent
  BadAnswer,     // it answered with an error or with nothing readable
};

class TLyricDownloader {
 public:
  // The library's file name, looked for in the executable's folder.
  static constexpr const char* kLibraryName = "liblrcdown.so";

  // appFolder (the executable's folder, with or without a trailing "/") + kLibraryName.
  static std::shared_ptr<TLyricDownloader> Load(const std::string& appFolder);
  // The library at exactly this path; null when it cannot be loaded or hands out no object.
  static std::shared_ptr<TLyricDownloader> LoadFile(const std::string& libraryPath);

  ~TLyricDownloader();
  TLyricDownloader(const TLyricDownloader&) = delete;
  TLyricDownloader& operator=(const TLyricDownloader&) = delete;

  // ClearResults, SearchLyrics(title, singer, extra, 0) and a copy of every result; nothing when
  // the library could not ask the server or understand its answer (and then, when failure is
  // given, why).
  std::optional<std::vector<TLrcResultCopy>> Search(std::string_view title, std::string_view singer,
                                                    std::string_view extra = {},
                                                    TProviderFailure* failure = nullptr) const;
  // The whole time-tagged lyric of result id ("" when it has none), however long it is; nothing
  // when the download failed.
  std::optional<std::string> Download(int64_t id) const;

  // The object itself, for callers that need the raw calls; valid while this holder lives.
  ILrcDown* Object() const { return object; }

 private:
  TLyricDownloader(void* library, ILrcDown* object) : library(library), object(object) {}

  void* library;
  ILrcDown* object;
};

}  // namespace orvane::lyrics
