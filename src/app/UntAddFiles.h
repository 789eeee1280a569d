#pragma once
// TAddFilesThread: adds songs to the music list without holding up the window. Folders are walked
// and tags are read on a worker thread; the rows go to the main thread in file order, a batch every
// few dozen milliseconds, so a thousand files never freeze the window and the list is not
// re-laid out for every single row.
//
// Threads: create, feed (Add), cancel and destroy the object on the main thread, which must run a
// Qt event loop. The worker reads only the jobs handed to it and calls ReadTags, which must be safe
// on any thread. Rows collect in `pending` under `mutex`; whenever the worker has something new for
// the main thread (rows, a count of files found, the end of its work) and no hand-off is waiting
// already, it posts one through the relay, so a row read is never held back behind a file the
// worker is still reading, and nothing runs on the main thread while nothing changes. The main
// thread takes whatever has collected, at most once per kDeliverIntervalMs, so a thousand rows make
// a few dozen insertions rather than a thousand. The destructor closes the relay (hand-offs not run
// yet are dropped), stops the worker and waits for the file it is on.

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
#include "net/MainThreadRelay.h"

#include <QElapsedTimer>
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
    // files done and files found so far (once some are found), after every batch.
    std::function<void(int done, int total)> Progress;
    // Every file of every Add so far is delivered.
    std::function<void()> Finished;
  };

  TAddFilesThread(TReadTags readTags, THandlers handlers);
  ~TAddFilesThread();
  TAddFilesThread(const TAddFilesThread&) = delete;
  TAddFilesThread& operator=(const TAddFilesThread&) = delete;

  // How paths given to Add become songs.
  enum class TSearch {
    None,     // every path is added as it is (the file dialog's choice)
    All,      // paths are searched as FindSongs does (dropped files and folders)
    Folders,  // folders are searched as FindSongs does, other paths added as they are (a command
              // line, where the user named each file)
  };
  // Queues files to add, in the given order; extensions are those FindSongs takes. Returns the job
  // number the rows will carry.
  uint64_t Add(std::vector<std::string> paths, std::vector<std::string> extensions = {},
               TSearch search = TSearch::All);
  // Drops every queued file and every row not delivered yet.
  void Cancel();
  // A job is queued, running or not yet delivered.
  bool Busy() const;

 private:
  struct TJob {
    uint64_t Id = 0;
    std::vector<std::string> Paths;
    std::vector<std::string> Extensions;
    TSearch Search = TSearch::None;
  };

  void Run();
  void RunJob(const TJob& job, uint64_t generation);
  std::vector<std::string> JobFiles(const TJob& job, const std::function<bool()>& stale) const;
  TAddedFile ReadFile(uint64_t job, const std::string& path) const;
  // Worker or main thread, without `mutex`: hands the news over unless a hand-off waits already.
  void PostDelivery();
  void Deliver();  // main thread: runs the hand-off now or, right after the last one, a little later
  void Drain();

  TReadTags readTags;
  THandlers handlers;
  // Main thread only.
  bool active = false;          // a job was added and its end not yet reported
  QElapsedTimer lastDrain;      // when rows were last taken
  QTimer deliverLater;          // single shot: the hand-off that came too soon after the last one
  net::TMainThreadRelay relay;  // closed first on destruction: no hand-off runs after that

  mutable std::mutex mutex;
  std::condition_variable wake;
  std::deque<TJob> jobs;
  std::vector<TAddedFile> pending;
  bool working = false;  // the worker is on a job
  bool deliveryPosted = false;  // a hand-off is on its way to the main thread
  bool stopping = false;
  uint64_t generation = 0;  // bumped by Cancel: older jobs and rows are dropped
  uint64_t nextJob = 0;
  int found = 0;      // files found by the jobs since the worker was last idle
  int delivered = 0;  // rows handed to the main thread since then
  std::thread worker;
};

}  // namespace orvane::app
