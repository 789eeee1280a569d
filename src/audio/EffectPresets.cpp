#include "audio/EffectPresets.h"

#include <array>
#include <optional>
#include <string_view>

#include "text/TextUtil.h"

namespace orvane::audio {
namespace {

bool IsPresetTag(const store::TXmlReader& reader) { return text::AsciiLower(reader.Name()) == "eq"; }

std::optional<int32_t> IntAttribute(const store::TXmlReader& reader, std::string_view name) {
  return text::ParseInt32(reader.Attribute(name));
}

constexpr std::array<std::string_view, 10> kGainNames = {"q1", "q2", "q3", "q4", "q5",
                                                         "q6", "q7", "q8", "q9", "q10"};

std::optional<TEqGains> ReadGains(const store::TXmlReader& reader) {
  TEqGains gains{};
  for (size_t band = 0; band < gains.size(); ++band) {
    const std::optional<int32_t> gain = IntAttribute(reader, kGainNames[band]);
    if (!gain) return std::nullopt;
    gains[band] = *gain;
  }
  return gains;
}

}  // namespace

std::vector<std::string> EffectPresetNames(store::TXmlReader reader) {
  std::vector<std::string> names;
  while (reader.Next()) {
    if (IsPresetTag(reader)) names.push_back(reader.Attribute("name"));
  }
  return names;
}

TEffectPresetResult ApplyEffectPreset(store::TXmlReader reader, int32_t index, IAudioEngine& engine) {
  TEffectPresetResult result;
  // To the end of the file: a later tag with the same id wins.
  while (reader.Next()) {
    if (!IsPresetTag(reader)) continue;
    const std::optional<int32_t> id = IntAttribute(reader, "id");
    if (!id) {
      result.ConversionError = true;
      return result;
    }
    if (*id != index) continue;
    const std::optional<TEqGains> gains = ReadGains(reader);
    if (!gains) {
      result.ConversionError = true;
      return result;
    }
    engine.SetEqGains(*gains);
    ++result.Applied;
  }
  return result;
}

}  // namespace orvane::audio
