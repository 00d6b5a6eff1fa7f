// The whole install run against the plain pipeline that does the same
// transport work: download, extract, copy the packages.
//
//   install_run_bench WORK-FOLDER INSTALLER [MiB [runs]]
//
// The installer runs under peak_memory (beside this program), which reports
// its peak resident memory.
//
// Serves an archive of MiB (default 64) with 200 packages and 5 read-mes on
// loopback, runs quorvane-installer on it `runs` times (default 5) and
//   curl -s -o a.zip URL && bsdtar -xf a.zip -C dir && cp dir/*.package target/
// as many times, and prints the medians, their ratio and the installer's
// peak resident memory.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "support/ZipWriter.h"
#include "support/posix/GameSandbox.h"
#include "support/posix/HttpServer.h"
#include "support/posix/Subprocess.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Half compressible text, half incompressible bytes, like real packages.
std::string PackageData(size_t size, uint32_t seed) {
  std::string data;
  data.reserve(size);
  uint32_t x = seed * 2654435761u + 1;
  while (data.size() < size) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    if ((data.size() / 4096) % 2 == 0) {
      data += "objectID " + std::to_string(x % 100000) + " stair mesh texture\n";
    } else {
      for (int i = 0; i < 4 && data.size() < size; ++i)
        data.push_back(static_cast<char>(x >> (8 * i)));
    }
  }
  data.resize(size);
  return data;
}

std::string Archive(size_t mebibytes) {
  qv::test::ZipWriter zip;
  const size_t packageSize = mebibytes * 1024 * 1024 / 200;
  for (uint32_t i = 0; i < 200; ++i) {
    zip.Add("Stairs/Stair" + std::to_string(i) + ".package", PackageData(packageSize, i),
            qv::test::kDeflated);
  }
  for (int i = 0; i < 5; ++i) {
    zip.Add("Stairs/ReadMe" + std::to_string(i) + ".txt",
            "# Stair set " + std::to_string(i) + "\r\nmodularStairs " + std::to_string(10 + i) +
                "\r\nobjectID " + std::to_string(9000 + i) + "\r\ncatalogTextIndex 1\r\n");
  }
  return zip.Build();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Runs `argv` to its end with no terminal; its exit status and all it wrote
// (standard output and error together).
struct Ran {
  int status;
  std::string output;
};
Ran RunToEnd(const std::vector<std::string>& argv, const qv::test::Environment& environment) {
  qv::test::PtyProcess process(argv, environment, qv::test::Streams::kPipe);
  const int status = process.Wait(std::chrono::minutes(10));  // drains the output meanwhile
  return {status, process.Transcript()};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: install_run_bench WORK-FOLDER INSTALLER [MiB [runs]]\n";
    return 2;
  }
  const std::string work = fs::absolute(argv[1]).string();
  const std::string installer = fs::absolute(argv[2]).string();
  const size_t mebibytes = argc > 3 ? std::stoul(argv[3]) : 64;
  const int runs = argc > 4 ? std::stoi(argv[4]) : 5;
  const std::string peakMemory = (fs::path(argv[0]).parent_path() / "peak_memory").string();

  fs::remove_all(work);
  fs::create_directories(work);
  qv::test::HttpServer server;
  server.Route("/a.zip", qv::test::HttpRoute::Ok(Archive(mebibytes)));
  const std::string url = server.Url("/a.zip");

  std::vector<double> installerSeconds, pipelineSeconds;
  long peakKiB = 0;
  for (int run = 0; run < runs; ++run) {
    const std::string root = work + "/run" + std::to_string(run);
    qv::test::GameSandbox sandbox(root);
    auto start = Clock::now();
    const Ran result =
        RunToEnd({peakMemory, installer, "pavix" + url.substr(4)}, sandbox.InstallerEnvironment());
    installerSeconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    const size_t at = result.output.rfind("peak_memory_kib ");
    if (at != std::string::npos)
      peakKiB = std::max(peakKiB, std::stol(result.output.substr(at + 16)));
    if (result.status != 0 || sandbox.InstalledPackages().size() != 200) {
      std::cerr << "installer run failed (" << result.status << "): " << result.output << "\n";
      return 1;
    }

    const std::string pipe = root + "/pipeline";
    fs::create_directories(pipe + "/dir");
    fs::create_directories(pipe + "/target");
    const std::string command = "cd '" + pipe + "' && curl -s -o a.zip '" + url +
                                "' && bsdtar -xf a.zip -C dir && cp dir/Stairs/*.package target/";
    start = Clock::now();
    const Ran piped = RunToEnd({"/bin/sh", "-c", command}, qv::test::EnvironmentWith({}));
    pipelineSeconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    if (piped.status != 0) {
      std::cerr << "pipeline failed: " << piped.output << "\n";
      return 1;
    }
    fs::remove_all(root);
  }

  const double ours = Median(installerSeconds);
  const double theirs = Median(pipelineSeconds);
  std::printf("archive: %zu MiB, 200 packages, 5 read-mes, %d runs each\n", mebibytes, runs);
  std::printf("quorvane-installer       median %8.3f s\n", ours);
  std::printf("curl + bsdtar + cp       median %8.3f s\n", theirs);
  std::printf("ratio installer/pipeline        %8.2f (goal <= 1.30)\n", ours / theirs);
  std::printf("installer peak resident memory  %8.1f MiB\n", static_cast<double>(peakKiB) / 1024.0);
  return 0;
}
