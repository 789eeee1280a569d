// Reading and applying the sound-effect presets against a scripted engine that records SetEqGains.

#include "audio/EffectPresets.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvane::audio {
namespace {

using store::TXmlReader;

class RecordingEngine : public IAudioEngine {
 public:
  std::vector<TEqGains> applied;

  void SetEqGains(const TEqGains& gains) override { applied.push_back(gains); }
  void Open(const std::string&) override {}
  void Pause() override {}
  void Resume() override {}
  void Stop() override {}
  int32_t GetPosition() override { return 0; }
  void SetPosition(int32_t) override {}
  int32_t GetLength() override { return 0; }
  void SetVolume(float) override {}
  void ReadTags(const std::string&, TTags&) override {}
  int32_t State() const override { return StateStopped; }
  const std::string& FileFilter() const override { return filter; }

 private:
  std::string filter;
};

std::string Eq(const std::string& id, int gain, const std::string& name = "p") {
  std::string tag = "<eq id=\"" + id + "\" name=\"" + name + "\"";
  for (int band = 1; band <= 10; ++band) tag += " q" + std::to_string(band) + "=\"" + std::to_string(gain + band) + "\"";
  return tag + "/>";
}

TEqGains Gains(int gain) {
  TEqGains g{};
  for (int band = 0; band < 10; ++band) g[band] = gain + band + 1;
  return g;
}

TEST(EffectPresets, NamesInDocumentOrder) {
  const std::string doc =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><effect><EQ id=\"0\" name=\"默认\"/>" + Eq("1", 0, "流行") +
      "<eq id=\"2\"/><other name=\"x\"/><eq id=\"3\" name=\"a &amp; b\"></eq></effect>";
  EXPECT_EQ(EffectPresetNames(TXmlReader(doc)),
            (std::vector<std::string>{"默认", "流行", "", "a & b", ""}));
  EXPECT_TRUE(EffectPresetNames(TXmlReader::FromFile("/nonexistent/effect.dat")).empty());
}

TEST(EffectPresets, AppliesTheMatchingPresetsRules) {
  struct Case {
    const char* name;
    std::string doc;
    int32_t index;
    std::vector<TEqGains> applied;
    bool error;
  };
  const Case cases[] = {
      {"third of three", "<e>" + Eq("0", 0) + Eq("1", 10) + Eq("2", 20) + "</e>", 2, {Gains(20)}, false},
      {"no such id", "<e>" + Eq("0", 0) + Eq("1", 10) + Eq("2", 20) + "</e>", 5, {}, false},
      {"later duplicate wins", Eq("0", 0) + Eq("1", 10) + Eq("1", 30), 1, {Gains(10), Gains(30)}, false},
      {"bad id stops the scan", Eq("1", 10) + "<eq id=\"x\"/>" + Eq("1", 30), 1, {Gains(10)}, true},
      {"missing id stops the scan", "<eq name=\"n\"/>" + Eq("1", 10), 1, {}, true},
      {"bad gain in the matching tag", "<eq id=\"1\" q1=\"1\" q2=\"2.5\"/>" + Eq("1", 10), 1, {}, true},
      {"bad gain in another tag is passed over", "<eq id=\"0\" q1=\"x\"/>" + Eq("1", 10), 1, {Gains(10)}, false},
      {"end tag stops the scan", Eq("1", 10) + "<eq id=\"2\"></eq>" + Eq("1", 30), 1, {Gains(10)}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingEngine engine;
    const TEffectPresetResult result = ApplyEffectPreset(TXmlReader(c.doc), c.index, engine);
    EXPECT_EQ(engine.applied, c.applied);
    EXPECT_EQ(result.ConversionError, c.error);
    EXPECT_EQ(result.Applied, static_cast<int32_t>(c.applied.size()));
  }
}

TEST(EffectPresets, ShippedFileHasTenNamedPresetsWithinTwelveDecibels) {
  const std::string path = std::string(ORVANE_ASSETS_DIR) + "/" + EffectPresetFileName;
  const std::vector<std::string> names = EffectPresetNames(TXmlReader::FromFile(path));
  ASSERT_EQ(names, (std::vector<std::string>{"默认", "流行", "摇滚", "古典", "爵士", "人声", "重低音", "高音增强",
                                             "舞曲", "电子"}));
  for (int32_t id = 0; id < static_cast<int32_t>(names.size()); ++id) {
    SCOPED_TRACE(names[id]);
    RecordingEngine engine;
    const TEffectPresetResult result = ApplyEffectPreset(TXmlReader::FromFile(path), id, engine);
    ASSERT_FALSE(result.ConversionError);
    ASSERT_EQ(engine.applied.size(), 1u);
    for (int32_t gain : engine.applied[0]) {
      EXPECT_LE(gain, 12);
      EXPECT_GE(gain, -12);
      if (id == 0) {
        EXPECT_EQ(gain, 0);
      }
    }
  }
}

}  // namespace
}  // namespace orvane::audio
