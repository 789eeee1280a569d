#include "UrlSource.h"

extern "C" {
#include <libavutil/error.h>
}
#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string_view>
#include <vector>

#include "Errors.h"
#include "net/UYmUrl.h"

namespace orvane::bass {
namespace {

using Clock = std::chrono::steady_clock;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && StartsWithNoCase(text.substr(text.size() - suffix.size()), suffix);
}

std::string_view TrimBlank(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

// The path of a URL without query and fragment.
std::string_view UrlPath(std::string_view url) {
  const size_t end = url.find_first_of("?#");
  return url.substr(0, end);
}

bool IsPlaylistType(std::string_view contentType) {
  for (std::string_view type : {"audio/x-mpegurl", "audio/mpegurl", "application/x-mpegurl", "audio/x-scpls",
                                "application/pls+xml", "audio/scpls"}) {
    if (StartsWithNoCase(contentType, type)) return true;
  }
  return false;
}

bool LooksLikePlaylist(std::string_view body) {
  if (StartsWithNoCase(body, "\xEF\xBB\xBF")) body.remove_prefix(3);
  body = TrimBlank(body);
  return StartsWithNoCase(body, "#EXTM3U") || StartsWithNoCase(body, "[playlist]");
}

// First entry of a .pls ("File1=…") or .m3u (first line that is not a comment) playlist.
std::string FirstPlaylistEntry(std::string_view body) {
  if (StartsWithNoCase(body, "\xEF\xBB\xBF")) body.remove_prefix(3);
  const bool pls = StartsWithNoCase(TrimBlank(body), "[playlist]");
  while (!body.empty()) {
    const size_t end = body.find_first_of("\r\n");
    const std::string_view line = TrimBlank(body.substr(0, end));
    body = end == std::string_view::npos ? std::string_view{} : body.substr(end + 1);
    if (line.empty()) continue;
    if (pls) {
      if (!StartsWithNoCase(line, "file")) continue;
      const size_t eq = line.find('=');
      if (eq != std::string_view::npos) return std::string(TrimBlank(line.substr(eq + 1)));
      continue;
    }
    if (line.front() != '#') return std::string(line);
  }
  return {};
}

// entry resolved against the playlist's own URL (escaped first: playlists hold blanks and
// non-ASCII names as they are).
std::string ResolveUrl(const std::string& base, const std::string& entry) {
  CURLU* url = curl_url();
  std::string result;
  const std::string escaped = orvane::net::EscapeUrl(entry);
  if (url != nullptr && curl_url_set(url, CURLUPART_URL, base.c_str(), 0) == CURLUE_OK &&
      curl_url_set(url, CURLUPART_URL, escaped.c_str(), 0) == CURLUE_OK) {
    char* text = nullptr;
    if (curl_url_get(url, CURLUPART_URL, &text, 0) == CURLUE_OK) result = text;
    curl_free(text);
  }
  curl_url_cleanup(url);
  return result;
}

int ErrorFromCurl(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return BASS_OK;
    case CURLE_OPERATION_TIMEDOUT:
      return BASS_ERROR_TIMEOUT;
    case CURLE_OUT_OF_MEMORY:
      return BASS_ERROR_MEM;
    case CURLE_URL_MALFORMAT:
      return BASS_ERROR_ILLPARAM;
    default:
      // Refused, unreachable, not found (HTTP errors), TLS failures, connection lost, and an
      // unsupported protocol: the caller's URL is http(s), so that is the server's doing (a
      // redirect elsewhere, an answer that is not HTTP).
      return BASS_ERROR_FILEOPEN;
  }
}

void InitCurlOnce() {
  static const bool done = [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    return true;
  }();
  (void)done;
}


// ---- spools ----

// The first folder that takes an unlinked temporary file: the one asked for, else $TMPDIR,
// /var/tmp (on disk, unlike a /tmp that may be memory), /tmp. -1 when none does.
int OpenSpoolFile(const std::string& wanted) {
  std::vector<std::string> folders;
  if (!wanted.empty()) {
    folders.push_back(wanted);
  } else {
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') folders.emplace_back(tmp);
    folders.emplace_back("/var/tmp");
    folders.emplace_back("/tmp");
  }
  for (const std::string& folder : folders) {
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    // File systems without O_TMPFILE: a named file, unlinked at once.
    std::string name = folder + "/orvane-stream-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) {
      ::unlink(name.c_str());
      return fd;
    }
  }
  return -1;
}

}  // namespace

