#include "lyrics/UntLrcThread.h"

#include <QMetaObject>
#include <QObject>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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
// The service's own tolerance when it matches a recording by its length.
constexpr int64_t kSameLengthMs = 2000;

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

bool SameRow(const TLyricTrack& a, const TLyricTrack& b) { return a.List == b.List && a.Location == b.Location; }

TLrcTextThread::TLrcTextThread(TLyricTrack track, std::string lyricFolder, bool downloadEnabled, bool netEnabled,
                               std::string lyricUploadUrl, std::shared_ptr<const TLyricDownloader> downloader,
                               int32_t trackLengthMs, TLookupStage stage)
    : List(track.List),
      Location(std::move(track.Location)),
      Title(std::move(track.Title)),
      Singer(std::move(track.Singer)),
      LyricFolder(std::move(lyricFolder)),
      DownloadEnabled(downloadEnabled),
      NetEnabled(netEnabled),
      LyricUploadUrl(std::move(lyricUploadUrl)),
      Downloader(std::move(downloader)),
      TrackLengthMs(trackLengthMs),
      Stage(stage) {}

void TLrcTextThread::Execute() {
  const bool mayDownload = DownloadEnabled && Downloader;
  if (Stage == TLookupStage::Network) {
    NeedsNetwork = mayDownload;
  } else {
    NeedsNetwork = !FindLocal() && mayDownload;
    // The network stage ends this lookup, and reports it.
    if (Stage == TLookupStage::Local && NeedsNetwork) return;
  }
  if (NeedsNetwork) {
    if (std::optional<std::string> text = DownloadBestMatch(*Downloader, Title, Singer, SearchExtra, TrackLengthMs)) {
      ResultText = std::move(*text);
      Downloaded = true;
    }
  }

  // Every lookup reports to an online product server, whatever the source of its text.
  if (NetEnabled) net::HttpPostForm(LyricUploadUrl, UploadForm(Title, Singer, ResultText), Http);
}

bool TLrcTextThread::FindLocal() {
  // A music server that keeps synced lyrics of its own song knows them best.
  if (FirstSource) {
    ResultText = LinesWithCrLf(FirstSource());
    if (!text::Trim(ResultText).empty()) return true;
    ResultText.clear();
  }
  if (const std::string beside = FindBesideFile(Location); !beside.empty()) {
    ResultText = ReadLyricFile(beside);
    return true;
  }
  const std::string candidate = IsFolder(LyricFolder) ? FindInLyricFolder(LyricFolder, Title, Singer) : std::string();
  if (!IsFile(candidate)) return false;
  ResultText = ReadLyricFile(candidate);
  if (!IsStalePlaceholder(candidate, ResultText)) return true;
  ResultText.clear();
  return false;
}

std::string FindBesideFile(std::string_view location) {
  const std::string exact = BesideFileName(location);
  if (exact.empty()) return {};
  if (IsFile(exact)) return exact;
  const fs::path wanted(exact);
  const std::string wantedName = wanted.filename().string();
  std::vector<std::string> names;
  std::error_code ec;
  const fs::path folder = wanted.has_parent_path() ? wanted.parent_path() : fs::path(".");
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.size() != wantedName.size() || !text::EqualsNoCase(name, wantedName)) continue;
    std::error_code typeError;
    if (it->is_regular_file(typeError)) names.push_back(std::move(name));
  }
  if (names.empty()) return {};
  // In name order, so the choice does not depend on the order the file system lists files in.
  std::sort(names.begin(), names.end());
  return (wanted.parent_path() / names.front()).string();
}

bool IsStalePlaceholder(const std::string& path, std::string_view text) {
  if (!text::Trim(text).empty()) return false;
  std::error_code ec;
  const auto written = fs::last_write_time(fs::path(path), ec);
  if (ec) return false;
  return fs::file_time_type::clock::now() - written > std::chrono::days(kPlaceholderRecheckDays);
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

namespace {

// The order in which results are tried (see DownloadBestMatch).
std::vector<size_t> CandidateOrder(const std::vector<TLrcResultCopy>& results, std::string_view title,
                                   std::string_view singer, int32_t trackLengthMs) {
  const std::string key = text::AsciiLower(std::string(title) + std::string(singer));
  std::vector<int> similarity(results.size(), 0);
  for (size_t i = 0; i < results.size(); ++i) {
    // Words without times cannot follow the song.
    if (!results[i].PlainOnly()) similarity[i] = Similarity(text::AsciiLower(results[i].Title + results[i].Singer), key, true);
  }

  // Slot s holds the result that first reached similarity s; only results that beat the best so far
  // are recorded, so a result of similarity 0 is never tried.
  std::array<int, kExactMatch + 1> slotOf;
  slotOf.fill(-1);
  int best = 0;
  for (size_t i = 0; i < results.size(); ++i) {
    if (similarity[i] <= best) continue;
    best = similarity[i];
    slotOf[static_cast<size_t>(best)] = static_cast<int>(i);
  }

  // A record of the track's length is the version playing (a live take or an edit differs by
  // seconds), if its names are near enough to the best.
  std::vector<size_t> order;
  auto distance = [&](size_t i) { return std::llabs(int64_t{results[i].DurationMs} - trackLengthMs); };
  if (trackLengthMs > 0) {
    for (size_t i = 0; i < results.size(); ++i) {
      if (similarity[i] > 0 && similarity[i] * 3 >= best * 2 && results[i].DurationMs > 0 && distance(i) <= kSameLengthMs)
        order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      if (distance(a) != distance(b)) return distance(a) < distance(b);
      if (similarity[a] != similarity[b]) return similarity[a] > similarity[b];
      return !results[a].Instrumental() && results[b].Instrumental();
    });
  }
  for (int k = best; k > 0; --k) {
    const int index = slotOf[static_cast<size_t>(k)];
    if (index >= 0 && std::find(order.begin(), order.end(), static_cast<size_t>(index)) == order.end())
      order.push_back(static_cast<size_t>(index));
  }
  return order;
}

}  // namespace

