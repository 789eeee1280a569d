#pragma once
// Blocking HTTP GET and form POST for the player's own exchanges (audio streams and the lyric
// library make their own).
//
// Threads: every call may run on any thread, several at once. Each call creates, uses and frees its
// own libcurl handle and shares nothing with other calls; the library's process-wide set-up is done
// once, thread-safely, on the first call. All block the calling thread until the transfer ends,
// fails or stalls; callers that must keep a window responsive run them on a worker thread.
//
// HttpGetText and HttpPostForm report no failure: the result is the empty text or the bytes read
// before the failure (the empty text when the body was longer than HttpOptions::maxBodyBytes), and
// the HTTP status is not examined, so an error page comes back like any other body. HttpGet tells
// the caller both. Bodies are the bytes as received (no character-set conversion, no content coding
// asked for). No call throws.

#include <string>
#include <string_view>

namespace orvane::net {

struct HttpOptions {
  // Limit for name resolution plus the TCP (and TLS) connection; 0 leaves libcurl's own limit.
  int connectTimeoutMs = 10000;
  // A transfer that sends and receives nothing for this long is aborted, so no worker waits on a
  // dead server forever. Checked about once a second; 0 or less turns the check off.
  int stallTimeoutMs = 30000;
  // Longest a whole exchange may take, so a server that drips a byte now and then cannot hold a
  // worker forever; 0 or less: no limit.
  int totalTimeoutMs = 120000;
  // Largest body accepted. A longer one (announced or arriving) ends the exchange and the result is
  // the empty text: no caller wants part of a document, and none should hold an endless one. 0 or
  // less: no limit.
  long long maxBodyBytes = 16LL << 20;
  // Redirects HttpGetText follows (HttpPostForm follows none).
  int maxRedirects = 10;
  // The form POST always goes to port 80; only tests point it elsewhere.
  int postPort = 80;
  // User agent of HttpGetText; the lyric provider names itself, the player's own calls keep this.
  std::string userAgent = "Internet Explorer";
};

// How an exchange failed, in the categories a user can act on (the music server's dialog says
// which).
enum class HttpFailure { None, Resolve, Connect, Timeout, Tls, TooLong, Other };

// GET of url with blanks and control bytes (0x00..0x20) trimmed off both ends, user agent
// options.userAgent ("Internet Explorer" unless changed), no cookies, redirects followed; the empty text for an empty url. Only
// http:// and https:// URLs are fetched. Blanks, control and non-ASCII bytes inside the URL are
// sent percent-escaped, as a browser would.
std::string HttpGetText(std::string_view url, const HttpOptions& options = {});

// What a GET brought back, for callers that must tell an answer from a failure.
struct HttpReply {
  bool Answered = false;  // the server answered (any status) and ended its answer itself
  long Status = 0;        // its HTTP status; 0 when none arrived
  std::string Body;       // as HttpGetText gives it
  HttpFailure Failure = HttpFailure::None;  // why the exchange failed
  std::string Detail;                       // libcurl's own words for it; empty when it did not
};

// HttpGetText, also telling whether and how the server answered.
HttpReply HttpGet(std::string_view url, const HttpOptions& options = {});

// POST of body (already form-encoded; sent as its bytes) to SplitHostPath(url): request line
// "POST /<Path> HTTP/1.0" to Host on port 80, headers "Accept: */*",
// "Content-Type: application/x-www-form-urlencoded", the host and the content length, no user
// agent. Returns the reply body. A Host that is not a bare host name (empty, another scheme, a
// ":port" suffix, user information) fails with the empty text, as does a url without a "/" after
// the host.
std::string HttpPostForm(std::string_view url, std::string_view body, const HttpOptions& options = {});

}  // namespace orvane::net
