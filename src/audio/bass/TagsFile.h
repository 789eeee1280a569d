#pragma once
// Tags and length of an audio file read from its headers alone, without a decoder: ID3v2, ID3v1
// and APEv2 tags; MPEG audio (layers I to III), ADTS AAC, FLAC, Ogg (Vorbis, Opus, FLAC, Speex),
// WAV, AIFF, MP4/M4A, ASF/WMA and Musepack. Other content (tracker modules) is handed to the
// decoder once, as every stream is. Streams take their length from here too (Decoder.h), so the
// list and the seek bar agree with what plays: MPEG audio by the frame count of its Xing/Info/VBRI
// header where that covers the data, else by a walk over its frame headers; ADTS by such a walk;
// a FLAC stream that does not count its samples by its last frame.
//
// Threads: any thread; nothing is shared but the decoder module, which loads itself once.

#include <cstdint>
#include <map>
#include <string>

namespace orvane::bass {

// What the headers showed the content to be.
enum class AudioFormat { Unknown, Mpeg, Adts, Flac, Ogg, Wav, Aiff, Mp4, Asf, Musepack };

struct FileTags {
  // Keys as the decoder names them (title, artist, album, genre, date, comment, track, composer,
  // copyright, album_artist, disc); values as the file holds them: UTF-8 where the format says
  // so, ID3v2 "Latin-1" text as Latin-1 read into UTF-8, ID3v1/RIFF/AIFF text as raw bytes.
  std::map<std::string, std::string> tags;
  double seconds = -1;  // length; -1 when the headers do not tell it
  AudioFormat format = AudioFormat::Unknown;
};

// BASS_OK, or BASS_ERROR_FILEOPEN (missing, unreadable, or not a regular file: a FIFO, a device
// or a folder fails at once, without being opened for reading) or BASS_ERROR_FILEFORM (not audio).
int ReadFileTags(const std::string& path, FileTags& out);

class ByteSource;
// The same from a decoder's source (which must allow seeking), without the decoder fallback:
// false when the content is none of the formats read from their headers. Moves the source.
bool ReadSourceTags(ByteSource& source, FileTags& out);

}  // namespace orvane::bass
