#include "net/MusicServer.h"

#include <sys/random.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <random>

#include "net/UYmUrl.h"
#include "store/XmlReader.h"
#include "text/TextUtil.h"
#include "orvane_version.h"

namespace orvane::net {
namespace {

// The API version named in requests before the server has told its own: new enough for every call
// made here, and servers answer a ping with their version even when they refuse it.
constexpr std::string_view kClientApiVersion = "1.16.1";
constexpr std::string_view kClientName = "orvane";
constexpr int kTokenRefused = 41;
// OpenSubsonic's "authentication mechanism not supported": a server that takes passwords only.
constexpr int kMechanismRefused = 42;

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

// A salt nobody can guess, new for every request, so a captured request cannot be replayed with
// another method or song.
std::string FreshSalt() {
  unsigned char bytes[8];
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    std::random_device device;
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(device());
  }
  return Hex(std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes));
}

std::string Md5Hex(std::string_view text) {
  const QByteArray digest = QCryptographicHash::hash(QByteArray(text.data(), static_cast<qsizetype>(text.size())),
                                                     QCryptographicHash::Md5);
  return Hex(std::string_view(digest.constData(), static_cast<size_t>(digest.size())));
}

std::string AuthParameters(const TMusicServerSession& session) {
  std::string out = "u=" + EncodeUrlValue(session.User);
  if (session.UsesToken()) {
    const std::string salt = FreshSalt();
    out += "&t=" + Md5Hex(session.Password + salt) + "&s=" + salt;
  } else {
    out += "&p=enc:" + Hex(session.Password);
  }
  return out;
}

std::string RequestUrl(const TMusicServerSession& session, std::string_view method, std::string_view parameters,
                       bool withLogin) {
  std::string url = session.Address;
  url.append("/rest/").append(method).append(".view?");
  if (withLogin) url.append(AuthParameters(session)).append("&");
  url.append("v=").append(session.ApiVersion.empty() ? kClientApiVersion : std::string_view(session.ApiVersion));
  url.append("&c=").append(kClientName);
  if (!parameters.empty()) url.append("&").append(parameters);
  return url;
}

int32_t ToInt(std::string_view text, int32_t fallback = 0) {
  const std::string trimmed(text::Trim(text));
  if (trimmed.empty()) return fallback;
  char* end = nullptr;
  const long long value = std::strtoll(trimmed.c_str(), &end, 10);
  if (end == trimmed.c_str()) return fallback;
  return static_cast<int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

TServerError NotConfigured() {
  TServerError error;
  error.Kind = TServerFailure::NotConfigured;
  return error;
}

// The version goes back into every request, so only what a version can be is taken.
bool IsVersion(std::string_view text) {
  return !text.empty() && text.size() <= 16 && text.find_first_not_of("0123456789.") == std::string_view::npos;
}

bool IsTrue(std::string_view text) { return text::EqualsNoCase(text::Trim(text), "true"); }

}  // namespace

bool TMusicServerSession::UsesToken() const { return !TokenRefused && ApiVersionAtLeast(ApiVersion, 1, 13); }

std::string NormaliseServerAddress(std::string_view typed, std::string* why) {
  const auto fail = [why](const char* reason) {
    if (why) *why = reason;
    return std::string();
  };
  std::string address(text::Trim(typed));
  if (address.empty()) return fail("empty");
  const size_t schemeEnd = address.find("://");
  if (schemeEnd == std::string::npos) {
    address = "http://" + address;
  } else {
    const std::string scheme = address.substr(0, schemeEnd);
    if (!text::EqualsNoCase(scheme, "http") && !text::EqualsNoCase(scheme, "https")) return fail("scheme");
    address = (text::EqualsNoCase(scheme, "https") ? "https" : "http") + address.substr(schemeEnd);
  }
  const size_t hostStart = address.find("://") + 3;
  const size_t hostEnd = std::min(address.find_first_of("/?#", hostStart), address.size());
  const std::string_view authority = std::string_view(address).substr(hostStart, hostEnd - hostStart);
  if (authority.find('@') != std::string_view::npos) return fail("userinfo");
  if (authority.empty() || authority.front() == ':') return fail("host");
  if (address.find_first_of("?#", hostStart) != std::string::npos) return fail("query");
  for (const char c : address)
    if (static_cast<unsigned char>(c) <= 0x20) return fail("blank");
  while (address.size() > hostEnd && address.back() == '/') address.pop_back();
  // People paste the API's own address; the API path is added to every request anyway.
  if (address.size() >= hostEnd + 5 && text::EqualsNoCase(std::string_view(address).substr(address.size() - 5), "/rest"))
    address.resize(address.size() - 5);
  while (address.size() > hostEnd && address.back() == '/') address.pop_back();
  return address;
}

