// The tests' loopback HTTP/1.1 server, on cpp-httplib: it listens on
// 127.0.0.1 with a port the system picks, answers each connection once
// ("Connection: close") and misbehaves on demand (a stall, a trickle) so
// that the download and the whole installer meet the faults a real server
// can show.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace qv::test {

// What the server does for one path. The defaults serve `body` whole with
// status 200 and a correct Content-Length.
struct HttpRoute {
  int status = 200;
  std::string body = {};
  // Sends nothing for `stallFor` after every `stallAfter` bytes of the body
  // (a stall, or with short pauses a trickle).
  std::chrono::milliseconds stallFor{0};
  std::optional<size_t> stallAfter = {};
  bool cutShort = false;      // announces one byte more than it sends, then closes
  std::string location = {};  // sent as the Location header when set

  static HttpRoute Ok(std::string body) { return {.body = std::move(body)}; }
};

class HttpServer {
 public:
  // Listens at once; throws std::runtime_error when it cannot. Neither
  // copied nor moved: its listening thread holds on to it.
  HttpServer();
  ~HttpServer();

  uint16_t Port() const noexcept { return port_; }
  // "http://127.0.0.1:PORT" followed by `path`.
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

  // Sets (or replaces) what `path` answers; the path is compared with the
  // request target without its query. Unknown paths answer 404.
  void Route(const std::string& path, HttpRoute route);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  uint16_t port_ = 0;
};

}  // namespace qv::test
