#pragma once
// TAddFilesThread: adds songs to the music list without holding up the window. Folders are walked
// and tags are read on a worker thread; the rows go to the main thread in file order, a batch every
// few dozen milliseconds, so a thousand files never freeze the window and the list is not
// re-laid out for every single row.
//
// Threads: create, feed (Add), cancel and destroy the object on the main thread, which must run a
// Qt event loop. The worker reads only the jobs handed to it and calls ReadTags, which must be safe
// on any thread; it never calls into the main thread. Rows collect in `pending` under `mutex`, and
// a timer on the main thread, running only while something is being added, takes whatever has
// collected, so a row read is never held back behind a file the worker is still reading. The
// destructor stops the worker and waits for the file it is on.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/IAudioEngine.h"

#include <QTimer>

namespace orvane::app {

struct TAddedFile {
  uint64_t Job = 0;  // the Add call it came from
  std::string Path;
  audio::TTags Tags;  // empty when the file could not be read
};

// The extensions of an engine filter ("所有音乐|*.mp3;*.ogg") in lower case, with their dot.
std::vector<std::string> FilterExtensions(const std::string& filter);

// The songs among paths: a folder gives every file below it (sub-folders too, without following
// links to folders), a file stays; only names ending in one of extensions (any letter case) count.
// In path order as a file manager lists it: folder by folder, numbers in names by value ("2" before
// "10"), letters without regard to case. stop() ends the walk early (nothing is returned then).
std::vector<std::string> FindSongs(const std::vector<std::string>& paths, const std::vector<std::string>& extensions,
                                   const std::function<bool()>& stop = {});

class TAddFilesThread {
 public:
  using TReadTags = std::function<void(const std::string& path, audio::TTags& tags)>;

  struct THandlers {
    // Rows in the order they were read; each batch continues the last.
    std::function<void(std::vector<TAddedFile>& rows)> Rows;
    // files done and files found so far, after every batch and while folders are walked.
    std::function<void(int done, int total)> Progress;
    // Every file of every Add so far is delivered.
    std::function<void()> Finished;
  };

  TAddFilesThread(TReadTags readTags, THandlers handlers);
  ~TAddFilesThread();
  TAddFilesThread(const TAddFilesThread&) = delete;
  TAddFilesThread& operator=(const TAddFilesThread&) = delete;

  // Queues files to add, in the given order. With extensions set, paths are searched as FindSongs
  // does (dropped files and folders); without, every path is added as it is (the file dialog's
  // choice). Returns the job number the rows will carry.
  uint64_t Add(std::vector<std::string> paths, std::vector<std::string> extensions = {});
  // Drops every queued file and every row not delivered yet.
  void Cancel();
  // A job is queued, running or not yet delivered.
  bool Busy() const;

 private:
  struct TJob {
    uint64_t Id = 0;
    std::vector<std::string> Paths;
    std::vector<std::string> Extensions;
  };

  void Run();
  void RunJob(const TJob& job, uint64_t generation);
  TAddedFile ReadFile(uint64_t job, const std::string& path) const;
  void Drain();

  TReadTags readTags;
  THandlers handlers;
  QTimer drainTimer;  // main thread; runs while a job is queued, running or not delivered

  mutable std::mutex mutex;
  std::condition_variable wake;
  std::deque<TJob> jobs;
  std::vector<TAddedFile> pending;
  bool working = false;  // the worker is on a job
  bool stopping = false;
  uint64_t generation = 0;  // bumped by Cancel: older jobs and rows are dropped
  uint64_t nextJob = 0;
  int found = 0;      // files found by the jobs since the worker was last idle
  int delivered = 0;  // rows handed to the main thread since then
  std::thread worker;
};

}  // namespace orvane::app
