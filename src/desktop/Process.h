#pragma once
// Starting other programs. No shell is ever involved: a command line is split into an argument
// vector with the quoting rules Windows programs use, and the program is started with posix_spawn.
// Callable from any thread. Never throw.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::desktop {

// Splits a command line the way Windows' command-line parser does:
// - blanks and tabs separate arguments; a double quote starts or ends a quoted part, in which
//   blanks are kept; "" inside a quoted part is one literal double quote;
// - backslashes are literal unless they come before a double quote: 2n of them then give n
//   backslashes and the quote acts as a quote, 2n+1 give n backslashes and a literal quote;
// - the first argument (the program) is simpler: it runs to the next blank or, when it starts with
//   a double quote, to the next double quote; backslashes are always literal in it.
// Leading blanks are skipped; an empty or blank line gives no arguments.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The argument quoted so that SplitCommandLine gives it back unchanged (in any position after the
// first; as the first, as long as it holds no double quote). Texts without blanks, tabs or double
// quotes come back as they are.
std::string QuoteCommandArg(std::string_view argument);

// The program a name refers to: a name with a "/" is taken as it is (relative to the current
// folder); otherwise the first executable regular file of that name in a folder of $PATH (only
// absolute folders are searched; without $PATH, /usr/local/bin, /usr/bin and /bin). Empty when the
// name does not name an executable regular file.
std::string FindProgram(std::string_view name);

// Starts a new process from CommandLine; its first token is the program (see SplitCommandLine and
// FindProgram). The child runs in a new session with the player's environment and current folder,
// gets standard input, output and error but no other open file, and default signal handling.
// Does not wait; a background thread collects the child's exit so no zombie stays. Show (a Windows
// show state) has no meaning here and is ignored. Returns whether the process was started; false
// for an empty command line or a program that is missing or cannot be executed.
bool RunCommandLine(const std::string& CommandLine, uint16_t Show);

// Starts argv[0] (found as FindProgram says) with the arguments argv[1…], without waiting, as
// RunCommandLine does. Returns whether it started.
bool StartDetached(const std::vector<std::string>& argv);

// Runs argv[0] with the given arguments, its standard input, output and error on /dev/null, and
// waits for it at most timeoutMs milliseconds; a program that runs longer is killed with its whole
// process group. Returns true when it started and exited with status 0 in time.
bool RunAndWait(const std::vector<std::string>& argv, int timeoutMs);

// Hands memory the allocator no longer uses back to the system (the working-set trim); a call
// within ten seconds of the last trim does nothing. Any thread.
void TrimWorkingSet();

}  // namespace orvane::desktop
