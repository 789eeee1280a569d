// Runs a crash scenario from the library beside this program (see crash_scenarios.cpp), loaded at
// run time as the real program loads the player.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  char self[PATH_MAX] = {};
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return 70;
  std::string folder(self, static_cast<size_t>(length));
  folder.resize(folder.rfind('/') + 1);
  void* library = ::dlopen((folder + "libcrash_scenarios.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  using TScenario = int (*)(int, char**);
  const auto scenario = library ? reinterpret_cast<TScenario>(::dlsym(library, "OrvaneCrashScenario")) : nullptr;
  if (!scenario) {
    std::fprintf(stderr, "crash_child: %s\n", ::dlerror());
    return 71;
  }
  return scenario(argc, argv);
}
