// The URL download against the tests' loopback server: every fault a server
// can show, the limits, and targets that cannot be written. After a failure
// the target must be exactly as before and the folder must hold no
// half-written file.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
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

// The port of a listener on loopback whose accept queue is full: the kernel
// drops further SYNs, so a connect neither succeeds nor fails until the
// client gives up. The sockets stay open for the test.
uint16_t FullListener(std::vector<int>& sockets) {
  sockaddr_in address{
      .sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
  socklen_t length = sizeof address;
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  sockets.push_back(::socket(AF_INET, SOCK_STREAM, 0));
  if (::bind(sockets[0], raw, length) != 0 || ::listen(sockets[0], 0) != 0 ||
      ::getsockname(sockets[0], raw, &length) != 0) {
    ADD_FAILURE() << "no listener";
  }
  for (int i = 0; i < 4; ++i) {
    sockets.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    ::connect(sockets.back(), raw, length);
  }
  return ntohs(address.sin_port);
}

struct Row {
  const char* name;
  HttpRoute route;
  int32_t expected;
  // A path on the server, or a whole URL with PORT for the server's port,
  // CLOSED for one where nothing listens, FULL for FullListener's. /file.zip
  // and /r12 serve the route; /rN redirects to /rN+1 up to /r11.
  std::string url = "/file.zip";
  std::string stored = {};  // the file's content after a success
  // The size cap, the stall time-out and the connect time-out; unset: the
  // defaults.
  const char *cap = nullptr, *stall = nullptr, *connect = nullptr;
};

const milliseconds kLong{10'000}, kShort{100};
const HttpRoute kFar = HttpRoute::Ok("far");
const std::string kAt = "/file.zip", kSlow = "twelve bytes";
const Row kRows[] = {
    {"WholeBody", HttpRoute::Ok(kBody), 0, kAt, kBody},
    {"Chunked", {.body = kBody, .chunked = true}, 0, kAt, kBody},
    {"ChunkedCutShort", {.body = kBody, .announcedLength = 0, .chunked = true}, kDownloadFailure},
    {"LengthNotSent", {.body = kBody, .announcedLength = kBody.size() + 1}, kDownloadFailure},
    {"NotFound", {.status = 404, .body = "not here"}, kHttpStatus},
    {"RedirectWithoutLocation", {.status = 302, .body = "go nowhere"}, kHttpStatus},
    {"TenRedirects", kFar, 0, "/r2", "far"},
    {"ElevenRedirects", kFar, kTooManyRedirects, "/r1"},
    {"RedirectToFile", {.status = 302, .location = "file:///etc/passwd"}, kUnknownProtocol},
    {"LengthOverCap", {.body = kBody, .announcedLength = 1 << 21}, kTooLarge, kAt, "", "1048576"},
    {"ChunkedOverCap", {.body = kBody, .chunked = true}, kTooLarge, kAt, "", "299999"},
    {"ExactlyAtCap", HttpRoute::Ok(kBody), 0, kAt, kBody, "300000"},
    {"StallBeforeAnswer", {.body = kBody, .stallFor = kLong}, kTimeout, kAt, "", nullptr, "300"},
    {"Stalled", {.body = kBody, .stallFor = kLong, .stallAfter = 9}, kTimeout, kAt, "", 0, "99"},
    // Slow but steady is no stall: 1.1 s in all, a byte every 100 ms.
    {"SlowTrickle", {.body = kSlow, .stallFor = kShort, .stallAfter = 1}, 0, kAt, kSlow, 0, "1000"},
    {"NeverAccepted", kFar, kTimeout, "http://127.0.0.1:FULL/", "", nullptr, nullptr, "300"},
    // A limit that does not parse as a positive number keeps its default:
    // it must neither cut every download off nor lift the limit.
    {"ZeroLimits", HttpRoute::Ok(kBody), 0, kAt, kBody, "0", "0", "0"},
    {"WordLimits", HttpRoute::Ok(kBody), 0, kAt, kBody, "abc", "12abc", "99999999999999999999"},
    {"NegativeLimits", HttpRoute::Ok(kBody), 0, kAt, kBody, "-5", "-5", "-5"},
    {"NothingListening", kFar, kCannotConnect, "http://127.0.0.1:CLOSED/"},
    {"OwnSchemeIsNoHttp", kFar, kUnknownProtocol, "pavix://127.0.0.1:PORT/file.zip"},
    {"UrlWithoutScheme", kFar, kInvalidUrl, "127.0.0.1:PORT/file.zip"},
    {"UpperCaseScheme", kFar, 0, "HTTP://127.0.0.1:PORT/file.zip", "far"},
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
// success replaces and a failure leaves whole; none may take long, whatever
// the server does.
TEST_P(ServerBehaviour, StoresTheWholeBodyOrNothing) {
  const Row& row = GetParam();
  const auto limit = [](const char* v) { return v ? std::optional<std::string>(v) : std::nullopt; };
  ScopedEnv limits({{kMaxBytesVariable, limit(row.cap)},
                    {kStallTimeoutVariable, limit(row.stall)},
                    {kConnectTimeoutVariable, limit(row.connect)}});
  for (int i = 0; i <= 11; ++i) {
    server_.Route("/r" + std::to_string(i),
                  {.status = 302, .location = "/r" + std::to_string(i + 1)});
  }
  server_.Route("/r12", row.route);
  server_.Route("/file.zip", row.route);
  std::vector<int> sockets;
  std::string url = row.url.rfind('/', 0) == 0 ? server_.Url(row.url) : row.url;
  for (const char* token : {"PORT", "CLOSED", "FULL"}) {
    const size_t at = url.find(token);
    if (at == std::string::npos) continue;
    const uint16_t port = *token == 'P'   ? server_.Port()
                          : *token == 'C' ? HttpServer().Port()
                                          : FullListener(sockets);
    url.replace(at, std::strlen(token), std::to_string(port));
  }
  const std::string old = "the previous archive, longer than some new ones";
  for (const bool existing : {false, true}) {
    SCOPED_TRACE(existing ? "over an existing file" : "into a fresh path");
    if (existing) dir_.Write("file.zip", old);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Fetch(url, dir_.Join("file.zip")), row.expected);
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(3000));
    if (row.expected == 0 || existing) {
      EXPECT_EQ(dir_.Read("file.zip"), row.expected == 0 ? row.stored : old);
    }
    EXPECT_EQ(Entries(dir_.Path()), row.expected == 0 || existing ? 1 : 0);
  }
  for (const int socket : sockets) ::close(socket);
}

INSTANTIATE_TEST_SUITE_P(Download, ServerBehaviour, ::testing::ValuesIn(kRows),
                         [](const auto& param) { return std::string(param.param.name); });

// Caches on the way are asked for a fresh copy with the flag 16 only.
TEST_F(Download, TheNewestVersionFlagAsksForAFreshCopy) {
  server_.Route("/ok", HttpRoute::Ok("zip bytes"));
  ASSERT_EQ(Fetch(server_.Url("/ok"), dir_.Join("a.zip"), 16), 0);
  ASSERT_EQ(Fetch(server_.Url("/ok"), dir_.Join("a.zip"), 0), 0);
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].find("Cache-Control: no-cache\n"), std::string::npos);
  EXPECT_NE(requests[0].find("Pragma: no-cache\n"), std::string::npos);
  EXPECT_EQ(requests[1].find("no-cache"), std::string::npos);
}

