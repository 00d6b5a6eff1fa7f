// quorvane-demo: shows the installer doing its job for real, in a sandbox.
//
// It builds (once) a Wine-style machine under the given folder: a prefix
// whose registry points "Install Dir" at a game folder with a catalog script
// and names a documents folder with the game's Downloads folder. It makes a
// sample archive with two packages and two read-mes (one read-me's stair id is
// already taken in the catalog), serves it on a free loopback port, and runs
// the installer on a "pavix:" address with the real dialog front end: the
// terminal in a shell, zenity on a desktop. Then it shows what changed.
// Run it twice and the installer asks whether to replace the packages.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "support/ZipWriter.h"
#include "support/posix/GameSandbox.h"
#include "support/posix/HttpServer.h"
#include "support/posix/Subprocess.h"

namespace fs = std::filesystem;
using qv::test::GameSandbox;

namespace {

constexpr const char kCatalog[] =
    "# Modular stairs of the base game\r\n"
    "modularStairs 1\r\n"
    "objectID 100\r\n"
    "catalogTextIndex 1\r\n"
    "\r\n"
    "# Spiral stairs\r\n"
    "modularStairs 2\r\n"
    "objectID 101\r\n"
    "catalogTextIndex 2\r\n";

// Package files are binary game resources; any bytes do for the demo.
std::string PackageBytes(const std::string& seed, size_t size) {
  std::string data = "DBPF";
  uint32_t x = 2166136261u;
  for (char c : seed) x = (x ^ static_cast<unsigned char>(c)) * 16777619u;
  while (data.size() < size) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    data.push_back(static_cast<char>(x & 0xFF));
  }
  return data;
}

std::string SampleArchive() {
  qv::test::ZipWriter zip;
  zip.Add("Quorvane Oak Stairs/QuorvaneOakStairs.package", PackageBytes("oak", 48 * 1024));
  zip.Add("Quorvane Oak Stairs/QuorvaneOakRailing.package", PackageBytes("railing", 24 * 1024));
  // Stair id 2 is taken in the catalog: the installer draws a free one.
  zip.Add("Quorvane Oak Stairs/ReadMe Oak Stairs.txt",
          "Quorvane Oak Stairs\r\n"
          "Put the .package files in your Downloads folder.\r\n"
          "#\r\n"
          "# Quorvane oak stairs\r\n"
          "modularStairs 2\r\n"
          "objectID 7001\r\n"
          "catalogTextIndex 3\r\n");
  zip.Add("Quorvane Oak Stairs/ReadMe Oak Railing.txt",
          "# Quorvane oak railing\r\n"
          "modularStairs 42\r\n"
          "objectID 7002\r\n"
          "catalogTextIndex 4\r\n");
  return zip.Build();
}

std::string ReadOrEmpty(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

const char* Meaning(int status) {
  switch (status) {
    case 0:
      return "success";
    case 1:
      return "the run ended with the final error message";
    case 2:
      return "an error stopped the run";
    case 3:
      return "empty command line";
    default:
      return "unexpected";
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: quorvane-demo SANDBOX-FOLDER INSTALLER\n";
    return 2;
  }
  const std::string root = fs::absolute(argv[1]).lexically_normal().string();
  const std::string installer = fs::absolute(argv[2]).string();

  const bool fresh = !fs::exists(root + "/prefix/system.reg");
  GameSandbox::Options options;
  options.catalog = kCatalog;
  options.createCatalog = fresh;
  GameSandbox sandbox(root, options);

  const std::string before = ReadOrEmpty(sandbox.CatalogPath());
  WriteFile(root + "/catalog-before.txt", before);

  qv::test::HttpServer server;
  server.Route("/stairs/QuorvaneOakStairs.zip", qv::test::HttpRoute::Ok(SampleArchive()));
  const std::string address =
      "pavix://127.0.0.1:" + std::to_string(server.Port()) + "/stairs/QuorvaneOakStairs.zip";

  std::cout << "Sandbox:        " << root << (fresh ? " (new)" : " (from an earlier run)") << "\n"
            << "Game folder:    " << sandbox.GameFolder() << "\n"
            << "Downloads:      " << sandbox.DownloadsFolder() << "\n"
            << "Serving:        " << address << "\n\n"
            << "$ quorvane-installer \"" << address << "\"\n"
            << std::flush;

  // Keep the display when there is one, so a desktop gets graphical boxes.
  qv::test::Environment keep;
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    if (const char* value = std::getenv(name)) keep[name] = value;
  }
  const int status =
      qv::test::RunAttached({installer, "\"" + address + "\""}, sandbox.InstallerEnvironment(keep));

  std::cout << "\nThe installer ended with status " << status << " (" << Meaning(status) << ").\n";
  std::cout << "\nPackages in the Downloads folder:\n";
  for (const std::string& name : sandbox.InstalledPackages()) std::cout << "  " << name << "\n";

  const std::string after = ReadOrEmpty(sandbox.CatalogPath());
  WriteFile(root + "/catalog-after.txt", after);
  std::cout << "\nChanges to the catalog script (modularstairs.txt):\n" << std::flush;
  if (before == after) {
    std::cout << "  (none)\n";
  } else {
    const std::string diff = "diff -u --label before --label after '" + root +
                             "/catalog-before.txt' '" + root + "/catalog-after.txt' | tr -d '\\r'";
    if (std::system(diff.c_str()) == -1) std::cout << "  (diff is not available)\n";
  }
  std::cout << "\nRun the demo again to see the question about packages already installed;\n"
            << "remove " << root << " to start afresh.\n";
  return status == 0 ? 0 : 1;
}
