// A loopback HTTP/1.1 server of the tests' own: it listens on 127.0.0.1 with
// a port the system picks, answers every connection on its own thread, and
// misbehaves on demand (a dropped connection, a lying length, a stall, an
// endless body, redirects anywhere) so that the download and the whole
// installer can be driven against every fault a real server can show.
//
// It is bounded: one connection lives at most kConnectionLimit, an endless
// body stops at kEndlessLimit bytes, and the destructor ends every
// connection (stalls and trickles included) within a few tens of
// milliseconds.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qv::test {

using Headers = std::vector<std::pair<std::string, std::string>>;

// What the server does for one path. The defaults serve `body` whole with
// status 200, a correct Content-Length and "Connection: close".
struct HttpRoute {
  int status = 200;
  Headers headers;  // extra header lines, sent as given
  std::string body;

  // The Content-Length announced; unset: the size of `body`. Announcing more
  // than is sent makes the server close the connection after the body.
  std::optional<uint64_t> announcedLength;
  // No Content-Length at all: the body ends where the connection closes.
  bool sendLength = true;
  // "Transfer-Encoding: chunked" instead of a length; the body goes out as
  // chunks and ends with the last (empty) chunk unless dropped before.
  bool chunked = false;

  // Closes the connection once this many bytes of the body are out.
  std::optional<size_t> dropAfter;

  // Sends nothing for `stallFor` once `stallAfter` bytes of the body are out;
  // unset `stallAfter`: before the status line.
  std::chrono::milliseconds stallFor{0};
  std::optional<size_t> stallAfter;

  // Sends the body `trickleBytes` at a time, `trickleDelay` apart.
  size_t trickleBytes = 0;
  std::chrono::milliseconds trickleDelay{0};

  // After `body`, keeps sending filler bytes until the client goes away.
  bool endless = false;

  static HttpRoute Ok(std::string body);
  static HttpRoute Status(int status, std::string body);
  // A redirect with `location` as the Location header, verbatim.
  static HttpRoute Redirect(std::string location, int status = 302);
};

// One request as the server received it.
struct HttpRequest {
  std::string method;
  std::string target;  // the path with its query, as sent
  Headers headers;

  // The value of the first header of that name (case-insensitive), or "".
  std::string Header(const std::string& name) const;
};

class HttpServer {
 public:
  static constexpr std::chrono::seconds kConnectionLimit{20};
  static constexpr uint64_t kEndlessLimit = uint64_t{4} << 30;

  // Listens at once; throws std::runtime_error when it cannot.
  HttpServer();
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  uint16_t Port() const noexcept;
  // "http://127.0.0.1:PORT" followed by `path`.
  std::string Url(const std::string& path) const;

  // Sets (or replaces) what `path` answers; the path is compared with the
  // request target without its query. Unknown paths answer 404.
  void Route(const std::string& path, HttpRoute route);

  // Every request received so far, in order of arrival.
  std::vector<HttpRequest> Requests() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qv::test