TEST_F(Download, TargetsThatCannotBeWritten) {
  namespace fault = platform::fault;
  server_.Route("/f", HttpRoute::Ok("content"));
  dir_.Write("folder/inside", "kept");
  dir_.Write("file.zip", "old");
  // The body is written beside its target, nowhere else.
  const std::string temporary =
      std::filesystem::path(dir_.Path()).filename().string() + "/.qv-*.tmp";
  const struct {
    std::string target;
    int32_t expected;
    std::optional<fault::Operation> fault = {};
    std::string on = "file.zip";
  } rows[] = {
      {dir_.Join("missing/file.zip"), kCannotCreate},
      {dir_.Join("folder"), kWriteFault},
      {dir_.Join("folder/"), kInvalidArgument},
      {"C:file.zip", kInvalidArgument},
      {dir_.Join("file.zip"), kWriteFault, fault::Operation::kWrite, temporary},
      {dir_.Join("file.zip"), kWriteFault, fault::Operation::kReplace},
  };
  fault::ScopedFaults faults;
  for (const auto& row : rows) {
    if (row.fault) fault::FailNext(*row.fault, row.on, err::kDiskFull);
    EXPECT_EQ(Fetch(server_.Url("/f"), row.target), row.expected) << row.target;
  }
  EXPECT_EQ(dir_.Read("folder/inside"), "kept");
  EXPECT_EQ(dir_.Read("file.zip"), "old");
  EXPECT_EQ(Entries(dir_.Path()) + Entries(dir_.Join("folder")), 3);
}

}  // namespace
}  // namespace qv::test