class Spool {
 public:
  virtual ~Spool() = default;
  // Download thread: keeps size bytes at offset at, right after everything kept so far.
  virtual bool Append(int64_t at, const char* data, size_t size) = 0;
  // Decoder side: copies bytes kept at [at, at + size); the count, or a negative FFmpeg error.
  virtual int Read(int64_t at, uint8_t* buffer, size_t size) = 0;
  // Decoder side: bytes before offset before will not be read again. Returns the first byte still
  // kept (the spool frees whole pieces only).
  virtual int64_t Release(int64_t before) = 0;
  virtual int64_t MemoryHeld() const = 0;
  virtual bool IsFile() const = 0;
};

namespace {

// An unlinked temporary file: pwrite and pread of disjoint ranges need no lock.
class FileSpool final : public Spool {
 public:
  explicit FileSpool(int fd) : fd(fd) {}
  ~FileSpool() override { ::close(fd); }
  FileSpool(const FileSpool&) = delete;
  FileSpool& operator=(const FileSpool&) = delete;

  bool Append(int64_t at, const char* data, size_t size) override {
    while (size > 0) {
      const ssize_t n = ::pwrite(fd, data, size, at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;  // disk full or failing
      data += n;
      at += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }
  int Read(int64_t at, uint8_t* buffer, size_t size) override {
    ssize_t n;
    do {
      n = ::pread(fd, buffer, size, at);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return AVERROR(errno);
    if (n == 0) return AVERROR(EIO);  // the bytes were written: the file must have them
    return static_cast<int>(n);
  }
  int64_t Release(int64_t before) override {
    // Whole megabytes only; a file system that cannot punch holes keeps the bytes on disk.
    constexpr int64_t kStep = 1 << 20;
    const int64_t end = before / kStep * kStep;
    if (end <= released) return released;
    ::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, released, end - released);
    released = end;
    return released;
  }
  int64_t MemoryHeld() const override { return 0; }
  bool IsFile() const override { return true; }

 private:
  int fd;
  int64_t released = 0;
};

// A window in memory, in fixed-size chunks.
class MemorySpool final : public Spool {
 public:
  static constexpr int64_t kChunkBytes = 256 * 1024;

  bool Append(int64_t at, const char* data, size_t size) override {
    std::lock_guard lock(mutex);
    try {
      while (size > 0) {
        const int64_t inChunk = (at - start) % kChunkBytes;
        if (inChunk == 0 && static_cast<int64_t>(chunks.size()) * kChunkBytes == at - start) {
          chunks.push_back(std::make_unique<uint8_t[]>(kChunkBytes));
        }
        const size_t count = std::min<size_t>(size, static_cast<size_t>(kChunkBytes - inChunk));
        std::memcpy(chunks.back().get() + inChunk, data, count);
        data += count;
        at += static_cast<int64_t>(count);
        size -= count;
      }
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }
  int Read(int64_t at, uint8_t* buffer, size_t size) override {
    std::lock_guard lock(mutex);
    if (at < start) return AVERROR(EIO);
    size_t copied = 0;
    while (copied < size) {
      const int64_t offset = at + static_cast<int64_t>(copied) - start;
      const size_t chunk = static_cast<size_t>(offset / kChunkBytes);
      if (chunk >= chunks.size()) break;
      const int64_t inChunk = offset % kChunkBytes;
      const size_t count = std::min<size_t>(size - copied, static_cast<size_t>(kChunkBytes - inChunk));
      std::memcpy(buffer + copied, chunks[chunk].get() + inChunk, count);
      copied += count;
    }
    return static_cast<int>(copied);
  }
  int64_t Release(int64_t before) override {
    std::lock_guard lock(mutex);
    while (chunks.size() > 1 && start + kChunkBytes <= before) {
      chunks.pop_front();
      start += kChunkBytes;
    }
    return start;
  }
  int64_t MemoryHeld() const override {
    std::lock_guard lock(mutex);
    return static_cast<int64_t>(chunks.size()) * kChunkBytes;
  }
  bool IsFile() const override { return false; }

 private:
  mutable std::mutex mutex;
  std::deque<std::unique_ptr<uint8_t[]>> chunks;  // from start on
  int64_t start = 0;
};

}  // namespace

struct UrlSource::Transfer {
  UrlSource* source = nullptr;
  CURL* easy = nullptr;
  CURLM* multi = nullptr;
  curl_slist* statusAliases = nullptr;  // curl reads it during the transfer
  bool decided = false;     // playlist or media?
  bool isPlaylist = false;
  bool typeSaysPlaylist = false;
  std::string head;         // first bytes, held until decided
  std::string playlist;     // the body of a playlist
  bool tooBig = false;      // a playlist beyond kMaxPlaylistBytes
  bool spoolFailed = false; // the bytes could not be kept
  bool gotResponse = false; // the server has said something
  Clock::time_point lastActivity = Clock::now();

  Transfer() = default;
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;
  ~Transfer() {
    if (multi != nullptr && easy != nullptr) curl_multi_remove_handle(multi, easy);
    curl_easy_cleanup(easy);
    curl_multi_cleanup(multi);
    curl_slist_free_all(statusAliases);
  }
};

std::shared_ptr<UrlSource> UrlSource::Start(const Options& options) {
  InitCurlOnce();
  std::shared_ptr<UrlSource> source(new UrlSource(options));
  auto handle = source->downloadThread.Lock();
  // The thread keeps the source alive: it may outlive every other owner when cancelled from
  // within its own DOWNLOADPROC.
  handle->thread = std::thread([self = source] { self->Run(); });
  handle->id = handle->thread.get_id();
  return source;
}

namespace {

std::unique_ptr<Spool> MakeSpool(const UrlSource::Options& options) {
  if (!options.spoolInMemory) {
    const int fd = OpenSpoolFile(options.spoolFolder);
    if (fd >= 0) return std::make_unique<FileSpool>(fd);
  }
  return std::make_unique<MemorySpool>();
}

}  // namespace

UrlSource::UrlSource(Options options)
    : options(std::move(options)),
      spool(MakeSpool(this->options)),
      aheadLimit(spool->IsFile() ? std::max<int64_t>(this->options.aheadBytes, 1) : kMemoryAheadBytes),
      keepWhole(spool->IsFile() ? kKeepWholeBytes : kMemoryBehindBytes),
      keepBehind(spool->IsFile() ? kKeepBehindBytes : kMemoryBehindBytes) {}

UrlSource::~UrlSource() {
  // Only reached with a running thread when that thread itself drops the last owner.
  auto handle = downloadThread.Lock();
  if (handle->thread.joinable()) handle->thread.detach();
}

// ---- download thread ----

void UrlSource::Run() {
  std::string url = options.url;
  int code = BASS_OK;
  for (int hop = 0;; ++hop) {
    std::string entry;
    code = RunTransfer(url, entry);
    if (code != BASS_OK || entry.empty()) break;
    if (hop == kMaxPlaylistHops) {
      code = BASS_ERROR_FILEFORM;
      break;
    }
    url = entry;
  }
  Finish(code);
}

int UrlSource::RunTransfer(const std::string& url, std::string& playlistEntry) {
  Transfer transfer;
  if (!SetUpTransfer(transfer, url)) return BASS_ERROR_MEM;
  int code = TransferLoop(transfer);
  shared.Lock()->wakeHandle = nullptr;
  if (code == BASS_OK && transfer.isPlaylist) code = ResolvePlaylist(transfer, url, playlistEntry);
  return code;
}

bool UrlSource::SetUpTransfer(Transfer& transfer, const std::string& url) {
  transfer.source = this;
  transfer.easy = curl_easy_init();
  transfer.multi = curl_multi_init();
  if (transfer.easy == nullptr || transfer.multi == nullptr) return false;
  CURL* easy = transfer.easy;
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 8L);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeoutMs));
  curl_easy_setopt(easy, CURLOPT_USERAGENT, "OrvaneAudio/2.4");
  // Radio servers of the old kind answer "ICY 200 OK" instead of an HTTP status line, then send
  // headers as HTTP does. Taken as "HTTP/1.0 200 OK", their headers stay headers; any other ICY
  // status is still refused (curl takes it for an HTTP/0.9 answer, which it does not allow).
  transfer.statusAliases = curl_slist_append(nullptr, "ICY 200 OK");
  if (transfer.statusAliases == nullptr) return false;
  curl_easy_setopt(easy, CURLOPT_HTTP200ALIASES, transfer.statusAliases);
  if (options.offset > 0) curl_easy_setopt(easy, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(options.offset));
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, +[](char* data, size_t, size_t size, void* user) -> size_t {
    auto& t = *static_cast<Transfer*>(user);
    return t.source->OnBody(t, data, size);
  });
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, +[](char*, size_t, size_t size, void* user) -> size_t {
    auto& t = *static_cast<Transfer*>(user);
    t.lastActivity = Clock::now();
    t.gotResponse = true;
    return size;
  });
  if (curl_multi_add_handle(transfer.multi, easy) != CURLM_OK) return false;
  shared.Lock()->wakeHandle = transfer.multi;
  return true;
}

