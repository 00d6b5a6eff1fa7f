// The URL download against the tests' loopback server: every way a server can
// misbehave, and every URL and file name that must be refused. After a
// failure the target must be exactly as before and the folder must hold no
// half-written file.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
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
#include "support/TempDir.h"
#include "support/posix/HttpServer.h"

namespace qv::test {
namespace {

namespace dl = platform::download;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// No test may wait long, whatever the download does wrong.
constexpr milliseconds kAnyDownloadWithin{3000};

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = ::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

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
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    ::closedir(dir);
  }
  return names;
}

// A port with nothing listening on it: a server's, once it has stopped.
uint16_t ClosedPort() {
  HttpServer server;
  return server.Port();
}

class Download : public ::testing::Test {
 protected:
  // Loopback must never go through a proxy that the machine may name, and
  // the limits start at their defaults in every test.
  ScopedEnv noProxy_{"no_proxy", std::string("127.0.0.1,localhost")};
  ScopedEnv noProxyUpper_{"NO_PROXY", std::string("127.0.0.1,localhost")};
  ScopedEnv connect_{dl::kConnectTimeoutVariable, std::nullopt};
  ScopedEnv stall_{dl::kStallTimeoutVariable, std::nullopt};
  ScopedEnv cap_{dl::kMaxBytesVariable, std::nullopt};
  HttpServer server_;
  TempDir dir_;
};

struct Row {
  const char* name;
  // Sets the server's routes and gives the URL to fetch.
  std::function<std::string(HttpServer&)> setUp;
  int32_t expected;
  // The file's content afterwards when the download succeeds.
  std::string stored = {};
  std::optional<std::string> stallMs = std::nullopt;
  std::optional<std::string> maxBytes = std::nullopt;
};

void PrintTo(const Row& row, std::ostream* out) {
  *out << row.name;
}

std::string Serve(HttpServer& server, HttpRoute route) {
  server.Route("/file.zip", std::move(route));
  return server.Url("/file.zip");
}

HttpRoute With(std::string body, const std::function<void(HttpRoute&)>& change) {
  HttpRoute route = HttpRoute::Ok(std::move(body));
  change(route);
  return route;
}

// A chain /r0 -> /r1 -> ... -> /r<hops> that serves `body` at its end.
std::string Chain(HttpServer& server, int hops, const std::string& body) {
  for (int i = 0; i < hops; ++i) {
    server.Route("/r" + std::to_string(i), HttpRoute::Redirect("/r" + std::to_string(i + 1)));
  }
  server.Route("/r" + std::to_string(hops), HttpRoute::Ok(body));
  return server.Url("/r0");
}

