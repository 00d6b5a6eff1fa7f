// The download through urlmon against a loopback HTTP server that the test
// harness runs beside Wine (QV_HTTP_STATE names its folder: the port in
// "port", the served files in "root").
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/DownloadToFile.h"
#include "platform/Download.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "support/TempDir.h"

namespace {

std::string ReadAll(const std::string& path) {
  qv::platform::File in = qv::platform::File::OpenRead(path);
  std::string content;
  char buffer[4096];
  for (size_t got; (got = in.Read(buffer, sizeof buffer)) > 0;) content.append(buffer, got);
  return content;
}

void WriteAll(const std::string& path, const std::string& content) {
  qv::platform::File out = qv::platform::File::CreateWrite(path);
  out.Write(content.data(), content.size());
  out.Close();
}

class Win32DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_ = qv::platform::GetEnvironment("QV_HTTP_STATE");
    if (state_.empty())
      GTEST_FAIL() << "QV_HTTP_STATE not set: run through CTest, which starts the server";
    base_ = "http://127.0.0.1:" + ReadAll(state_ + "\\port") + "/";
    // Bytes of every value, so that no text conversion can pass unnoticed.
    for (int i = 0; i < 70000; ++i) payload_ += static_cast<char>((i * 7 + i / 256) & 0xFF);
    name_ = "archive-" + std::to_string(::GetCurrentProcessId()) + ".zip";
    WriteAll(state_ + "\\root\\" + name_, payload_);
  }
  void TearDown() override {
    if (!name_.empty()) ::DeleteFileA((state_ + "\\root\\" + name_).c_str());
  }

  qv::test::TempDir dir_;
  std::string state_;
  std::string base_;
  std::string name_;
  std::string payload_;
};

TEST_F(Win32DownloadTest, StoresTheWholeResourceAndReplacesAnOldFile) {
  const std::string target = dir_.Path() + "\\DownloadedZIP.zip";
  WriteAll(target, std::string(100000, 'o'));  // longer than the payload
  EXPECT_EQ(qv::platform::URLDownloadToFileA(nullptr, base_ + name_, target, 16, nullptr), 0);
  EXPECT_EQ(ReadAll(target), payload_);
}

TEST_F(Win32DownloadTest, FollowsARedirect) {
  const std::string target = dir_.Path() + "\\redirected.zip";
  EXPECT_TRUE(qv::DownloadFile(base_ + "redirect/" + name_, target));
  EXPECT_EQ(ReadAll(target), payload_);
}

TEST_F(Win32DownloadTest, FailuresGiveFalse) {
  struct Row {
    const char* name;
    std::string url;
    std::string target;
  } rows[] = {
      {"empty address", "", dir_.Path() + "\\b.zip"},
      {"closed port", "http://127.0.0.1:1/x.zip", dir_.Path() + "\\c.zip"},
      {"unwritable target", base_ + name_, dir_.Path() + "\\missing-folder\\d.zip"},
  };
  for (const Row& row : rows) {
    EXPECT_FALSE(qv::DownloadFile(row.url, row.target)) << row.name;
  }
}

bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST_F(Win32DownloadTest, MissingResourceFailsOnWindows) {
  // Windows fails a download that the server answers with 404; Wine stores
  // the server's error page and reports success (the extraction then fails
  // on it, so the run still ends with its error message).
  const std::string target = dir_.Path() + "\\missing.zip";
  EXPECT_EQ(qv::DownloadFile(base_ + "no-such-file.zip", target), UnderWine());
}

}  // namespace
