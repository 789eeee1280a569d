#pragma once
// Helpers shared by the fuzz targets: a property check that stops the run with a message, and a
// private scratch folder for the targets that must go through files.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace orvane::fuzz {

// A broken property is a finding: abort, so libFuzzer keeps the input as a crash.
inline void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

// A folder of this process's own, on tmpfs when there is one, so the file round trips of the store
// targets cost little. Created once; the runs leave nothing in it.
inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    std::string templ = std::string(base) + "/orvane-fuzz-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) std::abort();
    return templ + "/";
  }();
  return folder;
}

}  // namespace orvane::fuzz
