#include "net/HttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "net/UYmUrl.h"
#include "text/TextUtil.h"

namespace orvane::net {
namespace {

using Clock = std::chrono::steady_clock;

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

// What one transfer collects. Only the thread running curl_easy_perform touches it.
struct Transfer {
  std::string body;
  std::size_t maxBody = 0;
  bool tooLong = false;
  Clock::time_point lastActivity = Clock::now();
  curl_off_t lastUp = 0;
  std::chrono::milliseconds stallTimeout{0};
  char error[CURL_ERROR_SIZE] = {};  // libcurl's detailed reason of a failure
};

// libcurl's global set-up is not to be raced; later calls of it are harmless but need not happen.
bool GlobalInitDone() {
  static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ok;
}

// The callbacks run inside curl_easy_perform on the caller's thread; they must not throw.
size_t WriteBody(char* data, size_t size, size_t count, void* user) noexcept {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (bytes > transfer->maxBody - std::min(transfer->maxBody, transfer->body.size())) {
    transfer->tooLong = true;
    return 0;  // ends the transfer
  }
  try {
    transfer->body.append(data, bytes);
  } catch (...) {
    return 0;  // out of memory: end the transfer with what we have
  }
  transfer->lastActivity = Clock::now();
  return bytes;
}

size_t SeeHeader(char*, size_t size, size_t count, void* user) noexcept {
  static_cast<Transfer*>(user)->lastActivity = Clock::now();
  return size * count;
}

int CheckStall(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t upNow) noexcept {
  auto* transfer = static_cast<Transfer*>(user);
  const auto now = Clock::now();
  if (upNow != transfer->lastUp) {
    transfer->lastUp = upNow;
    transfer->lastActivity = now;
    return 0;
  }
  if (transfer->stallTimeout.count() <= 0) return 0;
  return now - transfer->lastActivity >= transfer->stallTimeout ? 1 : 0;
}

// Letters, digits, "-", "." and "_": a name the resolver can take, with nothing the URL parser
// could read as a port, user information or another scheme.
bool IsBareHostName(std::string_view host) {
  if (host.empty()) return false;
  for (const char c : host) {
    const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
                    c == '.' || c == '_';
    if (!ok) return false;
  }
  return true;
}

// A handle with what both calls share: time-outs, the stall check, body collection, and only
// plain HTTP(S) ever spoken, also after a redirect.
EasyHandle NewHandle(Transfer& transfer, const HttpOptions& options) {
  if (!GlobalInitDone()) return nullptr;
  EasyHandle handle(curl_easy_init());
  if (!handle) return nullptr;
  CURL* h = handle.get();
  transfer.stallTimeout = std::chrono::milliseconds(options.stallTimeoutMs);
  transfer.maxBody = options.maxBodyBytes > 0 ? static_cast<std::size_t>(options.maxBodyBytes) : SIZE_MAX;
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);  // signals cannot be used from worker threads
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max(options.connectTimeoutMs, 0)));
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(std::max(options.totalTimeoutMs, 0)));
  // A longer announced body is refused before it is read.
  if (options.maxBodyBytes > 0) curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBodyBytes));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &WriteBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &SeeHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &CheckStall);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, transfer.error);
  return handle;
}

HttpFailure FailureOf(CURLcode result) {
  switch (result) {
    case CURLE_OK:
      return HttpFailure::None;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return HttpFailure::Resolve;
    case CURLE_COULDNT_CONNECT:
      return HttpFailure::Connect;
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_ABORTED_BY_CALLBACK:  // the stall check
      return HttpFailure::Timeout;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
      return HttpFailure::Tls;
    case CURLE_FILESIZE_EXCEEDED:
      return HttpFailure::TooLong;
    default:
      return HttpFailure::Other;
  }
}

// Runs the transfer; whatever arrived before a failure is the body.
HttpReply PerformReply(CURL* handle, Transfer& transfer) {
  transfer.lastActivity = Clock::now();
  const CURLcode result = curl_easy_perform(handle);
  HttpReply reply;
  reply.Failure = transfer.tooLong ? HttpFailure::TooLong : FailureOf(result);
  if (result != CURLE_OK) reply.Detail = transfer.error[0] ? transfer.error : curl_easy_strerror(result);
  if (transfer.tooLong || result == CURLE_FILESIZE_EXCEEDED) return reply;
  // A server that closes the connection short of the length it announced has still answered:
  // what came is its answer. A time-out, a reset or a refusal is no answer.
  reply.Answered = result == CURLE_OK || result == CURLE_PARTIAL_FILE;
  if (reply.Answered) curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &reply.Status);
  reply.Body = std::move(transfer.body);
  return reply;
}

std::string Perform(CURL* handle, Transfer& transfer) { return PerformReply(handle, transfer).Body; }

}  // namespace

std::string HttpGetText(std::string_view url, const HttpOptions& options) { return HttpGet(url, options).Body; }

HttpReply HttpGet(std::string_view url, const HttpOptions& options) {
  try {
    const std::string target = EscapeUrl(text::Trim(url));
    if (target.empty()) return {};
    Transfer transfer;
    EasyHandle handle = NewHandle(transfer, options);
    if (!handle) return {};
    CURL* h = handle.get();
    curl_easy_setopt(h, CURLOPT_URL, target.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, options.userAgent.c_str());
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, static_cast<long>(options.maxRedirects));
    return PerformReply(h, transfer);
  } catch (...) {
    return {};
  }
}

std::string HttpPostForm(std::string_view url, std::string_view body, const HttpOptions& options) {
  try {
    const HostPath split = SplitHostPath(url);
    if (!IsBareHostName(split.Host)) return {};
    const std::string connectUrl = "http://" + split.Host + ":" + std::to_string(options.postPort) + "/";
    // The request target is given as is: the URL parser would normalise "." segments and the like.
    std::string requestTarget = "/";
    requestTarget += EscapeUrl(split.Path);
    Transfer transfer;
    EasyHandle handle = NewHandle(transfer, options);
    if (!handle) return {};
    HeaderList headers(curl_slist_append(nullptr, "Accept: */*"));
    if (!headers) return {};
    if (!curl_slist_append(headers.get(), "Content-Type: application/x-www-form-urlencoded")) return {};
    CURL* h = handle.get();
    curl_easy_setopt(h, CURLOPT_URL, connectUrl.c_str());
    curl_easy_setopt(h, CURLOPT_REQUEST_TARGET, requestTarget.c_str());
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    // Never a null pointer: with one, libcurl would read the body from a callback (stdin).
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.empty() ? "" : body.data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    return Perform(h, transfer);
  } catch (...) {
    return {};
  }
}

}  // namespace orvane::net
