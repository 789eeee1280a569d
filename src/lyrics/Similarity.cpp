#include "lyrics/Similarity.h"

#include <cstdlib>
#include <vector>

namespace orvane::lyrics {
namespace {

unsigned char UpperAscii(unsigned char c) { return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c; }

// The sound-alike group of an upper-case byte; bytes outside every group stand for themselves.
unsigned char SoundGroup(unsigned char c) {
  switch (c) {
    case 'E': return 'A';
    case 'P': return 'B';
    case 'Z': return 'C';
    case 'T': return 'D';
    case 'V': return 'F';
    case 'K': return 'G';
    case 'J':
    case 'Y': return 'I';
    default: return c;
  }
}

bool Matches(char x, char y, bool soundAlike) {
  if (!soundAlike) return x == y;
  return SoundGroup(UpperAscii(static_cast<unsigned char>(x))) == SoundGroup(UpperAscii(static_cast<unsigned char>(y)));
}

}  // namespace

int Similarity(std::string_view a, std::string_view b, bool soundAlike) {
  if (a.empty() || b.empty()) return 0;
  const std::string_view longer = a.size() >= b.size() ? a : b;
  const std::string_view shorter = a.size() >= b.size() ? b : a;
  const long L = static_cast<long>(longer.size());
  const long S = static_cast<long>(shorter.size());
  const long maxDist = L / 3 + (L - S);

  // Positions are counted from 1, as the walk is defined; 0 means "none marked".
  std::vector<bool> marked(static_cast<size_t>(L) + 1, false);
  long highestMarked = 0;
  long i = 1;
  long j = 1;
  long matches = 0;
  // Past the end of the longer text, the walk goes on after the last match with the next byte of
  // the shorter text.
  const auto wrapAndAdvance = [&] {
    if (i <= L) return;
    i = highestMarked > 0 ? highestMarked : 1;
    ++j;
  };
  while (j <= S) {
    if (!marked[static_cast<size_t>(i)] && Matches(longer[static_cast<size_t>(i - 1)], shorter[static_cast<size_t>(j - 1)], soundAlike) &&
        std::labs(i - j) <= maxDist) {
      marked[static_cast<size_t>(i)] = true;
      if (i > highestMarked) highestMarked = i;
      ++matches;
      ++i;
      ++j;
      if (i > L) i = 1;
      continue;
    }
    ++i;
    wrapAndAdvance();
  }
  return static_cast<int>(matches * 100 / L);
}

}  // namespace orvane::lyrics
