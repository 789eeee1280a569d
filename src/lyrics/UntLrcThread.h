#pragma once
// The automatic lyric lookup: for the track that started playing, an LRC file beside the audio
// file, else a similarly named file in the lyric folder, else (online) the best-matching download
// from the lyric provider; what was found (or a placeholder) is then posted to the lyric
// collection address. LyricLookupDone is what the main window does with the result.
//
// Threads: TLrcTextThread runs on a worker thread (net::TWorkerHost). It owns copies of all its
// inputs and holds the downloader by shared_ptr; it touches no window and no lyric document, and
// writes only ResultText and Downloaded. LyricLookupDone runs on the main thread from the
// completion, while the worker is still alive. The other functions are pure or touch only the
// files they name; callable on any thread.
//
// The main window's part (all on the main thread):
//   void TNimMain::StartLyricLookup() {                 // every report of the playing state
//     LrcDoc.Load(""); DeskLrc->ShowText("...");
//     if (LyricThread) return;                          // one lookup at a time
//     auto lookup = std::make_shared<lyrics::TLrcTextThread>(
//         lyrics::TLyricTrack{TrackSerial, item.Location, item.Title, item.Singer},
//         LyricFolder, Remote.OnlineFlag, Remote.LyricUploadUrl, LyricDownloader);
//     if (workers.Start(lookup, [this](lyrics::TLrcTextThread& t) { LyricLookupDone(t); })) LyricThread = lookup;
//   }
//   void TNimMain::LyricLookupDone(lyrics::TLrcTextThread& t) {
//     LyricThread.reset();
//     const auto done = lyrics::LyricLookupDone(t, CurrentLyricTrack(), Engine->GetLength(), LyricFolder, LrcDoc);
//     if (done.Stale && playing) StartLyricLookup();    // the track changed meanwhile
//   }

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "net/HttpClient.h"
#include "net/WorkerHost.h"

namespace orvane::lyrics {

class TLrcClass;
class TLyricDownloader;

// The track a lookup is for. Serial is the main window's number for the track that is playing: it
// changes whenever another track starts, so a result that arrives late can be recognised.
struct TLyricTrack {
  uint64_t Serial = 0;
  std::string Location;  // local path or URL
  std::string Title;
  std::string Singer;
};

class TLrcTextThread : public net::TWorker {
 public:
  // downloader may be null (no provider library): then nothing is downloaded.
  TLrcTextThread(TLyricTrack track, std::string lyricFolder, bool netEnabled, std::string lyricUploadUrl,
                 std::shared_ptr<const TLyricDownloader> downloader);

  // The lookup (worker thread).
  void Execute() override;

  // Inputs, copied at creation.
  uint64_t TrackSerial = 0;
  std::string Location;
  std::string Title;
  std::string Singer;
  std::string SearchExtra;  // always empty
  std::string LyricFolder;
  bool NetEnabled = false;  // OnlineFlag at creation: download and upload only when set
  std::string LyricUploadUrl;
  std::shared_ptr<const TLyricDownloader> Downloader;
  net::HttpOptions Http;

  // Results.
  std::string ResultText;   // UTF-8, every line ended by CR LF; empty when nothing was found
  bool Downloaded = false;  // the text came from the provider (also when it found nothing)
};

// The file beside the audio file: the location with its extension replaced by ".lrc"
// ("song.mp3" → "song.lrc", "song.flac" → "song.lrc"; a name without extension gets ".lrc"
// appended). Empty for a URL or a location that names no file.
std::string BesideFileName(std::string_view location);

// The best file of the lyric folder for a track: among the regular files whose name ends in
// ".lrc" (any case), taken in name order, the first whose lower-cased name without ".lrc" has
// Similarity 100 with lower-cased title + " " + singer, else the last one with 96 or more; empty
// when none.
std::string FindInLyricFolder(const std::string& folder, std::string_view title, std::string_view singer);

// A lyric file as UTF-8 lines ended by CR LF (its encoding recognised: UTF-8 with or without BOM,
// UTF-16 with BOM, GBK/GB18030); empty when it cannot be read.
std::string ReadLyricFile(const std::string& path);

// text split at CR LF, CR or LF, every line ended by CR LF; a final break adds no empty line.
std::string LinesWithCrLf(std::string_view text);

// The download step: the provider's results for title and singer ranked by Similarity of their
// lower-cased title + singer with the track's; from the best down, the first whose lyric is not
// blank. "" when the provider answered but nothing fits; nothing when it could not be asked (no
// answer to the search, or a download that failed), so a passing network fault is not taken for
// "this track has no lyrics".
std::optional<std::string> DownloadBestMatch(const TLyricDownloader& downloader, std::string_view title,
                                             std::string_view singer, std::string_view extra);

// "ltitle=…&lsinger=…&llrc=…", each value escaped from its GBK bytes (the product's server reads
// GBK); a text of 20 bytes or less is sent as "nim_12345".
std::string UploadForm(std::string_view title, std::string_view singer, std::string_view resultText);

// title + " " + singer without the characters file names cannot hold, cut to 100 bytes on a
// character boundary, + ".lrc".
std::string LyricFileName(std::string_view title, std::string_view singer);

struct TLyricLookupDoneResult {
  bool Stale = false;     // the lookup was for another track: nothing loaded, nothing saved
  std::string SavedFile;  // the lyric file written, empty when none
};

// The completion on the main thread. A lookup for another track than current (by Serial; pass a
// serial no lookup carries when nothing is current) is stale: the caller starts a new lookup.
// Otherwise LrcDoc gets ResultText and the closing line at trackLengthMs, and a downloaded text is
// saved as LyricFileName(current title, current singer) in lyricFolder, when that folder exists,
// replacing any file of that name.
TLyricLookupDoneResult LyricLookupDone(const TLrcTextThread& thread, const TLyricTrack& current, int32_t trackLengthMs,
                                       const std::string& lyricFolder, TLrcClass& LrcDoc);

}  // namespace orvane::lyrics
