#include "store/ListSaver.h"

#include <malloc.h>
#include <unistd.h>

#include <algorithm>

#include "store/UYmPlayerlist.h"

namespace orvane::store {

TListSaver::TListSaver(std::function<void(const TListSaveResult&)> done)
    : done(std::move(done)), worker([this] { Run(); }) {
  // A save of a long list holds its file's text (megabytes) for a moment. Such blocks are mapped
  // and unmapped on their own, so they go back to the system at once; left to itself, the C
  // library raises that threshold after the first one and keeps the next ones in its heaps.
  ::mallopt(M_MMAP_THRESHOLD, 1 << 20);
}

TListSaver::~TListSaver() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  wake.notify_one();
  worker.join();
}

uint64_t TListSaver::Queue(TListSave save) {
  uint64_t serial;
  {
    std::lock_guard<std::mutex> lock(mutex);
    serial = ++lastQueued;
    // A waiting save of the same list is out of date: the new one takes its place in the queue.
    const auto same = std::find_if(jobs.begin(), jobs.end(),
                                   [&save](const TJob& job) { return job.Save.ListName == save.ListName; });
    if (same != jobs.end()) {
      *same = {serial, std::move(save)};
    } else {
      jobs.push_back({serial, std::move(save)});
      unwritten.fetch_add(1, std::memory_order_release);
    }
  }
  wake.notify_one();
  return serial;
}

void TListSaver::Flush() {
  std::unique_lock<std::mutex> lock(mutex);
  finished.wait(lock, [this] { return jobs.empty() && !writing; });
}

bool TListSaver::Busy() {
  std::lock_guard<std::mutex> lock(mutex);
  return writing || !jobs.empty();
}

void TListSaver::Run() {
  workerThread.store(static_cast<int>(::gettid()), std::memory_order_release);
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    wake.wait(lock, [this] { return stopping || !jobs.empty(); });
    if (jobs.empty()) return;  // stopping, and nothing left to write
    TJob job = std::move(jobs.front());
    jobs.pop_front();
    writing = true;
    lock.unlock();
    TListSaveResult result = Write(job.Save);
    unwritten.fetch_sub(1, std::memory_order_release);
    result.Serial = job.Serial;
    job = {};  // the snapshot's songs go before anyone is told
    // A big list's file text was built in memory; give it back to the system.
    ::malloc_trim(0);
    if (done) done(result);
    lock.lock();
    writing = false;
    finished.notify_all();
  }
}

TListSaveResult TListSaver::Write(const TListSave& save) {
  TListSaveResult result;
  result.ListName = save.ListName;
  TYkPlist plist(save.FileName, save.RootName, save.ListName);
  plist.SetRewrittenSongs(save.SongName, save.Songs.size(), [&save](size_t i, TPList& song) {
    const TPlayListItem& item = *save.Songs[i];
    song = {item.Title, item.Singer, item.Location, "0", 0};
  });
  if (!plist.LoadedFromFile() && !save.OtherListName.empty()) {
    const std::string otherPath = save.OtherListName + "/" + save.SongName;
    for (const TSong& song : save.OtherSongs) plist.AddItem(otherPath, song->Title, song->Singer, "0", song->Location, 0);
  }
  if (plist.MovedAside()) result.MovedAsidePath = plist.MovedAsidePath();
  result.Ok = plist.Save(&result.Error);
  return result;
}

}  // namespace orvane::store
