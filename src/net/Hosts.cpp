#include "net/Hosts.h"

#include <cstdlib>

#include "orvane_version.h"

namespace orvane::net {
namespace {

std::string HostFrom(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  return value && *value ? std::string(value) : std::string(fallback);
}

}  // namespace

std::string ServerHost() { return HostFrom("ORVANE_SERVER_HOST", kDefaultServerHost); }
std::string HomeHost() { return HostFrom("ORVANE_HOME_HOST", kDefaultHomeHost); }
std::string SiblingHost() { return HostFrom("ORVANE_SIBLING_HOST", kDefaultSiblingHost); }

}  // namespace orvane::net
