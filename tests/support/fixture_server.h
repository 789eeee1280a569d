#pragma once
// A local HTTP server for tests (tests/support/fixture_server.py run by the system Python). It
// listens on 127.0.0.1 on a free port, serves the routes a test sets up (and, if asked, a folder),
// and records every request exactly as it arrived. Nothing leaves the machine.
//
//   orvane::test::FixtureServer server;                         // started and listening
//   server.Serve("/soft/cfg.xml", FixtureReply::Text("<cfg/>"));
//   FixtureReply slow = FixtureReply::Bytes(std::string(4096, 'x'));
//   slow.trickleBytes = 512;  slow.trickleIntervalMs = 100;
//   server.Serve("/slow", slow);
//   server.Serve("/song.mp3", FixtureReply::File(path));         // Range requests answered (206)
//   server.Serve("/old", FixtureReply::Redirect(server.Url("/new")));
//   … run the code under test against server.Url("/soft/cfg.xml") …
//   auto requests = server.Requests();                          // method, target, headers, body
//   EXPECT_EQ(requests.at(0).requestLine, "POST /report.aspx HTTP/1.0");
//
// A path nobody configured answers 404 with the body NotFoundBody(target).
// Replies close the connection after each response (no keep-alive).
//
// Threads: every member may be called from any thread; calls are serialised by a lock. The server
// process ends with the object, and also by itself as soon as the test process dies (it reads its
// commands from a pipe and leaves at end of input), so a failed or killed test leaves nothing behind.
// Constructing one sets SIGPIPE to ignored in the test process (writing to a server that died must
// fail, not kill the test) and, when a proxy is configured in the environment, adds 127.0.0.1 and
// localhost to no_proxy.
//
// Errors: the constructor and the control calls throw std::runtime_error when the server cannot be
// started or does not answer; the destructor never throws.

#include <sys/types.h>

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvane::test {

// How a route answers. All sizes are in bytes of the body (after Range selection, before chunk
// framing); all times in milliseconds.
struct FixtureReply {
  int status = 200;
  std::string reason;                 // empty: the standard phrase for status
  std::string body;                   // bytes
  std::string file;                   // when set: serve this file's bytes, read piece by piece
  std::optional<long long> patternSize;  // when set: that many bytes of body (or of 0..255) repeated
  std::optional<std::string> contentType;  // unset: guessed for files, else application/octet-stream;
                                           // "" sends no Content-Type
  std::vector<std::pair<std::string, std::string>> headers;  // sent after the standard headers
  bool contentLength = true;          // send Content-Length (false: the body ends with the connection)
  std::optional<long long> announcedLength;  // a Content-Length to send instead of the true one
  bool chunked = false;               // Transfer-Encoding: chunked (no Content-Length)
  std::optional<bool> ranges;         // honour "Range: bytes=…" with 206/416; unset: on for files
  int delayMs = 0;                    // wait before sending anything
  std::size_t trickleBytes = 0;       // send the body in pieces of this size…
  int trickleIntervalMs = 0;          // …with this pause between pieces
  std::optional<std::size_t> pauseAfter;  // after this many body bytes send nothing for pauseMs…
  int pauseMs = 0;                        // …then go on
  std::optional<std::size_t> stallAfter;  // after this many body bytes send nothing, keep the socket open
  std::optional<std::size_t> resetAfter;  // after this many body bytes reset the connection (RST)
  bool raw = false;                   // body is the complete response, sent verbatim

  static FixtureReply Text(std::string body, std::string contentType = "text/plain; charset=utf-8");
  static FixtureReply Bytes(std::string body, std::string contentType = "application/octet-stream");
  static FixtureReply File(std::string path);
  static FixtureReply Status(int status, std::string body = {});
  static FixtureReply Redirect(std::string location, int status = 302);
};

struct RecordedRequest {
  std::string head;         // request line and headers, byte for byte, through the empty line
  std::string requestLine;  // first line without its line end, e.g. "GET /a?b=1 HTTP/1.1"
  std::string method;
  std::string target;       // as sent, query included
  std::string version;      // "HTTP/1.0", "HTTP/1.1"
  std::vector<std::pair<std::string, std::string>> headers;  // in order; names as sent, values trimmed
  std::string body;         // body bytes (a chunked body de-chunked)
  bool complete = true;     // false when the client left before head and body were whole

  // First value of the header, name compared without regard to case; empty when absent.
  std::string Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
  // The target without its query.
  std::string Path() const;
};

class FixtureServer {
 public:
  FixtureServer();
  ~FixtureServer();
  FixtureServer(const FixtureServer&) = delete;
  FixtureServer& operator=(const FixtureServer&) = delete;

  int Port() const { return port; }
  std::string BaseUrl() const;                 // "http://127.0.0.1:<port>"
  std::string Url(std::string_view path) const;  // BaseUrl() + path ("/x" or "/x?y=1")

  // Serves reply at path: a full target ("/list?page=2") or a path, which then matches any query.
  // A later Serve at the same path replaces the earlier one.
  void Serve(const std::string& path, const FixtureReply& reply);
  // Serves at path the reply of the first choice whose text occurs in the request's query (a server
  // that answers by its parameters), else otherwise.
  void ServeByQuery(const std::string& path, const std::vector<std::pair<std::string, FixtureReply>>& choices,
                    const FixtureReply& otherwise);
  void Remove(const std::string& path);
  void ClearRoutes();
  // Serves the files under folder (Range requests answered) for paths without a route; "" stops.
  void ServeFolder(const std::string& folder);

  // Every request received so far, in order of arrival. A request is recorded before its reply is
  // sent, so once a client has its answer, its request is here.
  std::vector<RecordedRequest> Requests();
  // Waits until at least count requests are recorded or timeoutMs passes; returns what is there.
  std::vector<RecordedRequest> WaitForRequests(std::size_t count, int timeoutMs = 5000);
  void ClearRequests();

  static std::string NotFoundBody(std::string_view target);

 private:
  std::vector<std::string> Command(const std::string& json, std::string_view last);
  std::string ReadLine(int timeoutMs);
  void Stop() noexcept;

  std::mutex mutex;
  pid_t pid = -1;
  int toServer = -1;
  int fromServer = -1;
  int port = 0;
  std::string pending;
};

}  // namespace orvane::test
