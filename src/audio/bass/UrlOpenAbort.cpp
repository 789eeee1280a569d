#include "UrlOpenAbort.h"

#include <utility>

#include "UrlSource.h"

namespace orvane::bass {
namespace {

thread_local std::shared_ptr<UrlOpenAbort> current;

}  // namespace

void UrlOpenAbort::Abort() {
  // Under the lock, so a download the open has let go of (Detach) is never cut afterwards. The
  // source's own lock comes second here and nowhere the other way round.
  auto s = state.Lock();
  s->aborted = true;
  if (s->download) s->download->Abort();
}

bool UrlOpenAbort::Aborted() const { return state.Lock()->aborted; }

bool UrlOpenAbort::Attach(const std::shared_ptr<UrlSource>& source) {
  auto s = state.Lock();
  if (s->aborted) {
    source->Abort();
    return false;
  }
  s->download = source;
  return true;
}

void UrlOpenAbort::Detach() { state.Lock()->download.reset(); }

UrlOpenAbortScope::UrlOpenAbortScope(std::shared_ptr<UrlOpenAbort> abort) : previous(std::move(current)) {
  current = std::move(abort);
}

UrlOpenAbortScope::~UrlOpenAbortScope() { current = std::move(previous); }

UrlOpenWatch::UrlOpenWatch(const std::shared_ptr<UrlSource>& source) : abort(current) {
  if (abort) abort->Attach(source);
}

UrlOpenWatch::~UrlOpenWatch() {
  if (abort) abort->Detach();
}

}  // namespace orvane::bass
