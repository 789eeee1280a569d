// TAGS_Read: the container's tags through a small format language, as readable UTF-8; and the
// same for a file read without a stream (TAGS_OpenFile, TagsFile.h).

#include "tags.h"

#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "Channel.h"
#include "Errors.h"
#include "Library.h"
#include "TagsFile.h"

struct TAGS_FILE {
  orvane::bass::FileTags file;
};

namespace orvane::bass {
namespace {

struct Field {
  std::string_view code;
  std::string_view keys[2];  // metadata keys, in order of preference
};

constexpr Field kFields[] = {
    {"TITL", {"title", ""}},       {"ARTI", {"artist", "author"}}, {"ALBM", {"album", ""}},
    {"GNRE", {"genre", ""}},       {"YEAR", {"date", "year"}},    {"CMNT", {"comment", ""}},
    {"TRCK", {"track", ""}},       {"COMP", {"composer", ""}},    {"COPY", {"copyright", ""}},
    {"AART", {"album_artist", ""}}, {"DISC", {"disc", ""}},
};

std::string Lookup(const std::map<std::string, std::string>& tags, const Field& field) {
  for (std::string_view key : field.keys) {
    if (key.empty()) continue;
    const auto it = tags.find(std::string(key));
    if (it != tags.end()) return it->second;
  }
  return {};
}

std::string Format(const std::map<std::string, std::string>& tags, std::string_view format) {
  std::string result;
  for (size_t i = 0; i < format.size();) {
    if (format[i] != '%') {
      result += format[i++];
      continue;
    }
    if (format.substr(i, 2) == "%%") {
      result += '%';
      i += 2;
      continue;
    }
    const std::string_view code = format.substr(i + 1, 4);
    const Field* match = nullptr;
    for (const Field& field : kFields) {
      if (field.code == code) match = &field;
    }
    if (match == nullptr) {
      result += format[i++];  // not a field: kept as written
      continue;
    }
    result += Lookup(tags, *match);
    i += 5;
  }
  return result;
}

}  // namespace
}  // namespace orvane::bass

namespace {

// The text TAGS_Read and TAGS_FileRead return, per thread.
thread_local std::string formatted;

}  // namespace

extern "C" const char* TAGS_Read(DWORD handle, const char* fmt) {
  using namespace orvane::bass;
  formatted.clear();
  const auto channel = Lib().registry.FindChannel(handle, HandleKind::Stream);
  if (!channel) return Fail(BASS_ERROR_HANDLE, formatted.c_str());
  try {
    formatted = Format(channel->Tags(), fmt != nullptr ? fmt : "");
  } catch (const std::bad_alloc&) {
    formatted.clear();
    return Fail(BASS_ERROR_MEM, formatted.c_str());
  }
  return Succeed(formatted.c_str());
}

extern "C" TAGS_FILE* TAGS_OpenFile(const char* file) {
  using namespace orvane::bass;
  if (file == nullptr) return Fail(BASS_ERROR_ILLPARAM, static_cast<TAGS_FILE*>(nullptr));
  try {
    auto tags = std::make_unique<TAGS_FILE>();
    const int error = ReadFileTags(file, tags->file);
    if (error != BASS_OK) return Fail(error, static_cast<TAGS_FILE*>(nullptr));
    return Succeed(tags.release());
  } catch (const std::bad_alloc&) {
    return Fail(BASS_ERROR_MEM, static_cast<TAGS_FILE*>(nullptr));
  } catch (...) {
    return Fail(BASS_ERROR_UNKNOWN, static_cast<TAGS_FILE*>(nullptr));  // never across the C interface
  }
}

extern "C" const char* TAGS_FileRead(const TAGS_FILE* tags, const char* fmt) {
  using namespace orvane::bass;
  formatted.clear();
  if (tags == nullptr) return Fail(BASS_ERROR_HANDLE, formatted.c_str());
  try {
    formatted = Format(tags->file.tags, fmt != nullptr ? fmt : "");
  } catch (const std::bad_alloc&) {
    formatted.clear();
    return Fail(BASS_ERROR_MEM, formatted.c_str());
  }
  return Succeed(formatted.c_str());
}

extern "C" double TAGS_FileSeconds(const TAGS_FILE* tags) { return tags != nullptr ? tags->file.seconds : -1; }

extern "C" void TAGS_CloseFile(TAGS_FILE* tags) { delete tags; }