bool ApiVersionAtLeast(std::string_view version, int major, int minor) {
  int parts[2] = {0, 0};
  size_t i = 0;
  for (int& part : parts) {
    int value = 0;
    bool digits = false;
    while (i < version.size() && version[i] >= '0' && version[i] <= '9' && value < 100000) {
      value = value * 10 + (version[i++] - '0');
      digits = true;
    }
    if (!digits) break;
    part = value;
    if (i < version.size() && version[i] == '.') ++i;
  }
  return parts[0] != major ? parts[0] > major : parts[1] >= minor;
}

std::string ServerSongLocation(std::string_view songId) { return std::string(kServerSongScheme) + std::string(songId); }

std::string ServerSongId(std::string_view location) {
  if (location.size() <= kServerSongScheme.size() || location.substr(0, kServerSongScheme.size()) != kServerSongScheme)
    return {};
  return std::string(location.substr(kServerSongScheme.size()));
}

std::string StreamUrl(const TMusicServerSession& session, std::string_view songId) {
  if (!session.Configured() || songId.empty()) return {};
  return RequestUrl(session, "stream", "id=" + EncodeUrlValue(songId), true);
}

std::string SyncedLyricsAsLrc(const std::vector<TSyncedLine>& lines, int64_t offsetMs) {
  std::string lrc;
  for (const TSyncedLine& line : lines) {
    const int64_t ms = std::max<int64_t>(0, line.StartMs - offsetMs);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%02lld:%02lld.%02lld]", static_cast<long long>(ms / 60000),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms / 10 % 100));
    lrc += stamp;
    // A line break inside a line would start a line without a stamp.
    for (const char c : line.Text) lrc += c == '\r' || c == '\n' ? ' ' : c;
    lrc += "\r\n";
  }
  return lrc;
}

// ---- TSubsonicClient

// What came back: the root's attributes and the whole document, which each call reads for its own
// elements.
struct TSubsonicClient::TAnswer {
  std::string Body;
};

TSubsonicClient::TSubsonicClient(TMusicServerSession session, HttpOptions http)
    : session(std::move(session)), http(std::move(http)) {}

HttpOptions TSubsonicClient::DefaultHttpOptions() {
  HttpOptions options;
  options.connectTimeoutMs = 10000;
  options.stallTimeoutMs = 15000;
  options.totalTimeoutMs = 60000;
  options.maxBodyBytes = 4LL << 20;
  options.userAgent = std::string("Orvane/") + kVersion;
  return options;
}

// Reads the root element and the error element; learns what the root says of the server.
TServerError TSubsonicClient::Request(std::string_view method, std::string_view parameters, TAnswer& answer,
                                      bool withLogin) {
  TServerError error;
  HttpReply reply = HttpGet(RequestUrl(session, method, parameters, withLogin), http);
  answer.Body = std::move(reply.Body);
  error.Http = reply.Failure;
  error.HttpCode = reply.Status;
  if (!reply.Answered) {
    error.Kind = TServerFailure::NoAnswer;
    error.Message = reply.Detail;
    return error;
  }
  store::TXmlReader reader(answer.Body);
  bool rooted = false;
  bool ok = false;
  while (reader.Next()) {
    if (reader.Kind() == store::TXmlTagKind::End) continue;
    if (!rooted) {
      if (reader.Name() != "subsonic-response") break;
      rooted = true;
      ok = reader.Attribute("status") == "ok";
      const std::string version(text::Trim(reader.Attribute("version")));
      if (IsVersion(version)) session.ApiVersion = version;
      session.OpenSubsonic = IsTrue(reader.Attribute("openSubsonic"));
      session.ServerType = reader.Attribute("type");
      session.ServerVersion = reader.Attribute("serverVersion");
      continue;
    }
    if (reader.Name() == "error") {
      error.Code = ToInt(reader.Attribute("code"));
      error.Message = reader.Attribute("message");
      break;
    }
  }
  if (!rooted) {
    error.Kind = TServerFailure::NotAServer;
    return error;
  }
  if (!ok) error.Kind = TServerFailure::Api;
  return error;
}

