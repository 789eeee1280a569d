#include "lyrics/UntLrcThread.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <vector>

#include "lyrics/LrcClass.h"
#include "lyrics/LyricDownloader.h"
#include "lyrics/Similarity.h"
#include "net/ServerUrl.h"
#include "net/UYmUrl.h"
#include "text/AtomicFile.h"
#include "text/Legacy.h"
#include "text/TextUtil.h"

namespace orvane::lyrics {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kLyricExtension = ".lrc";
constexpr int kFolderCandidate = 96;  // a file this similar to the track may be its lyric
constexpr int kExactMatch = 100;
constexpr size_t kUploadMinimum = 21;  // shorter texts are sent as the placeholder
constexpr std::string_view kUploadPlaceholder = "nim_12345";
constexpr size_t kFileNameLimit = 100;

bool IsFile(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_regular_file(fs::path(path), ec);
}

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(fs::path(path), ec);
}

std::string InFolder(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

}  // namespace

TLrcTextThread::TLrcTextThread(TLyricTrack track, std::string lyricFolder, bool netEnabled, std::string lyricUploadUrl,
                               std::shared_ptr<const TLyricDownloader> downloader)
    : TrackSerial(track.Serial),
      Location(std::move(track.Location)),
      Title(std::move(track.Title)),
      Singer(std::move(track.Singer)),
      LyricFolder(std::move(lyricFolder)),
      NetEnabled(netEnabled),
      LyricUploadUrl(std::move(lyricUploadUrl)),
      Downloader(std::move(downloader)) {}

void TLrcTextThread::Execute() {
  std::string candidate;
  if (IsFolder(LyricFolder)) candidate = FindInLyricFolder(LyricFolder, Title, Singer);
  const std::string beside = BesideFileName(Location);

  if (IsFile(beside)) {
    ResultText = ReadLyricFile(beside);
  } else if (IsFile(candidate)) {
    ResultText = ReadLyricFile(candidate);
  } else if (NetEnabled && Downloader) {
    if (std::optional<std::string> text = DownloadBestMatch(*Downloader, Title, Singer, SearchExtra)) {
      ResultText = std::move(*text);
      Downloaded = true;
    }
  }

  // Every online lookup reports, whatever the source of its text.
  if (NetEnabled) net::HttpPostForm(LyricUploadUrl, UploadForm(Title, Singer, ResultText), Http);
}

std::string BesideFileName(std::string_view location) {
  if (location.find("://") != std::string_view::npos) return {};
  const size_t slash = location.rfind('/');
  const size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  const std::string_view name = location.substr(nameStart);
  if (name.empty()) return {};
  // The extension gives way to ".lrc": for the usual three-letter extensions that is the last four
  // characters, and "song.flac" or "song.opus" find "song.lrc" as their users name it.
  const size_t dot = name.rfind('.');
  const size_t keep = dot == std::string_view::npos || dot == 0 ? location.size() : nameStart + dot;
  return std::string(location.substr(0, keep)) + std::string(kLyricExtension);
}

std::string FindInLyricFolder(const std::string& folder, std::string_view title, std::string_view singer) {
  std::vector<std::string> names;
  try {
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(folder), ec), end; !ec && it != end; it.increment(ec)) {
      std::string name = it->path().filename().string();
      if (name.size() <= kLyricExtension.size()) continue;
      if (!text::EqualsNoCase(std::string_view(name).substr(name.size() - kLyricExtension.size()), kLyricExtension)) continue;
      std::error_code typeError;
      if (!it->is_regular_file(typeError)) continue;
      names.push_back(std::move(name));
    }
  } catch (...) {
    return {};
  }
  // In name order, so the candidate does not depend on the order the file system lists files in.
  std::sort(names.begin(), names.end());

  const std::string key = text::AsciiLower(std::string(title) + " " + std::string(singer));
  std::string candidate;
  for (const std::string& name : names) {
    const std::string stem = text::AsciiLower(std::string_view(name).substr(0, name.size() - kLyricExtension.size()));
    const int similarity = Similarity(stem, key, true);
    if (similarity < kFolderCandidate) continue;
    candidate = InFolder(folder, name);
    if (similarity >= kExactMatch) break;
  }
  return candidate;
}

std::string ReadLyricFile(const std::string& path) {
  std::string bytes;
  if (!text::ReadWholeFile(path, bytes)) return {};
  return LinesWithCrLf(text::FromLegacy(bytes));
}

std::string LinesWithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      out.append(text.substr(start));
      out += "\r\n";
      break;
    }
    out.append(text.substr(start, end - start));
    out += "\r\n";
    start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
  }
  return out;
}

std::optional<std::string> DownloadBestMatch(const TLyricDownloader& downloader, std::string_view title,
                                             std::string_view singer, std::string_view extra) {
  const std::optional<std::vector<TLrcResultCopy>> results = downloader.Search(title, singer, extra);
  if (!results) return std::nullopt;

  // Slot s holds the result that first reached similarity s; only results that beat the best so far
  // are recorded, so a result of similarity 0 is never tried.
  const std::string key = text::AsciiLower(std::string(title) + std::string(singer));
  std::array<int, kExactMatch + 1> slots;
  slots.fill(-1);
  int best = 0;
  for (size_t i = 0; i < results->size(); ++i) {
    const TLrcResultCopy& result = (*results)[i];
    const int similarity = Similarity(text::AsciiLower(result.Title + result.Singer), key, true);
    if (similarity <= best) continue;
    best = similarity;
    slots[static_cast<size_t>(similarity)] = static_cast<int>(i);
  }

  for (int k = best; k > 0; --k) {
    const int index = slots[static_cast<size_t>(k)];
    if (index < 0) continue;
    const std::optional<std::string> lyric = downloader.Download((*results)[static_cast<size_t>(index)].Id);
    if (!lyric) return std::nullopt;
    std::string lines = LinesWithCrLf(text::FromLegacy(*lyric));
    if (!text::Trim(lines).empty()) return lines;
  }
  return std::string();
}

std::string UploadForm(std::string_view title, std::string_view singer, std::string_view resultText) {
  const std::string_view value = resultText.size() >= kUploadMinimum ? resultText : kUploadPlaceholder;
  // The product's server reads GBK, as its other clients send it.
  return "ltitle=" + net::EncodeUrlValueGbk(title) + "&lsinger=" + net::EncodeUrlValueGbk(singer) +
         "&llrc=" + net::EncodeUrlValueGbk(value);
}

std::string LyricFileName(std::string_view title, std::string_view singer) {
  const std::string cleaned = text::CleanFileName(std::string(title) + " " + std::string(singer));
  return std::string(text::CutUtf8(cleaned, kFileNameLimit)) + std::string(kLyricExtension);
}

TLyricLookupDoneResult LyricLookupDone(const TLrcTextThread& thread, const TLyricTrack& current, int32_t trackLengthMs,
                                       const std::string& lyricFolder, TLrcClass& LrcDoc) {
  TLyricLookupDoneResult result;
  if (thread.TrackSerial != current.Serial) {
    result.Stale = true;
    return result;
  }
  LrcDoc.Load(thread.ResultText);
  LrcDoc.AddClosingLine(trackLengthMs);
  if (!thread.Downloaded || !IsFolder(lyricFolder)) return result;
  const std::string path = InFolder(lyricFolder, LyricFileName(current.Title, current.Singer));
  if (text::AtomicWriteFile(path, LinesWithCrLf(thread.ResultText))) result.SavedFile = path;
  return result;
}

}  // namespace orvane::lyrics
