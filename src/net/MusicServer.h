#pragma once
// A client of the user's own music server, speaking the Subsonic API the way servers really speak
// it: the API version is learned from `ping`, the login goes as a token (t = md5(password + salt),
// a fresh salt for every request) from version 1.13.0 on and as `p=enc:<hex>` before that or when
// a server refuses tokens (error 41); every request names the API version and the client "orvane";
// answers are read as XML with our own reader.
//
// Songs of the server are kept in lists by a location that holds no credential, ServerSongLocation
// ("subsonic:" + the server's song id); the stream address with fresh credentials is made from it
// only when the song opens (StreamUrl).
//
// Threads: TMusicServerSession is a plain value. TSubsonicClient is used by one thread at a time
// and blocks on the network: run it on a worker. The free functions are pure and callable on any
// thread. Nothing here throws.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/HttpClient.h"

namespace orvane::net {

// Who the player is to the server and what it has learned of it. The password lives only in
// memory (and in the keyring); nothing of this is written to the settings but Address and User.
struct TMusicServerSession {
  std::string Address;  // normalised: "http(s)://host[:port][/prefix]", no "/" at the end
  std::string User;
  std::string Password;
  std::string ApiVersion;  // from the last ping; empty until the server has answered one
  bool TokenRefused = false;  // the server said error 41: passwords go as enc: from now on
  bool OpenSubsonic = false;
  bool SongLyrics = false;    // the OpenSubsonic extension "songLyrics" is offered
  std::string ServerType;     // OpenSubsonic "type" ("navidrome"), empty for other servers
  std::string ServerVersion;  // OpenSubsonic "serverVersion"

  bool Configured() const { return !Address.empty() && !User.empty(); }
  // Token authentication is used: the server speaks API 1.13.0 or later and has not refused it.
  bool UsesToken() const;
};

// What went wrong in an exchange; Kind None is success.
enum class TServerFailure {
  None,
  NotConfigured,  // no address or user
  NoAnswer,       // nothing came back (see Http)
  NotAServer,     // an answer, but not the API's (see HttpCode)
  Api,            // the server refused: Code and Message are its own
};

struct TServerError {
  TServerFailure Kind = TServerFailure::None;
  int Code = 0;         // the API's error code (10 missing parameter, 40 wrong login, …)
  std::string Message;  // the API's error text, or libcurl's reason for NoAnswer
  HttpFailure Http = HttpFailure::None;
  long HttpCode = 0;

  bool Ok() const { return Kind == TServerFailure::None; }
};

struct TServerSong {
  std::string Id;
  std::string Title;
  std::string Artist;
  int32_t DurationSeconds = 0;  // 0 when the server did not say
};

// A typed address made usable: blanks trimmed, "http://" put in front when no scheme is given, a
// trailing "/" or "/rest" dropped. Empty (with a reason in why) for what cannot be a server's
// address: another scheme, no host, or user information ("user:password@host"), which would put a
// password into the settings file.
std::string NormaliseServerAddress(std::string_view typed, std::string* why = nullptr);

// "1.13.0" is at least 1.13; missing parts count as 0, a text that is no version as 0.0.
bool ApiVersionAtLeast(std::string_view version, int major, int minor);

// The location a server song is stored under, and the song id of such a location (empty for any
// other location).
inline constexpr std::string_view kServerSongScheme = "subsonic:";
std::string ServerSongLocation(std::string_view songId);
std::string ServerSongId(std::string_view location);

// The stream address of a song with fresh credentials (a new salt each call); empty when the
// session has no address or user. The song comes as the server stores it (no transcoding asked).
std::string StreamUrl(const TMusicServerSession& session, std::string_view songId);

// The lines of synced lyrics as LRC text ("[mm:ss.cc]line" ended by CR LF). offsetMs is the
// server's offset: positive shows the lines sooner.
struct TSyncedLine {
  int64_t StartMs = 0;
  std::string Text;
};
std::string SyncedLyricsAsLrc(const std::vector<TSyncedLine>& lines, int64_t offsetMs);

class TSubsonicClient {
 public:
  explicit TSubsonicClient(TMusicServerSession session, HttpOptions http = DefaultHttpOptions());

  // ping, after learning the API version when it is unknown, with the session's login; an
  // OpenSubsonic server is also asked which extensions it offers.
  TServerError Connect();
  // getRandomSongs?size=count (connecting first when the version is unknown).
  TServerError RandomSongs(int count, std::vector<TServerSong>& songs);
  // scrobble: submission false says "now playing", true counts the play; timeMs when it started
  // (milliseconds since 1970).
  TServerError Scrobble(std::string_view songId, bool submission, int64_t timeMs);
  // getLyricsBySongId: the first synced lyric as LRC text, empty when the server has none.
  TServerError SyncedLyrics(std::string_view songId, std::string& lrc);

  // The session with everything learned so far.
  const TMusicServerSession& Session() const { return session; }

  // The player's own HTTP settings for the server: 10 s to connect, its own user agent.
  static HttpOptions DefaultHttpOptions();

 private:
  struct TAnswer;
  // One request; on error 41 to a token it is sent again with enc:.
  TServerError Call(std::string_view method, std::string_view parameters, TAnswer& answer);
  TServerError Request(std::string_view method, std::string_view parameters, TAnswer& answer, bool withLogin = true);
  TServerError LearnVersion();
  TServerError EnsureVersion();

  TMusicServerSession session;
  HttpOptions http;
};

}  // namespace orvane::net
