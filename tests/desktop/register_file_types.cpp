// Registers the player at the given path for its file types, as a start of the player does: the
// desktop-integration script installs the entries with it into a throw-away XDG data folder.
#include <cstdio>

#include "desktop/FileTypes.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: register_file_types EXECUTABLE\n", stderr);
    return 2;
  }
  return orvane::desktop::RegisterFileTypes(argv[1], 1) ? 0 : 1;
}
