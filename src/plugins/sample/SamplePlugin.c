/*
 * A small Orvane plug-in to start from. It writes every event it receives, one line each, to the
 * file named by the environment variable ORVANE_SAMPLE_PLUGIN_LOG (nothing when it is not set):
 *
 *     100                                          loaded
 *     108<TAB>title<TAB>singer<TAB>location<TAB>seconds   a song started (or resumed)
 *     109<TAB>title<TAB>singer<TAB>location<TAB>seconds   a song ended (or failed)
 *     101                                          about to be unloaded
 *
 * Build:  cc -shared -fPIC -I<orvane>/src/plugins SamplePlugin.c -o sample_events.so
 * and put the library into the "plugins" folder beside the player's program. The player skips a
 * library (and tells so) that anyone but you or root could change: chmod go-w it and the folder.
 */
#include <stdio.h>
#include <stdlib.h>

#include "UPluginAPI.h"

static int32_t SampleCallback(int32_t message, uintptr_t param1, int32_t param2) {
  (void)param2;
  const char* path = getenv("ORVANE_SAMPLE_PLUGIN_LOG");
  if (!path || !*path) return 0;
  FILE* log = fopen(path, "a");
  if (!log) return 0;
  if ((message == PLUGIN_TRACKSTARTED || message == PLUGIN_TRACKENDED) && param1) {
    const TTrackEvent* track = (const TTrackEvent*)param1;
    fprintf(log, "%d\t%.*s\t%.*s\t%s\t%.3f\n", (int)message, (int)track->TitleLength, track->Title,
            (int)track->SingerLength, track->Singer, track->Location, track->LengthDays * 86400.0);
  } else {
    fprintf(log, "%d\n", (int)message);
  }
  fclose(log);
  return 1;
}

static TPluginInfo info = {PLUGIN_INFO_VERSION, PLUGIN_API_VERSION, {0}, SampleCallback};

__attribute__((visibility("default"))) const TPluginInfo* USPluginInfo(int32_t apiVersion) {
  (void)apiVersion;
  return &info;
}