std::optional<std::string> DownloadBestMatch(const TLyricDownloader& downloader, std::string_view title,
                                             std::string_view singer, std::string_view extra, int32_t trackLengthMs) {
  const std::optional<std::vector<TLrcResultCopy>> results = downloader.Search(title, singer, extra);
  if (!results) return std::nullopt;
  for (const size_t index : CandidateOrder(*results, title, singer, trackLengthMs)) {
    const TLrcResultCopy& result = (*results)[index];
    // A track without words has a lyric of one line that says so, never an empty one.
    if (result.Instrumental()) return TLrcClass::InstrumentalLyric();
    const std::optional<std::string> lyric = downloader.Download(result.Id);
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

std::string LyricFileName(std::string_view title, std::string_view singer, size_t maxBytes) {
  const std::string cleaned = text::CleanFileName(std::string(title) + " " + std::string(singer));
  return std::string(text::CutUtf8(cleaned, maxBytes)) + std::string(kLyricExtension);
}

TLyricTrack TrackOf(const TLrcTextThread& thread) { return {thread.List, thread.Location, thread.Title, thread.Singer}; }

TLyricLookupDoneResult LyricLookupDone(const TLrcTextThread& thread, const std::optional<TLyricTrack>& current,
                                       int32_t trackLengthMs, const std::string& lyricFolder, TLrcClass& LrcDoc) {
  TLyricLookupDoneResult result;
  if (!current || !SameRow(TrackOf(thread), *current)) {
    result.Stale = true;
    return result;
  }
  LrcDoc.Load(thread.ResultText);
  LrcDoc.AddClosingLine(trackLengthMs);
  if (!thread.Downloaded || !IsFolder(lyricFolder)) return result;
  const std::string path = InFolder(lyricFolder, LyricFileName(thread.Title, thread.Singer));
  if (text::AtomicWriteFile(path, LinesWithCrLf(thread.ResultText))) result.SavedFile = path;
  return result;
}

// ---- The search dialog's threads

bool TLrcRowHandOff::Deliver(int index, const TLrcResultCopy& row) const {
  // Adding a row takes the main thread no time: a wait this long means it is stuck.
  constexpr std::chrono::milliseconds kRowHandOff{10000};
  const net::THandOff added = MainThread.PostAndWait(
      [sink = Sink, index, row] {
        if (sink) sink(index, row);
      },
      kRowHandOff, Stop);
  if (added == net::THandOff::TimedOut)
    std::fprintf(stderr, "orvane: the lyric search's row %d was not taken within %lld s; the search ends\n", index,
                 static_cast<long long>(kRowHandOff.count() / 1000));
  return added == net::THandOff::Ran && !Stop->Cancelled();
}

TLrcListThread::TLrcListThread(std::string title, std::string singer,
                               std::shared_ptr<const TLyricDownloader> downloader, TLrcRowHandOff rows)
    : Title(std::move(title)), Singer(std::move(singer)), Downloader(std::move(downloader)), Rows(std::move(rows)) {}

void TLrcListThread::Execute() {
  const std::optional<std::vector<TLrcResultCopy>> results =
      Downloader ? Downloader->Search(Title, Singer, SearchExtra, &Failure) : std::nullopt;
  if (!results) {
    Failed = true;
    return;
  }
  Found = static_cast<int>(results->size());
  for (int i = 0; i < Found; ++i) {
    RowIndex = i;
    if (!Rows.Deliver(i, (*results)[static_cast<size_t>(i)])) break;
  }
}

TGetLrcTextThread::TGetLrcTextThread(int resultIndex, TLrcResultCopy result, std::optional<TLyricTrack> track,
                                     std::shared_ptr<const TLyricDownloader> downloader)
    : ResultIndex(resultIndex), Result(std::move(result)), Track(std::move(track)), Downloader(std::move(downloader)) {}

void TGetLrcTextThread::Execute() {
  if (Result.Instrumental()) {
    LyricText = TLrcClass::InstrumentalLyric();
    return;
  }
  if (Result.PlainOnly()) return;
  const std::optional<std::string> text = Downloader ? Downloader->Download(Result.Id) : std::nullopt;
  if (!text) {
    Failed = true;
    return;
  }
  LyricText = *text;
}

TSearchDownloadDoneResult SearchDownloadDone(const TGetLrcTextThread& thread, const std::optional<TLyricTrack>& current,
                                             const std::string& lyricFolder, TLrcClass& LrcDoc) {
  TSearchDownloadDoneResult result;
  if (thread.Failed || text::Trim(thread.LyricText).empty()) return result;
  const bool stillPlaying = thread.Track ? current && SameRow(*thread.Track, *current) : !current;
  if (stillPlaying) {
    LrcDoc.Load(thread.LyricText);
    result.Loaded = true;
  }
  if (!thread.Track || !IsFolder(lyricFolder)) return result;
  const std::string path =
      InFolder(lyricFolder, LyricFileName(thread.Track->Title, thread.Track->Singer, kLongestFileName));
  if (text::AtomicWriteFile(path, LinesWithCrLf(thread.LyricText))) result.SavedFile = path;
  return result;
}

}  // namespace orvane::lyrics
