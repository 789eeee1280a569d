#pragma once
// Orvane's audio library: decoding, output, URL streams, a parametric equaliser and format
// plug-ins behind the classic 2.4 C interface (names, types, record layouts and numeric values of
// that interface), so code written against it compiles unchanged on either side.
//
// Built on libmpg123, libFLAC, libsndfile and FFmpeg (decoding), SDL2 audio (output) and libcurl
// (URL streams).
//
// ---------------------------------------------------------------------------------------------
// Channel format. Every stream, whatever its source, is decoded and resampled to ONE format:
//     44,100 Hz, 2 channels (left, right interleaved), 32-bit float samples
//     = 8 bytes per frame, 352,800 bytes per second.
// All byte positions and lengths of a channel (BASS_ChannelGetLength, BASS_ChannelGetPosition,
// BASS_ChannelSetPosition, BASS_ChannelGetData) count bytes of that format, as 64-bit values.
// BASS_ChannelBytes2Seconds(h, b) = b / 352800, and BASS_ChannelSeconds2Bytes(h, s) is 8 times the
// first frame at or after s (so a position set in milliseconds reads back as the same
// milliseconds): the two are exact inverses on frame boundaries.
//
// Length: what a file's headers count (an MPEG stream's Info frame or its frames themselves, FLAC's
// STREAMINFO, ...), else the container's duration, until the decoder reaches the end of the
// stream; from then on the exact number of frames decoded.
//
// Position: what is being heard — frames handed to the sound device minus what the device still
// buffers (one device period, about 23 ms) — not what was decoded ahead.
//
// ---------------------------------------------------------------------------------------------
// Threads. Every function may be called from any thread, including from the library's own
// threads (download and sync procedures). Errors are per thread: BASS_ErrorGetCode() returns the
// code of the last call made by the calling thread (BASS_OK after a success).
//
// Library threads a program sees:
//   - the output thread (SDL's audio callback): runs no user code at all;
//   - one decoder thread per played stream: runs the stream's SYNCPROCs;
//   - one download thread per URL stream: runs the stream's DOWNLOADPROC.
// BASS_StreamFree (and BASS_Free) wait for the stream's threads to stop: no callback of a stream
// runs after BASS_StreamFree on it has returned. Called from within one of that stream's own
// callbacks it does not wait (it cannot): the handle is invalid at once and the thread makes no
// further callback. A callback must not wait for a thread that is inside BASS_StreamFree of the
// same stream.
// ---------------------------------------------------------------------------------------------

#include <stdint.h>

#ifndef CALLBACK
#define CALLBACK
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint64_t QWORD;
typedef int BOOL;
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define LOBYTE(a) (BYTE)(a)
#define HIBYTE(a) (BYTE)((a) >> 8)
#define LOWORD(a) (WORD)(a)
#define HIWORD(a) (WORD)((a) >> 16)
#define MAKEWORD(a, b) (WORD)(((a) & 0xff) | ((b) << 8))
#define MAKELONG(a, b) (DWORD)(((a) & 0xffff) | ((b) << 16))

// Handles are non-zero, and a freed handle's value is not handed out again for a long time
// (2^32 creations), so a stale handle fails with BASS_ERROR_HANDLE instead of hitting another object.
typedef DWORD HMUSIC;    // not offered (tracker modules open as streams)
typedef DWORD HSAMPLE;   // not offered
typedef DWORD HCHANNEL;  // a channel: here always a stream
typedef DWORD HSTREAM;   // a stream
typedef DWORD HRECORD;   // not offered
typedef DWORD HSYNC;     // a synchronizer set on a channel
typedef DWORD HDSP;      // not offered
typedef DWORD HFX;       // an effect set on a channel
typedef DWORD HPLUGIN;   // a loaded format plug-in

#define BASSVERSION 0x204  // the API version; HIWORD(BASS_GetVersion()) equals it

