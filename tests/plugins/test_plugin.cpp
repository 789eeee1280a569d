// Plug-ins that misbehave in one way each, for the host's tests; which way is chosen when built
// (FLAVOUR_<name>). Each appends "<name> <message>" to the file $ORVANE_TEST_PLUGIN_LOG for every
// call it gets, and "<name>" to $ORVANE_TEST_PLUGIN_CONSTRUCTED as soon as it is loaded (its
// constructor runs then, before the host could ask it anything).
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "plugins/UPluginAPI.h"

namespace {

void Log(int32_t message) {
  const char* path = std::getenv("ORVANE_TEST_PLUGIN_LOG");
  if (!path) return;
  if (FILE* log = std::fopen(path, "a")) {
    std::fprintf(log, "%s %d\n", FLAVOUR_NAME, static_cast<int>(message));
    std::fclose(log);
  }
}

__attribute__((constructor)) void Constructed() {
  const char* path = std::getenv("ORVANE_TEST_PLUGIN_CONSTRUCTED");
  if (!path) return;
  if (FILE* marker = std::fopen(path, "a")) {
    std::fprintf(marker, "%s\n", FLAVOUR_NAME);
    std::fclose(marker);
  }
}

// A plain fault of the plug-in's own code (an invalid write), as a buggy plug-in raises it; the
// undefined-behaviour sanitizer would stop at the null store first.
[[noreturn, maybe_unused]] __attribute__((no_sanitize("undefined"))) void Fault() {
  static int* volatile nowhere = nullptr;
  *nowhere = 1;
  std::abort();
}

#if defined(FLAVOUR_swap)
int32_t Other(int32_t message, uintptr_t, int32_t) {
  Log(-message);
  return 7;
}
#endif

extern TPluginInfo info;

[[maybe_unused]] int32_t Callback(int32_t message, uintptr_t, int32_t) {
  Log(message);
#if defined(FLAVOUR_swap)
  // Changes its record once it was accepted: the host must go on calling what it checked at load.
  info.Callback = Other;
#endif
#if defined(FLAVOUR_throw)
  if (message != PLUGIN_LOADED && message != PLUGIN_UNLOADING) throw std::runtime_error("plug-in failed");
#elif defined(FLAVOUR_fault_callback)
  if (message != PLUGIN_LOADED && message != PLUGIN_UNLOADING) Fault();
#endif
#if defined(FLAVOUR_ret5)
  return 5;
#else
  return 6;
#endif
}

[[maybe_unused]] TPluginInfo info = {PLUGIN_INFO_VERSION,
#if defined(FLAVOUR_api255)
                    255,
#else
                    PLUGIN_API_VERSION,
#endif
                    {0},
#if defined(FLAVOUR_nocallback)
                    nullptr
#else
                    Callback
#endif
};

}  // namespace

#if !defined(FLAVOUR_noexport)
extern "C" __attribute__((visibility("default"))) const TPluginInfo* USPluginInfo(int32_t) {
#if defined(FLAVOUR_fault_info)
  Fault();
#endif
  return &info;
}
#endif
