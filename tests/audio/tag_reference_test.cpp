// The tag table: songs tagged by tools nobody here wrote (tag_fixtures.py: mutagen, ffmpeg) in
// every encoding the player meets, each read from its headers (TAGS_OpenFile, as songs are added)
// and from a stream (TAGS_Read, as they play, through libsndfile or FFmpeg). Both readings must be
// what mutagen reads or, where raw legacy bytes are the point (GBK from Chinese Windows; RIFF INFO
// and AIFF text, which mutagen does not read), the text the script states.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "bass.h"
#include "support/fixture_server.h"
#include "support/temp_dir.h"
#include "tags.h"

extern char** environ;

namespace orvane::test {
namespace {

struct Row {
  std::string file, field, mutagen, expected;
};

// Runs the fixture script into dir and returns its table; empty when it failed.
std::vector<Row> WriteFixtures(const TempDir& dir) {
  const std::string manifest = dir.File("manifest.tsv");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, manifest.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> args = {ORVANE_PYTHON, ORVANE_TAG_FIXTURES, dir.File("")};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  int status = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
  std::vector<Row> rows;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return rows;
  std::istringstream lines(ReadFileBytes(manifest));
  for (std::string line; std::getline(lines, line);) {
    Row row;
    std::istringstream cells(line);
    std::getline(cells, row.file, '\t');
    std::getline(cells, row.field, '\t');
    std::getline(cells, row.mutagen, '\t');
    std::getline(cells, row.expected);
    rows.push_back(row);
  }
  return rows;
}

std::string Code(const std::string& field) {
  return field == "title" ? "%TITL" : field == "artist" ? "%ARTI" : "%ALBM";
}

std::string ReadHeader(const std::string& path, const std::string& field) {
  TAGS_FILE* file = TAGS_OpenFile(path.c_str());
  if (!file) return "(no file)";
  std::string text = TAGS_FileRead(file, Code(field).c_str());
  TAGS_CloseFile(file);
  return text;
}

std::string ReadStream(const std::string& path, const std::string& field) {
  const HSTREAM stream = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_STREAM_DECODE);
  if (!stream) return "(no stream)";
  std::string text = TAGS_Read(stream, Code(field).c_str());
  BASS_StreamFree(stream);
  return text;
}

class TagReference : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new TempDir("tag-reference");
    rows = new std::vector<Row>(WriteFixtures(*dir));
  }
  static void TearDownTestSuite() {
    delete rows;
    delete dir;
  }
  static TempDir* dir;
  static std::vector<Row>* rows;
};

TempDir* TagReference::dir = nullptr;
std::vector<Row>* TagReference::rows = nullptr;

TEST_F(TagReference, EveryEncodingReadsAsTheReferenceInTheListAndWhilePlaying) {
  ASSERT_FALSE(rows->empty()) << "tag_fixtures.py failed (python3-mutagen and ffmpeg are needed)";
  std::cout << "| fixture | field | mutagen | expected | header reader | stream |\n";
  for (const Row& row : *rows) {
    SCOPED_TRACE(row.file + " " + row.field);
    const std::string path = dir->File(row.file);
    const std::string header = ReadHeader(path, row.field);
    const std::string stream = ReadStream(path, row.field);
    EXPECT_EQ(header, row.expected);
    EXPECT_EQ(stream, row.expected);
    auto quoted = [](const std::string& text) { return "\"" + text + "\""; };  // shows trailing blanks
    std::cout << "| " << row.file << " | " << row.field << " | " << quoted(row.mutagen) << " | "
              << quoted(row.expected) << " | " << quoted(header) << " | " << quoted(stream) << " |\n";
  }
}

// A download is read by FFmpeg alone, whose metadata no longer says which frame was declared
// Unicode and which held raw bytes: GBK in a frame marked Latin-1 must still read as Chinese, and
// accented text as itself. (Tags at the end of a file, ID3v1 and APE, are not there yet when a
// download starts playing; FFmpeg keeps only the first of an ID3v2.4 list.)
TEST_F(TagReference, ADownloadShowsTheSameTexts) {
  ASSERT_FALSE(rows->empty());
  FixtureServer server;
  server.ServeFolder(dir->File(""));
  for (const char* name : {"id3v23-gbk.mp3", "id3v23-latin1.mp3", "id3v24-utf8.mp3", "id3v22.mp3", "ilst.m4a",
                           "info-gbk.wav", "text-latin1.aif"}) {
    const std::string url = server.Url(std::string("/") + name);
    const HSTREAM stream = BASS_StreamCreateURL(url.c_str(), 0, BASS_STREAM_DECODE, nullptr, nullptr);
    ASSERT_NE(stream, 0u) << name << " " << BASS_ErrorGetCode();
    for (const Row& row : *rows) {
      if (row.file != name || row.expected.find(" / ") != std::string::npos) continue;  // a list: FFmpeg keeps one
      EXPECT_EQ(TAGS_Read(stream, Code(row.field).c_str()), row.expected) << name << " " << row.field;
    }
    BASS_StreamFree(stream);
  }
}

}  // namespace
}  // namespace orvane::test
