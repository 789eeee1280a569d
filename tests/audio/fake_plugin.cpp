// A format plug-in that announces its formats only, for the engine's file-filter test. Built twice:
// with ORVANE_FAKE_PLUGIN_ONE it has two formats, otherwise one.
#include "audio/bass/bass.h"

namespace {
#ifdef ORVANE_FAKE_PLUGIN_ONE
const BASS_PLUGINFORM kFormats[] = {{0x10000, "Fake one", "*.one1"}, {0x10001, "Fake one, too", "*.one2"}};
#else
const BASS_PLUGINFORM kFormats[] = {{0x10002, "Fake two", "*.two"}};
#endif
const BASS_PLUGININFO kInfo = {0x02040000, sizeof kFormats / sizeof kFormats[0], kFormats};
}  // namespace

extern "C" __attribute__((visibility("default"))) const BASS_PLUGININFO* OrvaneBassPluginInfo(void) { return &kInfo; }