// Error codes (BASS_ErrorGetCode).
#define BASS_OK 0               // all is OK
#define BASS_ERROR_MEM 1        // memory error
#define BASS_ERROR_FILEOPEN 2   // can't open the file / URL (missing, unreadable, refused, HTTP error)
#define BASS_ERROR_DRIVER 3     // can't find a free/valid driver (no audio back end)
#define BASS_ERROR_BUFLOST 4    // the sample buffer was lost
#define BASS_ERROR_HANDLE 5     // invalid or freed handle
#define BASS_ERROR_FORMAT 6     // unsupported sample format
#define BASS_ERROR_POSITION 7   // invalid position
#define BASS_ERROR_INIT 8       // BASS_Init has not been successfully called
#define BASS_ERROR_START 9      // BASS_Start has not been successfully called
#define BASS_ERROR_SSL 10       // SSL/HTTPS support isn't available
#define BASS_ERROR_REINIT 11    // device needs to be reinitialized
#define BASS_ERROR_ALREADY 14   // already initialized / already loaded
#define BASS_ERROR_NOTAUDIO 17  // file does not contain audio
#define BASS_ERROR_NOCHAN 18    // can't get a free channel
#define BASS_ERROR_ILLTYPE 19   // an illegal type was specified
#define BASS_ERROR_ILLPARAM 20  // an illegal parameter was specified
#define BASS_ERROR_NO3D 21      // no 3D support
#define BASS_ERROR_NOEAX 22     // no EAX support
#define BASS_ERROR_DEVICE 23    // illegal device number / no such device
#define BASS_ERROR_NOPLAY 24    // not playing
#define BASS_ERROR_FREQ 25      // illegal sample rate
#define BASS_ERROR_NOTFILE 27   // the stream is not a file stream
#define BASS_ERROR_NOHW 29      // no hardware voices available
#define BASS_ERROR_EMPTY 31     // the file has no sample data
#define BASS_ERROR_NONET 32     // no internet connection could be opened
#define BASS_ERROR_CREATE 33    // couldn't create the file
#define BASS_ERROR_NOFX 34      // effects are not available
#define BASS_ERROR_NOTAVAIL 37  // requested data/action is not available
#define BASS_ERROR_DECODE 38    // the channel is/isn't a decoding channel
#define BASS_ERROR_DX 39        // a sufficient DirectX version is not installed
#define BASS_ERROR_TIMEOUT 40   // connection timed out
#define BASS_ERROR_FILEFORM 41  // unsupported file format (not recognised as audio)
#define BASS_ERROR_SPEAKER 42   // unavailable speaker
#define BASS_ERROR_VERSION 43   // invalid plug-in version
#define BASS_ERROR_CODEC 44     // codec is not available/supported
#define BASS_ERROR_ENDED 45     // the channel/file has ended
#define BASS_ERROR_BUSY 46      // the device is busy
#define BASS_ERROR_UNKNOWN -1   // some other mystery problem

// BASS_SetConfig / BASS_GetConfig options.
#define BASS_CONFIG_NET_TIMEOUT 11   // connect time-out of URL streams, and the longest silence while
                                     // one is being opened, ms (default 5000); once a stream is open
                                     // its download waits out silences of up to 30 s
#define BASS_CONFIG_NET_BUFFER 12    // length of the network buffer PREBUF refers to, ms (default 5000)
#define BASS_CONFIG_NET_PREBUF 15    // % of NET_BUFFER downloaded before BASS_StreamCreateURL returns
                                     // (default 75; 0 = decoding starts with the first bytes)
#define BASS_CONFIG_NET_PLAYLIST 21  // 0 = never follow playlists; 1 = a .pls/.m3u answer to
                                     // BASS_StreamCreateURL is followed to its first entry (default 0)

