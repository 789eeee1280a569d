// orvanectl: drives the running Orvane player from the command line the way any outside program
// can — through the player's socket and its shared command block (app/mapshare.h). No toolkit: it
// starts and answers in a few milliseconds.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/mapshare.h"

namespace {

using namespace orvane::app;

constexpr int kOk = 0;
constexpr int kNoPlayer = 1;
constexpr int kBadUsage = 2;

// The remote-control message and its commands.
constexpr int32_t WM_CMDPLAY = 1807;
constexpr int32_t CMDPLAY_PLAYPAUSE = 16;
constexpr int32_t CMDPLAY_PREVIOUS = 19;
constexpr int32_t CMDPLAY_NEXT = 20;
constexpr int32_t CMDPLAY_COUNT = 50;
constexpr int32_t CMDPLAY_INDEX = 51;

const char kHelp[] =
    "Usage: orvanectl COMMAND [ARGUMENT...]\n"
    "Controls the running Orvane player.\n"
    "\n"
    "Commands:\n"
    "  play-pause          play the current song, or pause or resume it\n"
    "  next                play the next song\n"
    "  previous            play the previous song\n"
    "  count               print the number of songs in the active list\n"
    "  index               print the current song's index in the active list (from 0)\n"
    "  play FILE...        add the files to the music list and play the first\n"
    "  add FILE...         add the files to the music list\n"
    "  play-online TEXT    add a list of online songs to the music list and play the first\n"
    "  add-online TEXT     add a list of online songs to the music list\n"
    "  --help              show this help\n"
    "\n"
    "A FILE may be a folder: the songs in it and below it are added. Every argument after the\n"
    "command is a file, whatever it looks like; an empty one is refused.\n"
    "\n"
    "Exit status: 0 done, 1 no player runs (or it did not answer), 2 bad usage.\n";

struct TRequest {
  std::optional<int32_t> Remote;  // a WM_CMDPLAY command
  std::vector<TCommand> Commands; // commands for the block, handed over together
  bool Print = false;             // print the answer
};

std::optional<TRequest> ParseRequest(int argc, char** argv) {
  if (argc < 2) return std::nullopt;
  const std::string name = argv[1];
  struct Remote {
    const char* Name;
    int32_t Command;
    bool Print;
  };
  static const Remote remotes[] = {{"play-pause", CMDPLAY_PLAYPAUSE, false}, {"next", CMDPLAY_NEXT, false},
                                   {"previous", CMDPLAY_PREVIOUS, false},    {"count", CMDPLAY_COUNT, true},
                                   {"index", CMDPLAY_INDEX, true}};
  for (const Remote& remote : remotes) {
    if (name != remote.Name) continue;
    if (argc != 2) return std::nullopt;
    TRequest request;
    request.Remote = remote.Command;
    request.Print = remote.Print;
    return request;
  }
  struct Handed {
    const char* Name;
    uint8_t Code;
    bool IsPath;
  };
  static const Handed handed[] = {{"play", 1, true}, {"add", 11, true}, {"play-online", 2, false}, {"add-online", 22, false}};
  for (const Handed& command : handed) {
    if (name != command.Name) continue;
    if (argc < 3 || (!command.IsPath && argc != 3)) return std::nullopt;
    TRequest request;
    if (!command.IsPath) {
      request.Commands.push_back(TCommand{command.Code, argv[2]});
      return request;
    }
    for (int i = 2; i < argc; ++i) {
      // An empty path names no file: it would only add a row that can never play.
      if (argv[i][0] == '\0') return std::nullopt;
      // The first file plays (with "play"); all of them join the list in order.
      const uint8_t code = command.Code == 1 && i > 2 ? 11 : command.Code;
      request.Commands.push_back(TCommand{code, AbsolutePath(argv[i])});
    }
    return request;
  }
  return std::nullopt;
}

int NoPlayer(const char* why) {
  std::fprintf(stderr, "orvanectl: %s\n", why);
  return kNoPlayer;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kHelp, stdout);
    return kOk;
  }
  const std::optional<TRequest> request = ParseRequest(argc, argv);
  if (!request) {
    std::fputs(kHelp, stderr);
    return kBadUsage;
  }
  const std::optional<TRuntimeFolder> folder = TRuntimeFolder::Open();
  if (!folder) return NoPlayer("no Orvane player is running");
  UniqueFd window = ConnectWindowSocket(*folder, 1000);
  if (!window.Valid()) return NoPlayer("no Orvane player is running");

  if (request->Remote) {
    const std::optional<int32_t> answer = SendWindowMessage(window.Get(), {WM_CMDPLAY, *request->Remote, 0}, kHandOffTimeoutMs);
    if (!answer) return NoPlayer("the Orvane player did not answer");
    if (request->Print) std::printf("%d\n", *answer);
    return kOk;
  }
  const std::unique_ptr<TCommandBlock> block = TCommandBlock::Open(*folder, false);
  if (!block) return NoPlayer("no Orvane player is running");
  switch (HandOverCommands(*block, window.Get(), request->Commands)) {
    case THandOff::Delivered:
      return kOk;
    case THandOff::BlockBusy:
      return NoPlayer("the Orvane player is busy with another command");
    case THandOff::NoAnswer:
      break;
  }
  return NoPlayer("the Orvane player did not answer");
}
