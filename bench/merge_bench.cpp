// The catalog merge against the plain cost of its file traffic.
//
// A 30,000-line catalog script with 500 stair ids in use, and a read-me with
// 400 stair lines whose ids all collide. BM_ReadWriteOnce reads that script
// once and writes it back once, the same safe way the merge does (temporary
// file, pushed to the disk, renamed over the script): the floor for any
// merge; BM_ReadWriteLinesOnce does the same line by line. BM_InstallFile is
// one whole merge. BM_ReadmesInARow merges 25, 50 or 100 small read-mes one
// after the other (400 colliding stair lines in all) and reports the time per
// line read or written, which stays flat when the cost is linear.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "app/Form1.h"
#include "catalog/LineReader.h"
#include "platform/FileSystem.h"

namespace {

namespace fs = std::filesystem;

constexpr int kCatalogLines = 30'000;
constexpr int kIdsInUse = 500;
constexpr int kCollidingStairLines = 400;

// A game folder with a catalog script, and a Wine prefix whose registry
// points at it; made once for the whole run and removed at exit.
class Sandbox {
 public:
  Sandbox() {
    // QV_BENCH_DIR picks the file system to measure on (a tmpfs shows the
    // merge's own cost without the disk's flush).
    const char* base = std::getenv("QV_BENCH_DIR");
    const fs::path folder =
        base != nullptr && *base != '\0' ? fs::path(base) : fs::temp_directory_path();
    std::string pattern = (folder / "qv-merge-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::cerr << "cannot make a temporary folder\n";
      std::exit(1);
    }
    root_ = pattern;
    fs::create_directories(root_ / "prefix");
    fs::create_directories(root_ / "game/TSData/Res/Catalog/Scripts");
    fs::create_directories(root_ / "readmes");
    Write(root_ / "prefix/system.reg",
          "WINE REGISTRY Version 2\n#arch=win32\n\n[Software\\\\EA GAMES\\\\The Sims 2]\n"
          "\"Install Dir\"=\"" +
              (root_ / "game").string() + "/\"\n");
    setenv("WINEPREFIX", (root_ / "prefix").c_str(), 1);

    // Stair ids 0, 2, 4, ... 998 are in use, one every 60 lines.
    std::string catalog;
    int nextId = 0;
    for (int line = 0; line < kCatalogLines; ++line) {
      if (line % (kCatalogLines / kIdsInUse) == 1 && nextId < 2 * kIdsInUse) {
        catalog += "modularStairs " + std::to_string(nextId) + "\r\n";
        nextId += 2;
      } else if (line % 3 == 0) {
        catalog += "# stair set " + std::to_string(line) + "\r\n";
      } else if (line % 3 == 1) {
        catalog += "objectID 0x" + std::to_string(100000 + line) + "\r\n";
      } else {
        catalog += "catalogTextIndex " + std::to_string(line) + "\r\n";
      }
    }
    catalog_ = catalog;
  }
  ~Sandbox() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  std::string ScriptPath() const {
    return (root_ / "game/TSData/Res/Catalog/Scripts/modularstairs.txt").string();
  }
  std::string ScriptFolder() const { return (root_ / "game/TSData/Res/Catalog/Scripts").string(); }
  void ResetScript() const { Write(ScriptPath(), catalog_); }

  // A read-me whose `stairLines` stair lines all use ids already taken.
  std::string WriteReadme(const std::string& name, int stairLines, int firstId) const {
    std::string readme;
    for (int i = 0; i < stairLines; ++i) {
      readme += "# Stair " + std::to_string(i) + "\r\n";
      readme += "objectID 0x" + std::to_string(900000 + i) + "\r\n";
      readme += "modularStairs " + std::to_string((firstId + 2 * i) % (2 * kIdsInUse)) + "\r\n";
      readme += "catalogTextIndex " + std::to_string(i) + "\r\n";
      readme += "some notes\r\n";
    }
    const fs::path path = root_ / "readmes" / name;
    Write(path, readme);
    return path.string();
  }

 private:
  static void Write(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
  }

