#include "UrlSource.h"

extern "C" {
#include <libavutil/error.h>
}
#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "Errors.h"

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

// entry resolved against the playlist's own URL.
std::string ResolveUrl(const std::string& base, const std::string& entry) {
  CURLU* url = curl_url();
  std::string result;
  if (url != nullptr && curl_url_set(url, CURLUPART_URL, base.c_str(), 0) == CURLUE_OK &&
      curl_url_set(url, CURLUPART_URL, entry.c_str(), 0) == CURLUE_OK) {
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
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      return BASS_ERROR_ILLPARAM;
    default:
      // Refused, unreachable, not found (HTTP errors), TLS failures, connection lost.
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

}  // namespace

struct UrlSource::Transfer {
  UrlSource* source = nullptr;
  CURL* easy = nullptr;
  bool decided = false;     // playlist or media?
  bool isPlaylist = false;
  bool typeSaysPlaylist = false;
  std::string head;         // first bytes, held until decided
  std::string playlist;     // the body of a playlist
  bool tooBig = false;
  Clock::time_point lastActivity = Clock::now();
};

std::shared_ptr<UrlSource> UrlSource::Start(const Options& options) {
  InitCurlOnce();
  std::shared_ptr<UrlSource> source(new UrlSource(options));
  // The thread keeps the source alive: it may outlive every other owner when cancelled from
  // within its own DOWNLOADPROC.
  source->thread = std::thread([self = source] { self->Run(); });
  source->threadId = source->thread.get_id();
  return source;
}

UrlSource::UrlSource(Options options) : options(std::move(options)) {}

UrlSource::~UrlSource() {
  if (thread.joinable()) thread.detach();  // only reached when the thread itself drops the last owner
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
  transfer.source = this;
  CURL* easy = curl_easy_init();
  CURLM* multi = curl_multi_init();
  if (easy == nullptr || multi == nullptr) {
    curl_easy_cleanup(easy);
    curl_multi_cleanup(multi);
    return BASS_ERROR_MEM;
  }
  transfer.easy = easy;
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 8L);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.timeoutMs));
  curl_easy_setopt(easy, CURLOPT_USERAGENT, "OrvaneAudio/2.4");
  if (options.offset > 0) curl_easy_setopt(easy, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(options.offset));
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, +[](char* data, size_t, size_t size, void* user) -> size_t {
    auto& t = *static_cast<Transfer*>(user);
    return t.source->OnBody(t, data, size);
  });
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, +[](char*, size_t, size_t size, void* user) -> size_t {
    static_cast<Transfer*>(user)->lastActivity = Clock::now();
    return size;
  });
  curl_multi_add_handle(multi, easy);
  {
    std::lock_guard lock(mutex);
    wakeHandle = multi;
  }

  const auto timeout = std::chrono::milliseconds(options.timeoutMs);
  int code = BASS_OK;
  bool stopped = false;
  for (;;) {
    int running = 0;
    curl_multi_perform(multi, &running);
    if (running == 0) break;
    {
      std::unique_lock lock(mutex);
      if (cancelled) {
        code = BASS_ERROR_ENDED;
        stopped = true;
        break;
      }
      if (paused && !ShouldPause()) {
        paused = false;
        lock.unlock();
        curl_easy_pause(easy, CURLPAUSE_CONT);
        transfer.lastActivity = Clock::now();
        continue;
      }
      if (paused) transfer.lastActivity = Clock::now();  // waiting for the reader is not a stall
    }
    const auto idle = Clock::now() - transfer.lastActivity;
    if (idle >= timeout) {
      code = BASS_ERROR_TIMEOUT;
      stopped = true;
      break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(timeout - idle).count();
    curl_multi_poll(multi, nullptr, 0, static_cast<int>(std::clamp<int64_t>(left + 1, 1, 1000)), nullptr);
  }
  if (!stopped) {
    int pending = 0;
    CURLcode result = CURLE_OK;
    while (CURLMsg* message = curl_multi_info_read(multi, &pending)) {
      if (message->msg == CURLMSG_DONE) result = message->data.result;
    }
    code = ErrorFromCurl(result);
    if (transfer.tooBig) code = BASS_ERROR_FILEFORM;
    {
      std::lock_guard lock(mutex);
      if (cancelled) code = BASS_ERROR_ENDED;
    }
    if (code == BASS_OK && !transfer.decided) {
      // A body shorter than the sniffing window.
      transfer.isPlaylist = options.followPlaylists && LooksLikePlaylist(transfer.head);
      transfer.decided = true;
      if (transfer.isPlaylist) {
        transfer.playlist = transfer.head;
      } else {
        BeginMedia(transfer);
        if (!transfer.head.empty()) Deliver(transfer.head.data(), transfer.head.size());
      }
    }
    if (code == BASS_OK && transfer.isPlaylist) {
      char* effective = nullptr;
      curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
      const std::string entry = FirstPlaylistEntry(transfer.playlist);
      playlistEntry = entry.empty() ? std::string{} : ResolveUrl(effective != nullptr ? effective : url, entry);
      if (playlistEntry.empty()) code = BASS_ERROR_FILEFORM;
    }
  }
  {
    std::lock_guard lock(mutex);
    wakeHandle = nullptr;
  }
  curl_multi_remove_handle(multi, easy);
  curl_easy_cleanup(easy);
  curl_multi_cleanup(multi);
  return code;
}

