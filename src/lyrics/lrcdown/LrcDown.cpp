// liblrcdown.so: the lyric provider object behind LRC_CreateObj, speaking the LRCLIB HTTP API
// (GET {base}/api/search?track_name=…&artist_name=…, GET {base}/api/search?q=… and
// GET {base}/api/get/{id}).
//
// Threads: any number of threads may call one object at once. The object's own members are fixed
// at creation (base address, HTTP options) apart from the atomic reference count; each thread's
// results and last downloaded lyric live in thread-local storage keyed by the object's serial
// number, so callers on different threads never see or replace each other's lists. Every entry
// point catches everything: no exception crosses the library's boundary.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "lyrics/LRC_Header.h"
#include "net/HttpClient.h"
#include "net/Hosts.h"
#include "net/UYmUrl.h"
#include "orvane_version.h"
#include "text/TextUtil.h"

namespace {

constexpr const char* kDefaultBaseUrl = "https://lrclib.net";

struct StoredResult {
  std::string title;
  std::string singer;
  std::string extra;
  int64_t id = 0;
  int32_t durationMs = 0;
  uint32_t flags = 0;
};

// One thread's state for one object.
struct ThreadState {
  std::vector<StoredResult> stored;
  std::vector<TLrcResult> views;  // point into stored; rebuilt whenever stored changes
  std::optional<int64_t> lyricId;  // the last lyric downloaded on this thread, kept for a second,
  std::string lyric;               // larger buffer
};

thread_local std::unordered_map<uint64_t, ThreadState> threadStates;
std::atomic<uint64_t> lastSerial{0};

std::string EnvironmentText(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(orvane::text::Trim(value)) : std::string();
}

std::string BaseUrlFromEnvironment() {
  std::string base = EnvironmentText("ORVANE_LYRICS_URL");
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base.empty() ? std::string(kDefaultBaseUrl) : base;
}

// Whether a host is one a build names for real: not empty and not one of the names reserved for
// examples and tests, which an unconfigured build carries.
bool IsRealHost(std::string host) {
  host = orvane::text::AsciiLower(host);
  if (const size_t colon = host.find(':'); colon != std::string::npos) host.resize(colon);
  while (!host.empty() && host.back() == '.') host.pop_back();
  if (host.empty() || host == "localhost") return false;
  for (const std::string_view reserved : {".example", ".invalid", ".test", ".localhost"}) {
    if (host.size() >= reserved.size() && host.ends_with(reserved)) return false;
    if (host == reserved.substr(1)) return false;
  }
  return true;
}

// The service asks its clients to name themselves: the program, its version and, when the build
// has one, its home page.
std::string UserAgent() {
  std::string agent = std::string("Orvane ") + orvane::kVersion;
  const std::string home = orvane::net::HomeHost();
  if (IsRealHost(home)) agent += " (https://" + home + "/)";
  return agent;
}

orvane::net::HttpOptions HttpOptionsFromEnvironment() {
  orvane::net::HttpOptions options;
  options.userAgent = UserAgent();
  const std::optional<int32_t> timeoutMs = orvane::text::ParseInt32(EnvironmentText("ORVANE_LYRICS_TIMEOUT_MS"));
  if (timeoutMs && *timeoutMs > 0) {
    options.connectTimeoutMs = *timeoutMs;
    options.stallTimeoutMs = *timeoutMs;
  }
  return options;
}

std::string Utf8(const QJsonValue& value) { return value.isString() ? value.toString().toStdString() : std::string(); }

// A lyric is handed out as a zero-terminated text: an embedded zero would cut it short.
std::string WithoutZeros(std::string text) {
  std::erase(text, '\0');
  return text;
}

std::optional<QJsonDocument> ParseJson(const std::string& body) {
  QJsonParseError error{};
  QJsonDocument document = QJsonDocument::fromJson(QByteArray(body.data(), static_cast<qsizetype>(body.size())), &error);
  if (error.error != QJsonParseError::NoError) return std::nullopt;
  return document;
}

// Record ids are whole numbers beyond 32 bits; Qt keeps whole JSON numbers exactly.
std::optional<int64_t> RecordId(const QJsonValue& value) {
  if (!value.isDouble()) return std::nullopt;
  const double id = value.toDouble();
  if (std::trunc(id) != id || !std::isfinite(id)) return std::nullopt;
  if (id < -9.2e18 || id > 9.2e18) return std::nullopt;  // beyond a 64-bit integer
  return value.toInteger(static_cast<qint64>(id));
}

// The recording's length: the service gives seconds, whole or not.
int32_t DurationMs(const QJsonValue& value) {
  const double seconds = value.toDouble(0);
  if (!std::isfinite(seconds) || seconds <= 0 || seconds >= std::numeric_limits<int32_t>::max() / 1000.0) return 0;
  return static_cast<int32_t>(std::lround(seconds * 1000));
}

bool HasText(const QJsonValue& value) { return value.isString() && !orvane::text::Trim(Utf8(value)).empty(); }

// What a record holds. A reply without the lyric fields tells nothing about them: a record counts
// as plain only when it says it has no time-tagged lyric.
uint32_t RecordFlags(const QJsonObject& track) {
  uint32_t flags = 0;
  if (track.value("instrumental").toBool(false)) flags |= LRC_RESULT_INSTRUMENTAL;
  if (!track.contains("syncedLyrics")) return flags;
  if (HasText(track.value("syncedLyrics"))) flags |= LRC_RESULT_SYNCED;
  if (HasText(track.value("plainLyrics"))) flags |= LRC_RESULT_PLAIN;
  return flags;
}

// Nothing for a successful answer; else why there is none.
std::optional<int32_t> Failure(const orvane::net::HttpReply& reply) {
  if (!reply.Answered) return LRC_E_CONNECT;
  if (reply.Status < 200 || reply.Status >= 300) return LRC_E_ANSWER;
  return std::nullopt;
}

// The results of a search answer, or nothing when it is not a JSON array.
std::optional<std::vector<StoredResult>> ReadSearchReply(const std::string& body) {
  const std::optional<QJsonDocument> document = ParseJson(body);
  if (!document || !document->isArray()) return std::nullopt;
  std::vector<StoredResult> results;
  for (const QJsonValue& item : document->array()) {
    if (!item.isObject()) continue;
    const QJsonObject track = item.toObject();
    const std::optional<int64_t> id = RecordId(track.value("id"));
    if (!id) continue;  // without an id it could never be downloaded
    results.push_back({Utf8(track.value("trackName")), Utf8(track.value("artistName")), Utf8(track.value("albumName")),
                       *id, DurationMs(track.value("duration")), RecordFlags(track)});
  }
  return results;
}

// The time-tagged lyric of a record ("" when it has none), or nothing when the answer is not a
// JSON object.
std::optional<std::string> ReadLyricReply(const std::string& body) {
  const std::optional<QJsonDocument> document = ParseJson(body);
  if (!document || !document->isObject()) return std::nullopt;
  return WithoutZeros(Utf8(document->object().value("syncedLyrics")));
}

// The service searches every field (title, artist, album) for the words of q.
std::string FreeTextQuery(std::string_view words) {
  std::string query = "q=";
  query += orvane::net::EncodeUrlValue(words);
  return query;
}

std::string_view TextOrEmpty(const char* text) { return text ? std::string_view(text) : std::string_view(); }

class TLrcDown final : public ILrcDown {
 public:
  TLrcDown() : serial(++lastSerial), baseUrl(BaseUrlFromEnvironment()), http(HttpOptionsFromEnvironment()) {}

