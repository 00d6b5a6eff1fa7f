// The URL download against the tests' loopback server. The installer's
// end-to-end test already drives the plain failures (404, a dropped or lying
// body, redirect loops, file: and ftp: addresses) through the real program;
// here are the cases it does not reach. After a failure the target must be
// exactly as before and the folder must hold no half-written file.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "app/DownloadToFile.h"
#include "common/Error.h"
#include "platform/Download.h"
#include "platform/FaultInjection.h"
#include "platform/posix/DownloadCodes.h"
#include "support/CatalogFixtures.h"
#include "support/TempDir.h"
#include "support/posix/HttpServer.h"

namespace qv::test {
namespace {

namespace dl = platform::download;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;
using UrlMaker = std::function<std::string(HttpServer&)>;

// No test may wait long, whatever the download does wrong.
constexpr milliseconds kAnyDownloadWithin{3000};

// Bytes of every value, CR and LF and NUL included, in no repeating pattern
// a text-mode or truncating write could get right by chance.
std::string Bytes(size_t size) {
  std::string data(size, '\0');
  uint32_t state = 2463534242u;
  for (char& c : data) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    c = static_cast<char>(state & 0xFF);
  }
  return data;
}

std::set<std::string> FolderNames(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

int32_t Fetch(const std::string& url, const std::string& target, uint32_t flags = 16) {
  return platform::URLDownloadToFileA(nullptr, url, target, flags, nullptr);
}

class Download : public ::testing::Test {
 protected:
  // Loopback must never go through a proxy that the machine may name, and
  // the limits start at their defaults in every test.
  ScopedEnv env_{{{"no_proxy", "127.0.0.1,localhost"},
                  {"NO_PROXY", "127.0.0.1,localhost"},
                  {dl::kConnectTimeoutVariable, std::nullopt},
                  {dl::kStallTimeoutVariable, std::nullopt},
                  {dl::kMaxBytesVariable, std::nullopt}}};
  HttpServer server_;
  TempDir dir_;
};

// Serves `route` at /file.zip.
UrlMaker Serve(HttpRoute route) {
  return [route](HttpServer& s) {
    s.Route("/file.zip", route);
    return s.Url("/file.zip");
  };
}
HttpRoute With(std::string body, const std::function<void(HttpRoute&)>& change) {
  HttpRoute route = HttpRoute::Ok(std::move(body));
  change(route);
  return route;
}
// A chain /r0 -> /r1 -> ... -> /r<hops> that serves `body` at its end.
UrlMaker Chain(int hops, const std::string& body) {
  return [hops, body](HttpServer& s) {
    for (int i = 0; i < hops; ++i) {
      s.Route("/r" + std::to_string(i), HttpRoute::Redirect("/r" + std::to_string(i + 1)));
    }
    s.Route("/r" + std::to_string(hops), HttpRoute::Ok(body));
    return s.Url("/r0");
  };
}
// `scheme` + the server's host and port + /file.zip, which serves "case".
UrlMaker Address(const std::string& scheme) {
  return [scheme](HttpServer& s) {
    s.Route("/file.zip", HttpRoute::Ok("case"));
    return scheme + "127.0.0.1:" + std::to_string(s.Port()) + "/file.zip";
  };
}

const std::string kBody = Bytes(300'000);
const std::string kMiB = "1048576";

struct Row {
  const char* name;
  UrlMaker url;
  int32_t expected;
  std::string stored = {};  // the file's content after a success
  std::optional<std::string> stallMs = std::nullopt;
  std::optional<std::string> maxBytes = std::nullopt;
};
void PrintTo(const Row& row, std::ostream* out) {
  *out << row.name;
}

const Row kRows[] = {
    {"WholeBodyStoredExactly", Serve(HttpRoute::Ok(kBody)), 0, kBody},
    {"EmptyBody", Serve(HttpRoute::Ok("")), 0, ""},
    {"NoLengthEndedByClose", Serve(With(kBody, [](HttpRoute& r) { r.sendLength = false; })), 0,
     kBody},
    {"ChunkedBody", Serve(With(kBody, [](HttpRoute& r) { r.chunked = true; })), 0, kBody},
    {"ChunkedDroppedMidBody",
     Serve(With(kBody,
                [](HttpRoute& r) {
                  r.chunked = true;
                  r.dropAfter = 100'000;
                })),
     dl::kDownloadFailure},
    // The length frames the body: what follows it is not part of the file.
    {"AnnouncesLessThanSent", Serve(With(kBody, [](HttpRoute& r) { r.announcedLength = 1000; })), 0,
     kBody.substr(0, 1000)},
    {"RedirectWithoutLocation", Serve(HttpRoute::Status(302, "go nowhere")), dl::kHttpStatus},
    {"PermanentRedirectToAnotherPath",
     [](HttpServer& s) {
       s.Route("/elsewhere.zip", HttpRoute::Ok("moved content"));
       return Serve(HttpRoute::Redirect("/elsewhere.zip", 301))(s);
     },
     0, "moved content"},
    {"TenRedirects", Chain(10, "far away"), 0, "far away"},
    {"ElevenRedirects", Chain(11, "too far"), dl::kTooManyRedirects},
    {"RedirectToFile", Serve(HttpRoute::Redirect("file:///etc/passwd")), dl::kUnknownProtocol},
    {"StallBeforeAnswer",
     Serve(With(kBody, [](HttpRoute& r) { r.stallFor = milliseconds(10'000); })), dl::kTimeout, "",
     "300"},
    {"StallMidBody",
     Serve(With(kBody,
                [](HttpRoute& r) {
                  r.stallAfter = 50'000;
                  r.stallFor = milliseconds(10'000);
                })),
     dl::kTimeout, "", "300"},
    // Slow but steady is not a stall: 0.7 s in all, a byte every 50 ms.
    {"SlowTrickleIsNotAStall",
     Serve(With(Bytes(14),
                [](HttpRoute& r) {
                  r.trickleBytes = 1;
                  r.trickleDelay = milliseconds(50);
                })),
     0, Bytes(14), "300"},
    {"EndlessBodyHitsCap",
     Serve(With("",
                [](HttpRoute& r) {
                  r.sendLength = false;
                  r.endless = true;
                })),
     dl::kTooLarge, "", std::nullopt, kMiB},
    {"AnnouncedLengthOverCap",
     Serve(With(kBody, [](HttpRoute& r) { r.announcedLength = 2u << 20; })), dl::kTooLarge, "",
     std::nullopt, kMiB},
    {"ChunkedBodyOverCap", Serve(With(kBody, [](HttpRoute& r) { r.chunked = true; })),
     dl::kTooLarge, "", std::nullopt, std::to_string(kBody.size() - 1)},
    {"BodyExactlyAtCap", Serve(HttpRoute::Ok(kBody)), 0, kBody, std::nullopt,
     std::to_string(kBody.size())},
    {"NothingListening",
     [](HttpServer&) {
       const uint16_t closed = HttpServer().Port();  // a stopped server's port
       return "http://127.0.0.1:" + std::to_string(closed) + "/file.zip";
     },
     dl::kCannotConnect},
    {"OwnSchemeNotTurnedIntoHttp", Address("pavix://"), dl::kUnknownProtocol},
    {"EmptyUrl", [](HttpServer&) { return std::string(); }, dl::kInvalidUrl},
    {"UrlWithoutScheme", Address(""), dl::kInvalidUrl},
    {"UpperCaseScheme", Address("HTTP://"), 0, "case"},
};

// Each row runs twice: into a fresh path, and over an existing file, which
// a success replaces and a failure leaves whole.
class ServerBehaviour : public Download, public ::testing::WithParamInterface<Row> {};

TEST_P(ServerBehaviour, StoresTheWholeBodyOrNothing) {
  const Row& row = GetParam();
  const std::string old = "the previous archive, longer than some new ones: " + Bytes(500);
  ScopedEnv limits(
      {{dl::kStallTimeoutVariable, row.stallMs}, {dl::kMaxBytesVariable, row.maxBytes}});
  for (const bool existing : {false, true}) {
    SCOPED_TRACE(existing ? "over an existing file" : "into a fresh path");
    TempDir dir;
    HttpServer server;
    const std::string url = row.url(server);
    if (existing) dir.Write("file.zip", old);

    const Clock::time_point start = Clock::now();
    EXPECT_EQ(Fetch(url, dir.Join("file.zip")), row.expected);
    EXPECT_LT(Clock::now() - start, kAnyDownloadWithin);
    if (row.expected == 0 || existing) {
      EXPECT_EQ(dir.Read("file.zip"), row.expected == 0 ? row.stored : old);
    }
    // No half-written file is left beside the target.
    EXPECT_EQ(FolderNames(dir.Path()), (existing || row.expected == 0)
                                           ? std::set<std::string>{"file.zip"}
                                           : std::set<std::string>{});
  }
}

INSTANTIATE_TEST_SUITE_P(Download, ServerBehaviour, ::testing::ValuesIn(kRows),
                         [](const auto& param) { return std::string(param.param.name); });

// DownloadFile is True exactly on result 0, shows nothing, and asks for a
// fresh copy; the platform call asks for one only with the flag 16.
TEST_F(Download, DownloadFileAndTheNewestVersionFlag) {
  server_.Route("/ok", HttpRoute::Ok("zip bytes"));
  server_.Route("/missing", HttpRoute::Status(404, "not here"));
  EXPECT_TRUE(DownloadFile(server_.Url("/ok"), dir_.Join("a.zip")));
  EXPECT_EQ(dir_.Read("a.zip"), "zip bytes");
  EXPECT_FALSE(DownloadFile(server_.Url("/missing"), dir_.Join("b.zip")));
  EXPECT_FALSE(DownloadFile(server_.Url("/ok"), dir_.Join("no/such/folder.zip")));
  EXPECT_EQ(FolderNames(dir_.Path()), std::set<std::string>{"a.zip"});
  ASSERT_EQ(Fetch(server_.Url("/ok"), dir_.Join("a.zip"), 0), 0);
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].Header("Cache-Control"), "no-cache");
  EXPECT_EQ(requests[0].Header("Pragma"), "no-cache");
  EXPECT_EQ(requests[2].Header("Cache-Control"), "");
}

TEST_F(Download, TargetsThatCannotBeWritten) {
  server_.Route("/f", HttpRoute::Ok("content"));
  dir_.Write("folder/inside", "kept");
  dir_.Write("file.zip", "old");
  struct {
    const char* name;
    std::string target;
    int32_t expected;
    std::optional<platform::fault::Operation> fault = std::nullopt;
  } const rows[] = {
      {"FolderDoesNotExist", dir_.Join("missing/file.zip"), dl::kCannotCreate},
      {"TargetIsAFolder", dir_.Join("folder"), dl::kWriteFault},
      {"NameEndsWithSeparator", dir_.Join("folder/"), dl::kInvalidArgument},
      {"EmptyName", "", dl::kInvalidArgument},
      {"CannotPutTheFileInPlace", dir_.Join("file.zip"), dl::kWriteFault,
       platform::fault::Operation::kReplace},
  };
  platform::fault::ScopedFaults faults;
  for (const auto& row : rows) {
    if (row.fault) platform::fault::FailNext(*row.fault, "file.zip", err::kDiskFull);
    EXPECT_EQ(Fetch(server_.Url("/f"), row.target), row.expected) << row.name;
  }
  EXPECT_EQ(Fetch("", ""), dl::kInvalidUrl);
  EXPECT_EQ(dir_.Read("folder/inside"), "kept");
  EXPECT_EQ(dir_.Read("file.zip"), "old");
  EXPECT_EQ(FolderNames(dir_.Path()), (std::set<std::string>{"file.zip", "folder"}));
  EXPECT_EQ(FolderNames(dir_.Join("folder")), std::set<std::string>{"inside"});
}

TEST_F(Download, WindowsPathLandsInTheWinePrefix) {
  dir_.MakeFolder("prefix/drive_c/users/me/Temp");
  dir_.MakeFolder("prefix/dosdevices");
  ASSERT_EQ(::symlink("../drive_c", dir_.Join("prefix/dosdevices/c:").c_str()), 0);
  ScopedEnv prefix("WINEPREFIX", dir_.Join("prefix"));
  server_.Route("/f", HttpRoute::Ok("mapped"));
  EXPECT_EQ(Fetch(server_.Url("/f"), "C:\\users\\me\\Temp\\DownloadedZIP.zip"), 0);
  EXPECT_EQ(dir_.Read("prefix/drive_c/users/me/Temp/DownloadedZIP.zip"), "mapped");
}

TEST_F(Download, GoesThroughTheProxyThatTheEnvironmentNames) {
  // The proxy is the loopback server; the named host is never looked up.
  ScopedEnv proxy(
      {{"http_proxy", server_.Url("")}, {"no_proxy", std::nullopt}, {"NO_PROXY", std::nullopt}});
  server_.Route("http://archive.example.invalid/f.zip", HttpRoute::Ok("via proxy"));
  EXPECT_EQ(Fetch("http://archive.example.invalid/f.zip", dir_.Join("f.zip")), 0);
  EXPECT_EQ(dir_.Read("f.zip"), "via proxy");
}

// A server whose accept queue is full: the kernel drops further SYNs, so a
// connect neither succeeds nor fails until the client gives up.
TEST_F(Download, GivesUpOnAConnectionThatIsNeverAccepted) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  ASSERT_EQ(::bind(listener, raw, sizeof address), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  ASSERT_EQ(::getsockname(listener, raw, &length), 0);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    ::connect(fillers.back(), raw, sizeof address);
  }
  ScopedEnv connect(dl::kConnectTimeoutVariable, "300");
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(Fetch("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/file.zip",
                  dir_.Join("file.zip")),
            dl::kTimeout);
  EXPECT_LT(Clock::now() - start, kAnyDownloadWithin);
  EXPECT_FALSE(dir_.Exists("file.zip"));
  for (const int filler : fillers) ::close(filler);
  ::close(listener);
}

// A limit that does not parse as a positive number keeps its default: it
// must neither cut every download off nor lift the limit.
TEST_F(Download, MalformedLimitsKeepTheDefaults) {
  server_.Route("/f", HttpRoute::Ok(kBody));
  for (const char* value : {"", "0", "-5", "abc", "12abc", "99999999999999999999999"}) {
    ScopedEnv limits({{dl::kStallTimeoutVariable, value},
                      {dl::kConnectTimeoutVariable, value},
                      {dl::kMaxBytesVariable, value}});
    EXPECT_EQ(Fetch(server_.Url("/f"), dir_.Join("f.zip")), 0) << "value '" << value << "'";
    EXPECT_EQ(dir_.Read("f.zip"), kBody);
  }
}

}  // namespace
}  // namespace qv::test
