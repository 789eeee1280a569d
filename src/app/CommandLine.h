#pragma once
// The player's own command line:
//   orvane [OPTION...] [/l] [--] [FILE...]
// Options come first; the first argument that is not one ends them, and so does "--", after which
// every argument is a file, whatever it looks like (a song named "--version" is opened with
// "orvane -- --version" or "orvane ./--version"). "/l" (exactly) right after the options means the
// files are only added. Every file is a song or a folder to add; an empty argument is refused,
// since it names nothing. Plain C++, no Qt: the entry point parses before any toolkit is loaded.

#include <string>
#include <vector>

namespace orvane::app {

struct TCommandLine {
  enum class TAction { Run, Version, Help, Error };
  TAction Action = TAction::Run;
  std::string Error;                // what was wrong (Action Error), for stderr
  // The player's arguments as the hand-off reads them (CommandsFromArgs): "/l" first when the
  // files are only added, then the files in the order given.
  std::vector<std::string> Args;
  std::string ScreenshotFolder;     // --screenshots FOLDER
  int ScreenshotDelayMs = -1;       // --screenshot-delay MS; -1 when not given
};

// args: argv[1..argc-1].
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

extern const char kCommandLineHelp[];

}  // namespace orvane::app
