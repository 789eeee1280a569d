#pragma once
// Tag reading of the library's streams (the classic tag add-on's one call).

#include "bass.h"

#ifdef __cplusplus
extern "C" {
#endif

// Formats handle's tags as text: fmt is copied with every %XXXX field replaced by its value —
//   %TITL title, %ARTI artist, %ALBM album, %GNRE genre, %YEAR year, %CMNT comment,
//   %TRCK track number, %COMP composer, %COPY copyright, %AART album artist, %% a percent sign.
// Values come from the container's metadata, then the audio stream's (Ogg comments); a field
// that is absent gives empty text. Text is UTF-8: ID3v1 bytes written in GBK and ID3v2 "Latin-1"
// frames that really hold GBK come out as the Chinese text they are; real Latin-1 accents stay.
// Returns a pointer into a per-thread buffer, valid until the calling thread's next TAGS_Read;
// empty text (never NULL) with BASS_ERROR_HANDLE for an invalid handle. Any thread.
const char* TAGS_Read(DWORD handle, const char* fmt);

#ifdef __cplusplus
}
#endif
