#pragma once
// The automatic lyric lookup and the lyric search dialog's two threads.
//
// The lookup (TLrcTextThread): for the track that started playing, an LRC file beside the audio
// file, else a similarly named file in the lyric folder, else (when provider downloads are on) the
// best-matching download from the lyric provider; what was found (or a placeholder) is then posted
// to the product server's lyric collection address when that server is online. LyricLookupDone is
// what the main window does with the result. The lookup can run in two stages, the files first and
// the network after, so that a lyric on disk never waits for another song's download.
//
// The search dialog: TLrcListThread searches the provider and hands the results to the dialog one
// row at a time; TGetLrcTextThread downloads the lyric of one result; SearchDownloadDone is what
// the dialog does with it.
//
// Threads: the threads run on worker threads (net::TWorkerHost). Each owns copies of its inputs
// and holds the downloader by shared_ptr; none touches a window or the lyric document, and each
// writes only its own result members. The completions (LyricLookupDone, SearchDownloadDone) run on
// the main thread while the worker is still alive. TLrcListThread reaches the main thread only
// through its TLrcRowRelay, whose contract is given there. The other functions are pure or touch
// only the files they name; callable on any thread.
//
// A result is for a track, identified by its list and its location ("the same row": a list can hold
// a song once per row, and the same song on another row has the same lyric). When that row is no
// longer the playing one as the result arrives, the result is dropped, so a slow answer for one
// song is never shown for, or saved under the name of, the next.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "lyrics/LyricDownloader.h"
#include "net/HttpClient.h"
#include "net/WorkerHost.h"

class QObject;

namespace orvane::lyrics {

class TLrcClass;

// The track a result is for: a row of one of the main window's lists.
struct TLyricTrack {
  uint8_t List = 0;      // 0 the music list, 1 the random list
  std::string Location;  // local path or URL
  std::string Title;
  std::string Singer;
};

// Whether two tracks are the same row as far as a lyric is concerned: the same list and location.
bool SameRow(const TLyricTrack& a, const TLyricTrack& b);

// Which part of the lookup a TLrcTextThread runs.
enum class TLookupStage : uint8_t {
  Whole,    // the files, then the network when they hold nothing
  Local,    // the files only; NeedsNetwork tells that the network stage must finish the lookup
  Network,  // the download step only
};

// A blank lyric file in the lyric folder is what a lookup that found nothing left behind; the
// service gains lyrics every day, so after this long the track is looked up again.
inline constexpr int kPlaceholderRecheckDays = 7;

class TLrcTextThread : public net::TWorker {
 public:
  // downloadEnabled: the provider may be asked (the user's "online lyrics" setting); netEnabled:
  // the product server is online (what it knows is posted to it). downloader may be null (no
  // provider library): then nothing is downloaded. trackLengthMs (0: unknown) picks the
  // provider's record of the same length.
  TLrcTextThread(TLyricTrack track, std::string lyricFolder, bool downloadEnabled, bool netEnabled,
                 std::string lyricUploadUrl, std::shared_ptr<const TLyricDownloader> downloader,
                 int32_t trackLengthMs = 0, TLookupStage stage = TLookupStage::Whole);

  // The lookup (worker thread). The product server hears of it when it ends: after the files when
  // they held a lyric, else after the download step.
  void Execute() override;

  // Inputs, copied at creation.
  uint8_t List = 0;
  std::string Location;
  std::string Title;
  std::string Singer;
  std::string SearchExtra;  // always empty
  std::string LyricFolder;
  bool DownloadEnabled = false;  // download from the lyric provider when nothing local is found
  bool NetEnabled = false;       // OnlineFlag at creation: post to the product server
  std::string LyricUploadUrl;
  std::shared_ptr<const TLyricDownloader> Downloader;
  int32_t TrackLengthMs = 0;
  TLookupStage Stage = TLookupStage::Whole;
  net::HttpOptions Http;
  // Asked before anything else, on the worker: a music server's synced lyrics of its own song; ""
  // when it has none.
  std::function<std::string()> FirstSource;

  // Results.
  std::string ResultText;     // UTF-8, every line ended by CR LF; empty when nothing was found
  bool Downloaded = false;    // the provider answered: the text came from it, or it has none
  bool NeedsNetwork = false;  // the files held no lyric and the provider may be asked

