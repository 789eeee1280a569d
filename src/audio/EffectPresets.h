#pragma once
// The sound-effect presets of "effect.dat": every tag named "eq" (any case) is one preset with
// "id", "name" and the ten gains "q1" (80 Hz) … "q10" (14000 Hz) in whole dB. The main window's
// LoadEffectPresets and ApplyEffectPreset are built on these two functions.
//
// Main window wiring:
//   effBox items := EffectPresetNames(TXmlReader::FromFile(AppFolder + EffectPresetFileName));
//   ApplyEffectPreset(Index): EqPresetId := Index;
//     ApplyEffectPreset(TXmlReader::FromFile(AppFolder + EffectPresetFileName), Index, *Engine);
//
// Main thread only (the engine's SetEqGains is).

#include <cstdint>
#include <string>
#include <vector>

#include "audio/IAudioEngine.h"
#include "store/XmlReader.h"

namespace orvane::audio {

inline constexpr const char* EffectPresetFileName = "effect.dat";

// The "name" of every "eq" tag in document order; start, empty-element and end tags all count, and
// a tag without "name" gives an empty entry.
std::vector<std::string> EffectPresetNames(store::TXmlReader reader);

struct TEffectPresetResult {
  int32_t Applied = 0;           // how many times gains were handed to the engine
  bool ConversionError = false;  // the scan stopped at a tag with a bad "id" or, in the matching
                                 // tag, a bad q1 … q10; gains applied before that tag stay
};

// Applies the preset whose "id" equals index: every matching tag, in document order, hands its ten
// gains to engine.SetEqGains, so of two tags with the same id the later one stays. No match leaves
// the engine's gains as they were.
TEffectPresetResult ApplyEffectPreset(store::TXmlReader reader, int32_t index, IAudioEngine& engine);

}  // namespace orvane::audio