// BASS_Init flags (accepted and ignored: the output is always 44,100 Hz stereo float).
#define BASS_DEVICE_8BITS 1
#define BASS_DEVICE_MONO 2
#define BASS_DEVICE_3D 4
#define BASS_DEVICE_16BITS 8
#define BASS_DEVICE_LATENCY 0x100
#define BASS_DEVICE_SPEAKERS 0x800
#define BASS_DEVICE_NOSPEAKER 0x1000
#define BASS_DEVICE_FREQ 0x4000
#define BASS_DEVICE_STEREO 0x8000

// Stream creation flags.
#define BASS_SAMPLE_FLOAT 256         // accepted; data is always float
#define BASS_STREAM_PRESCAN 0x20000   // accepted and ignored
#define BASS_STREAM_AUTOFREE 0x40000  // free the stream when it stops or ends
#define BASS_STREAM_RESTRATE 0x80000  // accepted and ignored
#define BASS_STREAM_BLOCK 0x100000    // accepted and ignored
#define BASS_STREAM_DECODE 0x200000   // decoding channel: no output, no decoder thread; data is
                                      // pulled with BASS_ChannelGetData on the caller's thread
#define BASS_STREAM_STATUS 0x800000   // accepted and ignored
#define BASS_UNICODE 0x80000000       // accepted; file names are UTF-8 either way

// BASS_ChannelIsActive results.
#define BASS_ACTIVE_STOPPED 0
#define BASS_ACTIVE_PLAYING 1
#define BASS_ACTIVE_STALLED 2  // playing, but the decoder has not caught up (e.g. waiting for the network)
#define BASS_ACTIVE_PAUSED 3
#define BASS_ACTIVE_PAUSED_DEVICE 4  // playing, but no sound output hears it (the sound server went
                                     // away or has not started yet); goes on by itself once one opens

// Channel attributes.
#define BASS_ATTRIB_VOL 2  // volume, 0 (silent) … 1 (full); linear amplitude factor

// Position modes.
#define BASS_POS_BYTE 0  // byte position of the channel format

// BASS_StreamGetFilePosition modes (byte offsets in the source file / download).
#define BASS_FILEPOS_CURRENT 0    // where the decoder reads
#define BASS_FILEPOS_DOWNLOAD 1   // URL streams: bytes downloaded so far (file streams: the size)
#define BASS_FILEPOS_END 2        // size of the file; URL streams: the Content-Length, 0 when unknown
#define BASS_FILEPOS_START 3      // first byte still kept (URL streams)
#define BASS_FILEPOS_CONNECTED 4  // URL streams: 1 while the download runs, else 0
#define BASS_FILEPOS_BUFFER 5     // URL streams: bytes downloaded but not yet read by the decoder

// Synchronizer types.
#define BASS_SYNC_END 2              // the last sample has been heard
#define BASS_SYNC_MIXTIME 0x40000000 // accepted; decoding channels always call at mix time
#define BASS_SYNC_ONETIME 0x80000000 // remove the sync after its first call

// BASS_ChannelGetData flags (OR'ed into length).
#define BASS_DATA_AVAILABLE 0       // length 0: bytes buffered ahead and ready
#define BASS_DATA_FLOAT 0x40000000  // data is float anyway; accepted
#define BASS_DATA_FFT256 0x80000000 // FFT requests are not offered: BASS_ERROR_NOTAVAIL

// Effect types.
#define BASS_FX_DX8_PARAMEQ 7

// Peaking equaliser parameters (BASS_FXSetParameters / BASS_FXGetParameters of a
// BASS_FX_DX8_PARAMEQ effect). Values out of range are clamped.
typedef struct {
  float fCenter;     // centre frequency, Hz, 80 … 16000
  float fBandwidth;  // bandwidth, semitones, 1 … 36
  float fGain;       // gain at the centre, dB, -15 … +15
} BASS_DX8_PARAMEQ;

