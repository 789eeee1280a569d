// The equaliser presets file: names, and applying every preset to an engine that checks the gains.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzSupport.h"
#include "audio/EffectPresets.h"
#include "text/Legacy.h"

using orvane::fuzz::Check;

namespace {

// Only SetEqGains is called by the presets; it counts the calls.
class CountingEngine : public orvane::audio::IAudioEngine {
 public:
  void Open(const std::string&) override {}
  void Pause() override {}
  void Resume() override {}
  void Stop() override {}
  int32_t GetPosition() override { return 0; }
  void SetPosition(int32_t) override {}
  int32_t GetLength() override { return 0; }
  void SetVolume(float) override {}
  void SetEqGains(const orvane::audio::TEqGains&) override { ++calls; }
  void ReadTags(const std::string&, orvane::audio::TTags&) override {}
  int32_t State() const override { return orvane::audio::StateStopped; }
  const std::string& FileFilter() const override { return filter; }

  int calls = 0;
  std::string filter;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto names = orvane::audio::EffectPresetNames(orvane::store::TXmlReader(bytes));
  for (const std::string& name : names) Check(orvane::text::IsValidUtf8(name), "names are UTF-8");
  for (int32_t index : {0, 1, 9, -1}) {
    CountingEngine engine;
    const auto result = orvane::audio::ApplyEffectPreset(orvane::store::TXmlReader(bytes), index, engine);
    Check(result.Applied == engine.calls, "every application reaches the engine");
    Check(static_cast<size_t>(engine.calls) <= names.size(), "at most one application per preset tag");
  }
  return 0;
}
