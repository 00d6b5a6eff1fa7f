#include "support/posix/HttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace qv::test {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Every blocking step waits in slices this long, so that the stop flag is
// seen quickly.
constexpr milliseconds kSlice{20};
constexpr size_t kMaxRequestHead = 64 * 1024;
constexpr size_t kMaxConnections = 4096;

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

// A socket descriptor that closes itself.
class Socket {
 public:
  explicit Socket(int fd = -1) noexcept : fd_(fd) {}
  Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Socket& operator=(Socket&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() { Reset(); }

  int Get() const noexcept { return fd_; }
  void Reset() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

}  // namespace

HttpRoute HttpRoute::Ok(std::string body) {
  HttpRoute route;
  route.body = std::move(body);
  return route;
}

HttpRoute HttpRoute::Status(int status, std::string body) {
  HttpRoute route;
  route.status = status;
  route.body = std::move(body);
  route.headers.emplace_back("Content-Type", "text/plain");
  return route;
}

HttpRoute HttpRoute::Redirect(std::string location, int status) {
  HttpRoute route;
  route.status = status;
  route.headers.emplace_back("Location", std::move(location));
  route.body = "moved";
  return route;
}

std::string HttpRequest::Header(const std::string& name) const {
  const std::string wanted = Lower(name);
  for (const auto& [key, value] : headers) {
    if (Lower(key) == wanted) return value;
  }
  return {};
}

struct HttpServer::Impl {
  Socket listener;
  uint16_t port = 0;
  std::thread acceptor;

  mutable std::mutex mutex;
  std::condition_variable wake;  // signalled when `stopping` is set
  bool stopping = false;
  std::map<std::string, HttpRoute> routes;
  std::vector<HttpRequest> requests;

  struct Connection {
    std::thread thread;
    std::atomic<bool> done{false};
  };
  std::list<Connection> connections;  // touched by the acceptor and the destructor only
  size_t accepted = 0;

  bool Stopping() const {
    std::lock_guard<std::mutex> lock(mutex);
    return stopping;
  }

  // Sleeps for `duration` unless the server stops first; false when it did.
  bool Sleep(milliseconds duration) {
    std::unique_lock<std::mutex> lock(mutex);
    return !wake.wait_for(lock, duration, [this] { return stopping; });
  }

  void AcceptLoop() {
    while (!Stopping()) {
      pollfd p{listener.Get(), POLLIN, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(kSlice.count()));
      if (ready <= 0) continue;
      Socket client(::accept(listener.Get(), nullptr, nullptr));
      if (client.Get() < 0) continue;
      ReapFinished();
      if (accepted >= kMaxConnections) continue;  // closes it unanswered
      ++accepted;
      Connection& connection = connections.emplace_back();
      connection.thread = std::thread([this, &connection, fd = std::move(client)]() mutable {
        Serve(fd);
        fd.Reset();
        connection.done = true;
      });
    }
  }

  void ReapFinished() {
    for (auto it = connections.begin(); it != connections.end();) {
      if (it->done) {
        it->thread.join();
        it = connections.erase(it);
      } else {
        ++it;
      }
    }
  }