// A plug-in's formats: name and extension filter ("*.xyz;*.xy") the plug-in announces.
typedef struct {
  DWORD ctype;       // the format's channel type code (the plug-in's choice)
  const char* name;  // format description, UTF-8
  const char* exts;  // file extension filter, "*.ext1;*.ext2"
} BASS_PLUGINFORM;

typedef struct {
  DWORD version;                   // plug-in version; HIWORD must be BASSVERSION
  DWORD formatc;                   // number of formats
  const BASS_PLUGINFORM* formats;  // the formats, formatc entries
} BASS_PLUGININFO;

// Format plug-ins ("b_*.so") export one C function of this name and type. It returns a record
// that stays valid while the library is loaded. Decoding itself is done by the library: a plug-in
// announces formats (for file dialogs); it is loaded with dlopen and unloaded by BASS_PluginFree.
#define BASS_PLUGIN_ENTRY_NAME "OrvaneBassPluginInfo"
typedef const BASS_PLUGININFO*(CALLBACK BASSPLUGININFOPROC)(void);

// Called on the stream's download thread with each block of downloaded bytes as it arrives
// (buffer, length), and once with buffer NULL (length 0) at the end of the transfer, however it
// ended: complete, failed, or cut off by BASS_StreamFree. During that NULL call,
// BASS_ErrorGetCode() on the calling thread tells how it ended: BASS_OK when the whole body
// arrived for a stream that opened; BASS_ERROR_TIMEOUT, BASS_ERROR_FILEOPEN (connection lost, HTTP
// error), BASS_ERROR_MEM (no room to keep the bytes) or BASS_ERROR_ENDED (freed before the end, or
// never opened) when it was cut off. The buffer is valid only during the call. Not called after
// BASS_StreamFree of the stream has returned.
typedef void(CALLBACK DOWNLOADPROC)(const void* buffer, DWORD length, void* user);

// Called on the stream's decoder thread (never on the output thread or the thread that set it;
// on the caller of BASS_ChannelGetData for decoding channels). For BASS_SYNC_END: once per time
// the channel's last sample has been heard; data is 0.
typedef void(CALLBACK SYNCPROC)(HSYNC handle, DWORD channel, DWORD data, void* user);

// ---- Library -------------------------------------------------------------------------------

// 0x0204xxxx: HIWORD is BASSVERSION.
DWORD BASS_GetVersion(void);

// The calling thread's last error code (see above).
int BASS_ErrorGetCode(void);

// Options above; values in the units given. FALSE + BASS_ERROR_ILLTYPE for an unknown option.
// Take effect for streams created afterwards.
BOOL BASS_SetConfig(DWORD option, DWORD value);
DWORD BASS_GetConfig(DWORD option);  // (DWORD)-1 + BASS_ERROR_ILLTYPE for an unknown option

// Opens the output. device -1 (or 1) = the default device (PulseAudio, PipeWire or ALSA as SDL
// finds them; SDL_AUDIODRIVER=dummy/disk for headless runs); device N > 1 = SDL's output device N-2
// (counting from 0).
// freq and flags are accepted and ignored (output is 44,100 Hz stereo float), win is an opaque
// window id and unused, dsguid unused. The output is started. While no channel plays, the sound
// device itself is closed (nothing wakes at rest) and opened again when one starts.
// The default device may be missing for a while: a sound server that has not started yet, or one
// that goes away (is killed, restarts). The library then opens it again, retrying with growing
// pauses (up to 2 s) while a channel plays; meanwhile playing channels stand still at their
// position and BASS_ChannelIsActive says BASS_ACTIVE_PAUSED_DEVICE, and they go on from there once
// the output is back. So the default device fails BASS_Init only when the back end SDL is told to
// use (SDL_AUDIODRIVER) does not exist.
// Fails: BASS_ERROR_ALREADY (already open), BASS_ERROR_DEVICE (no such device N > 1, or the disk
// driver's file cannot be written), BASS_ERROR_DRIVER (no such audio back end).
BOOL BASS_Init(int device, DWORD freq, DWORD flags, void* win, const void* dsguid);

