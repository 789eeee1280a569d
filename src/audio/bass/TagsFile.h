#pragma once
// Tags and length of an audio file read from its headers alone, without a decoder: ID3v2, ID3v1
// and APEv2 tags; MPEG audio (layers I to III, with Xing/Info/VBRI frame counts), ADTS AAC, FLAC,
// Ogg (Vorbis, Opus, FLAC, Speex), WAV, AIFF, MP4/M4A and ASF/WMA. Other content (tracker modules,
// Musepack) is handed to the decoder once, as every stream is.
//
// Threads: any thread; nothing is shared but the decoder module, which loads itself once.

#include <cstdint>
#include <map>
#include <string>

namespace orvane::bass {

struct FileTags {
  // Keys as the decoder names them (title, artist, album, genre, date, comment, track, composer,
  // copyright, album_artist, disc); values as readable UTF-8 text, blanks kept, several values of
  // one field joined by " / ". Text the format declares is decoded as declared; only raw bytes
  // (ID3v1, ID3v2 frames marked Latin-1, RIFF INFO, AIFF text) are read as GBK or Latin-1, by
  // whichever their bytes show.
  std::map<std::string, std::string> tags;
  double seconds = -1;  // length; -1 when the headers do not tell it
};

// BASS_OK, or BASS_ERROR_FILEOPEN (missing, unreadable, or not a regular file: a FIFO, a device
// or a folder fails at once, without being opened for reading) or BASS_ERROR_FILEFORM (not audio).
int ReadFileTags(const std::string& path, FileTags& out);

// FFmpeg's metadata (a stream the header readers cannot read: a download, a tracker module) made
// readable in place. FFmpeg hands ID3v1, RIFF INFO and AIFF text over as the raw bytes and ID3v2
// frames marked Latin-1 read as Latin-1, without saying which value came from where: bytes that
// are not UTF-8 are read as legacy text, and text within Latin-1 is turned back into its bytes and
// read as GBK when they clearly are (text::RepairLatin1Misread), so "Coração" stays as it is.
void MakeDecoderTagsReadable(std::map<std::string, std::string>& tags);

class ByteSource;
// The same from a decoder's source (which must allow seeking), without the decoder fallback:
// false when the content is none of the formats read from their headers. Moves the source.
bool ReadSourceTags(ByteSource& source, FileTags& out);

}  // namespace orvane::bass
