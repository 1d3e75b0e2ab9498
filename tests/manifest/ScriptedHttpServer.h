#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace velmo::test {

// A minimal HTTP/1.1 server on 127.0.0.1 with an ephemeral port for manifest
// fetches: one canned answer per path (status, body, delay before the
// headers), one request per connection. Every wait is bounded, and the
// destructor stops the thread even while a delayed answer is pending.
class ScriptedHttpServer {
 public:
  struct Answer {
    int status = 200;
    std::string body;
    std::chrono::milliseconds delay{0};
  };

  ScriptedHttpServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ::close(listener_);
      throw std::runtime_error("bind/listen failed");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }

  ~ScriptedHttpServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }

  ScriptedHttpServer(const ScriptedHttpServer&) = delete;
  ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }

  void Set(const std::string& path, Answer answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_[path] = std::move(answer);
  }

  int Requests(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = requests_.find(path);
    return found == requests_.end() ? 0 : found->second;
  }

 private:
  static const char* Reason(int status) {
    switch (status) {
      case 200:
        return "OK";
      case 404:
        return "Not Found";
      case 503:
        return "Service Unavailable";
      default:
        return "Status";
    }
  }

  // Waits for the socket to be readable for at most `ms`, checking stop_.
  bool WaitReadable(int fd, int ms) {
    for (int waited = 0; waited < ms && !stop_; waited += 50) {
      pollfd entry{fd, POLLIN, 0};
      if (::poll(&entry, 1, 50) > 0) return true;
    }
    return false;
  }

  void Serve() {
    while (!stop_) {
      if (!WaitReadable(listener_, 100)) continue;
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      Handle(client);
      ::close(client);
    }
  }

  void Handle(int client) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
      if (!WaitReadable(client, 5000)) return;
      const ssize_t n = ::recv(client, buffer, sizeof(buffer), 0);
      if (n <= 0) return;
      request.append(buffer, static_cast<std::size_t>(n));
    }
    const auto start = request.find(' ') + 1;
    const std::string path = request.substr(start, request.find(' ', start) - start);
    Answer answer;
    answer.status = 404;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++requests_[path];
      const auto found = answers_.find(path);
      if (found != answers_.end()) answer = found->second;
    }
    const auto until = std::chrono::steady_clock::now() + answer.delay;
    while (!stop_ && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (stop_) return;
    const std::string response = "HTTP/1.1 " + std::to_string(answer.status) + " " +
                                 Reason(answer.status) +
                                 "\r\nContent-Length: " + std::to_string(answer.body.size()) +
                                 "\r\nConnection: close\r\n\r\n" + answer.body;
    std::size_t sent = 0;
    while (sent < response.size()) {
      const ssize_t n =
          ::send(client, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
    }
  }

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::map<std::string, Answer> answers_;
  std::map<std::string, int> requests_;
  std::thread thread_;
};

}  // namespace velmo::test
