#include "support/fixture_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace orvane::test {
namespace {

constexpr int kStartTimeoutMs = 20000;
constexpr int kAnswerTimeoutMs = 10000;

// JSON text standing for the bytes of s: every byte outside printable ASCII becomes \u00XX, which
// the server takes back as that single byte.
std::string JsonString(std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : s) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\') {
      out += c;
      continue;
    }
    out += "\\u00";
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
  }
  return out + "\"";
}

std::string HexOf(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    out += kHex[static_cast<unsigned char>(c) >> 4];
    out += kHex[static_cast<unsigned char>(c) & 0x0F];
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  throw std::runtime_error("fixture server: bad hex in answer");
}

std::string BytesOfHex(std::string_view hex) {
  if (hex == "-") return {};
  std::string out;
  out.reserve(hex.size() / 2);
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(HexDigit(hex[i]) * 16 + HexDigit(hex[i + 1]));
  return out;
}

// Appends ,"key":value to a JSON object under construction.
void AddField(std::string& json, const char* key, const std::string& value) {
  json += ",\"";
  json += key;
  json += "\":";
  json += value;
}

std::string ReplyJson(const FixtureReply& reply) {
  std::string json = "{\"status\":";
  json += std::to_string(reply.status);
  if (!reply.reason.empty()) AddField(json, "reason", JsonString(reply.reason));
  if (!reply.file.empty()) {
    AddField(json, "file", JsonString(reply.file));
  } else {
    AddField(json, "body_hex", JsonString(HexOf(reply.body)));
  }
  if (reply.contentType) AddField(json, "content_type", JsonString(*reply.contentType));
  std::string headers = "[";
  for (const auto& [name, value] : reply.headers) {
    if (headers.size() > 1) headers += ",";
    headers += "[";
    headers += JsonString(name);
    headers += ",";
    headers += JsonString(value);
    headers += "]";
  }
  AddField(json, "headers", headers + "]");
  AddField(json, "content_length", reply.contentLength ? "true" : "false");
  AddField(json, "chunked", reply.chunked ? "true" : "false");
  AddField(json, "raw", reply.raw ? "true" : "false");
  if (reply.ranges) AddField(json, "ranges", *reply.ranges ? "true" : "false");
  AddField(json, "delay_ms", std::to_string(reply.delayMs));
  AddField(json, "trickle_bytes", std::to_string(reply.trickleBytes));
  AddField(json, "trickle_interval_ms", std::to_string(reply.trickleIntervalMs));
  if (reply.stallAfter) AddField(json, "stall_after", std::to_string(*reply.stallAfter));
  if (reply.pauseAfter) AddField(json, "pause_after", std::to_string(*reply.pauseAfter));
  AddField(json, "pause_ms", std::to_string(reply.pauseMs));
  if (reply.patternSize) AddField(json, "pattern_size", std::to_string(*reply.patternSize));
  if (reply.announcedLength) AddField(json, "announced_length", std::to_string(*reply.announcedLength));
  if (reply.resetAfter) AddField(json, "reset_after", std::to_string(*reply.resetAfter));
  return json + "}";
}

std::string TrimSpaces(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return std::string(s);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

RecordedRequest ParseRecorded(std::string head, std::string body, bool complete) {
  RecordedRequest request;
  std::string_view rest = head;
  bool first = true;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (first) {
      first = false;
      request.requestLine = std::string(line);
      continue;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    request.headers.emplace_back(std::string(line.substr(0, colon)), TrimSpaces(line.substr(colon + 1)));
  }
  std::string_view parts = request.requestLine;
  for (std::string* field : {&request.method, &request.target, &request.version}) {
    const std::size_t blank = parts.find(' ');
    *field = std::string(parts.substr(0, blank));
    parts = blank == std::string_view::npos ? std::string_view() : parts.substr(blank + 1);
  }
  request.head = std::move(head);
  request.body = std::move(body);
  request.complete = complete;
  return request;
}

void AddLoopbackToNoProxy() {
  const bool proxied = std::getenv("http_proxy") || std::getenv("HTTP_PROXY") || std::getenv("https_proxy") ||
                       std::getenv("HTTPS_PROXY") || std::getenv("all_proxy") || std::getenv("ALL_PROXY");
  if (!proxied) return;
  for (const char* name : {"no_proxy", "NO_PROXY"}) {
    const char* old = std::getenv(name);
    const std::string value = std::string(old && *old ? std::string(old) + "," : "") + "127.0.0.1,localhost";
    ::setenv(name, value.c_str(), 1);
  }
}

}  // namespace

