#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

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

}  // namespace qv::test
