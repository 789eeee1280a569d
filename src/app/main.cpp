// Entry point of the player.
#include <cstdio>
#include <cstring>

#include "orvane_version.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Orvane %s\n", orvane::kVersion);
      return 0;
    }
  }
  std::fprintf(stderr, "Orvane %s: the player window is not built yet; try --version\n", orvane::kVersion);
  return 1;
}
