#include "support/posix/HttpServer.h"

#include <httplib.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace qv::test {

struct HttpServer::Impl {
  httplib::Server server;
  std::thread listener;
  mutable std::mutex mutex;
  std::map<std::string, HttpRoute> routes;

  void Serve(const httplib::Request& request, httplib::Response& response) {
    HttpRoute route;
    {
      std::lock_guard<std::mutex> lock(mutex);
      const auto it = routes.find(request.target.substr(0, request.target.find('?')));
      route = it != routes.end() ? it->second : HttpRoute{.status = 404, .body = "no such path"};
    }
    response.status = route.status;
    if (!route.location.empty()) response.set_header("Location", route.location);
    if (route.stallAfter || route.cutShort) {
      // The body in pieces of `stallAfter` bytes, `stallFor` apart.
      const size_t piece = route.stallAfter.value_or(route.body.size());
      response.set_content_provider(route.body.size() + route.cutShort, "application/zip",
                                    [route, piece](size_t offset, size_t, httplib::DataSink& sink) {
                                      if (offset >= route.body.size()) return false;
                                      if (offset > 0) std::this_thread::sleep_for(route.stallFor);
                                      const size_t end =
                                          std::min(route.body.size(), offset + piece);
                                      return sink.write(route.body.data() + offset, end - offset);
                                    });
    } else {
      response.set_content(route.body, "application/zip");
    }
  }
};

HttpServer::HttpServer() : impl_(std::make_unique<Impl>()) {
  httplib::Server& server = impl_->server;
  server.set_keep_alive_max_count(1);
  server.set_pre_routing_handler([impl = impl_.get()](const auto& request, auto& response) {
    impl->Serve(request, response);
    return httplib::Server::HandlerResponse::Handled;
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  if (port <= 0) throw std::runtime_error("cannot listen on loopback");
  port_ = static_cast<uint16_t>(port);
  impl_->listener = std::thread([&server] { server.listen_after_bind(); });
  // stop() does nothing to a server that does not run yet.
  while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

HttpServer::~HttpServer() {
  impl_->server.stop();
  impl_->listener.join();
}

void HttpServer::Route(const std::string& path, HttpRoute route) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->routes[path] = std::move(route);
}

}  // namespace qv::test
