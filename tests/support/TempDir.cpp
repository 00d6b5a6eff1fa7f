#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace qv::test {

namespace fs = std::filesystem;

namespace {

fs::path Relative(const std::string& relative) {
  std::string cleaned = relative;
  for (char& c : cleaned) {
    if (c == '\\') c = '/';
  }
  return fs::path(cleaned);
}

std::string TestName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (info == nullptr) return "noname";
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!plain && c != '.' && c != '-') c = '_';
  }
  return name.substr(0, 80);
}

}  // namespace

#ifdef _WIN32
namespace {

// Under Wine a Windows program cannot make a link (CreateSymbolicLink claims
// success and makes nothing), but Wine shows the links of the file system it
// runs on as reparse points, as Windows shows its own. So the link is made
// on that side, by the system's ln, which Wine starts like any program.
std::string UnixPath(const std::string& path) {
  using Convert = char*(__cdecl*)(const wchar_t*);
  const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void (*)()>(
      ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (convert == nullptr) return {};
  char* unix = convert(fs::path(path).wstring().c_str());
  if (unix == nullptr) return {};
  std::string result = unix;
  ::HeapFree(::GetProcessHeap(), 0, unix);
  return result;
}

// Runs a shell command of the host with the given arguments ($0, $1...) and
// waits for it. Wine gives no handle to wait on for a program of the host,
// so the command leaves a mark, the file `mark`, when it has succeeded.
bool RunOnTheHost(const std::string& command, const std::vector<std::string>& arguments,
                  const std::string& mark) {
  // Wine splits the command line by the Windows rules: double quotes, with
  // \" inside them.
  std::string line =
      "/bin/sh -c \"" + command + " && : > \\\"$" + std::to_string(arguments.size()) + "\\\"\"";
  for (const std::string& argument : arguments) line += " \"" + argument + "\"";
  line += " \"" + UnixPath(mark) + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessA("Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    return false;
  }
  for (int i = 0; i < 600; ++i) {
    if (::DeleteFileA(mark.c_str())) return true;
    ::Sleep(50);
  }
  return false;
}

}  // namespace
#endif

bool UnderWine() {
#ifdef _WIN32
  return ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name") != nullptr;
#else
  return false;
#endif
}

TempDir::TempDir() {
  // The random part only keeps parallel test processes (ctest -j) apart; a
  // clash is retried, never overwritten.
  std::random_device seed;
  std::mt19937_64 random(seed());
  const fs::path base = fs::temp_directory_path();
  const std::string stem = "qvtest-" + TestName() + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = base / (stem + std::to_string(random() % 1000000000ULL));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate.string();
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder in " + base.string());
}

TempDir::~TempDir() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const bool failed = info != nullptr && info->result() != nullptr && info->result()->Failed();
  if (keep_ || failed) {
    std::cerr << "[ TempDir  ] kept " << path_ << "\n";
    return;
  }
  // Tests may leave read-only entries behind; give write permission back so
  // the removal does not stop half way.
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_symlink(ec)) continue;
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
#ifdef _WIN32
  // What Wine cannot remove (a link to a folder, a dangling link) goes on
  // the host's side.
  if (UnderWine() && fs::exists(path_, ec)) {
    RunOnTheHost("rm -rf \\\"$0\\\"", {UnixPath(path_)}, path_ + ".gone");
  }
#endif
}

std::string TempDir::Join(const std::string& relative) const {
  return (fs::path(path_) / Relative(relative)).string();
}

void TempDir::Write(const std::string& relative, const std::string& content) const {
  const fs::path target = fs::path(path_) / Relative(relative);
  fs::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + target.string());
}

std::string TempDir::Read(const std::string& relative) const {
  const fs::path source = fs::path(path_) / Relative(relative);
  std::ifstream in(source, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << source.string();
    return {};
  }
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void TempDir::MakeFolder(const std::string& relative) const {
  fs::create_directories(fs::path(path_) / Relative(relative));
}

bool TempDir::Exists(const std::string& relative) const {
  std::error_code ec;
  return fs::symlink_status(fs::path(path_) / Relative(relative), ec).type() !=
         fs::file_type::not_found;
}

void TempDir::Link(const std::string& target, const std::string& relative) const {
  const fs::path link = fs::path(path_) / Relative(relative);
  fs::create_directories(link.parent_path());
#ifdef _WIN32
  // Wine when its conversion of paths is there; a real Windows otherwise.
  const bool made =
      UnderWine()
          ? RunOnTheHost("ln -sfn \\\"$0\\\" \\\"$1\\\"",
                         {UnixPath(target), UnixPath(link.string())}, link.string() + ".made")
          : ::CreateSymbolicLinkA(link.string().c_str(), target.c_str(),
                                  (fs::is_directory(target) ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) |
                                      SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0;
  if (!made) ADD_FAILURE() << "cannot make the link " << link.string();
#else
  std::error_code ec;
  fs::create_symlink(target, link, ec);
  if (ec) ADD_FAILURE() << "cannot make the link " << link.string() << ": " << ec.message();
#endif
}

}  // namespace qv::test
