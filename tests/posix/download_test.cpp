// The URL download against the tests' loopback server: the faults a server
// can show, the limits, and targets that cannot be written. After a failure
// the target must be exactly as before and the folder must hold no
// half-written file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>

#include "platform/Download.h"
#include "platform/FaultInjection.h"
#include "platform/posix/DownloadCodes.h"
#include "support/CatalogFixtures.h"
#include "support/TempDir.h"
#include "support/posix/HttpServer.h"

namespace qv::test {
namespace {

using namespace platform::download;
using std::chrono::milliseconds;

// Bytes of every value, CR, LF and NUL included, in no repeating pattern.
const std::string kBody = [] {
  std::string data(300'000, '\0');
  std::mt19937 random(7);
  for (char& c : data) c = static_cast<char>(random());
  return data;
}();

auto Entries(const std::string& folder) {
  return std::distance(std::filesystem::directory_iterator(folder), {});
}

int32_t Fetch(const std::string& url, const std::string& target, uint32_t flags = 16) {
  return platform::URLDownloadToFileA(nullptr, url, target, flags, nullptr);
}

struct Row {
  const char* name;
  HttpRoute route;
  int32_t expected;
  // The size cap and the stall time-out; unset: the defaults.
  std::optional<std::string> cap = {}, stall = {};
  std::string path = "/file.zip";  // "/moved" redirects there
};

const milliseconds kSecond{1000};
const Row kRows[] = {
    {"WholeBody", HttpRoute::Ok(kBody), 0},
    {"Redirected", HttpRoute::Ok(kBody), 0, {}, {}, "/moved"},
    {"NotFound", {.status = 404, .body = "not here"}, kHttpStatus},
    {"CutShort", {.body = kBody, .cutShort = true}, kDownloadFailure},
    {"OneByteOverCap", HttpRoute::Ok(kBody), kTooLarge, "299999"},
    {"Stalled", {.body = kBody, .stallFor = kSecond, .stallAfter = 9}, kTimeout, {}, "99"},
    // A limit that does not parse as a positive number keeps its default:
    // it must neither cut every download off nor lift the limit.
    {"WordLimits", HttpRoute::Ok(kBody), 0, "-5", "12abc"},
};

class Download : public ::testing::Test {
 protected:
  // Loopback must never go through a proxy that the machine may name.
  ScopedEnv env_{{{"no_proxy", "127.0.0.1"}, {"NO_PROXY", "127.0.0.1"}}};
  HttpServer server_;
  TempDir dir_;
};
class ServerBehaviour : public Download, public ::testing::WithParamInterface<Row> {};

// Each row runs into a fresh path, then over an existing file, which a
// success replaces and a failure leaves whole.
TEST_P(ServerBehaviour, StoresTheWholeBodyOrNothing) {
  const Row& row = GetParam();
  ScopedEnv limits({{kMaxBytesVariable, row.cap}, {kStallTimeoutVariable, row.stall}});
  server_.Route("/file.zip", row.route);
  server_.Route("/moved", {.status = 302, .body = "moved", .location = "/file.zip"});
  const std::string old = "the previous archive, longer than some new ones";
  for (const bool existing : {false, true}) {
    SCOPED_TRACE(existing ? "over an existing file" : "into a fresh path");
    if (existing) dir_.Write("file.zip", old);
    EXPECT_EQ(Fetch(server_.Url(row.path), dir_.Join("file.zip")), row.expected);
    if (row.expected == 0 || existing) {
      EXPECT_EQ(dir_.Read("file.zip"), row.expected == 0 ? row.route.body : old);
    }
    EXPECT_EQ(Entries(dir_.Path()), row.expected == 0 || existing ? 1 : 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Download, ServerBehaviour, ::testing::ValuesIn(kRows),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(Download, TargetsThatCannotBeWritten) {
  namespace fault = platform::fault;
  server_.Route("/f", HttpRoute::Ok("content"));
  dir_.Write("file.zip", "old");
  EXPECT_EQ(Fetch(server_.Url("/f"), dir_.Join("missing/file.zip")), kCannotCreate);
  // The body is written beside its target, nowhere else.
  fault::ScopedFaults faults;
  fault::FailNext(fault::Operation::kWrite,
                  std::filesystem::path(dir_.Path()).filename().string() + "/.qv-*.tmp",
                  err::kDiskFull);
  EXPECT_EQ(Fetch(server_.Url("/f"), dir_.Join("file.zip")), kWriteFault);
  EXPECT_EQ(dir_.Read("file.zip"), "old");
  EXPECT_EQ(Entries(dir_.Path()), 1);
}

}  // namespace
}  // namespace qv::test
