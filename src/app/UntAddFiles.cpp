// See UntAddFiles.h for the threads.
#include "app/UntAddFiles.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace orvane::app {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool HasExtension(const std::string& name, const std::vector<std::string>& extensions) {
  const std::string lower = Lower(name);
  return std::any_of(extensions.begin(), extensions.end(), [&lower](const std::string& ext) {
    return lower.size() > ext.size() && lower.compare(lower.size() - ext.size(), ext.size(), ext) == 0;
  });
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// One name against another as a file manager lists them: runs of digits by their value ("2 b.mp3"
// before "10 a.mp3"), letters without regard to case.
int CompareNatural(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      size_t endA = i, endB = j;
      while (endA < a.size() && IsDigit(a[endA])) ++endA;
      while (endB < b.size() && IsDigit(b[endB])) ++endB;
      size_t startA = i, startB = j;
      while (startA + 1 < endA && a[startA] == '0') ++startA;
      while (startB + 1 < endB && b[startB] == '0') ++startB;
      if (endA - startA != endB - startB) return endA - startA < endB - startB ? -1 : 1;
      const int digits = a.compare(startA, endA - startA, b, startB, endB - startB);
      if (digits != 0) return digits;
      i = endA;
      j = endB;
      continue;
    }
    // Letter case does not part names that differ only in it ("b" between "a" and "C").
    const auto ca = static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(a[i])));
    const auto cb = static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(b[j])));
    if (ca != cb) return ca < cb ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
  return a.compare(b);  // "01" and "1", "a" and "A": any fixed order
}

// Folder by folder, so a folder's songs stay together: "a/b/x.mp3" before "a/b c.mp3".
bool PathBefore(const fs::path& a, const fs::path& b) {
  auto i = a.begin(), j = b.begin();
  for (; i != a.end() && j != b.end(); ++i, ++j) {
    const int order = CompareNatural(i->string(), j->string());
    if (order != 0) return order < 0;
  }
  return i == a.end() && j != b.end();
}

// A FIFO or a device named like a song would block the tag reader; a missing file just fails.
bool MayHoldTags(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode);
}

}  // namespace

std::vector<std::string> FilterExtensions(const std::string& filter) {
  std::vector<std::string> extensions;
  const auto bar = filter.find('|');
  std::string patterns = bar == std::string::npos ? filter : filter.substr(bar + 1);
  size_t start = 0;
  while (start <= patterns.size()) {
    const auto end = std::min(patterns.find(';', start), patterns.size());
    std::string pattern = patterns.substr(start, end - start);
    start = end + 1;
    if (pattern.rfind("*.", 0) != 0 || pattern.size() < 3) continue;
    std::string extension = Lower(pattern.substr(1));
    if (std::find(extensions.begin(), extensions.end(), extension) == extensions.end())
      extensions.push_back(std::move(extension));
  }
  return extensions;
}

std::vector<std::string> FindSongs(const std::vector<std::string>& paths, const std::vector<std::string>& extensions,
                                   const std::function<bool()>& stop) {
  std::vector<fs::path> songs;
  for (const std::string& path : paths) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec) continue;
    if (!fs::is_directory(status)) {
      if (HasExtension(fs::path(path).filename().string(), extensions)) songs.emplace_back(path);
      continue;
    }
    // Links to folders are not followed below the dropped folder, so a link loop cannot trap the walk.
    fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (stop && stop()) return {};
      std::error_code entryError;
      if (it->is_regular_file(entryError) && HasExtension(it->path().filename().string(), extensions))
        songs.push_back(it->path());
    }
  }
  std::sort(songs.begin(), songs.end(), PathBefore);
  songs.erase(std::unique(songs.begin(), songs.end()), songs.end());
  std::vector<std::string> result;
  result.reserve(songs.size());
  for (const fs::path& song : songs) result.push_back(song.string());
  return result;
}

namespace {
// Often enough that rows appear as they are read, seldom enough that a thousand rows make a few
// dozen insertions rather than a thousand.
constexpr int kDrainIntervalMs = 40;
}  // namespace