TServerError TSubsonicClient::Call(std::string_view method, std::string_view parameters, TAnswer& answer) {
  if (!session.Configured()) return NotConfigured();
  TServerError error = EnsureVersion();
  if (!error.Ok()) return error;
  const bool token = session.UsesToken();
  error = Request(method, parameters, answer);
  if (token && error.Kind == TServerFailure::Api && (error.Code == kTokenRefused || error.Code == kMechanismRefused)) {
    session.TokenRefused = true;
    error = Request(method, parameters, answer);
  }
  return error;
}

// A ping without a login: every server answers it (with an error, mostly) and names its version
// on the answer's root, so the password goes in the form the server can check from the first
// request on.
TServerError TSubsonicClient::LearnVersion() {
  session.ApiVersion.clear();
  TAnswer answer;
  TServerError error = Request("ping", {}, answer, false);
  if (error.Kind == TServerFailure::Api) error = {};
  if (error.Ok() && session.ApiVersion.empty()) error.Kind = TServerFailure::NotAServer;
  return error;
}

TServerError TSubsonicClient::EnsureVersion() { return session.ApiVersion.empty() ? LearnVersion() : TServerError{}; }

TServerError TSubsonicClient::Connect() {
  if (!session.Configured()) return NotConfigured();
  TServerError error = LearnVersion();
  if (!error.Ok()) return error;
  TAnswer answer;
  error = Call("ping", {}, answer);
  if (!error.Ok() || !session.OpenSubsonic) return error;
  session.SongLyrics = false;
  if (!Call("getOpenSubsonicExtensions", {}, answer).Ok()) return error;
  store::TXmlReader reader(answer.Body);
  while (reader.Next()) {
    // <openSubsonicExtensions name="songLyrics"><versions>1</versions></openSubsonicExtensions>
    if (reader.Kind() != store::TXmlTagKind::End && reader.Attribute("name") == "songLyrics" &&
        text::StartsWithNoCase(reader.Name(), "openSubsonicExtension"))
      session.SongLyrics = true;
  }
  return error;
}

TServerError TSubsonicClient::RandomSongs(int count, std::vector<TServerSong>& songs) {
  songs.clear();
  TAnswer answer;
  const int wanted = std::clamp(count, 1, 500);  // the API's own limit
  TServerError error = Call("getRandomSongs", "size=" + std::to_string(wanted), answer);
  if (!error.Ok()) return error;
  store::TXmlReader reader(answer.Body);
  while (reader.Next()) {
    if (reader.Kind() == store::TXmlTagKind::End || reader.Name() != "song") continue;
    TServerSong song;
    song.Id = reader.Attribute("id");
    if (song.Id.empty() || IsTrue(reader.Attribute("isVideo"))) continue;
    song.Title = reader.Attribute("title");
    song.Artist = reader.Attribute("artist");
    // Within what a length in milliseconds can hold.
    song.DurationSeconds = std::clamp(ToInt(reader.Attribute("duration")), 0, INT32_MAX / 1000);
    songs.push_back(std::move(song));
    if (songs.size() == static_cast<size_t>(wanted)) break;
  }
  return error;
}

TServerError TSubsonicClient::Scrobble(std::string_view songId, bool submission, int64_t timeMs) {
  TAnswer answer;
  return Call("scrobble",
              "id=" + EncodeUrlValue(songId) + "&time=" + std::to_string(timeMs) +
                  "&submission=" + (submission ? "true" : "false"),
              answer);
}

TServerError TSubsonicClient::SyncedLyrics(std::string_view songId, std::string& lrc) {
  lrc.clear();
  TAnswer answer;
  TServerError error = Call("getLyricsBySongId", "id=" + EncodeUrlValue(songId), answer);
  if (!error.Ok()) return error;
  store::TXmlReader reader(answer.Body);
  std::vector<TSyncedLine> lines;
  int64_t offset = 0;
  bool inSynced = false;
  while (reader.Next()) {
    const std::string_view name = reader.Name();
    if (reader.Kind() == store::TXmlTagKind::End) {
      if (name == "structuredLyrics" && inSynced && !lines.empty()) break;
      if (name == "structuredLyrics") inSynced = false;
      continue;
    }
    if (name == "structuredLyrics") {
      inSynced = IsTrue(reader.Attribute("synced"));
      offset = ToInt(reader.Attribute("offset"));
      lines.clear();
    } else if (name == "line" && inSynced) {
      lines.push_back({std::max(0, ToInt(reader.Attribute("start"))), reader.ContentText()});
    }
  }
  lrc = SyncedLyricsAsLrc(lines, offset);
  return error;
}

}  // namespace orvane::net
