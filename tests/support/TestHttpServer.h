#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace velmo::test {

// An HTTP/1.1 server on 127.0.0.1 with an ephemeral port, for tests of
// everything that talks HTTP. It serves byte bodies by path with Range
// support (206 and Content-Range), keeps connections alive, captures every
// request (POST bodies included), and can misbehave per path on request.
//
// Threads: one accepting thread plus one thread per connection. mutex_ guards
// the resources and the request log; it is never held while a socket is read
// or written. Every wait is bounded and checks the stop flag, so the
// destructor returns promptly even while a throttled or delayed answer is in
// progress.
class TestHttpServer {
 public:
  struct Request {
    std::string method;
    std::string path;   // as sent, query included
    std::string range;  // the Range header's value, empty when absent
    std::string contentType;
    std::string userAgent;
    std::string acceptEncoding;  // the Accept-Encoding header's value, empty when absent
    std::string body;
    int connection = 0;  // 1-based number of the TCP connection it came on
  };

  TestHttpServer();
  ~TestHttpServer();
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  std::uint16_t Port() const { return port_; }
  std::string Host() const;                        // "127.0.0.1:PORT"
  std::string Url(const std::string& path) const;  // "http://127.0.0.1:PORT" + path

  // What GET serves at path. Ranges are honoured unless SetIgnoreRange.
  void SetBody(const std::string& path, std::string body);
  // Statuses answered to the next requests of path, one per request, before
  // it behaves normally again (for example {503, 503}). A 2xx entry serves
  // normally; anything else is answered with a short text body.
  void SetStatuses(const std::string& path, std::vector<int> statuses);
  // Flips every bit of the served byte at this offset of the body.
  void SetCorrupt(const std::string& path, std::uint64_t offset);
  void SetThrottle(const std::string& path, std::size_t bytesPerSecond);
  void SetDelay(const std::string& path, std::chrono::milliseconds delay);
  // Sends the headers for the whole answer, then only this many body bytes,
  // then closes the connection.
  void SetCloseAfter(const std::string& path, std::size_t bytes);
  // Sends the headers for the whole answer, then only this many body bytes,
  // then resets the connection (RST, not an orderly close).
  void SetResetAfter(const std::string& path, std::size_t bytes);
  // Answers every range with another range of the same length, `shift` bytes
  // further on (wrapping round within the body), labelled as such in its
  // Content-Range: a server that mixes up requests.
  void SetRangeShift(const std::string& path, std::uint64_t shift);
  // Answers a range with the whole body and 200, as servers without range
  // support do.
  void SetIgnoreRange(const std::string& path);
  // Appends this many bytes beyond the requested range (Content-Length
  // included), as a broken server would.
  void SetExtraBytes(const std::string& path, std::size_t bytes);
  // Answers 302 with this Location.
  void SetRedirect(const std::string& path, std::string location);

  int RequestCount(const std::string& path) const;
  std::vector<Request> Requests() const;
  int ConnectionCount() const { return connections_.load(); }
  // Body bytes sent for GETs of path (what a node served).
  std::uint64_t BytesServed(const std::string& path) const;

 private:
  struct Resource {
    std::optional<std::string> body;
    std::deque<int> statuses;
    std::optional<std::uint64_t> corruptOffset;
    std::size_t throttle = 0;
    std::chrono::milliseconds delay{0};
    std::optional<std::size_t> closeAfter;
    std::optional<std::size_t> resetAfter;
    std::uint64_t rangeShift = 0;
    bool ignoreRange = false;
    std::size_t extraBytes = 0;
    std::string redirect;
  };

  void Accept();
  void Serve(int fd, int connection);
  // Answers one request; false when the connection must close.
  bool Answer(int fd, const Request& request);
  bool WaitReadable(int fd, int ms) const;
  // Sends size bytes, throttled when asked; adds each byte handed to the
  // socket to *sentBytes when given.
  bool SendAll(int fd, const char* data, std::size_t size, std::size_t throttle,
               std::size_t* sentBytes = nullptr);
  bool Pause(std::chrono::milliseconds duration) const;

  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::map<std::string, Resource> resources_;
  std::vector<Request> requests_;
  std::map<std::string, std::uint64_t> served_;
  std::set<int> openSockets_;
  std::vector<std::thread> threads_;  // guarded by mutex_
  std::thread acceptor_;
};

}  // namespace velmo::test
