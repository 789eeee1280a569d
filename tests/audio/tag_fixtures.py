#!/usr/bin/python3
"""Writes the tag fixtures of tag_reference_test into a folder and prints one line per file and
field: file, field, what mutagen reads there, and what the player must show.

The tags are written with tools nobody here wrote (mutagen, ffmpeg) wherever they can write them;
the few layouts they cannot (ID3v1 in GBK, ID3v2.2) are laid out by hand below. What the player
must show is mutagen's reading, except where raw legacy bytes are the point (GBK from Chinese
Windows, RIFF INFO and AIFF text that mutagen does not read): there the expected text is stated.

Usage: tag_fixtures.py FOLDER   (prints tab-separated lines: file, field, mutagen, expected)
"""

import os
import shutil
import subprocess
import sys

import mutagen
from mutagen.apev2 import APEv2
from mutagen.flac import FLAC
from mutagen.id3 import ID3, TALB, TIT2, TPE1
from mutagen.id3 import delete as delete_id3
from mutagen.mp4 import MP4
from mutagen.oggopus import OggOpus
from mutagen.oggvorbis import OggVorbis

FIELDS = ("title", "artist", "album")
JOIN = " / "  # how the player shows several values of one field

# Base audio: 0.3 s of tone, without tags of the encoder's own. The 48 kHz MP3 and the Opus and
# M4A files are decoded through FFmpeg, the others through libsndfile: both stream paths are seen.
BASES = {
    "mp3": (["-c:a", "libmp3lame", "-id3v2_version", "0", "-write_xing", "0"], 44100, "mp3"),
    "mp3-48k": (["-c:a", "libmp3lame", "-id3v2_version", "0", "-write_xing", "0"], 48000, "mp3"),
    "flac": (["-c:a", "flac"], 44100, "flac"),
    "ogg": (["-c:a", "libvorbis"], 44100, "ogg"),
    "opus": (["-c:a", "libopus", "-f", "ogg"], 48000, "opus"),
    "m4a": (["-c:a", "aac"], 44100, "m4a"),
}


def ffmpeg(args, path, rate=44100):
    source = "sine=frequency=440:sample_rate=%d:duration=0.3" % rate
    subprocess.run([b"ffmpeg", b"-nostdin", b"-loglevel", b"error", b"-y", b"-f", b"lavfi", b"-i", source.encode(),
                    b"-fflags", b"+bitexact", b"-map_metadata", b"-1"]
                   + [a if isinstance(a, bytes) else a.encode() for a in args] + [path.encode()], check=True)


def make_bases(folder):
    paths = {}
    for name, (args, rate, ext) in BASES.items():
        paths[name] = os.path.join(folder, "base-%s.%s" % (name, ext))
        ffmpeg(args, paths[name], rate)
    return paths


# ---- writers: each takes the fixture's path (a copy of its base) and its tags -------------------

def id3v2(version, encoding):
    def write(path, tags):
        tag = ID3()
        for frame, field in ((TIT2, "title"), (TPE1, "artist"), (TALB, "album")):
            values = tags[field] if isinstance(tags[field], list) else [tags[field]]
            # Bytes go into a frame marked Latin-1 as they are (what Chinese Windows taggers did).
            values = [v.decode("latin-1") if isinstance(v, bytes) else v for v in values]
            tag.add(frame(encoding=encoding, text=values))
        tag.save(path, v2_version=version)
    return write


def id3v1_by_mutagen(path, tags):
    """ID3v1 alone: mutagen writes it from ID3v2 frames; the ID3v2 tag is removed again."""
    id3v2(3, 0)(path, tags)
    ID3(path).save(path, v1=2, v2_version=3)
    delete_id3(path, delete_v1=False, delete_v2=True)


def id3v1_raw(path, tags):
    """ID3v1 with raw bytes in its fields, NUL-padded (mutagen writes Latin-1 only)."""
    def field(value, size):
        return value[:size].ljust(size, b"\0")
    tag = b"TAG" + field(tags["title"], 30) + field(tags["artist"], 30) + field(tags["album"], 30)
    tag += b"2004" + field(b"", 30) + b"\xff"
    with open(path, "ab") as f:
        f.write(tag)


def id3v22(path, tags):
    """ID3v2.2 (three-letter frame names, three-byte sizes): no tool here writes it any more."""
    def frame(name, text):
        if isinstance(text, bytes):
            data = b"\x00" + text
        else:
            data = b"\x01" + text.encode("utf-16")  # with a byte-order mark
        return name + len(data).to_bytes(3, "big") + data
    body = frame(b"TT2", tags["title"]) + frame(b"TP1", tags["artist"]) + frame(b"TAL", tags["album"])
    body += b"\0" * 64  # padding
    size = len(body)
    syncsafe = bytes([(size >> 21) & 0x7F, (size >> 14) & 0x7F, (size >> 7) & 0x7F, size & 0x7F])
    with open(path, "rb") as f:
        audio = f.read()
    with open(path, "wb") as f:
        f.write(b"ID3\x02\x00\x00" + syncsafe + body + audio)


def vorbis(kind):
    def write(path, tags):
        f = kind(path)
        for field in FIELDS:
            f[field] = tags[field]
        f.save()
    return write


def mp4(path, tags):
    f = MP4(path)
    for field, atom in (("title", "\xa9nam"), ("artist", "\xa9ART"), ("album", "\xa9alb")):
        f[atom] = tags[field]
    f.save()


def ape(path, tags):
    f = APEv2()
    for field in FIELDS:
        value = tags[field]
        f[field.capitalize()] = value if isinstance(value, list) else [value]
    f.save(path)