  fs::path root_;
  std::string catalog_;
};

Sandbox& TheSandbox() {
  static Sandbox sandbox;
  return sandbox;
}

// Rewrites the script the way the merge does (a temporary file beside it that
// then takes its place), with `copy` moving the text from the old to the new.
template <typename Copy>
void RewriteScript(Sandbox& sandbox, Copy copy) {
  const std::string script = sandbox.ScriptPath();
  auto in = qv::platform::File::OpenRead(script);
  std::string temporary;
  auto out = qv::platform::File::CreateTemporaryIn(sandbox.ScriptFolder(), temporary);
  copy(in, out);
  in.Close();
  out.Flush();
  out.Close();
  qv::platform::ReplaceFileAtomically(temporary, script);
}

void BM_ReadWriteOnce(benchmark::State& state) {
  Sandbox& sandbox = TheSandbox();
  sandbox.ResetScript();
  std::vector<char> block(64 * 1024);
  for (auto _ : state) {
    // Block by block, straight from the old script into the new one: no
    // line handling at all.
    RewriteScript(sandbox, [&](qv::platform::File& in, qv::platform::File& out) {
      for (size_t got; (got = in.Read(block.data(), block.size())) != 0;) {
        out.Write(block.data(), got);
      }
    });
  }
}
BENCHMARK(BM_ReadWriteOnce)->Unit(benchmark::kMillisecond);

// The same, line by line as text: every line read and written back with
// CR LF, nothing looked at.
void BM_ReadWriteLinesOnce(benchmark::State& state) {
  Sandbox& sandbox = TheSandbox();
  sandbox.ResetScript();
  for (auto _ : state) {
    RewriteScript(sandbox, [](qv::platform::File& in, qv::platform::File& out) {
      qv::catalog::LineReader reader(in);
      std::string line;
      std::string block;
      while (reader.Next(line)) {
        block += line;
        block += "\r\n";
        if (block.size() >= 64 * 1024) {
          out.Write(block.data(), block.size());
          block.clear();
        }
      }
      out.Write(block.data(), block.size());
    });
  }
}
BENCHMARK(BM_ReadWriteLinesOnce)->Unit(benchmark::kMillisecond);

void BM_InstallFile(benchmark::State& state) {
  Sandbox& sandbox = TheSandbox();
  const std::string readme = sandbox.WriteReadme("colliding.txt", kCollidingStairLines, 0);
  qv::Form1 form;
  bool merged = true;
  for (auto _ : state) {
    state.PauseTiming();
    sandbox.ResetScript();
    form.Text1.Text = std::string(1, '0');
    state.ResumeTiming();
    if (form.InstallFile(readme).outcome != qv::MergeResult::Outcome::kMerged) merged = false;
  }
  if (!merged || form.Text1.Text != "1") {
    state.SkipWithError("the merge did not take the read-me over");
  }
  state.counters["script_lines_after"] = static_cast<double>(form.List1.ListCount());
}
BENCHMARK(BM_InstallFile)->Unit(benchmark::kMillisecond);

void BM_ReadmesInARow(benchmark::State& state) {
  Sandbox& sandbox = TheSandbox();
  const auto count = static_cast<int>(state.range(0));
  const int stairLinesEach = kCollidingStairLines / count;
  std::vector<std::string> readmes;
  for (int i = 0; i < count; ++i) {
    readmes.push_back(sandbox.WriteReadme("small" + std::to_string(i) + ".txt", stairLinesEach,
                                          2 * i * stairLinesEach));
  }
  qv::Form1 form;
  bool merged = true;
  double linesTouched = 0;
  for (auto _ : state) {
    state.PauseTiming();
    sandbox.ResetScript();
    form.Text1.Text = std::string(1, '0');
    state.ResumeTiming();
    for (const std::string& readme : readmes) {
      if (form.InstallFile(readme).outcome != qv::MergeResult::Outcome::kMerged) merged = false;
    }
    state.PauseTiming();
    // Each merge reads the script twice and its read-me once, and writes
    // the new script: count every line that went through.
    linesTouched = 0;
    const double finalLines = static_cast<double>(form.List1.ListCount());
    const double growth = (finalLines - kCatalogLines) / count;
    for (int i = 0; i < count; ++i) {
      const double before = kCatalogLines + growth * i;
      linesTouched += 3 * before + 2 * growth + stairLinesEach * 5.0;
    }
    state.ResumeTiming();
  }
  if (!merged || form.Text1.Text != std::to_string(count)) {
    state.SkipWithError("not every read-me was taken over");
  }
  state.counters["merges"] = count;
  state.counters["ns_per_line"] =
      benchmark::Counter(linesTouched * 1e-9, benchmark::Counter::kIsIterationInvariantRate |
                                                  benchmark::Counter::kInvert);
  state.SetComplexityN(static_cast<int64_t>(linesTouched));
}
BENCHMARK(BM_ReadmesInARow)
    ->Arg(25)
    ->Arg(50)
    ->Arg(100)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
