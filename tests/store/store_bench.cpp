// Load and save times of the two stores on a 10,000-song playlist and a full configuration.
// Run through scripts/bench/stores.sh. Files go to $ORVANE_BENCH_DIR (default: a folder under the
// current one), so the figures include the real disk's flush, as a save at close does.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "store/UYmPlayerlist.h"
#include "store/UYmXMLCFG.h"

using orvane::store::TYkConfig;
using orvane::store::TYkPlist;
namespace fs = std::filesystem;

namespace {

constexpr int kSongs = 10000;

struct Song {
  std::string title, singer, location;
};

std::string Folder() {
  const char* env = std::getenv("ORVANE_BENCH_DIR");
  const fs::path dir = env && *env ? fs::path(env) : fs::current_path() / "bench-data";
  fs::create_directories(dir);
  return dir.string();
}

const std::vector<Song>& Songs() {
  static const std::vector<Song> songs = [] {
    const char* titles[] = {"忘情水", "Café de Flore", "Straße", "Song \xF0\x9F\x8E\xB5", "朱镕基", "月亮代表我的心"};
    const char* singers[] = {"刘德华", "Édith Piaf", "", "Beyoncé", "邓丽君"};
    std::vector<Song> out;
    for (int i = 0; i < kSongs; ++i) {
      const std::string t = titles[i % 6];
      out.push_back({t + " " + std::to_string(i), singers[i % 5],
                     "/home/user/音乐/专辑 " + std::to_string(i / 12) + "/" + std::to_string(i) + " " + t + ".mp3"});
    }
    return out;
  }();
  return songs;
}

void WritePlaylist(const std::string& file) {
  TYkPlist store(file, "DefaultList");
  store.ClearList("PlayerList");
  for (const Song& s : Songs()) store.AddItem("PlayerList/LIST", s.title, s.singer, "0", s.location, 0);
}

void WriteConfig(TYkConfig& cfg, int i) {
  cfg.WriteInteger("Window/Volume", "Value", 60 + i % 10);
  cfg.WriteString("Window/PLIST", "PATH", "/home/user/Documents/Orvane/Default.pls");
  cfg.WriteInteger("Window/PLAY", "PATTERN", i % 3);
  cfg.WriteBool("Window/DESKTOPLRC", "SHOW", true);
  cfg.WriteBool("Window/AUTORUN", "Value", true);
  cfg.WriteBool("Window/RUNTL", "Value", false);
  cfg.WriteInteger("Window/EQ", "ID", 2);
  cfg.WriteString("Window/SKIN", "NAME", "");
}

void PlaylistLoad(benchmark::State& state) {
  const std::string file = Folder() + "/load.pls";
  WritePlaylist(file);
  state.counters["bytes"] = static_cast<double>(fs::file_size(file));
  for (auto _ : state) {
    TYkPlist store(file, "DefaultList");
    store.Load("PlayerList");
    store.Load("RndList");
    if (store.Count() != kSongs) state.SkipWithError("wrong song count");
    store.Clear();
  }
}

// The main window's save: open the file, rewrite the list, let the store write it.
void PlaylistSave(benchmark::State& state) {
  const std::string file = Folder() + "/save.pls";
  WritePlaylist(file);
  for (auto _ : state) WritePlaylist(file);
}

void ConfigLoad(benchmark::State& state) {
  const std::string file = Folder() + "/Orvane.xml";
  {
    TYkConfig cfg(file, "MainConfig");
    WriteConfig(cfg, 0);
    cfg.WriteString("Window/LRC", "PATH", "/home/user/Documents/Orvane/lrc");
    cfg.WriteString("Window/MUSIC", "PATH", "/home/user/Documents/Orvane/music");
  }
  for (auto _ : state) {
    TYkConfig cfg(file, "MainConfig");
    int sum = cfg.ReadInteger("Window/PLAY", "PATTERN", 0);
    sum += static_cast<int>(cfg.ReadString("Window/LRC", "PATH", "").size());
    sum += static_cast<int>(cfg.ReadString("Window/MUSIC", "PATH", "").size());
    sum += static_cast<int>(cfg.ReadString("Window/PLIST", "PATH", "").size());
    sum += cfg.ReadInteger("Window/EQ", "ID", 0);
    sum += cfg.ReadBool("Window/AUTORUN", "Value", true);
    sum += cfg.ReadBool("Window/RUNTL", "Value", true);
    sum += cfg.ReadBool("Window/DESKTOPLRC", "SHOW", true);
    sum += cfg.ReadInteger("Window/Volume", "Value", 65);
    benchmark::DoNotOptimize(sum);
  }
}

void ConfigSave(benchmark::State& state) {
  const std::string file = Folder() + "/Orvane.xml";
  int i = 0;
  for (auto _ : state) {
    TYkConfig cfg(file, "MainConfig");
    WriteConfig(cfg, ++i);
  }
}

}  // namespace

BENCHMARK(PlaylistLoad)->Name("playlist 10000 songs: load")->Unit(benchmark::kMillisecond);
BENCHMARK(PlaylistSave)->Name("playlist 10000 songs: save")->Unit(benchmark::kMillisecond);
BENCHMARK(ConfigLoad)->Name("configuration: load")->Unit(benchmark::kMillisecond);
BENCHMARK(ConfigSave)->Name("configuration: save")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
