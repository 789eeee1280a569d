/*
 * Orvane plug-in interface (API version 256).
 *
 * A plug-in is a shared library ("*.so") in the folder "plugins" beside the player's program. The
 * player loads every such library when it starts, in the order the folder lists them (at most 64),
 * and keeps those that export
 *
 *     const TPluginInfo* USPluginInfo(int32_t apiVersion);
 *
 * (C linkage, the platform's C calling convention). A library is loaded only when it is a regular
 * file (not a link) and it and the folder belong to the user or root and nobody else may write them
 * (no group or other write permission); the others are named to the user once. The player passes
 * PLUGIN_API_VERSION and keeps the plug-in when the record it gets back says InfoVersion 1 and
 * ApiVersion 256. The record belongs to the plug-in; the player reads it once, right after
 * USPluginInfo returns, and keeps the Callback it read then.
 *
 * The player then calls Callback (when it is not null) on its main thread, one call at a time:
 *
 *     PLUGIN_LOADED        once, right after the plug-in was accepted      param1 0
 *     PLUGIN_TRACKSTARTED  a song starts playing, or resumes after pause   param1 = (TTrackEvent*)
 *     PLUGIN_TRACKENDED    a song ended, or failed to open                 param1 = (TTrackEvent*)
 *     PLUGIN_UNLOADING     once, right before the library is unloaded      param1 0
 *
 * param2 is always 0. The result is collected by the player and not used. The track record and its
 * texts (UTF-8, zero-terminated) are valid only during the call. The player's main thread waits
 * while a callback runs: return quickly. A callback that throws or faults does not bring the
 * player down. One that threw keeps getting messages; one that faulted gets none any more and is
 * never unloaded (no PLUGIN_UNLOADING either).
 *
 * Layout. On 32-bit systems the records are exactly the historical ones: TPluginInfo has
 * InfoVersion at 0, ApiVersion at 2, 520 unused bytes from 4 and Callback at 524 (528 bytes in all);
 * TTrackEvent has Location at 0, a zero word at 4, LengthDays at 8, Title at 16, TitleLength at 20,
 * Singer at 24 and SingerLength at 28 (32 bytes). On 64-bit systems pointers are 8 bytes wide:
 * TPluginInfo keeps every offset (Callback at 524, packed to 4 bytes, 532 bytes in all); in
 * TTrackEvent the wider Location covers the zero word, so LengthDays and Title keep their offsets
 * 8 and 16, and the fields after the wider Title move: TitleLength 24, Singer 32, SingerLength 40
 * (48 bytes). The checks at the end of this header hold these numbers.
 */
#ifndef ORVANE_UPLUGINAPI_H
#define ORVANE_UPLUGINAPI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PLUGIN_INFO_VERSION 1
#define PLUGIN_API_VERSION 256

#define PLUGIN_LOADED 100
#define PLUGIN_UNLOADING 101
#define PLUGIN_TRACKSTARTED 108
#define PLUGIN_TRACKENDED 109

#define PLUGIN_MAX_PLUGINS 64

typedef int32_t (*TPluginCallback)(int32_t message, uintptr_t param1, int32_t param2);

#pragma pack(push, 4)
typedef struct TPluginInfo {
  uint16_t InfoVersion;   /* PLUGIN_INFO_VERSION */
  uint16_t ApiVersion;    /* PLUGIN_API_VERSION */
  uint8_t Reserved[520];  /* not read by the player */
  TPluginCallback Callback;
} TPluginInfo;
#pragma pack(pop)

typedef struct TTrackEvent {
  const char* Location; /* the song's file path or URL */
#if UINTPTR_MAX == 0xFFFFFFFFu
  uint32_t Reserved;    /* zero */
#endif
  double LengthDays;    /* the song's length in days (milliseconds / 86,400,000) */
  const char* Title;
  uint32_t TitleLength; /* bytes */
  const char* Singer;
  uint32_t SingerLength;
} TTrackEvent;

/* The one export of a plug-in. */
typedef const TPluginInfo* (*TUSPluginInfoFunction)(int32_t apiVersion);
#define PLUGIN_INFO_EXPORT "USPluginInfo"

#if defined(__cplusplus)
#define ORVANE_PLUGIN_STATIC_ASSERT static_assert
#else
#define ORVANE_PLUGIN_STATIC_ASSERT _Static_assert
#endif

ORVANE_PLUGIN_STATIC_ASSERT(offsetof(TPluginInfo, InfoVersion) == 0, "TPluginInfo.InfoVersion");
ORVANE_PLUGIN_STATIC_ASSERT(offsetof(TPluginInfo, ApiVersion) == 2, "TPluginInfo.ApiVersion");
ORVANE_PLUGIN_STATIC_ASSERT(offsetof(TPluginInfo, Callback) == 524, "TPluginInfo.Callback");
ORVANE_PLUGIN_STATIC_ASSERT(sizeof(TPluginInfo) == 524 + sizeof(void*), "TPluginInfo size");
ORVANE_PLUGIN_STATIC_ASSERT(offsetof(TTrackEvent, Location) == 0, "TTrackEvent.Location");
ORVANE_PLUGIN_STATIC_ASSERT(offsetof(TTrackEvent, LengthDays) == 8, "TTrackEvent.LengthDays");
ORVANE_PLUGIN_STATIC_ASSERT(offsetof(TTrackEvent, Title) == 16, "TTrackEvent.Title");
#if UINTPTR_MAX == 0xFFFFFFFFu
ORVANE_PLUGIN_STATIC_ASSERT(offsetof(TTrackEvent, Reserved) == 4, "TTrackEvent zero word");
ORVANE_PLUGIN_STATIC_ASSERT(offsetof(TTrackEvent, TitleLength) == 20, "TTrackEvent.TitleLength");
ORVANE_PLUGIN_STATIC_ASSERT(offsetof(TTrackEvent, Singer) == 24, "TTrackEvent.Singer");
ORVANE_PLUGIN_STATIC_ASSERT(offsetof(TTrackEvent, SingerLength) == 28, "TTrackEvent.SingerLength");
ORVANE_PLUGIN_STATIC_ASSERT(sizeof(TTrackEvent) == 32, "TTrackEvent size");
#else
ORVANE_PLUGIN_STATIC_ASSERT(offsetof(TTrackEvent, TitleLength) == 24, "TTrackEvent.TitleLength");
ORVANE_PLUGIN_STATIC_ASSERT(offsetof(TTrackEvent, Singer) == 32, "TTrackEvent.Singer");
ORVANE_PLUGIN_STATIC_ASSERT(offsetof(TTrackEvent, SingerLength) == 40, "TTrackEvent.SingerLength");
ORVANE_PLUGIN_STATIC_ASSERT(sizeof(TTrackEvent) == 48, "TTrackEvent size");
#endif

#undef ORVANE_PLUGIN_STATIC_ASSERT

#ifdef __cplusplus
}
#endif

#endif /* ORVANE_UPLUGINAPI_H */