  // Reads the request head; false when the client sent none in time.
  bool ReadHead(int fd, Clock::time_point deadline, std::string& head) {
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
      if (Stopping() || Clock::now() > deadline || head.size() > kMaxRequestHead) return false;
      pollfd p{fd, POLLIN, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(kSlice.count()));
      if (ready < 0 && errno != EINTR) return false;
      if (ready <= 0) continue;
      const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) return false;
      head.append(buffer, static_cast<size_t>(got));
    }
    return true;
  }

  // Sends all of `data`; false when the client went away, the server stops
  // or the connection ran out of time.
  bool SendAll(int fd, const char* data, size_t size, Clock::time_point deadline) {
    while (size > 0) {
      if (Stopping() || Clock::now() > deadline) return false;
      pollfd p{fd, POLLOUT, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(kSlice.count()));
      if (ready < 0 && errno != EINTR) return false;
      if (ready <= 0) continue;
      const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
        return false;
      }
      data += sent;
      size -= static_cast<size_t>(sent);
    }
    return true;
  }

  static HttpRequest Parse(const std::string& head) {
    HttpRequest request;
    size_t lineEnd = head.find("\r\n");
    const std::string first = head.substr(0, lineEnd);
    const size_t space1 = first.find(' ');
    const size_t space2 = first.find(' ', space1 == std::string::npos ? space1 : space1 + 1);
    if (space1 != std::string::npos) {
      request.method = first.substr(0, space1);
      request.target = first.substr(
          space1 + 1, space2 == std::string::npos ? std::string::npos : space2 - space1 - 1);
    }
    size_t pos = lineEnd + 2;
    while (pos < head.size()) {
      const size_t end = head.find("\r\n", pos);
      if (end == std::string::npos || end == pos) break;
      const std::string line = head.substr(pos, end - pos);
      const size_t colon = line.find(':');
      if (colon != std::string::npos) {
        request.headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
      }
      pos = end + 2;
    }
    return request;
  }

  void Serve(const Socket& socket) {
    const int fd = socket.Get();
    const Clock::time_point deadline = Clock::now() + kConnectionLimit;
    std::string head;
    if (!ReadHead(fd, deadline, head)) return;
    HttpRequest request = Parse(head);
    HttpRoute route;
    {
      std::lock_guard<std::mutex> lock(mutex);
      requests.push_back(request);
      const std::string path = request.target.substr(0, request.target.find('?'));
      auto it = routes.find(path);
      route = it != routes.end() ? it->second : HttpRoute::Status(404, "no such path: " + path);
    }
    Respond(fd, request, route, deadline);
  }

  void Respond(int fd, const HttpRequest& request, const HttpRoute& route,
               Clock::time_point deadline) {
    if (!route.stallAfter && route.stallFor.count() > 0 && !Sleep(route.stallFor)) return;

    std::string out =
        "HTTP/1.1 " + std::to_string(route.status) + " " + Reason(route.status) + "\r\n";
    bool hasConnection = false;
    for (const auto& [key, value] : route.headers) {
      out += key + ": " + value + "\r\n";
      if (Lower(key) == "connection") hasConnection = true;
    }
    if (!hasConnection) out += "Connection: close\r\n";
    if (route.chunked) {
      out += "Transfer-Encoding: chunked\r\n";
    } else if (route.sendLength) {
      out +=
          "Content-Length: " + std::to_string(route.announcedLength.value_or(route.body.size())) +
          "\r\n";
    }
    out += "\r\n";
    if (!SendAll(fd, out.data(), out.size(), deadline)) return;
    if (request.method == "HEAD") return;

    // The body, cut where a stall, a drop or the trickle asks for it.
    const std::string& body = route.body;
    size_t offset = 0;
    bool stalled = false;
    while (offset < body.size()) {
      if (route.stallAfter && !stalled && offset >= *route.stallAfter) {
        stalled = true;
        if (!Sleep(route.stallFor)) return;
      }
      size_t piece = body.size() - offset;
      if (route.trickleBytes > 0) piece = std::min(piece, route.trickleBytes);
      if (route.stallAfter && offset < *route.stallAfter) {
        piece = std::min(piece, *route.stallAfter - offset);
      }
      if (route.dropAfter) {
        if (offset >= *route.dropAfter) return;
        piece = std::min(piece, *route.dropAfter - offset);
      }
      if (!SendBodyPiece(fd, route, body.data() + offset, piece, deadline)) return;
      offset += piece;
      if (route.trickleBytes > 0 && offset < body.size() && !Sleep(route.trickleDelay)) return;
    }
    if (route.dropAfter && offset >= *route.dropAfter) return;
    if (route.stallAfter && !stalled && !Sleep(route.stallFor)) return;

    if (route.endless) {
      const std::string filler(64 * 1024, 'x');
      for (uint64_t sent = 0; sent < HttpServer::kEndlessLimit; sent += filler.size()) {
        if (!SendBodyPiece(fd, route, filler.data(), filler.size(), deadline)) return;
      }
      return;
    }
    if (route.chunked) SendAll(fd, "0\r\n\r\n", 5, deadline);
    // A graceful end: the client sees the end of the stream after the body.
    ::shutdown(fd, SHUT_WR);
  }

  bool SendBodyPiece(int fd, const HttpRoute& route, const char* data, size_t size,
                     Clock::time_point deadline) {
    if (size == 0) return true;
    if (!route.chunked) return SendAll(fd, data, size, deadline);
    char prefix[32];
    const int length = std::snprintf(prefix, sizeof prefix, "%zx\r\n", size);
    return SendAll(fd, prefix, static_cast<size_t>(length), deadline) &&
           SendAll(fd, data, size, deadline) && SendAll(fd, "\r\n", 2, deadline);
  }
};

HttpServer::HttpServer() : impl_(std::make_unique<Impl>()) {
  impl_->listener = Socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (impl_->listener.Get() < 0)
    throw std::runtime_error("socket: " + std::string(strerror(errno)));
  const int one = 1;
  ::setsockopt(impl_->listener.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (::bind(impl_->listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
          0 ||
      ::listen(impl_->listener.Get(), 64) != 0) {
    throw std::runtime_error("bind/listen on loopback: " + std::string(strerror(errno)));
  }
  socklen_t length = sizeof address;
  ::getsockname(impl_->listener.Get(), reinterpret_cast<sockaddr*>(&address), &length);
  impl_->port = ntohs(address.sin_port);
  impl_->acceptor = std::thread([impl = impl_.get()] { impl->AcceptLoop(); });
}

HttpServer::~HttpServer() {
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->stopping = true;
  }
  impl_->wake.notify_all();
  impl_->acceptor.join();
  for (auto& connection : impl_->connections) connection.thread.join();
}

uint16_t HttpServer::Port() const noexcept {
  return impl_->port;
}

std::string HttpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(impl_->port) + path;
}

void HttpServer::Route(const std::string& path, HttpRoute route) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->routes[path] = std::move(route);
}

std::vector<HttpRequest> HttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->requests;
}

}  // namespace qv::test
