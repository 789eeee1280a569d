#pragma once
// The interface of the lyric provider library liblrcdown.so, shared by the library and its
// callers. The library has one export, LRC_CreateObj, which hands out a reference-counted object.
//
// Binary interface (Linux x86-64): the default System V calling convention and the Itanium C++
// ABI. The methods below occupy the object's method table in declaration order — positions 1 to 3
// the reference-counting base, 4 and 6 placeholders nobody calls, 5 and 7 to 10 the operations —
// with the object pointer passed first. The interfaces have no virtual destructor on purpose:
// one would add table entries; an object is freed by its last Release. Texts are zero-terminated
// UTF-8.
//
// Threads: one object may be used from several threads at once. Each calling thread has its own
// result list: SearchLyrics, ResultCount, ResultAt and ClearResults work on the calling thread's
// list only, so a search on one thread never replaces results another thread is reading. Results
// found on one thread and needed on another are handed over as copies (texts and Id).
// DownloadLyric needs no earlier search on the same thread: any result's Id will do.

#include <cstdint>

struct LRC_GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};

inline bool operator==(const LRC_GUID& a, const LRC_GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}

// {14c0620a-e9d5-43e5-a409-68ecfbddd9d0}: the lyric provider interface.
inline constexpr LRC_GUID IID_LrcDown = {0x14c0620a, 0xe9d5, 0x43e5, {0xa4, 0x09, 0x68, 0xec, 0xfb, 0xdd, 0xd9, 0xd0}};
// {00000000-0000-0000-c000-000000000046}: the reference-counting base alone.
inline constexpr LRC_GUID IID_LrcUnknown = {0x00000000, 0x0000, 0x0000, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};

inline constexpr int32_t LRC_S_OK = 0;
// What SearchLyrics and DownloadLyric return when they have no answer.
inline constexpr int32_t LRC_E_CONNECT = -1;  // the server could not be reached or went silent
inline constexpr int32_t LRC_E_ANSWER = -2;   // it answered with an error or with nothing readable
inline constexpr int32_t LRC_E_NOINTERFACE = static_cast<int32_t>(0x80004002u);
inline constexpr int32_t LRC_E_POINTER = static_cast<int32_t>(0x80004003u);

// TLrcResult::Flags: what the record holds, as far as the search told.
inline constexpr uint32_t LRC_RESULT_SYNCED = 1;        // a time-tagged lyric
inline constexpr uint32_t LRC_RESULT_PLAIN = 2;         // the words without times
inline constexpr uint32_t LRC_RESULT_INSTRUMENTAL = 4;  // a track without words
// A result with none of them told nothing: its lyric shows only by downloading it.

// One search result. Library memory, read only; a null text counts as empty.
struct TLrcResult {
  const char* Title;   // the track's name
  const char* Singer;  // the artist
  const char* Extra;   // the album (the search dialog's "ss" column)
  int64_t Id;          // what DownloadLyric takes; the service's record ids outgrow 32 bits
  int32_t DurationMs;  // the recording's length; 0 when unknown
  uint32_t Flags;      // LRC_RESULT_*
};

class ILrcUnknown {
 public:
  // Position 1. IID_LrcDown or IID_LrcUnknown: *object = this with one more reference, LRC_S_OK;
  // anything else: *object = null, LRC_E_NOINTERFACE.
  virtual int32_t QueryInterface(const LRC_GUID* iid, void** object) = 0;
  // Positions 2 and 3; they return the new count.
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

 protected:
  ~ILrcUnknown() = default;
};

class ILrcDown : public ILrcUnknown {
 public:
  // Position 4: not used; returns 0.
  virtual int32_t Reserved4() = 0;
  // Position 5: result index (0 ≤ index < ResultCount) of the calling thread's last search, or null
  // for any other index. Valid until the same thread's next SearchLyrics or ClearResults on this
  // object, or until the object is freed.
  virtual const TLrcResult* ResultAt(int32_t index) = 0;
  // Position 6: not used; returns 0.
  virtual int32_t Reserved6() = 0;
  // Position 7: how many results the calling thread's last search gave (0 when none).
  virtual int32_t ResultCount() = 0;
  // Position 8: empties the calling thread's result list; returns 0.
  virtual int32_t ClearResults() = 0;
  // Position 9: downloads the time-tagged lyric of result id into buffer (size bytes): as much of it
  // as fits whole UTF-8 characters into size − 1 bytes, then a zero; the empty text when the
  // record has no time-tagged lyric or the service has no such record. Returns the length in
  // bytes of the whole lyric (without the zero), so a caller whose buffer was too small (result ≥
  // size) calls again with result + 1 bytes — that call is answered from memory when nothing else
  // was downloaded on the thread in between; LRC_E_CONNECT or LRC_E_ANSWER when there is no answer
  // (buffer then ""). A null buffer or size ≤ 0 only reports the length.
  virtual int32_t DownloadLyric(int64_t id, char* buffer, int32_t size) = 0;
  // Position 10: searches and replaces the calling thread's results. With a title: by title and
  // singer (extra, when not empty, narrows by album), and when that finds nothing and no singer
  // was given, by the title as free text; without a title: the singer and extra as free text;
  // with nothing to search for: no results, and the server is not asked. flags is not used.
  // Returns the number of results, or LRC_E_CONNECT or LRC_E_ANSWER when there is no answer (the
  // list is then empty).
  virtual int32_t SearchLyrics(const char* title, const char* singer, const char* extra, int32_t flags) = 0;

 protected:
  ~ILrcDown() = default;
};

// The export. iid must be IID_LrcDown; returns a new object holding one reference, or null (wrong
// or null iid, out of memory). The object reads, when created:
//   ORVANE_LYRICS_URL         base address of the lyric service (default https://lrclib.net)
//   ORVANE_LYRICS_TIMEOUT_MS  when a positive number: the connect and stall time-outs in ms
//                             instead of 10 s and 30 s (tests use it)
extern "C" ILrcDown* LRC_CreateObj(const LRC_GUID* iid);
using LRC_CreateObjProc = ILrcDown* (*)(const LRC_GUID* iid);
