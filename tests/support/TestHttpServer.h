#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
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
// request (POST bodies included), and can misbehave per path on request. A
// scripted path leaves each answer to the test, piece by piece, so that a
// test can put the answers of several requests in the order it needs.
//
// Threads: one accepting thread plus one thread per connection. mutex_ guards
// the resources, the request log and the scripted exchanges; it is never held
// while a socket is read or written. Every wait is bounded and checks the
// stop flag, so the destructor returns promptly even while a throttled,
// delayed or scripted answer is in progress.
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

  // A GET of a scripted path, waiting for the test to answer it.
  struct Scripted {
    int id = 0;               // names it in the calls below; unique within the server
    std::string range;        // the Range header's value, empty when absent
    std::uint64_t first = 0;  // the body's bytes the answer is for, first and last
    std::uint64_t last = 0;
    int connection = 0;
    std::uint64_t Size() const { return last - first + 1; }
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
  // A busy server: every GET, of any path, that arrives within `window` of
  // the first one after this call is answered `status`, with a Retry-After
  // header of `retryAfter` unless it is empty.
  void SetBusy(int status, std::string retryAfter, std::chrono::milliseconds window);
  // The GETs answered busy so far.
  int BusyAnswers() const;

  // Scripted answers: a GET of path (with a body set and a satisfiable range)
  // gets nothing until the test says what goes out. WaitForRequest hands the
  // requests out in arrival order; the test then sends the headers, parts of
  // the body or other bytes, in any order and with any pause between them,
  // or closes the connection. Once as many bytes as the headers announced
  // have gone out the exchange is over and the connection serves the next
  // request. Each call returns when the connection's thread has done what it
  // asks, true when it was done in full; false when the exchange is already
  // over, the client hung up, the server is stopping or kScriptBound passed.
  void SetScripted(const std::string& path);
  // The next request of path not handed out yet; none when none came in time.
  std::optional<Scripted> WaitForRequest(const std::string& path,
                                         std::chrono::milliseconds timeout);
  // 206 with Content-Range and Content-Length for the asked range (200 and
  // the whole body for a request without a range).
  bool SendHeaders(int id);
  // `length` bytes of the body from `from`, counted from the range's first
  // byte (cut at the range's end).
  bool SendBody(int id, std::uint64_t from, std::uint64_t length);
  // These bytes where the body's would go; they count against Content-Length.
  bool SendBytes(int id, std::string bytes);
  // Closes the connection, whatever has been sent.
  bool Close(int id);
  // True once the client has closed the connection while the answer was
  // still open (a cancelled request); false when the bound passed first.
  bool WaitClosedByClient(int id, std::chrono::milliseconds timeout);
  // Arrived, and neither answered in full nor closed by either side.
  bool IsOpen(int id) const;
  static constexpr std::chrono::milliseconds kScriptBound{10000};

  int RequestCount(const std::string& path) const;
  std::vector<Request> Requests() const;
  int ConnectionCount() const { return connections_.load(); }
  // Waits until no connection is open or waiting to be accepted, so that
  // every request a client that has gone away sent is recorded; false when
  // `bound` passed first.
  bool WaitIdle(std::chrono::milliseconds bound) const;
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
    bool scripted = false;
  };

  // One scripted exchange. Its connection's thread carries out the queued
  // steps in order; `done` counts those carried out in full.
  struct Exchange {
    struct Step {
      std::string bytes;
      bool headers = false;  // bytes are the header block
      bool close = false;
    };
    std::string path;
    std::string range;
    int connection = 0;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::uint64_t bodySize = 0;
    bool ranged = false;
    std::deque<Step> steps;
    std::size_t queued = 0;  // steps handed to the thread so far
    std::size_t done = 0;
    std::optional<std::uint64_t> announced;  // Content-Length, once the headers went out
    std::uint64_t sent = 0;                  // bytes sent after the headers
    bool hungUp = false;                     // the client closed while it was open
    bool over = false;
  };

  void Accept();
  void Serve(int fd, int connection);
  // Carries out the steps the test queues for a request of a scripted path;
  // false when the connection must close.
  bool AnswerScripted(int fd, const Request& request, const std::string& path, std::uint64_t first,
                      std::uint64_t last, bool ranged);
  // Queues a step and waits until it is carried out; true when it was in full.
  bool Perform(int id, Exchange::Step step);
  // The client has closed its side (or the connection broke).
  static bool HungUp(int fd);
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
  struct Busy {
    int status = 0;
    std::string retryAfter;
    std::chrono::milliseconds window{0};
    std::optional<std::chrono::steady_clock::time_point> since;
    int answered = 0;
  };
  Busy busy_;
  std::map<int, Exchange> exchanges_;                // by id, never erased
  std::map<std::string, std::deque<int>> arrivals_;  // by path, not handed out yet
  int lastExchange_ = 0;
  std::condition_variable exchangeChanged_;  // with mutex_
  std::set<int> openSockets_;
  std::vector<std::thread> threads_;  // guarded by mutex_
  std::thread acceptor_;
};

}  // namespace velmo::test
