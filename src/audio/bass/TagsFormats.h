#pragma once
// The header readers behind ReadFileTags (TagsFile.h), one per tag or container format, and the
// small helpers they share. Every size read from a file is checked against the file and capped
// before anything is read or allocated: a damaged or hostile header costs a failed read, never a
// huge allocation or a read past a buffer.

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ByteSource.h"

namespace orvane::bass::tags {

using TagMap = std::map<std::string, std::string>;

// Nothing a tag reader keeps is larger than this (covers and other binary items are skipped).
inline constexpr size_t kMaxTextItem = 64 * 1024;
// Nor does it read more than this into memory at once (a whole ID3v2 or APE tag, an Ogg packet).
inline constexpr size_t kMaxBlock = 4 * 1024 * 1024;

// A regular file, or a decoder's byte source, read by position. Used by one thread at a time.
class TagFile {
 public:
  TagFile(int fd, int64_t size) : fd(fd), size(size) {}
  // The source's position is left wherever the last read ended.
  explicit TagFile(ByteSource& source) : source(&source), size(std::max<int64_t>(source.Size(), 0)) {}
  int64_t Size() const { return size; }
  // Up to count bytes at offset (fewer at the end of the file); empty when offset is outside the
  // file, count is 0 or above kMaxBlock, or the read fails.
  std::string Read(int64_t offset, size_t count) const;

 private:
  int fd = -1;
  ByteSource* source = nullptr;
  int64_t size;
};

// Recognises the content by its first bytes and reads it with the reader of its format below;
// false when it is none of them.
bool ReadKnownFormat(const TagFile& file, TagMap& tags, double& seconds);

// Every value a reader adds is readable UTF-8: text the format declares (UTF-8, UTF-16) is decoded
// as declared, and only raw bytes whose encoding the format leaves open are guessed at
// (AddLegacyTags). Values keep their blanks: a title is shown as the tag has it.

// Sets key unless it already has a value: the first tag found wins (ID3v2 before APE before ID3v1).
// Trailing NULs (terminators, padding) are dropped; an empty value is no value.
void AddTag(TagMap& tags, const std::string& key, std::string value);

// Raw texts of one tag in an encoding the format does not declare (ID3v1, ID3v2 frames marked
// Latin-1, RIFF INFO, AIFF text chunks), as key and bytes: decoded together (text::FromLegacyTogether:
// GBK from Chinese Windows, UTF-8 from newer taggers, else Latin-1) and added in order.
using RawTexts = std::vector<std::pair<std::string, std::string>>;
void AddLegacyTags(TagMap& tags, const RawTexts& raw);

// Several values of one field in one item (NUL-separated ID3v2.4 and APE values, repeated Vorbis
// comments, several MP4 data boxes) are shown together, joined by this.
inline constexpr std::string_view kValueSeparator = " / ";
void AppendValue(std::string& joined, std::string_view value);

inline uint32_t Be16(std::string_view b, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(b[at]) << 8 | static_cast<uint8_t>(b[at + 1]));
}
inline uint32_t Be32(std::string_view b, size_t at) { return Be16(b, at) << 16 | Be16(b, at + 2); }
inline uint64_t Be64(std::string_view b, size_t at) { return uint64_t{Be32(b, at)} << 32 | Be32(b, at + 4); }
inline uint32_t Le16(std::string_view b, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
inline uint32_t Le32(std::string_view b, size_t at) { return Le16(b, at) | Le16(b, at + 2) << 16; }
inline uint64_t Le64(std::string_view b, size_t at) { return Le32(b, at) | uint64_t{Le32(b, at + 4)} << 32; }

// Text helpers: text declared UTF-8 (bytes that are not UTF-8 were written by a program that
// declared what it did not write, and are read as legacy text); UTF-16 (little- or big-endian) to
// UTF-8, up to the first NUL, lone surrogates becoming U+FFFD; bytes up to the first NUL.
std::string DeclaredUtf8(std::string_view bytes);
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian);
std::string UpToNul(std::string_view bytes);

// ---- tags that sit around the audio ----
// ID3v2 at offset: reads its text frames into tags and returns its whole size (header, frames,
// padding, footer), 0 when there is none.
int64_t ReadId3v2(const TagFile& file, int64_t offset, TagMap& tags);
// ID3v2 held in a chunk of a container (WAV, AIFF): the chunk's bytes.
void ParseId3v2(std::string_view tag, TagMap& tags);
// ID3v1 (and, before it, an APEv2 tag) at the end of [0, end): read into tags; end moves to where
// the audio data stops.
void ReadTrailingTags(const TagFile& file, int64_t& end, TagMap& tags);

// ---- containers and streams; each returns false when the content is not its format ----
// MPEG audio (layer I, II, III) or ADTS AAC frames from offset to end.
bool ReadMpegAudio(const TagFile& file, int64_t offset, int64_t end, double& seconds);
bool ReadAdts(const TagFile& file, int64_t offset, int64_t end, double& seconds);
bool ReadFlac(const TagFile& file, int64_t offset, TagMap& tags, double& seconds);
bool ReadOgg(const TagFile& file, int64_t offset, TagMap& tags, double& seconds);
bool ReadWav(const TagFile& file, TagMap& tags, double& seconds);
bool ReadAiff(const TagFile& file, TagMap& tags, double& seconds);
bool ReadMp4(const TagFile& file, TagMap& tags, double& seconds);
bool ReadAsf(const TagFile& file, TagMap& tags, double& seconds);

// A Vorbis comment block (after its packet type), as Ogg and FLAC hold it.
void ParseVorbisComment(std::string_view block, TagMap& tags);

}  // namespace orvane::bass::tags