// Pause / resume the whole output (channels keep their own states). BASS_ERROR_INIT without Init.
BOOL BASS_Start(void);
BOOL BASS_Stop(void);

// Frees every stream (waiting for their threads) and closes the output. BASS_Init may follow.
BOOL BASS_Free(void);

// ---- Streams -------------------------------------------------------------------------------

// Opens a file (mem FALSE: file is a UTF-8 path; offset/length select a part of the file, length 0
// = to the end) or a memory block (mem TRUE: file points to length bytes, which the caller keeps
// valid until BASS_StreamFree). The format is recognised by content, not by name. Returns once the
// format is known. Unless flags has BASS_STREAM_DECODE, BASS_Init must have succeeded.
// Fails: BASS_ERROR_INIT, BASS_ERROR_FILEOPEN (missing/unreadable), BASS_ERROR_FILEFORM (not
// audio FFmpeg knows: empty, garbage), BASS_ERROR_CODEC (no decoder for the audio), BASS_ERROR_MEM.
HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags);

// Opens an http:// or https:// URL (offset > 0 asks the server for the bytes from there on). Blanks,
// control bytes and non-ASCII bytes in it are sent percent-escaped (as UTF-8 bytes; escapes already
// there stay). Returns once the format is known (and NET_PREBUF is satisfied); a server that does
// not deliver enough to recognise the format within five NET_TIMEOUTs fails it. proc (may be NULL)
// receives the downloaded bytes, see DOWNLOADPROC. The download is kept in an unlinked temporary
// file, not in memory, and runs at most 256 MB ahead of playback; seeking back works across what
// the file holds. A stream without end keeps at most a gigabyte behind the reader, giving back all
// but the last 64 MB once it reaches that. Without a temporary folder a small window of memory
// (a few MB) stands in for the file.
// With BASS_CONFIG_NET_PLAYLIST 1 a .pls/.m3u answer is followed to its first entry.
// Fails: BASS_ERROR_INIT, BASS_ERROR_FILEOPEN (refused, unreachable, HTTP error such as 404),
// BASS_ERROR_TIMEOUT (no connection / no data within NET_TIMEOUT), BASS_ERROR_FILEFORM
// (unrecognised data), BASS_ERROR_CODEC, BASS_ERROR_ILLPARAM (not an http(s) URL).
HSTREAM BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags, DOWNLOADPROC* proc, void* user);

// Stops and frees the stream, its effects and syncs; waits for its threads (see Threads above).
BOOL BASS_StreamFree(HSTREAM handle);

// Byte offsets in the source file or download (modes above); (QWORD)-1 on error.
QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode);

// ---- Channels ------------------------------------------------------------------------------

// Starts or resumes output of the stream. restart TRUE starts from the beginning; a stream that
// has ended starts from the beginning either way. BASS_ERROR_DECODE for decoding channels.
BOOL BASS_ChannelPlay(DWORD handle, BOOL restart);
// Pause: output stops at once (silence), position frozen; BASS_ChannelPlay(h, FALSE) resumes.
BOOL BASS_ChannelPause(DWORD handle);
// Stop: like pause, but the END sync will not fire for the stopped run and AUTOFREE streams are
// freed; BASS_ChannelPlay(h, FALSE) continues from the position reached.
BOOL BASS_ChannelStop(DWORD handle);
// BASS_ACTIVE_*; BASS_ACTIVE_STOPPED (with BASS_ERROR_HANDLE) for an invalid handle.
DWORD BASS_ChannelIsActive(DWORD handle);

// BASS_ATTRIB_VOL only: 0 … 1 (values above 1 amplify). Changes are ramped over one device period
// so they do not click. Applies to decoding channels' data too.
BOOL BASS_ChannelSetAttribute(DWORD handle, DWORD attrib, float value);
BOOL BASS_ChannelGetAttribute(DWORD handle, DWORD attrib, float* value);

