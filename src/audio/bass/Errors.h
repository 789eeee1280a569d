#pragma once
// Per-thread last error of the library's calls (BASS_ErrorGetCode), as the classic interface keeps
// it: every call sets it, BASS_OK on success.

#include "bass.h"

namespace orvane::bass {

void SetError(int code);
int LastError();

// Sets code and returns value: `return Fail(BASS_ERROR_HANDLE, FALSE);`
template <typename T>
T Fail(int code, T value) {
  SetError(code);
  return value;
}

// Sets BASS_OK and returns value.
template <typename T>
T Succeed(T value) {
  SetError(BASS_OK);
  return value;
}

}  // namespace orvane::bass