int UrlSource::TransferLoop(Transfer& transfer) {
  using std::chrono::milliseconds;
  const int openLimitMs = options.openLimitMs > 0 ? options.openLimitMs : std::max(5 * options.connectTimeoutMs, 5000);
  for (;;) {
    int running = 0;
    curl_multi_perform(transfer.multi, &running);
    if (running == 0) break;
    bool resume = false;
    {
      SharedLock s = shared.Lock();
      if (s->cancelled) return BASS_ERROR_ENDED;
      resume = s->paused && !ShouldPause(s);
      if (resume) s->paused = false;
      // Waiting for the reader is not a stall.
      if (s->paused) transfer.lastActivity = Clock::now();
    }
    if (resume) {
      curl_easy_pause(transfer.easy, CURLPAUSE_CONT);
      transfer.lastActivity = Clock::now();
      continue;
    }
    const auto now = Clock::now();
    const bool isOpen = opened.load();
    if (!isOpen && now - started >= milliseconds(openLimitMs)) return BASS_ERROR_TIMEOUT;
    // Until the stream is open a silence is a failed connection; once it plays, a pause.
    const milliseconds limit(isOpen && transfer.gotResponse ? options.stallTimeoutMs : options.connectTimeoutMs);
    const auto idle = now - transfer.lastActivity;
    if (idle >= limit) return BASS_ERROR_TIMEOUT;
    const auto left = std::chrono::duration_cast<milliseconds>(limit - idle).count();
    curl_multi_poll(transfer.multi, nullptr, 0, static_cast<int>(std::clamp<int64_t>(left + 1, 1, 250)), nullptr);
  }

  int pending = 0;
  CURLcode result = CURLE_OK;
  while (CURLMsg* message = curl_multi_info_read(transfer.multi, &pending)) {
    if (message->msg == CURLMSG_DONE) result = message->data.result;
  }
  int code = ErrorFromCurl(result);
  if (transfer.tooBig) code = BASS_ERROR_FILEFORM;
  if (transfer.spoolFailed) code = BASS_ERROR_MEM;
  if (shared.Lock()->cancelled) code = BASS_ERROR_ENDED;
  if (code == BASS_OK && !transfer.decided) {
    // A body shorter than the sniffing window.
    DecideKind(transfer);
    if (transfer.spoolFailed) code = BASS_ERROR_MEM;
  }
  return code;
}

