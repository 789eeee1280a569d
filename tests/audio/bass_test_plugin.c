/* A format plug-in as a third party would write one: it announces two formats. */
#include "bass.h"

static const BASS_PLUGINFORM formats[] = {
    {0x10001, "Test tracker format", "*.tst1;*.tst2"},
    {0x10002, "Another test format", "*.tst3"},
};

static const BASS_PLUGININFO info = {0x02040100, 2, formats};

__attribute__((visibility("default"))) const BASS_PLUGININFO* OrvaneBassPluginInfo(void) { return &info; }