FixtureReply FixtureReply::Text(std::string body, std::string contentType) {
  FixtureReply reply;
  reply.body = std::move(body);
  reply.contentType = std::move(contentType);
  return reply;
}

FixtureReply FixtureReply::Bytes(std::string body, std::string contentType) {
  return Text(std::move(body), std::move(contentType));
}

FixtureReply FixtureReply::File(std::string path) {
  FixtureReply reply;
  reply.file = std::move(path);
  return reply;
}

FixtureReply FixtureReply::Status(int status, std::string body) {
  FixtureReply reply = Text(std::move(body));
  reply.status = status;
  return reply;
}

FixtureReply FixtureReply::Redirect(std::string location, int status) {
  FixtureReply reply = Status(status);
  reply.headers.emplace_back("Location", std::move(location));
  return reply;
}

std::string RecordedRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsNoCase(key, name)) return value;
  }
  return {};
}

bool RecordedRequest::HasHeader(std::string_view name) const {
  for (const auto& header : headers) {
    if (EqualsNoCase(header.first, name)) return true;
  }
  return false;
}

std::string RecordedRequest::Path() const { return target.substr(0, target.find('?')); }

FixtureServer::FixtureServer() {
  static std::once_flag ignorePipe;
  std::call_once(ignorePipe, [] { ::signal(SIGPIPE, SIG_IGN); });
  AddLoopbackToNoProxy();

  int toChild[2];
  int fromChild[2];
  if (::pipe2(toChild, O_CLOEXEC) != 0) throw std::runtime_error("fixture server: pipe failed");
  if (::pipe2(fromChild, O_CLOEXEC) != 0) {
    ::close(toChild[0]);
    ::close(toChild[1]);
    throw std::runtime_error("fixture server: pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
  // Only stdin, stdout and stderr: an inherited pipe end could keep another server's input open.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  const std::string script = std::string(ORVANE_TEST_SUPPORT_DIR) + "/fixture_server.py";
  char* argv[] = {const_cast<char*>(ORVANE_PYTHON), const_cast<char*>(script.c_str()),
                  const_cast<char*>("--port"), const_cast<char*>("0"), const_cast<char*>("--control"), nullptr};
  const int spawned = posix_spawn(&pid, ORVANE_PYTHON, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(toChild[0]);
  ::close(fromChild[1]);
  toServer = toChild[1];
  fromServer = fromChild[0];
  if (spawned != 0) {
    pid = -1;
    Stop();
    throw std::runtime_error("fixture server: cannot start " + std::string(ORVANE_PYTHON));
  }
  try {
    const std::string line = ReadLine(kStartTimeoutMs);
    if (line.rfind("PORT ", 0) != 0) throw std::runtime_error("fixture server: unexpected start line: " + line);
    port = std::stoi(line.substr(5));
  } catch (...) {
    Stop();
    throw;
  }
}

FixtureServer::~FixtureServer() { Stop(); }

void FixtureServer::Stop() noexcept {
  if (toServer >= 0) ::close(toServer);  // end of input: the server leaves by itself
  toServer = -1;
  if (pid > 0) {
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 200 && !ended; ++i) {
      ended = ::waitpid(pid, &status, WNOHANG) == pid;
      if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!ended) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
    }
  }
  pid = -1;
  if (fromServer >= 0) ::close(fromServer);
  fromServer = -1;
}

std::string FixtureServer::ReadLine(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const std::size_t end = pending.find('\n');
    if (end != std::string::npos) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      return line;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) throw std::runtime_error("fixture server: no answer in time");
    pollfd fd{fromServer, POLLIN, 0};
    const int ready = ::poll(&fd, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char buffer[65536];
    const ssize_t got = ::read(fromServer, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throw std::runtime_error("fixture server: the server has ended");
    pending.append(buffer, static_cast<std::size_t>(got));
  }
}

std::vector<std::string> FixtureServer::Command(const std::string& json, std::string_view last) {
  std::lock_guard lock(mutex);
  if (toServer < 0) throw std::runtime_error("fixture server: not running");
  const std::string line = json + "\n";
  for (std::size_t done = 0; done < line.size();) {
    const ssize_t wrote = ::write(toServer, line.data() + done, line.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) throw std::runtime_error("fixture server: cannot send a command");
    done += static_cast<std::size_t>(wrote);
  }
  std::vector<std::string> answer;
  for (;;) {
    std::string reply = ReadLine(kAnswerTimeoutMs);
    if (reply.rfind("ERR", 0) == 0) throw std::runtime_error("fixture server: " + reply);
    if (reply == last) return answer;
    answer.push_back(std::move(reply));
  }
}

std::string FixtureServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port); }