int UrlSource::ResolvePlaylist(const Transfer& transfer, const std::string& url, std::string& playlistEntry) const {
  char* effective = nullptr;
  curl_easy_getinfo(transfer.easy, CURLINFO_EFFECTIVE_URL, &effective);
  const std::string entry = FirstPlaylistEntry(transfer.playlist);
  playlistEntry = entry.empty() ? std::string{} : ResolveUrl(effective != nullptr ? effective : url, entry);
  return playlistEntry.empty() ? BASS_ERROR_FILEFORM : BASS_OK;
}

size_t UrlSource::OnBody(Transfer& transfer, const char* data, size_t size) {
  transfer.lastActivity = Clock::now();
  transfer.gotResponse = true;
  if (shared.Lock()->cancelled) return 0;  // aborts the transfer
  if (!transfer.decided) {
    if (transfer.head.empty()) {
      char* type = nullptr;
      curl_easy_getinfo(transfer.easy, CURLINFO_CONTENT_TYPE, &type);
      char* effective = nullptr;
      curl_easy_getinfo(transfer.easy, CURLINFO_EFFECTIVE_URL, &effective);
      const std::string_view path = UrlPath(effective != nullptr ? effective : "");
      transfer.typeSaysPlaylist = (type != nullptr && IsPlaylistType(type)) || EndsWithNoCase(path, ".m3u") ||
                                  EndsWithNoCase(path, ".pls");
    }
    transfer.head.append(data, size);
    // The first bytes decide unless the type or name already said "playlist".
    constexpr size_t kSniffBytes = 16;
    if (transfer.head.size() < kSniffBytes && !transfer.typeSaysPlaylist) return size;
    DecideKind(transfer);
    return transfer.spoolFailed ? 0 : size;
  }
  if (transfer.isPlaylist) {
    if (transfer.playlist.size() + size > kMaxPlaylistBytes) {
      transfer.tooBig = true;
      return 0;
    }
    transfer.playlist.append(data, size);
    return size;
  }
  {
    SharedLock s = shared.Lock();
    if (ShouldPause(s)) {
      s->paused = true;
      return CURL_WRITEFUNC_PAUSE;  // curl hands the same bytes again after the pause
    }
  }
  if (!Deliver(data, size)) {
    transfer.spoolFailed = true;
    return 0;
  }
  return size;
}

