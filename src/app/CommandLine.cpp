#include "app/CommandLine.h"

#include <cerrno>
#include <cstdlib>

namespace orvane::app {
namespace {

constexpr int kMaxScreenshotDelayMs = 600000;

TCommandLine Failed(std::string why) {
  TCommandLine line;
  line.Action = TCommandLine::TAction::Error;
  line.Error = std::move(why);
  return line;
}

bool ParseDelay(const std::string& text, int& delayMs) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (errno != 0 || value > kMaxScreenshotDelayMs) return false;
  delayMs = static_cast<int>(value);
  return true;
}

// An option that takes a value, as "--name VALUE" or "--name=VALUE". False when arg is not it.
bool TakeValue(const std::vector<std::string>& args, size_t& i, const std::string& name, std::string& value,
               bool& missing) {
  const std::string& arg = args[i];
  missing = false;
  if (arg.rfind(name + "=", 0) == 0) {
    value = arg.substr(name.size() + 1);
    missing = value.empty();
    return true;
  }
  if (arg != name) return false;
  // The next argument is the value even when it starts with "-": "--screenshots -shots" names a
  // folder. Only "--" and nothing at all are no value.
  if (i + 1 >= args.size() || args[i + 1].empty() || args[i + 1] == "--") {
    missing = true;
    return true;
  }
  value = args[++i];
  return true;
}

}  // namespace

const char kCommandLineHelp[] =
    "Usage: orvane [OPTION...] [/l] [--] [FILE...]\n"
    "Plays the files (songs or folders of songs) given: all are added to the music list in order,\n"
    "and the first of them plays. With /l they are only added. A running player is handed the files;\n"
    "without files it is brought to the front.\n"
    "\n"
    "Options (only before the first file; after \"--\" every argument is a file):\n"
    "  --version                 print the version and exit\n"
    "  --help                    show this help and exit\n"
    "  --screenshots FOLDER      write pictures of the windows into FOLDER, then quit\n"
    "  --screenshot-delay MS     wait MS milliseconds before those pictures (default 6000)\n";

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  TCommandLine line;
  size_t i = 0;
  bool endOfOptions = false;
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      endOfOptions = true;
      ++i;
      break;
    }
    if (arg.size() < 2 || arg[0] != '-') break;  // the first file (or "/l"); "-" alone is a file name
    if (arg == "--version") {
      line.Action = TCommandLine::TAction::Version;
      return line;
    }
    if (arg == "--help" || arg == "-h") {
      line.Action = TCommandLine::TAction::Help;
      return line;
    }
    std::string value;
    bool missing = false;
    if (TakeValue(args, i, "--screenshots", value, missing)) {
      if (missing) return Failed("--screenshots needs a folder");
      line.ScreenshotFolder = value;
      continue;
    }
    if (TakeValue(args, i, "--screenshot-delay", value, missing)) {
      if (missing || !ParseDelay(value, line.ScreenshotDelayMs))
        return Failed("--screenshot-delay needs a number of milliseconds (0 to 600000)");
      continue;
    }
    return Failed("unknown option " + arg + " (a file whose name starts with \"-\" goes after \"--\")");
  }
  if (!endOfOptions && i < args.size() && args[i] == "/l") {
    line.Args.push_back("/l");
    ++i;
    if (i < args.size() && args[i] == "--") ++i;
  }
  for (; i < args.size(); ++i) {
    if (args[i].empty()) return Failed("an empty file name names no file");
    // A file named "/l" in the first place would read as the switch: the same path, written so
    // that it does not.
    if (line.Args.empty() && args[i] == "/l") line.Args.push_back("/./l");
    else line.Args.push_back(args[i]);
  }
  return line;
}

}  // namespace orvane::app
