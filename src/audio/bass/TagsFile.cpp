// ReadFileTags: opens a regular file without ever blocking, recognises its format by content and
// hands it to the header reader of that format (TagsFormats.h); unknown content goes to the decoder.

#include "TagsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <new>

#include "ByteSource.h"
#include "ChannelFormat.h"
#include "Decoder.h"
#include "TagsFormats.h"
#include "bass.h"
#include "text/Legacy.h"

namespace orvane::bass {
namespace tags {

std::string TagFile::Read(int64_t offset, size_t count) const {
  std::string out;
  if (offset < 0 || offset >= size || count == 0 || count > kMaxBlock) return out;
  out.resize(static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), size - offset)));
  if (source != nullptr && !source->Seek(offset)) out.clear();
  size_t got = 0;
  while (got < out.size()) {
    ssize_t n;
    if (source != nullptr) {
      n = source->Read(reinterpret_cast<uint8_t*>(out.data() + got),
                       static_cast<int>(std::min<size_t>(out.size() - got, 1 << 20)));
    } else {
      n = ::pread(fd, out.data() + got, out.size() - got, offset + static_cast<int64_t>(got));
      if (n < 0 && errno == EINTR) continue;
    }
    if (n <= 0) break;  // an error, or the file shrank meanwhile
    got += static_cast<size_t>(n);
  }
  out.resize(got);
  return out;
}

void AddTag(TagMap& tags, const std::string& key, std::string value) {
  while (!value.empty() && value.back() == '\0') value.pop_back();
  if (value.empty() || value.size() > kMaxTextItem) return;
  tags.emplace(key, std::move(value));
}

void AddLegacyTags(TagMap& tags, const RawTexts& raw) {
  std::vector<std::string> bytes;
  bytes.reserve(raw.size());
  for (const auto& item : raw) bytes.push_back(item.second);
  std::vector<std::string> texts = text::FromLegacyTogether(bytes);
  for (size_t i = 0; i < raw.size(); ++i) AddTag(tags, raw[i].first, std::move(texts[i]));
}

void AppendValue(std::string& joined, std::string_view value) {
  if (value.empty()) return;
  if (!joined.empty()) joined += kValueSeparator;
  joined += value;
}

std::string DeclaredUtf8(std::string_view bytes) {
  return text::IsValidUtf8(bytes) ? std::string(bytes) : text::FromLegacy(bytes);
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  auto unit = [&](size_t i) -> uint32_t { return bigEndian ? Be16(bytes, i) : Le16(bytes, i); };
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const uint32_t u = unit(i);
    if (u == 0) break;
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
      const uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        text::AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    text::AppendUtf8(out, u >= 0xD800 && u <= 0xDFFF ? 0xFFFD : u);
  }
  return out;
}

std::string UpToNul(std::string_view bytes) { return std::string(bytes.substr(0, bytes.find('\0'))); }

}  // namespace tags

namespace {

using tags::TagFile;

// The first bytes of an ASF header object.
constexpr std::string_view kAsfHeader{"\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16};

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool IsMp4(std::string_view head) {
  if (head.size() < 8) return false;
  const std::string_view box = head.substr(4, 4);
  return box == "ftyp" || box == "moov" || box == "mdat" || box == "free" || box == "skip" || box == "wide";
}

}  // namespace

namespace tags {

bool ReadKnownFormat(const TagFile& file, TagMap& tags, double& seconds) {
  int64_t start = 0;
  // Some files carry more than one ID3v2 tag in front of the audio.
  for (int i = 0; i < 4; ++i) {
    const int64_t size = ReadId3v2(file, start, tags);
    if (size <= 0) break;
    start += size;
  }
  const std::string head = file.Read(start, 16);
  if (StartsWith(head, "fLaC")) return ReadFlac(file, start, tags, seconds);
  if (StartsWith(head, "OggS")) return ReadOgg(file, start, tags, seconds);
  if (start == 0 && head.size() >= 12) {
    const std::string_view kind = std::string_view(head).substr(8, 4);
    if (StartsWith(head, "RIFF") && kind == "WAVE") return ReadWav(file, tags, seconds);
    if (StartsWith(head, "FORM") && (kind == "AIFF" || kind == "AIFC")) return ReadAiff(file, tags, seconds);
  }
  if (start == 0) {
    if (IsMp4(head)) return ReadMp4(file, tags, seconds);
    if (StartsWith(head, kAsfHeader)) return ReadAsf(file, tags, seconds);
  }
  int64_t end = file.Size();
  ReadTrailingTags(file, end, tags);
  return ReadMpegAudio(file, start, end, seconds) || ReadAdts(file, start, end, seconds);
}

}  // namespace tags

namespace {

// Content the header readers do not know (tracker modules, Musepack, …) is opened by the decoder,
// which recognises everything a stream can play.
int ReadWithDecoder(const std::string& path, FileTags& out) {
  int error = BASS_OK;
  std::unique_ptr<ByteSource> source = OpenFileSource(path, 0, 0, error);
  if (!source) return error;
  std::unique_ptr<Decoder> decoder = Decoder::Open(std::move(source), error);
  if (!decoder) return error;
  out.tags = decoder->Tags();
  const int64_t frames = decoder->LengthFrames();
  out.seconds = frames >= 0 ? static_cast<double>(frames) / kSampleRate : -1;
  return BASS_OK;
}

}  // namespace

void MakeDecoderTagsReadable(std::map<std::string, std::string>& tags) {
  for (auto& [key, value] : tags) {
    value = text::IsValidUtf8(value) ? text::RepairLatin1Misread(value) : text::FromLegacy(value);
  }
}

bool ReadSourceTags(ByteSource& source, FileTags& out) {
  out = FileTags{};
  const tags::TagFile file(source);
  try {
    if (tags::ReadKnownFormat(file, out.tags, out.seconds)) return true;
  } catch (const std::exception&) {
    // Out of memory: the decoder that asked goes on without tags rather than fail the stream.
  }
  out = FileTags{};
  return false;
}

int ReadFileTags(const std::string& path, FileTags& out) {
  out = FileTags{};
  // Only a regular file is read. Opening a FIFO for reading would wait for a writer, and a device
  // may do something on open, so nothing else is even opened; O_NONBLOCK covers a file swapped for
  // one of those between the two looks.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return BASS_ERROR_FILEOPEN;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return BASS_ERROR_FILEOPEN;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return BASS_ERROR_FILEOPEN;
  if (info.st_size == 0) return BASS_ERROR_FILEFORM;

  const TagFile file(fd, info.st_size);
  int error = BASS_OK;
  bool known = false;
  try {
    known = tags::ReadKnownFormat(file, out.tags, out.seconds);
  } catch (const std::bad_alloc&) {
    out = FileTags{};
    return BASS_ERROR_MEM;
  }
  if (!known) {
    out = FileTags{};
    error = ReadWithDecoder(path, out);
  }
  // No codec stores a second of sound in less than a byte: a longer length is a damaged header's.
  if (out.seconds > static_cast<double>(info.st_size)) out.seconds = -1;
  return error;
}

}  // namespace orvane::bass
