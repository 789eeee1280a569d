#pragma once
// Tag reading of the library's streams (the classic tag add-on's one call), and of files without
// a stream (TAGS_OpenFile and the three calls after it, this library's own).

#include "bass.h"

#ifdef __cplusplus
extern "C" {
#endif

// Formats handle's tags as text: fmt is copied with every %XXXX field replaced by its value —
//   %TITL title, %ARTI artist, %ALBM album, %GNRE genre, %YEAR year, %CMNT comment,
//   %TRCK track number, %COMP composer, %COPY copyright, %AART album artist, %% a percent sign.
// Values are a file's tags as TAGS_OpenFile reads them (a download's: FFmpeg's metadata); a field
// that is absent gives empty text. Text is UTF-8, blanks kept, several values of one field joined
// by " / ". Text the file declares UTF-8 or UTF-16 is taken as it is; ID3v1 bytes written in GBK
// and ID3v2 "Latin-1" frames that really hold GBK come out as the Chinese text they are, and real
// Latin-1 accents stay.
// Returns a pointer into a per-thread buffer, valid until the calling thread's next TAGS_Read or
// TAGS_FileRead; empty text (never NULL) with BASS_ERROR_HANDLE for an invalid handle. Any thread.
const char* TAGS_Read(DWORD handle, const char* fmt);

// A file's tags and length read from its headers alone: no decoder is opened for the common
// formats (MPEG audio, AAC, FLAC, Ogg, WAV, AIFF, MP4, WMA), no stream is made, BASS_Init is not
// needed, and anything but a regular file (a FIFO, a device, a folder) fails at once without
// being opened for reading. Other content (tracker modules, Musepack) is read by the decoder.
// NULL with BASS_ERROR_FILEOPEN (missing, unreadable, not a regular file) or BASS_ERROR_FILEFORM
// (not audio) on failure. Any thread; free the result with TAGS_CloseFile.
typedef struct TAGS_FILE TAGS_FILE;
TAGS_FILE* TAGS_OpenFile(const char* file);
// As TAGS_Read, for an opened file. Empty text with BASS_ERROR_HANDLE for NULL.
const char* TAGS_FileRead(const TAGS_FILE* tags, const char* fmt);
// The length in seconds; -1 when the file's headers do not tell it.
double TAGS_FileSeconds(const TAGS_FILE* tags);
void TAGS_CloseFile(TAGS_FILE* tags);

#ifdef __cplusplus
}
#endif
