#include "Errors.h"

namespace orvane::bass {
namespace {
thread_local int lastError = BASS_OK;
}

void SetError(int code) { lastError = code; }
int LastError() { return lastError; }

}  // namespace orvane::bass