def ffmpeg_text(path, tags):
    """RIFF INFO or AIFF text chunks, written by ffmpeg with the bytes as given."""
    ext = os.path.splitext(path)[1]
    keys = {"title": b"title", "artist": b"author" if ext == ".aif" else b"artist", "album": b"album"}
    args = []
    for field in FIELDS:
        if field in tags:
            args += [b"-metadata", keys[field] + b"=" + tags[field]]
    ffmpeg(args + ["-c:a", "pcm_s16le" if ext == ".wav" else "pcm_s16be"], path)


# ---- what mutagen reads -------------------------------------------------------------------------

def mutagen_reading(path, writer):
    if writer is ffmpeg_text:
        return None  # mutagen reads neither RIFF INFO nor AIFF text chunks
    if writer is ape:
        tags = APEv2(path)
        return {field: JOIN.join(tags[field]) if field in tags else "" for field in FIELDS}
    f = mutagen.File(path, easy=True)
    return {field: JOIN.join(f.get(field, [])) for field in FIELDS}


# ---- the table ----------------------------------------------------------------------------------
# file, base, writer, tags written (text, bytes for raw fields, a list for several values), and the
# text expected where mutagen is not the reference.
LATIN = {"title": "Blåøjet Größe", "artist": "Coração", "album": "Déjà vu"}
GBK_TEXT = {"title": "春天里", "artist": "汪峰", "album": "信仰在空中飘扬"}
GBK = {field: text.encode("gbk") for field, text in GBK_TEXT.items()}
LATIN_BYTES = {field: text.encode("latin-1") for field, text in LATIN.items()}

FIXTURES = [
    ("id3v1-gbk.mp3", "mp3", id3v1_raw, GBK, GBK_TEXT),
    ("id3v1-latin1.mp3", "mp3", id3v1_by_mutagen, LATIN, None),
    ("id3v1-latin1-caps.mp3", "mp3", id3v1_by_mutagen,
     {"title": "CORAÇÃO", "artist": "Ærøskøbing", "album": "Müßiggang"}, None),
    ("id3v22.mp3", "mp3", id3v22, {"title": "Coração ".encode("latin-1"), "artist": "周杰伦",
                                   "album": "Blåøjet Größe".encode("latin-1")}, None),
    ("id3v23-latin1.mp3", "mp3", id3v2(3, 0), {"title": "Blåøjet Größe ", "artist": "Coração", "album": "Déjà vu"},
     None),
    ("id3v23-gbk.mp3", "mp3", id3v2(3, 0), GBK, GBK_TEXT),
    ("id3v23-gbk-48k.mp3", "mp3-48k", id3v2(3, 0), GBK, GBK_TEXT),
    ("id3v23-utf16.mp3", "mp3", id3v2(3, 1), {"title": "Coração", "artist": "Blåøjet Größe ", "album": "七里香"}, None),
    ("id3v24-utf8.mp3", "mp3", id3v2(4, 3), {"title": "Blåøjet Größe", "artist": "Coração", "album": "Café 咖啡 "},
     None),
    ("id3v24-utf16.mp3", "mp3", id3v2(4, 1), {"title": "Coração ", "artist": "周杰伦", "album": "Blåøjet Größe"},
     None),
    ("id3v24-multi-48k.mp3", "mp3-48k", id3v2(4, 3),
     {"title": "Coração", "artist": ["Ann", "Blåøjet Größe"], "album": "七里香 "}, None),
    ("vorbis.ogg", "ogg", vorbis(OggVorbis), {"title": "Coração ", "artist": ["Ann", "周杰伦"], "album": "Déjà vu"},
     None),
    ("vorbis.flac", "flac", vorbis(FLAC), {"title": "Blåøjet Größe", "artist": ["周杰伦", "Coração"], "album": "Déjà vu "},
     None),
    ("opus.opus", "opus", vorbis(OggOpus), {"title": "Coração", "artist": ["Ann", "Bob"], "album": "Blåøjet Größe "},
     None),
    ("ilst.m4a", "m4a", mp4, {"title": "Coração ", "artist": ["Ann", "Blåøjet Größe"], "album": "七里香"}, None),
    ("ape.mp3", "mp3", ape, {"title": "Blåøjet Größe ", "artist": ["Ann", "Coração"], "album": "七里香"}, None),
    ("info-gbk.wav", None, ffmpeg_text, GBK, GBK_TEXT),
    ("info-latin1.wav", None, ffmpeg_text, {**LATIN_BYTES, "title": "Blåøjet Größe ".encode("latin-1")},
     {**LATIN, "title": "Blåøjet Größe "}),
    ("text-gbk.aif", None, ffmpeg_text, {"title": GBK["title"], "artist": GBK["artist"]},
     {"title": GBK_TEXT["title"], "artist": GBK_TEXT["artist"], "album": ""}),
    ("text-latin1.aif", None, ffmpeg_text, {"title": "Coração ".encode("latin-1"), "artist": LATIN_BYTES["title"]},
     {"title": "Coração ", "artist": "Blåøjet Größe", "album": ""}),
]


def main():
    folder = sys.argv[1]
    bases = make_bases(folder)
    for name, base, writer, tags, stated in FIXTURES:
        path = os.path.join(folder, name)
        if base is not None:
            shutil.copy(bases[base], path)
        writer(path, tags)
        read = mutagen_reading(path, writer)
        expected = stated if stated is not None else read
        for field in FIELDS:
            shown = "-" if read is None else read[field]
            print("%s\t%s\t%s\t%s" % (name, field, shown, expected[field]))


if __name__ == "__main__":
    main()