  int32_t QueryInterface(const LRC_GUID* iid, void** object) override {
    if (!object) return LRC_E_POINTER;
    *object = nullptr;
    if (!iid) return LRC_E_POINTER;
    if (!(*iid == IID_LrcDown) && !(*iid == IID_LrcUnknown)) return LRC_E_NOINTERFACE;
    AddRef();
    *object = static_cast<ILrcDown*>(this);
    return LRC_S_OK;
  }

  uint32_t AddRef() override { return refs.fetch_add(1, std::memory_order_relaxed) + 1; }

  uint32_t Release() override {
    const uint32_t left = refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

  int32_t Reserved4() override { return 0; }
  int32_t Reserved6() override { return 0; }

  const TLrcResult* ResultAt(int32_t index) override {
    try {
      const ThreadState* state = Existing();
      if (!state || index < 0 || static_cast<size_t>(index) >= state->views.size()) return nullptr;
      return &state->views[static_cast<size_t>(index)];
    } catch (...) {
      return nullptr;
    }
  }

  int32_t ResultCount() override {
    try {
      const ThreadState* state = Existing();
      return state ? static_cast<int32_t>(state->views.size()) : 0;
    } catch (...) {
      return 0;
    }
  }

  int32_t ClearResults() override {
    try {
      if (ThreadState* state = Existing()) Store(*state, {});
    } catch (...) {
    }
    return 0;
  }

  int32_t DownloadLyric(int64_t id, char* buffer, int32_t size) override {
    try {
      if (buffer && size > 0) buffer[0] = '\0';
      ThreadState& state = Mine();
      if (state.lyricId != id) {
        state.lyricId.reset();
        std::string lyric;
        const orvane::net::HttpReply reply = orvane::net::HttpGet(baseUrl + "/api/get/" + std::to_string(id), http);
        // "No such record" is an answer: that record has no lyric.
        if (!(reply.Answered && reply.Status == 404)) {
          if (const std::optional<int32_t> failure = Failure(reply)) return *failure;
          std::optional<std::string> read = ReadLyricReply(reply.Body);
          if (!read) return LRC_E_ANSWER;
          lyric = std::move(*read);
        }
        state.lyric = std::move(lyric);
        state.lyricId = id;
      }
      if (buffer && size > 0) {
        // Whole characters only, so a cut text is still valid UTF-8.
        const std::string_view fits = orvane::text::CutUtf8(state.lyric, static_cast<size_t>(size) - 1);
        std::memcpy(buffer, fits.data(), fits.size());
        buffer[fits.size()] = '\0';
      }
      return static_cast<int32_t>(std::min<size_t>(state.lyric.size(), std::numeric_limits<int32_t>::max() - 1));
    } catch (...) {
      if (buffer && size > 0) buffer[0] = '\0';
      return LRC_E_CONNECT;
    }
  }

  int32_t SearchLyrics(const char* title, const char* singer, const char* extra, int32_t /*flags*/) override {
    try {
      ThreadState& state = Mine();
      Store(state, {});
      const std::string_view t = orvane::text::Trim(TextOrEmpty(title));
      const std::string_view s = orvane::text::Trim(TextOrEmpty(singer));
      const std::string_view e = orvane::text::Trim(TextOrEmpty(extra));
      std::vector<StoredResult> results;
      int32_t found = 0;
      if (!t.empty()) {
        std::string query = "track_name=";
        query += orvane::net::EncodeUrlValue(t);
        if (!s.empty()) query += "&artist_name=" + orvane::net::EncodeUrlValue(s);
        if (!e.empty()) query += "&album_name=" + orvane::net::EncodeUrlValue(e);
        found = Search(query, results);
        // A title box holding more than a title ("晴天 周杰伦") finds nothing by title; as free
        // text it may. Should that second try fail, "nothing found" stands.
        if (found == 0 && s.empty()) Search(FreeTextQuery(t), results);
      } else if (!s.empty() || !e.empty()) {
        // A singer alone, or an album: the service searches every field for free text.
        std::string words(s);
        if (!e.empty()) {
          if (!words.empty()) words += ' ';
          words += e;
        }
        found = Search(FreeTextQuery(words), results);
      }
      if (found < 0) return found;
      Store(state, std::move(results));
      return static_cast<int32_t>(state.views.size());
    } catch (...) {
      return LRC_E_CONNECT;
    }
  }

 private:
  ~TLrcDown() {
    // Other threads' states for this object go with those threads; the serial is never reused.
    threadStates.erase(serial);
  }

  ThreadState& Mine() { return threadStates[serial]; }

  ThreadState* Existing() {
    const auto found = threadStates.find(serial);
    return found == threadStates.end() ? nullptr : &found->second;
  }

  // One search request; the number of results (into results), or why there are none.
  int32_t Search(const std::string& query, std::vector<StoredResult>& results) const {
    const orvane::net::HttpReply reply = orvane::net::HttpGet(baseUrl + "/api/search?" + query, http);
    if (const std::optional<int32_t> failure = Failure(reply)) return *failure;
    std::optional<std::vector<StoredResult>> read = ReadSearchReply(reply.Body);
    if (!read) return LRC_E_ANSWER;
    results = std::move(*read);
    return static_cast<int32_t>(std::min<size_t>(results.size(), std::numeric_limits<int32_t>::max()));
  }

  static void Store(ThreadState& state, std::vector<StoredResult> results) {
    state.views.clear();
    state.stored = std::move(results);
    state.views.reserve(state.stored.size());
    for (const StoredResult& r : state.stored) {
      state.views.push_back({r.title.c_str(), r.singer.c_str(), r.extra.c_str(), r.id, r.durationMs, r.flags});
    }
  }

  std::atomic<uint32_t> refs{1};
  const uint64_t serial;
  const std::string baseUrl;
  const orvane::net::HttpOptions http;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) ILrcDown* LRC_CreateObj(const LRC_GUID* iid) {
  try {
    if (!iid || !(*iid == IID_LrcDown)) return nullptr;
    return new TLrcDown();
  } catch (...) {
    return nullptr;
  }
}