size_t UrlSource::OnBody(Transfer& transfer, const char* data, size_t size) {
  transfer.lastActivity = Clock::now();
  {
    std::lock_guard lock(mutex);
    if (cancelled) return 0;  // aborts the transfer
  }
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
    transfer.decided = true;
    transfer.isPlaylist = options.followPlaylists && (transfer.typeSaysPlaylist || LooksLikePlaylist(transfer.head));
    if (transfer.isPlaylist) {
      transfer.playlist = std::move(transfer.head);
    } else {
      BeginMedia(transfer);
      Deliver(transfer.head.data(), transfer.head.size());
    }
    transfer.head.clear();
    return size;
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
    std::lock_guard lock(mutex);
    if (ShouldPause()) {
      paused = true;
      return CURL_WRITEFUNC_PAUSE;  // curl hands the same bytes again after the pause
    }
  }
  Deliver(data, size);
  return size;
}

void UrlSource::BeginMedia(Transfer& transfer) {
  curl_off_t length = -1;
  curl_easy_getinfo(transfer.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  char* effective = nullptr;
  curl_easy_getinfo(transfer.easy, CURLINFO_EFFECTIVE_URL, &effective);
  std::lock_guard lock(mutex);
  contentLength = length > 0 ? length : 0;
  finalUrl = effective != nullptr ? effective : "";
}

bool UrlSource::ShouldPause() const {
  return contentLength == 0 && received - readPos > kMaxAheadBytes;
}

void UrlSource::Deliver(const char* data, size_t size) {
  {
    std::lock_guard lock(mutex);
    size_t done = 0;
    while (done < size) {
      const size_t inChunk = static_cast<size_t>((received - heldStart) % static_cast<int64_t>(kChunkBytes));
      if (inChunk == 0 && static_cast<int64_t>(chunks.size() * kChunkBytes) == received - heldStart) {
        chunks.push_back(std::make_unique<uint8_t[]>(kChunkBytes));
      }
      const size_t count = std::min(size - done, kChunkBytes - inChunk);
      std::memcpy(chunks.back().get() + inChunk, data + done, count);
      done += count;
      received += static_cast<int64_t>(count);
    }
  }
  arrived.notify_all();
  if (options.proc != nullptr && !procDisabled.load()) options.proc(data, static_cast<DWORD>(size), options.user);
}

void UrlSource::Finish(int code) {
  {
    std::lock_guard lock(mutex);
    ended = true;
    failure = code;
  }
  arrived.notify_all();
  if (options.proc != nullptr && !procDisabled.load()) {
    SetError(code);  // tells the end-of-download receiver how the transfer ended
    options.proc(nullptr, 0, options.user);
  }
}

// ---- decoder side ----

int UrlSource::Read(uint8_t* buffer, int size) {
  std::unique_lock lock(mutex);
  arrived.wait(lock, [&] { return cancelled || interrupt || readPos < received || ended; });
  if (readPos >= received) {
    if (cancelled || ended) return 0;
    return AVERROR_EXIT;  // interrupted while waiting
  }
  if (readPos < heldStart) return AVERROR(EIO);  // dropped from the window
  int copied = 0;
  while (copied < size && readPos < received) {
    const int64_t offset = readPos - heldStart;
    const size_t chunk = static_cast<size_t>(offset / static_cast<int64_t>(kChunkBytes));
    const size_t inChunk = static_cast<size_t>(offset % static_cast<int64_t>(kChunkBytes));
    const size_t count = static_cast<size_t>(
        std::min<int64_t>({static_cast<int64_t>(size - copied), static_cast<int64_t>(kChunkBytes - inChunk),
                           received - readPos}));
    std::memcpy(buffer + copied, chunks[chunk].get() + inChunk, count);
    copied += static_cast<int>(count);
    readPos += static_cast<int64_t>(count);
  }
  DropBehindReader();
  if (paused && !ShouldPause() && wakeHandle != nullptr) curl_multi_wakeup(static_cast<CURLM*>(wakeHandle));
  return copied;
}

void UrlSource::DropBehindReader() {
  if (received - heldStart <= kHoldAllBytes) return;
  while (chunks.size() > 1 && heldStart + static_cast<int64_t>(kChunkBytes) <= readPos - kKeepBehindBytes) {
    chunks.pop_front();
    heldStart += static_cast<int64_t>(kChunkBytes);
  }
}

bool UrlSource::Seek(int64_t offset) {
  std::lock_guard lock(mutex);
  if (offset < heldStart || offset > received) return false;  // only inside what is held
  readPos = offset;
  return true;
}

int64_t UrlSource::Tell() const {
  std::lock_guard lock(mutex);
  return readPos;
}

int64_t UrlSource::Size() const {
  std::lock_guard lock(mutex);
  if (contentLength > 0) return contentLength;
  if (ended && failure == BASS_OK) return received;
  return -1;
}

std::string UrlSource::NameHint() const {
  std::lock_guard lock(mutex);
  return std::string(UrlPath(finalUrl.empty() ? options.url : finalUrl));
}

// ---- any thread ----

void UrlSource::SetInterrupt(bool on) {
  {
    std::lock_guard lock(mutex);
    interrupt = on;
  }
  arrived.notify_all();
}

void UrlSource::Cancel() {
  const bool onOwnThread = std::this_thread::get_id() == threadId;
  if (onOwnThread) procDisabled = true;
  {
    std::lock_guard lock(mutex);
    cancelled = true;
    if (wakeHandle != nullptr) curl_multi_wakeup(static_cast<CURLM*>(wakeHandle));
  }
  arrived.notify_all();
  if (!thread.joinable()) return;
  if (onOwnThread) {
    thread.detach();
  } else {
    thread.join();
  }
}

void UrlSource::WaitForBytes(int64_t count) {
  std::unique_lock lock(mutex);
  arrived.wait(lock, [&] { return received >= count || ended || cancelled; });
}

int64_t UrlSource::ContentLength() const {
  std::lock_guard lock(mutex);
  return contentLength;
}

int64_t UrlSource::Downloaded() const {
  std::lock_guard lock(mutex);
  return received;
}

int64_t UrlSource::HeldStart() const {
  std::lock_guard lock(mutex);
  return heldStart;
}

int64_t UrlSource::ReadAhead() const {
  std::lock_guard lock(mutex);
  return received - readPos;
}

bool UrlSource::Connected() const {
  std::lock_guard lock(mutex);
  return !ended;
}

int UrlSource::Failure() const {
  std::lock_guard lock(mutex);
  return failure;
}

}  // namespace orvane::bass
