#pragma once
// TListSaver: writes the playlist file on a worker thread of its own, so that no list change keeps
// the window waiting, however long the list.
//
// A save rewrites one list element of the file ("PlayerList" or "RndList") with a snapshot of that
// list's songs; the other list stays as the file holds it, or, when the file is gone or cannot be
// read any more, is written from its own snapshot, so a save never loses it. Saves coalesce: a save
// queued while an older one of the same list still waits replaces it, so a burst of changes costs
// one or two writes. They run one at a time in the order they were queued, each file write atomic,
// so the file on disk is always a whole list of some moment, and never an older one after a newer.
//
// Threads: Queue and Flush are called on one thread (the main thread); the worker runs the saves
// and calls `done` once per write, on the worker; the snapshots are shared immutable songs, so the
// worker never looks at the list views.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "store/PlayListItem.h"

namespace orvane::store {

struct TListSave {
  std::string FileName;
  std::string RootName;   // for a file that does not exist yet
  std::string ListName;   // the list element rewritten
  std::string SongName;   // its song elements' name
  TSongList Songs;
  std::string OtherListName;
  TSongList OtherSongs;   // written only when the file holds nothing to keep
};

struct TListSaveResult {
  uint64_t Serial = 0;         // of the newest save this write stands for
  std::string ListName;
  bool Ok = false;
  std::string Error;           // why it failed
  std::string MovedAsidePath;  // the file could not be read and was moved here first
};

class TListSaver {
 public:
  explicit TListSaver(std::function<void(const TListSaveResult&)> done);
  // Writes what is still queued, then stops the worker.
  ~TListSaver();
  TListSaver(const TListSaver&) = delete;
  TListSaver& operator=(const TListSaver&) = delete;

  // Queues a save; returns its serial (increasing).
  uint64_t Queue(TListSave save);
  // Waits until every save queued so far is written (or failed).
  void Flush();
  // A save is waiting or being written.
  bool Busy();
  // For the crash path, which takes no lock: saves queued or under way whose file is not on disk
  // yet, and the worker's thread id (0 until it runs). Async-signal-safe.
  int UnwrittenNow() const noexcept { return unwritten.load(std::memory_order_acquire); }
  int WorkerThreadId() const noexcept { return workerThread.load(std::memory_order_acquire); }

 private:
  struct TJob {
    uint64_t Serial;
    TListSave Save;
  };
  void Run();
  static TListSaveResult Write(const TListSave& save);

  std::function<void(const TListSaveResult&)> done;
  std::mutex mutex;
  std::condition_variable wake;      // the worker: a job arrived or it should stop
  std::condition_variable finished;  // Flush: a job was finished
  std::deque<TJob> jobs;             // at most one per list
  uint64_t lastQueued = 0;
  bool writing = false;              // the worker is writing a job it took off the queue
  bool stopping = false;
  std::atomic<int> unwritten{0};
  std::atomic<int> workerThread{0};
  std::thread worker;
};

}  // namespace orvane::store