const std::string kBody = Bytes(300'000);

std::vector<Row> Rows() {
  return {
      {"WholeBodyStoredExactly", [](HttpServer& s) { return Serve(s, HttpRoute::Ok(kBody)); }, 0,
       kBody},
      {"EmptyBody", [](HttpServer& s) { return Serve(s, HttpRoute::Ok("")); }, 0, ""},
      {"NoLengthEndedByClose",
       [](HttpServer& s) {
         return Serve(s, With(kBody, [](HttpRoute& r) { r.sendLength = false; }));
       },
       0, kBody},
      {"ChunkedBody",
       [](HttpServer& s) { return Serve(s, With(kBody, [](HttpRoute& r) { r.chunked = true; })); },
       0, kBody},
      {"NotFoundWithBody",
       [](HttpServer& s) { return Serve(s, HttpRoute::Status(404, "<html>no such file</html>")); },
       dl::kHttpStatus},
      {"ServerError", [](HttpServer& s) { return Serve(s, HttpRoute::Status(500, "oops")); },
       dl::kHttpStatus},
      {"RedirectWithoutLocation",
       [](HttpServer& s) { return Serve(s, HttpRoute::Status(302, "go nowhere")); },
       dl::kHttpStatus},
      {"DroppedMidBody",
       [](HttpServer& s) {
         return Serve(s, With(kBody, [](HttpRoute& r) { r.dropAfter = 100'000; }));
       },
       dl::kDownloadFailure},
      {"ChunkedDroppedMidBody",
       [](HttpServer& s) {
         return Serve(s, With(kBody, [](HttpRoute& r) {
                        r.chunked = true;
                        r.dropAfter = 100'000;
                      }));
       },
       dl::kDownloadFailure},
      {"AnnouncesMoreThanSent",
       [](HttpServer& s) {
         return Serve(s, With(kBody, [](HttpRoute& r) { r.announcedLength = kBody.size() + 1; }));
       },
       dl::kDownloadFailure},
      // The length frames the body: what follows it is not part of the file.
      {"AnnouncesLessThanSent",
       [](HttpServer& s) {
         return Serve(s, With(kBody, [](HttpRoute& r) { r.announcedLength = 1000; }));
       },
       0, kBody.substr(0, 1000)},
      {"RedirectToAnotherPath",
       [](HttpServer& s) {
         s.Route("/elsewhere.zip", HttpRoute::Ok("moved content"));
         return Serve(s, HttpRoute::Redirect("/elsewhere.zip", 301));
       },
       0, "moved content"},
      {"TenRedirects", [](HttpServer& s) { return Chain(s, 10, "far away"); }, 0, "far away"},
      {"ElevenRedirects", [](HttpServer& s) { return Chain(s, 11, "too far"); },
       dl::kTooManyRedirects},
      {"RedirectLoop",
       [](HttpServer& s) {
         s.Route("/a", HttpRoute::Redirect("/b"));
         s.Route("/b", HttpRoute::Redirect("/a"));
         return s.Url("/a");
       },
       dl::kTooManyRedirects},
      {"RedirectToFile",
       [](HttpServer& s) { return Serve(s, HttpRoute::Redirect("file:///etc/passwd")); },
       dl::kUnknownProtocol},
      {"RedirectToFtp",
       [](HttpServer& s) {
         return Serve(s, HttpRoute::Redirect("ftp://127.0.0.1:" + std::to_string(s.Port()) + "/x"));
       },
       dl::kUnknownProtocol},
      {"StallBeforeAnswer",
       [](HttpServer& s) {
         return Serve(s, With(kBody, [](HttpRoute& r) { r.stallFor = milliseconds(10'000); }));
       },
       dl::kTimeout, "", "300"},
      {"StallMidBody",
       [](HttpServer& s) {
         return Serve(s, With(kBody, [](HttpRoute& r) {
                        r.stallAfter = 50'000;
                        r.stallFor = milliseconds(10'000);
                      }));
       },
       dl::kTimeout, "", "300"},
      // Slow but steady is not a stall: 0.7 s in all, a byte every 50 ms.
      {"SlowTrickleIsNotAStall",
       [](HttpServer& s) {
         return Serve(s, With(Bytes(14), [](HttpRoute& r) {
                        r.trickleBytes = 1;
                        r.trickleDelay = milliseconds(50);
                      }));
       },
       0, Bytes(14), "300"},
      {"EndlessBodyHitsCap",
       [](HttpServer& s) {
         return Serve(s, With("", [](HttpRoute& r) {
                        r.sendLength = false;
                        r.endless = true;
                      }));
       },
       dl::kTooLarge, "", std::nullopt, "1048576"},
      {"AnnouncedLengthOverCap",
       [](HttpServer& s) {
         return Serve(s, With(kBody, [](HttpRoute& r) { r.announcedLength = 2u << 20; }));
       },
       dl::kTooLarge, "", std::nullopt, "1048576"},
      {"ChunkedBodyOverCap",
       [](HttpServer& s) { return Serve(s, With(kBody, [](HttpRoute& r) { r.chunked = true; })); },
       dl::kTooLarge, "", std::nullopt, std::to_string(kBody.size() - 1)},
      {"BodyExactlyAtCap", [](HttpServer& s) { return Serve(s, HttpRoute::Ok(kBody)); }, 0, kBody,
       std::nullopt, std::to_string(kBody.size())},
      {"NothingListening",
       [](HttpServer&) { return "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/file.zip"; },
       dl::kCannotConnect},
      {"FtpUrl", [](HttpServer& s) { return "ftp://127.0.0.1:" + std::to_string(s.Port()) + "/x"; },
       dl::kUnknownProtocol},
      {"FileUrl", [](HttpServer&) { return std::string("file:///etc/passwd"); },
       dl::kUnknownProtocol},
      {"OwnSchemeNotTurnedIntoHttp",
       [](HttpServer& s) { return "pavix://127.0.0.1:" + std::to_string(s.Port()) + "/file.zip"; },
       dl::kUnknownProtocol},
      {"EmptyUrl", [](HttpServer&) { return std::string(); }, dl::kInvalidUrl},
      {"UrlWithoutScheme",
       [](HttpServer& s) {
         s.Route("/file.zip", HttpRoute::Ok("guessed"));
         return "127.0.0.1:" + std::to_string(s.Port()) + "/file.zip";
       },
       dl::kInvalidUrl},
      {"UpperCaseScheme",
       [](HttpServer& s) {
         s.Route("/file.zip", HttpRoute::Ok("case"));
         return "HTTP://127.0.0.1:" + std::to_string(s.Port()) + "/file.zip";
       },
       0, "case"},
  };
}

// Each row runs twice: into a fresh path, and over an existing file, which
// a success replaces and a failure leaves whole.
class ServerBehaviour : public Download, public ::testing::WithParamInterface<Row> {};

TEST_P(ServerBehaviour, StoresTheWholeBodyOrNothing) {
  const Row& row = GetParam();
  const std::string old = "the previous archive, longer than some new ones: " + Bytes(500);
  ScopedEnv stall(dl::kStallTimeoutVariable, row.stallMs);
  ScopedEnv cap(dl::kMaxBytesVariable, row.maxBytes);
  for (const bool existing : {false, true}) {
    SCOPED_TRACE(existing ? "over an existing file" : "into a fresh path");
    TempDir dir;
    HttpServer server;
    const std::string url = row.setUp(server);
    if (existing) dir.Write("file.zip", old);

    const Clock::time_point start = Clock::now();
    const int32_t result =
        platform::URLDownloadToFileA(nullptr, url, dir.Join("file.zip"), 16, nullptr);
    EXPECT_LT(Clock::now() - start, kAnyDownloadWithin);

    EXPECT_EQ(result, row.expected);
    if (row.expected == 0) {
      EXPECT_EQ(dir.Read("file.zip"), row.stored);
    } else if (existing) {
      EXPECT_EQ(dir.Read("file.zip"), old);
    } else {
      EXPECT_FALSE(dir.Exists("file.zip"));
    }
    // No half-written file is left beside the target.
    EXPECT_EQ(FolderNames(dir.Path()), (existing || row.expected == 0)
                                           ? std::set<std::string>{"file.zip"}
                                           : std::set<std::string>{});
  }
}

INSTANTIATE_TEST_SUITE_P(Download, ServerBehaviour, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<Row>& param) {
                           return std::string(param.param.name);
                         });

TEST_F(Download, AsksForAFreshCopyOnlyWithTheNewestVersionFlag) {
  server_.Route("/f", HttpRoute::Ok("x"));
  ASSERT_EQ(platform::URLDownloadToFileA(nullptr, server_.Url("/f"), dir_.Join("a"), 16, nullptr),
            0);
  ASSERT_EQ(platform::URLDownloadToFileA(nullptr, server_.Url("/f"), dir_.Join("b"), 0, nullptr),
            0);
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Header("Cache-Control"), "no-cache");
  EXPECT_EQ(requests[0].Header("Pragma"), "no-cache");
  EXPECT_EQ(requests[1].Header("Cache-Control"), "");
  EXPECT_EQ(requests[0].method, "GET");
}

struct TargetRow {
  const char* name;
  std::string target;  // relative to the test's folder
  int32_t expected;
};

TEST_F(Download, TargetsThatCannotBeWritten) {
  server_.Route("/f", HttpRoute::Ok("content"));
  dir_.MakeFolder("folder");
  dir_.Write("folder/inside", "kept");
  const TargetRow rows[] = {
      {"FolderDoesNotExist", "missing/file.zip", dl::kCannotCreate},
      {"TargetIsAFolder", "folder", dl::kWriteFault},
      {"NameEndsWithSeparator", "folder/", dl::kInvalidArgument},
  };
  for (const TargetRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(platform::URLDownloadToFileA(nullptr, server_.Url("/f"), dir_.Join(row.target), 16,
                                           nullptr),
              row.expected);
  }
  EXPECT_FALSE(dir_.Exists("missing"));
  EXPECT_EQ(dir_.Read("folder/inside"), "kept");
  EXPECT_EQ(FolderNames(dir_.Path()), std::set<std::string>{"folder"});
  EXPECT_EQ(FolderNames(dir_.Join("folder")), std::set<std::string>{"inside"});
  EXPECT_EQ(platform::URLDownloadToFileA(nullptr, "", "", 16, nullptr), dl::kInvalidUrl);
  EXPECT_EQ(platform::URLDownloadToFileA(nullptr, server_.Url("/f"), "", 16, nullptr),
            dl::kInvalidArgument);
}

TEST_F(Download, FailureToPutTheFileInPlaceKeepsTheOldOneAndLeavesNoTemporary) {
  server_.Route("/f", HttpRoute::Ok("new"));
  dir_.Write("file.zip", "old");
  platform::fault::ScopedFaults faults;
  platform::fault::FailNext(platform::fault::Operation::kReplace, "file.zip", err::kDiskFull);
  EXPECT_EQ(
      platform::URLDownloadToFileA(nullptr, server_.Url("/f"), dir_.Join("file.zip"), 16, nullptr),
      dl::kWriteFault);
  EXPECT_EQ(dir_.Read("file.zip"), "old");
  EXPECT_EQ(FolderNames(dir_.Path()), std::set<std::string>{"file.zip"});
}

TEST_F(Download, WindowsPathLandsInTheWinePrefix) {
  dir_.MakeFolder("prefix/drive_c/users/me/Temp");
  dir_.MakeFolder("prefix/dosdevices");
  ASSERT_EQ(::symlink("../drive_c", dir_.Join("prefix/dosdevices/c:").c_str()), 0);
  ScopedEnv prefix("WINEPREFIX", dir_.Join("prefix"));
  server_.Route("/f", HttpRoute::Ok("mapped"));
  EXPECT_EQ(platform::URLDownloadToFileA(nullptr, server_.Url("/f"),
                                         "C:\\users\\me\\Temp\\DownloadedZIP.zip", 16, nullptr),
            0);
  EXPECT_EQ(dir_.Read("prefix/drive_c/users/me/Temp/DownloadedZIP.zip"), "mapped");
}

TEST_F(Download, GoesThroughTheProxyThatTheEnvironmentNames) {
  // The proxy is the loopback server; the named host is never looked up.
  ScopedEnv proxy("http_proxy", server_.Url(""));
  ScopedEnv noProxy("no_proxy", std::nullopt);
  ScopedEnv noProxyUpper("NO_PROXY", std::nullopt);
  server_.Route("http://archive.example.invalid/f.zip", HttpRoute::Ok("via proxy"));
  EXPECT_EQ(platform::URLDownloadToFileA(nullptr, "http://archive.example.invalid/f.zip",
                                         dir_.Join("f.zip"), 16, nullptr),
            0);
  EXPECT_EQ(dir_.Read("f.zip"), "via proxy");
}

// A server whose accept queue is full: the kernel drops further SYNs, so a
// connect neither succeeds nor fails until the client gives up.
TEST_F(Download, GivesUpOnAConnectionThatIsNeverAccepted) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ::connect(filler, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    fillers.push_back(filler);
  }
  ScopedEnv connect(dl::kConnectTimeoutVariable, std::string("300"));
  const std::string url =
      "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/file.zip";
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(platform::URLDownloadToFileA(nullptr, url, dir_.Join("file.zip"), 16, nullptr),
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
    SCOPED_TRACE(std::string("value '") + value + "'");
    ScopedEnv stall(dl::kStallTimeoutVariable, std::string(value));
    ScopedEnv connect(dl::kConnectTimeoutVariable, std::string(value));
    ScopedEnv cap(dl::kMaxBytesVariable, std::string(value));
    EXPECT_EQ(
        platform::URLDownloadToFileA(nullptr, server_.Url("/f"), dir_.Join("f.zip"), 16, nullptr),
        0);
    EXPECT_EQ(dir_.Read("f.zip"), kBody);
  }
}

TEST_F(Download, DownloadFileIsTrueExactlyWhenTheDownloadSucceeded) {
  server_.Route("/ok", HttpRoute::Ok("zip bytes"));
  server_.Route("/missing", HttpRoute::Status(404, "not here"));
  EXPECT_TRUE(DownloadFile(server_.Url("/ok"), dir_.Join("a.zip")));
  EXPECT_EQ(dir_.Read("a.zip"), "zip bytes");
  EXPECT_FALSE(DownloadFile(server_.Url("/missing"), dir_.Join("b.zip")));
  EXPECT_FALSE(DownloadFile("ftp://127.0.0.1/x", dir_.Join("c.zip")));
  EXPECT_FALSE(DownloadFile(server_.Url("/ok"), dir_.Join("no/such/folder.zip")));
  EXPECT_EQ(FolderNames(dir_.Path()), std::set<std::string>{"a.zip"});
  // The binding asks for a fresh copy every time.
  EXPECT_EQ(server_.Requests().front().Header("Cache-Control"), "no-cache");
}

}  // namespace
}  // namespace qv::test
