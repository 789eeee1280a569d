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
constexpr int kDeliverIntervalMs = 40;

// Tags are read from files only: a URL handed over with local files is added as it is.
bool IsUrl(const std::string& path) {
  const auto scheme = path.find("://");
  return scheme != std::string::npos && scheme > 0 && path.find('/') > scheme;
}
}  // namespace

TAddFilesThread::TAddFilesThread(TReadTags readTags, THandlers handlers)
    : readTags(std::move(readTags)), handlers(std::move(handlers)) {
  deliverLater.setSingleShot(true);
  QObject::connect(&deliverLater, &QTimer::timeout, [this] { Drain(); });
}

TAddFilesThread::~TAddFilesThread() {
  relay.Close();
  {
    std::lock_guard lock(mutex);
    stopping = true;
    ++generation;
    jobs.clear();
  }
  wake.notify_all();
  if (worker.joinable()) worker.join();
}

uint64_t TAddFilesThread::Add(std::vector<std::string> paths, std::vector<std::string> extensions, TSearch search) {
  if (extensions.empty()) search = TSearch::None;
  std::lock_guard lock(mutex);
  const uint64_t id = ++nextJob;
  // Known at once: the progress line shows the whole count from the start.
  if (search == TSearch::None) found += static_cast<int>(paths.size());
  jobs.push_back({id, std::move(paths), std::move(extensions), search});
  if (!worker.joinable()) worker = std::thread([this] { Run(); });
  wake.notify_one();
  active = true;
  return id;
}

void TAddFilesThread::Cancel() {
  {
    std::lock_guard lock(mutex);
    ++generation;
    jobs.clear();
    pending.clear();
    found = 0;
    delivered = 0;
  }
  // An idle worker posts nothing more: the end of the work is reported from here.
  if (active) PostDelivery();
}

bool TAddFilesThread::Busy() const {
  std::lock_guard lock(mutex);
  return working || !jobs.empty() || !pending.empty() || active;
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
    if (jobs.empty()) {
      // Idle: the main thread learns that everything is delivered.
      lock.unlock();
      PostDelivery();
      lock.lock();
    }
  }
}

std::vector<std::string> TAddFilesThread::JobFiles(const TJob& job, const std::function<bool()>& stale) const {
  switch (job.Search) {
    case TSearch::None:
      return job.Paths;
    case TSearch::All:
      return FindSongs(job.Paths, job.Extensions, stale);
    case TSearch::Folders:
      break;
  }
  std::vector<std::string> files;
  for (const std::string& path : job.Paths) {
    std::error_code ec;
    if (!IsUrl(path) && fs::is_directory(path, ec)) {
      std::vector<std::string> songs = FindSongs({path}, job.Extensions, stale);
      files.insert(files.end(), std::make_move_iterator(songs.begin()), std::make_move_iterator(songs.end()));
    } else {
      files.push_back(path);
    }
  }
  return files;
}

void TAddFilesThread::RunJob(const TJob& job, uint64_t jobGeneration) {
  const auto stale = [this, jobGeneration] {
    std::lock_guard lock(mutex);
    return stopping || generation != jobGeneration;
  };
  std::vector<std::string> files = JobFiles(job, stale);
  if (job.Search != TSearch::None) {
    {
      std::lock_guard lock(mutex);
      if (generation != jobGeneration) return;
      found += static_cast<int>(files.size());
    }
    PostDelivery();  // the progress line shows what was found
  }
  for (const std::string& file : files) {
    if (stale()) return;
    TAddedFile row = ReadFile(job.Id, file);
    {
      std::lock_guard lock(mutex);
      if (stopping || generation != jobGeneration) return;
      pending.push_back(std::move(row));
    }
    PostDelivery();
  }
}

TAddedFile TAddFilesThread::ReadFile(uint64_t job, const std::string& path) const {
  TAddedFile row;
  row.Job = job;
  row.Path = path;
  if (readTags && !IsUrl(path) && MayHoldTags(path)) {
    try {
      readTags(path, row.Tags);
    } catch (...) {
      row.Tags = {};
    }
  }
  return row;
}

void TAddFilesThread::PostDelivery() {
  {
    std::lock_guard lock(mutex);
    if (deliveryPosted) return;
    deliveryPosted = true;
  }
  relay.Post([this] { Deliver(); });
}

void TAddFilesThread::Deliver() {
  if (deliverLater.isActive()) return;  // the delayed one takes this news too
  const qint64 since = lastDrain.isValid() ? lastDrain.elapsed() : kDeliverIntervalMs;
  if (since >= kDeliverIntervalMs) {
    Drain();
    return;
  }
  deliverLater.start(static_cast<int>(kDeliverIntervalMs - since));
}

void TAddFilesThread::Drain() {
  std::vector<TAddedFile> rows;
  int done = 0, total = 0;
  bool finished = false;
  {
    std::lock_guard lock(mutex);
    // From here on, news from the worker needs a hand-off of its own.
    deliveryPosted = false;
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
  if (!rows.empty()) lastDrain.restart();
  const bool reportEnd = finished && active;
  if (finished) active = false;
  if (!rows.empty() && handlers.Rows) handlers.Rows(rows);
  if (reportEnd) {
    if (handlers.Finished) handlers.Finished();
  } else if (!finished && total > 0 && handlers.Progress) {
    handlers.Progress(done, total);
  }
}

}  // namespace orvane::app