TAddFilesThread::TAddFilesThread(TReadTags readTags, THandlers handlers)
    : readTags(std::move(readTags)), handlers(std::move(handlers)) {
  drainTimer.setInterval(kDrainIntervalMs);
  QObject::connect(&drainTimer, &QTimer::timeout, [this] { Drain(); });
}

TAddFilesThread::~TAddFilesThread() {
  {
    std::lock_guard lock(mutex);
    stopping = true;
    ++generation;
    jobs.clear();
  }
  wake.notify_all();
  if (worker.joinable()) worker.join();
}

uint64_t TAddFilesThread::Add(std::vector<std::string> paths, std::vector<std::string> extensions) {
  std::lock_guard lock(mutex);
  const uint64_t id = ++nextJob;
  if (!extensions.empty()) {
    jobs.push_back({id, std::move(paths), std::move(extensions)});
  } else {
    // Known at once: the progress line shows the whole count from the start.
    found += static_cast<int>(paths.size());
    jobs.push_back({id, std::move(paths), {}});
  }
  if (!worker.joinable()) worker = std::thread([this] { Run(); });
  wake.notify_one();
  drainTimer.start();
  return id;
}

void TAddFilesThread::Cancel() {
  std::lock_guard lock(mutex);
  ++generation;
  jobs.clear();
  pending.clear();
  found = 0;
  delivered = 0;
}

bool TAddFilesThread::Busy() const {
  std::lock_guard lock(mutex);
  return working || !jobs.empty() || !pending.empty() || drainTimer.isActive();
}

void TAddFilesThread::Run() {
  // Behind the window in the queue for the processor: on a busy machine the tags may take longer,
  // but clicks and repaints do not wait for them.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
  std::unique_lock lock(mutex);
  for (;;) {
    wake.wait(lock, [this] { return stopping || !jobs.empty(); });
    if (stopping) return;
    const TJob job = std::move(jobs.front());
    jobs.pop_front();
    const uint64_t jobGeneration = generation;
    working = true;
    lock.unlock();
    RunJob(job, jobGeneration);
    lock.lock();
    working = false;
  }
}

void TAddFilesThread::RunJob(const TJob& job, uint64_t jobGeneration) {
  const auto stale = [this, jobGeneration] {
    std::lock_guard lock(mutex);
    return stopping || generation != jobGeneration;
  };
  std::vector<std::string> files = job.Paths;
  if (!job.Extensions.empty()) {
    files = FindSongs(job.Paths, job.Extensions, stale);
    std::lock_guard lock(mutex);
    if (generation != jobGeneration) return;
    found += static_cast<int>(files.size());
  }
  for (const std::string& file : files) {
    if (stale()) return;
    TAddedFile row = ReadFile(job.Id, file);
    std::lock_guard lock(mutex);
    if (stopping || generation != jobGeneration) return;
    pending.push_back(std::move(row));
  }
}

TAddedFile TAddFilesThread::ReadFile(uint64_t job, const std::string& path) const {
  TAddedFile row;
  row.Job = job;
  row.Path = path;
  if (readTags && MayHoldTags(path)) {
    try {
      readTags(path, row.Tags);
    } catch (...) {
      row.Tags = {};
    }
  }
  return row;
}

void TAddFilesThread::Drain() {
  std::vector<TAddedFile> rows;
  int done = 0, total = 0;
  bool finished = false;
  {
    std::lock_guard lock(mutex);
    rows.swap(pending);
    delivered += static_cast<int>(rows.size());
    done = delivered;
    total = found;
    finished = !working && jobs.empty();
    if (finished) {
      found = 0;
      delivered = 0;
    }
  }
  if (finished) drainTimer.stop();
  if (!rows.empty() && handlers.Rows) handlers.Rows(rows);
  if (finished) {
    if (handlers.Finished) handlers.Finished();
  } else if (handlers.Progress) {
    handlers.Progress(done, total);
  }
}

}  // namespace orvane::app
