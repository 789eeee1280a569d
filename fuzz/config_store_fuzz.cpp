// The settings file: any bytes load (or are moved aside), and what is written afterwards saves,
// reloads without being moved aside, and reads back as written.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "store/UYmXMLCFG.h"
#include "text/AtomicFile.h"

using orvane::fuzz::Check;
using orvane::store::TYkConfig;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file = orvane::fuzz::ScratchFolder() + "Orvane.xml";
  Check(orvane::text::AtomicWriteFile(file, std::string(reinterpret_cast<const char*>(data), size)), "input written");
  std::string movedAside;
  {
    TYkConfig config(file, "MainConfig");
    movedAside = config.MovedAsidePath();
    const int32_t volume = config.ReadInteger("Window/Volume", "Value", 65);
    const std::string path = config.ReadString("Window/LRC", "PATH", "/tmp/lrc");
    config.ReadBool("Window/AUTORUN", "Value", true);
    config.ReadString("Window", "", "");
    config.WriteInteger("Window/Volume", "Value", volume);
    config.WriteString("Window/LRC", "PATH", path);
    config.WriteString("Window/SKIN", "NAME", "歌词 镕 \xF0\x9F\x8E\xB5");
    std::string error;
    Check(config.Save(&error), "a loaded or fresh settings file saves");
  }
  {
    TYkConfig again(file, "MainConfig");
    Check(!again.MovedAside(), "a saved settings file loads again");
    Check(again.ReadString("Window/SKIN", "NAME", "") == "歌词 镕 \xF0\x9F\x8E\xB5", "a written value reads back");
  }
  ::unlink(file.c_str());
  if (!movedAside.empty()) ::unlink(movedAside.c_str());
  return 0;
}