std::string FixtureServer::Url(std::string_view path) const { return BaseUrl() + std::string(path); }

void FixtureServer::Serve(const std::string& path, const FixtureReply& reply) {
  Command("{\"cmd\":\"route\",\"path\":" + JsonString(path) + ",\"reply\":" + ReplyJson(reply) + "}", "OK");
}

void FixtureServer::ServeByQuery(const std::string& path,
                                 const std::vector<std::pair<std::string, FixtureReply>>& choices,
                                 const FixtureReply& otherwise) {
  std::string reply = "{\"choices\":[";
  for (const auto& [queryHas, choice] : choices) {
    if (reply.back() != '[') reply += ",";
    reply += "{\"query_has\":" + JsonString(queryHas) + ",\"reply\":" + ReplyJson(choice) + "}";
  }
  reply += "],\"otherwise\":" + ReplyJson(otherwise) + "}";
  Command("{\"cmd\":\"route\",\"path\":" + JsonString(path) + ",\"reply\":" + reply + "}", "OK");
}

void FixtureServer::Remove(const std::string& path) {
  Command("{\"cmd\":\"unroute\",\"path\":" + JsonString(path) + "}", "OK");
}

void FixtureServer::ClearRoutes() { Command("{\"cmd\":\"clear_routes\"}", "OK"); }

void FixtureServer::ServeFolder(const std::string& folder) {
  Command("{\"cmd\":\"root\",\"dir\":" + JsonString(folder) + "}", "OK");
}

std::vector<RecordedRequest> FixtureServer::Requests() {
  std::vector<RecordedRequest> requests;
  for (const std::string& line : Command("{\"cmd\":\"requests\"}", "END")) {
    // "REQ <head-hex> <body-hex> <complete>"
    const std::size_t a = line.find(' ');
    const std::size_t b = line.find(' ', a + 1);
    const std::size_t c = line.find(' ', b + 1);
    if (line.rfind("REQ ", 0) != 0 || b == std::string::npos || c == std::string::npos) {
      throw std::runtime_error("fixture server: bad answer: " + line.substr(0, 80));
    }
    requests.push_back(ParseRecorded(BytesOfHex(std::string_view(line).substr(a + 1, b - a - 1)),
                                     BytesOfHex(std::string_view(line).substr(b + 1, c - b - 1)),
                                     line.substr(c + 1) == "1"));
  }
  return requests;
}

std::vector<RecordedRequest> FixtureServer::WaitForRequests(std::size_t count, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::vector<RecordedRequest> requests = Requests();
    if (requests.size() >= count || std::chrono::steady_clock::now() >= deadline) return requests;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void FixtureServer::ClearRequests() { Command("{\"cmd\":\"clear_requests\"}", "OK"); }

std::string FixtureServer::NotFoundBody(std::string_view target) {
  return "fixture: no route for " + std::string(target);
}

}  // namespace orvane::test
