#pragma once
// Giving up a BASS_StreamCreateURL that is still waiting for the network, from another thread. The
// classic interface has no such call; a player whose user skips a song that is still connecting
// needs it, or the abandoned open holds a connection and a thread for up to five network
// time-outs, and its late result has to be thrown away.
//
//   auto abort = std::make_shared<orvane::bass::UrlOpenAbort>();
//   // on the thread that opens:
//   {
//     orvane::bass::UrlOpenAbortScope scope(abort);
//     stream = BASS_StreamCreateURL(url, 0, 0, proc, user);
//   }
//   // on any other thread, before, during or after the open:
//   abort->Abort();  // the open fails with BASS_ERROR_ENDED at once, or soon after
//
// An open aborted after it has succeeded is not undone: its stream is the caller's to free.
//
// Threads: Abort from any thread, any number of times. A scope belongs to the thread that made it
// and covers that thread's BASS_StreamCreateURL calls until it ends.

#include <memory>

#include "Guarded.h"

namespace orvane::bass {

class UrlSource;

class UrlOpenAbort {
 public:
  void Abort();
  bool Aborted() const;

  // The library's side: the download an open on the scope's thread is waiting for. Attach is
  // false when the open has been aborted already (and then aborts the download at once).
  bool Attach(const std::shared_ptr<UrlSource>& source);
  void Detach();

 private:
  struct State {
    bool aborted = false;
    std::shared_ptr<UrlSource> download;  // the open in progress, if any
  };
  mutable Guarded<State> state;
};

class UrlOpenAbortScope {
 public:
  explicit UrlOpenAbortScope(std::shared_ptr<UrlOpenAbort> abort);
  ~UrlOpenAbortScope();
  UrlOpenAbortScope(const UrlOpenAbortScope&) = delete;
  UrlOpenAbortScope& operator=(const UrlOpenAbortScope&) = delete;

 private:
  std::shared_ptr<UrlOpenAbort> previous;
};

// The library's side, for one open: ties source to the calling thread's abort, if any, while the
// watch lives. Aborted() once the open has been given up.
class UrlOpenWatch {
 public:
  explicit UrlOpenWatch(const std::shared_ptr<UrlSource>& source);
  ~UrlOpenWatch();
  UrlOpenWatch(const UrlOpenWatch&) = delete;
  UrlOpenWatch& operator=(const UrlOpenWatch&) = delete;
  bool Aborted() const { return abort && abort->Aborted(); }

 private:
  std::shared_ptr<UrlOpenAbort> abort;
};

}  // namespace orvane::bass
