#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace qv::test {

namespace fs = std::filesystem;

#ifdef _WIN32
namespace {

// Under Wine a Windows program cannot make a link (CreateSymbolicLink claims
// success and makes nothing), but Wine shows the links of the file system it
// runs on as reparse points, as Windows shows its own. So links are made (and
// what Wine cannot remove is removed) on that side, by the host's programs,
// which Wine starts like any other.
std::string UnixPath(const std::string& path) {
  using Convert = char*(__cdecl*)(const wchar_t*);
  const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void (*)()>(
      ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  char* unix = convert != nullptr ? convert(fs::path(path).wstring().c_str()) : nullptr;
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
  for (int i = 0; i < 600; ++i, ::Sleep(50)) {
    if (::DeleteFileA(mark.c_str())) return true;
  }
  return false;
}

}  // namespace
#endif

namespace {

// Sets or clears the immutable flag of the file `path`; an empty text, or
// what went wrong.
std::string SetImmutable(const std::string& path, bool on) {
#ifdef _WIN32
  const std::string command = on ? "chattr +i \\\"$0\\\"" : "chattr -i \\\"$0\\\"";
  return RunOnTheHost(command, {UnixPath(path)}, path + ".flagged") ? "" : "chattr failed";
#else
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  int flags = 0;
  int result = ::ioctl(fd, FS_IOC_GETFLAGS, &flags);
  if (result == 0) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    result = ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
  }
  const std::string failure = result == 0 ? "" : std::strerror(errno);
  ::close(fd);
  return failure;
#endif
}

}  // namespace

ScopedImmutable::ScopedImmutable(std::string path) : path_(std::move(path)) {
  const std::string failure = SetImmutable(path_, true);
  EXPECT_EQ(failure, "") << "cannot make " << path_ << " immutable";
}

ScopedImmutable::~ScopedImmutable() {
  SetImmutable(path_, false);
}

bool UnderWine() {
#ifdef _WIN32
  return ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name") != nullptr;
#else
  return false;
#endif
}

TempDir::TempDir() {
  // The random part only keeps parallel test processes (ctest -j) apart; a
  // clash fails, it never shares a folder.
  const fs::path path =
      fs::temp_directory_path() / ("qvtest-" + std::to_string(std::random_device()()));
  if (!fs::create_directory(path)) throw std::runtime_error("cannot create " + path.string());
  path_ = path.string();
}

TempDir::~TempDir() {
  if (::testing::Test::HasFailure()) {
    std::cerr << "[ TempDir  ] kept " << path_ << "\n";
    return;
  }
  // Root removes read-only entries too; under Wine the host removes what
  // Wine cannot.
  std::error_code ec;
  fs::remove_all(path_, ec);
#ifdef _WIN32
  if (UnderWine() && fs::exists(path_, ec)) {
    RunOnTheHost("rm -rf \\\"$0\\\"", {UnixPath(path_)}, path_ + ".gone");
  }
#endif
}

std::string TempDir::Join(const std::string& relative) const {
  std::string cleaned = relative;
  std::replace(cleaned.begin(), cleaned.end(), '\\', '/');
  return (fs::path(path_) / cleaned).string();
}

void TempDir::Write(const std::string& relative, const std::string& content) const {
  fs::create_directories(fs::path(Join(relative)).parent_path());
  if (!(std::ofstream(fs::path(Join(relative)), std::ios::binary) << content << std::flush)) {
    throw std::runtime_error("cannot write " + Join(relative));
  }
}

std::string TempDir::Read(const std::string& relative) const {
  std::ifstream in(fs::path(Join(relative)), std::ios::binary);
  if (!in) ADD_FAILURE() << "cannot read " << Join(relative);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void TempDir::MakeFolder(const std::string& relative) const {
  fs::create_directories(Join(relative));
}

bool TempDir::Exists(const std::string& relative) const {
  std::error_code ec;
  return fs::symlink_status(Join(relative), ec).type() != fs::file_type::not_found;
}

void TempDir::Link(const std::string& target, const std::string& relative) const {
  const std::string link = Join(relative);
  fs::create_directories(fs::path(link).parent_path());
#ifdef _WIN32
  // The tests run under Wine, where only the host can make a link.
  if (!RunOnTheHost("ln -sfn \\\"$0\\\" \\\"$1\\\"", {UnixPath(target), UnixPath(link)},
                    link + ".made"))
    ADD_FAILURE() << "cannot make the link " << link;
#else
  std::error_code ec;
  fs::create_symlink(target, link, ec);
  if (ec) ADD_FAILURE() << "cannot make the link " << link << ": " << ec.message();
#endif
}

}  // namespace qv::test
