#pragma once
// Where the program's own files are. Everything is found from the real path of the running
// program, so the same binaries work from the build tree and installed into any prefix:
//
//   build tree   <dir>/orvane, <dir>/liborvane_decode.so, <dir>/effect.dat, <dir>/demo/
//                → Programs, Modules and Data are all <dir>/
//   installed    <prefix>/bin/orvane, <prefix>/lib/orvane/…, <prefix>/share/orvane/…
//                → Programs <prefix>/bin/, Modules <prefix>/lib/orvane/, Data <prefix>/share/orvane/
//
// Modules is what the player has always called its own folder (AppFolder): the decoder module,
// liblrcdown.so, format plug-ins, the plugins/ folder and helper programs (bugreport, update).
// Data holds read-only files (effect.dat, the demo song). A helper program installed in Modules
// finds the player through Programs. Never throw.

#include <string>

namespace orvane::text {

struct ProgramFolders {
  std::string Programs;  // each ends in "/"; all empty when the program's path is unknown
  std::string Modules;
  std::string Data;
};

// The folders for a program at programPath (an absolute path without symlinks, as /proc/self/exe
// gives it): installed when the program sits in <prefix>/bin/ beside a <prefix>/lib/orvane/
// folder, or in <prefix>/lib/orvane/ itself; anything else is a build tree.
ProgramFolders FindProgramFolders(const std::string& programPath);

// The running program's real path (/proc/self/exe); empty when it cannot be read.
std::string RunningProgramPath();

// FindProgramFolders(RunningProgramPath()), worked out once. Any thread.
const ProgramFolders& OwnProgramFolders();

}  // namespace orvane::text