 private:
  // The beside file or the lyric folder's file into ResultText; false when neither holds a lyric
  // (an old placeholder counts as none).
  bool FindLocal();
};

// The lyric file beside the audio file: BesideFileName when it exists, else a file in the same
// folder whose name differs from it only in letter case ("song.LRC", "Song.Lrc"; the first in name
// order); empty when there is none.
std::string FindBesideFile(std::string_view location);

// Whether a lyric folder's file is a placeholder left more than kPlaceholderRecheckDays ago: blank
// and last written that long before now.
bool IsStalePlaceholder(const std::string& path, std::string_view text);

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

// The download step: the provider's results for title and singer. First the records whose length
// is within 2 s of the track's (closest first, then the more similar, a lyric before an
// instrumental) among those at least two thirds as similar as the best; then, from the best down,
// the results that raised the best Similarity of their lower-cased title + singer with the
// track's. Records with words but no times are passed over. The first whose lyric is not blank
// wins; an instrumental record gives InstrumentalLyric. "" when the provider answered but nothing
// fits; nothing when it could not be asked (no answer to the search, or a download that failed), so
// a passing network fault is not taken for "this track has no lyrics".
std::optional<std::string> DownloadBestMatch(const TLyricDownloader& downloader, std::string_view title,
                                             std::string_view singer, std::string_view extra,
                                             int32_t trackLengthMs = 0);

// "ltitle=…&lsinger=…&llrc=…", each value escaped from its GBK bytes (the product's server reads
// GBK); a text of 20 bytes or less is sent as "nim_12345".
std::string UploadForm(std::string_view title, std::string_view singer, std::string_view resultText);

// title + " " + singer without the characters file names cannot hold, cut to maxBytes bytes on a
// character boundary, + ".lrc". The lookup keeps names to 100 bytes; the search dialog's names are
// limited only by what a file name can hold.
inline constexpr size_t kLookupFileNameLimit = 100;
inline constexpr size_t kLongestFileName = 250;  // + ".lrc" stays within the 255 bytes of a name
std::string LyricFileName(std::string_view title, std::string_view singer, size_t maxBytes = kLookupFileNameLimit);

// The track a lookup was started for.
TLyricTrack TrackOf(const TLrcTextThread& thread);

struct TLyricLookupDoneResult {
  bool Stale = false;     // the lookup was for another row: nothing loaded, nothing saved
  std::string SavedFile;  // the lyric file written, empty when none
};

// The completion on the main thread. current is the playing row (nothing when there is none). A
// lookup for another row is stale: the caller starts a new lookup for the current one. Otherwise
// LrcDoc gets ResultText and the closing line at trackLengthMs, and a downloaded text is saved as
// LyricFileName(title, singer) in lyricFolder, when that folder exists, replacing any file of that
// name.
TLyricLookupDoneResult LyricLookupDone(const TLrcTextThread& thread, const std::optional<TLyricTrack>& current,
                                       int32_t trackLengthMs, const std::string& lyricFolder, TLrcClass& LrcDoc);

// ---- The search dialog's threads

// How the search thread hands its rows to the dialog: one at a time, through the dialog's
// main-thread relay, waiting until each is added, so that a stop asked for while a row is being
// added ends the search right after it.
//
// Threads: Deliver runs on the search thread; the sink runs on the main thread, from its event loop
// with no lock held, so it may ask for a stop; Stop may be cancelled from any thread. Closing the
// relay (the dialog going) releases a waiting Deliver and makes every later one fail; a row queued
// but not yet added then is dropped.
struct TLrcRowHandOff {
  using RowSink = std::function<void(int index, const TLrcResultCopy& row)>;

  net::TMainThreadRelay::Poster MainThread;
  RowSink Sink;  // runs on the main thread only
  std::shared_ptr<net::TWaitToken> Stop = std::make_shared<net::TWaitToken>();

  // Search thread: hands row index to the sink and waits until it was added. False, without
  // handing it over, once a stop was asked for or the relay was closed; false also when the stop
  // came while this row was added (the row is there, the search ends), and when the main thread
  // did not take the row in time (said on stderr).
  bool Deliver(int index, const TLrcResultCopy& row) const;
};

// One search of the provider; the results reach the dialog through the relay, in result order.
class TLrcListThread : public net::TWorker {
 public:
  TLrcListThread(std::string title, std::string singer, std::shared_ptr<const TLyricDownloader> downloader,
                 TLrcRowHandOff rows);

  void Execute() override;

  std::string Title;
  std::string Singer;
  std::string SearchExtra;  // always empty
  std::shared_ptr<const TLyricDownloader> Downloader;
  TLrcRowHandOff Rows;

  // Results.
  int RowIndex = -1;     // the last row handed over
  int Found = 0;         // how many results the provider gave
  bool Failed = false;   // the provider could not be asked (or there is no provider library)
  TProviderFailure Failure = TProviderFailure::NoConnection;  // why, when Failed
};

// The download of one result's lyric, for the track that was playing when it was asked for. An
// instrumental record needs no download: its lyric is InstrumentalLyric. A record with words but
// no times is not downloaded either: it has nothing the desktop line could follow.
class TGetLrcTextThread : public net::TWorker {
 public:
  TGetLrcTextThread(int resultIndex, TLrcResultCopy result, std::optional<TLyricTrack> track,
                    std::shared_ptr<const TLyricDownloader> downloader);

  void Execute() override;

  int ResultIndex = -1;
  TLrcResultCopy Result;
  std::optional<TLyricTrack> Track;
  std::shared_ptr<const TLyricDownloader> Downloader;

  // Results.
  std::string LyricText;  // as the provider gave it (UTF-8); empty when it has none
  bool Failed = false;    // the download failed: LyricText means nothing
};

struct TSearchDownloadDoneResult {
  bool Loaded = false;    // LrcDoc now holds the text
  std::string SavedFile;  // the lyric file written, empty when none
};

// The download's completion on the main thread. A failed download, or a result without a lyric,
// changes nothing: it must not blank the lyric shown or overwrite a good lyric file. Otherwise the
// text is saved, with CR LF line ends, as LyricFileName(title, singer, kLongestFileName) of the
// track the download was asked for, in lyricFolder when that exists; and it is loaded into LrcDoc
// as it is (no closing line) when that track is still the playing row.
TSearchDownloadDoneResult SearchDownloadDone(const TGetLrcTextThread& thread, const std::optional<TLyricTrack>& current,
                                             const std::string& lyricFolder, TLrcClass& LrcDoc);

}  // namespace orvane::lyrics