// Length in bytes of the channel format (mode BASS_POS_BYTE); (QWORD)-1 + BASS_ERROR_NOTAVAIL
// when unknown (a stream without end).
QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode);
// The heard position in bytes; (QWORD)-1 on error.
QWORD BASS_ChannelGetPosition(DWORD handle, DWORD mode);
// Seeks (rounded down to a whole frame). Lands on the exact frame where the container allows,
// always within 20 ms; the position reads as the target at once. BASS_ERROR_POSITION beyond the
// end or where the source cannot seek. A played URL stream is sought by its decoder thread: the
// call returns at once, also when the target's bytes have not arrived yet (the stream then stalls
// until they do, and goes on from where it was, or ends, when they never come).
BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos, DWORD mode);

// Byte count <-> seconds of the channel format (exact inverses on frame boundaries). A "negative"
// byte count ((QWORD)-1 from a failed call) gives -1.0 (BASS_ERROR_ILLPARAM); a negative or
// non-finite time gives (QWORD)-1. The handle must be valid (BASS_ERROR_HANDLE).
double BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos);
QWORD BASS_ChannelSeconds2Bytes(DWORD handle, double pos);

// Decoding channels: decodes the next length bytes (a multiple of 8) into buffer, with effects and
// volume applied, on the caller's thread; returns the bytes written (fewer at the end;
// (DWORD)-1 + BASS_ERROR_ENDED once nothing is left).
// Other channels: copies the latest length bytes the channel sent to the output (at most 8192;
// wave data, does not advance anything); silence before playback started.
// length BASS_DATA_AVAILABLE (0): bytes decoded ahead and waiting. FFT flags: BASS_ERROR_NOTAVAIL.
DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length);

// BASS_SYNC_END (optionally | BASS_SYNC_ONETIME | BASS_SYNC_MIXTIME); param unused. See SYNCPROC.
HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC* proc, void* user);
BOOL BASS_ChannelRemoveSync(DWORD handle, HSYNC sync);

// ---- Effects -------------------------------------------------------------------------------

// BASS_FX_DX8_PARAMEQ only: adds a peaking equaliser (the RBJ cookbook's peaking biquad response;
// bandwidth in semitones = octaves × 12) with centre 80 Hz, bandwidth 12 semitones, gain 0 dB. Effects run in descending priority, effects of equal priority in the
// order they were created. They are applied just before the output (one device period, ~23 ms,
// from a change to hearing it), with parameter changes glided over ~20 ms so they never click.
// A filter at 0 dB costs (almost) nothing.
HFX BASS_ChannelSetFX(DWORD handle, DWORD type, int priority);
BOOL BASS_ChannelRemoveFX(DWORD handle, HFX fx);
// params points to a BASS_DX8_PARAMEQ.
BOOL BASS_FXSetParameters(HFX handle, const void* params);
BOOL BASS_FXGetParameters(HFX handle, void* params);

// ---- Plug-ins ------------------------------------------------------------------------------

// Loads a "b_*.so" format plug-in. A name with a '/' is used as given; a bare name is looked for
// in the executable's folder first, then where dlopen looks. The library must export
// BASS_PLUGIN_ENTRY_NAME. Fails: BASS_ERROR_FILEOPEN (not found / not loadable),
// BASS_ERROR_FILEFORM (no entry point), BASS_ERROR_VERSION, BASS_ERROR_ALREADY (already loaded).
HPLUGIN BASS_PluginLoad(const char* file, DWORD flags);
// The plug-in's own record; valid until BASS_PluginFree. NULL + BASS_ERROR_HANDLE when invalid.
const BASS_PLUGININFO* BASS_PluginGetInfo(HPLUGIN handle);
// Unloads one plug-in; handle 0 unloads all of them.
BOOL BASS_PluginFree(HPLUGIN handle);

#ifdef __cplusplus
}  // extern "C"
#endif