void UrlSource::DecideKind(Transfer& transfer) {
  transfer.decided = true;
  transfer.isPlaylist = options.followPlaylists && (transfer.typeSaysPlaylist || LooksLikePlaylist(transfer.head));
  if (transfer.isPlaylist) {
    transfer.playlist = std::move(transfer.head);
  } else {
    BeginMedia(transfer);
    if (!transfer.head.empty() && !Deliver(transfer.head.data(), transfer.head.size())) transfer.spoolFailed = true;
  }
  transfer.head.clear();
}

void UrlSource::BeginMedia(Transfer& transfer) {
  curl_off_t length = -1;
  curl_easy_getinfo(transfer.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  char* effective = nullptr;
  curl_easy_getinfo(transfer.easy, CURLINFO_EFFECTIVE_URL, &effective);
  SharedLock s = shared.Lock();
  s->contentLength = length > 0 ? length : 0;
  s->finalUrl = effective != nullptr ? effective : "";
}

bool UrlSource::ShouldPause(const SharedLock& s) const { return s->received - s->readPos > aheadLimit; }

void UrlSource::ResumeIfWanted(SharedLock& s) {
  if (s->paused && !ShouldPause(s) && s->wakeHandle != nullptr) curl_multi_wakeup(static_cast<CURLM*>(s->wakeHandle));
}

bool UrlSource::Deliver(const char* data, size_t size) {
  const int64_t at = shared.Lock()->received;  // only this thread moves it
  if (!spool->Append(at, data, size)) return false;
  shared.Lock()->received += static_cast<int64_t>(size);
  arrived.notify_all();
  if (options.proc != nullptr && !procDisabled.load()) options.proc(data, static_cast<DWORD>(size), options.user);
  return true;
}

void UrlSource::Finish(int code) {
  {
    SharedLock s = shared.Lock();
    s->ended = true;
    s->failure = code;
    arrived.notify_all();
    // A download is complete only for a stream that opened: the end mark waits for the opener's
    // verdict, so bytes the decoder refused never pass for a whole song.
    s.Wait(arrived, [this](const Shared& state) { return opened.load() || state.cancelled; });
    if (!opened.load() && code == BASS_OK) code = BASS_ERROR_ENDED;
  }
  if (options.proc != nullptr && !procDisabled.load()) {
    SetError(code);  // tells the end-of-download receiver how the transfer ended
    options.proc(nullptr, 0, options.user);
  }
}

// ---- decoder side ----

int UrlSource::Read(uint8_t* buffer, int size) {
  int64_t at;
  size_t count;
  {
    SharedLock s = shared.Lock();
    s.Wait(arrived, [](const Shared& state) {
      return state.cancelled || state.interrupt || state.readPos < state.received || state.ended;
    });
    if (s->readPos >= s->received) {
      if (s->cancelled || s->ended) return 0;
      return AVERROR_EXIT;  // interrupted while waiting
    }
    if (s->readPos < s->heldStart) return AVERROR(EIO);  // given back already
    at = s->readPos;
    count = static_cast<size_t>(std::min<int64_t>(size, s->received - s->readPos));
  }
  // Bytes below received are in the spool and stay there: read without the lock.
  const int got = spool->Read(at, buffer, count);
  if (got <= 0) return got < 0 ? got : AVERROR(EIO);
  int64_t held;
  int64_t release;
  {
    SharedLock s = shared.Lock();
    s->readPos = at + got;
    held = s->heldStart;  // moved only on this side
    release = ReleasePoint(s);
    ResumeIfWanted(s);
  }
  if (release > held) {
    const int64_t start = spool->Release(release);
    SharedLock s = shared.Lock();
    s->heldStart = std::max(s->heldStart, start);
  }
  return got;
}

int64_t UrlSource::ReleasePoint(const SharedLock& s) const {
  if (s->received - s->heldStart <= keepWhole) return s->heldStart;
  return std::max<int64_t>(s->heldStart, s->readPos - keepBehind);
}

bool UrlSource::Seek(int64_t offset) {
  SharedLock s = shared.Lock();
  if (offset < s->heldStart) return false;
  // Ahead of the download is fine while it runs: reads there wait for the bytes.
  const int64_t end = s->ended ? s->received : (s->contentLength > 0 ? s->contentLength : INT64_MAX);
  if (offset > end) return false;
  s->readPos = offset;
  ResumeIfWanted(s);
  return true;
}

int64_t UrlSource::Tell() const { return shared.Lock()->readPos; }

int64_t UrlSource::Size() const {
  SharedLock s = shared.Lock();
  if (s->contentLength > 0) return s->contentLength;
  if (s->ended && s->failure == BASS_OK) return s->received;
  return -1;
}

std::string UrlSource::NameHint() const {
  SharedLock s = shared.Lock();
  return std::string(UrlPath(s->finalUrl.empty() ? options.url : s->finalUrl));
}

// ---- any thread ----

void UrlSource::Opened() {
  {
    SharedLock s = shared.Lock();
    opened.store(true);
  }
  arrived.notify_all();
}

void UrlSource::SetInterrupt(bool on) {
  shared.Lock()->interrupt = on;
  arrived.notify_all();
}

void UrlSource::Abort(SharedLock& s) {
  s->cancelled = true;
  if (s->wakeHandle != nullptr) curl_multi_wakeup(static_cast<CURLM*>(s->wakeHandle));
}

void UrlSource::Abort() {
  {
    SharedLock s = shared.Lock();
    Abort(s);
  }
  arrived.notify_all();
}

void UrlSource::Cancel() {
  bool onOwnThread;
  {
    auto handle = downloadThread.Lock();
    onOwnThread = handle->id == std::this_thread::get_id();
    // From within the DOWNLOADPROC: no further call, and nobody can wait for this thread.
    if (onOwnThread) procDisabled = true;
  }
  Abort();
  if (onOwnThread) {
    auto handle = downloadThread.Lock();
    if (handle->thread.joinable()) handle->thread.detach();
    return;
  }
  // A second Cancel waits here until the first has seen the thread end.
  std::lock_guard join(joining);
  std::thread thread;
  thread.swap(downloadThread.Lock()->thread);
  if (thread.joinable()) thread.join();
}

void UrlSource::WaitForBytes(int64_t count) {
  SharedLock s = shared.Lock();
  s.Wait(arrived, [count](const Shared& state) { return state.received >= count || state.ended || state.cancelled; });
}

int64_t UrlSource::ContentLength() const { return shared.Lock()->contentLength; }

int64_t UrlSource::Downloaded() const { return shared.Lock()->received; }

int64_t UrlSource::HeldStart() const { return shared.Lock()->heldStart; }

int64_t UrlSource::ReadAhead() const {
  SharedLock s = shared.Lock();
  return s->received - s->readPos;
}

bool UrlSource::Connected() const { return !shared.Lock()->ended; }

int UrlSource::Failure() const { return shared.Lock()->failure; }

int64_t UrlSource::MemoryHeld() const { return spool->MemoryHeld(); }

bool UrlSource::SpooledToFile() const { return spool->IsFile(); }

}  // namespace orvane::bass
