#include "support/TestHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace velmo::test {
namespace {

constexpr int kPollMs = 20;
constexpr int kIdleMs = 10000;  // a silent keep-alive connection is closed after this
constexpr std::size_t kMaxHeader = 64 * 1024;
constexpr std::size_t kMaxBody = 16 * 1024 * 1024;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Trim(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return std::string();
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 206:
      return "Partial Content";
    case 302:
      return "Found";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 416:
      return "Range Not Satisfiable";
    case 429:
      return "Too Many Requests";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

// "bytes=A-B" or "bytes=A-"; false for anything else (served whole).
bool ParseRange(const std::string& value, std::uint64_t& first,
                std::optional<std::uint64_t>& last) {
  const std::string prefix = "bytes=";
  if (value.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string range = value.substr(prefix.size());
  const auto dash = range.find('-');
  if (dash == std::string::npos || dash == 0) return false;
  try {
    first = std::stoull(range.substr(0, dash));
    const std::string end = range.substr(dash + 1);
    if (!end.empty()) last = std::stoull(end);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

}  // namespace

TestHttpServer::TestHttpServer() {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) throw std::runtime_error("test server: socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(listener_, 64) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(listener_);
    throw std::runtime_error("test server: bind/listen failed");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { Accept(); });
}

TestHttpServer::~TestHttpServer() {
  {
    // Under the lock, so that no scripted wait misses the flag between its
    // check and its sleep.
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  exchangeChanged_.notify_all();
  acceptor_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const int fd : openSockets_) ::shutdown(fd, SHUT_RDWR);
    threads.swap(threads_);
  }
  for (std::thread& thread : threads) thread.join();
  ::close(listener_);
}

std::string TestHttpServer::Host() const { return "127.0.0.1:" + std::to_string(port_); }

std::string TestHttpServer::Url(const std::string& path) const { return "http://" + Host() + path; }

void TestHttpServer::SetBody(const std::string& path, std::string body) {
  std::lock_guard<std::mutex> lock(mutex_);
  resources_[path].body = std::move(body);
}

void TestHttpServer::SetBusy(int status, std::string retryAfter, std::chrono::milliseconds window) {
  std::lock_guard<std::mutex> lock(mutex_);
  busy_ = Busy{status, std::move(retryAfter), window, std::nullopt, busy_.answered};
}

int TestHttpServer::BusyAnswers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return busy_.answered;
}

void TestHttpServer::SetStatuses(const std::string& path, std::vector<int> statuses) {
  std::lock_guard<std::mutex> lock(mutex_);
  resources_[path].statuses.assign(statuses.begin(), statuses.end());
}

void TestHttpServer::SetCorrupt(const std::string& path, std::uint64_t offset) {
  std::lock_guard<std::mutex> lock(mutex_);
  resources_[path].corruptOffset = offset;
}

void TestHttpServer::SetThrottle(const std::string& path, std::size_t bytesPerSecond) {
  std::lock_guard<std::mutex> lock(mutex_);
  resources_[path].throttle = bytesPerSecond;
}

void TestHttpServer::SetDelay(const std::string& path, std::chrono::milliseconds delay) {
  std::lock_guard<std::mutex> lock(mutex_);
  resources_[path].delay = delay;
}

void TestHttpServer::SetCloseAfter(const std::string& path, std::size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  resources_[path].closeAfter = bytes;
}

void TestHttpServer::SetResetAfter(const std::string& path, std::size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  resources_[path].resetAfter = bytes;
}

void TestHttpServer::SetRangeShift(const std::string& path, std::uint64_t shift) {
  std::lock_guard<std::mutex> lock(mutex_);
  resources_[path].rangeShift = shift;
}

void TestHttpServer::SetIgnoreRange(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  resources_[path].ignoreRange = true;
}

void TestHttpServer::SetExtraBytes(const std::string& path, std::size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  resources_[path].extraBytes = bytes;
}

void TestHttpServer::SetRedirect(const std::string& path, std::string location) {
  std::lock_guard<std::mutex> lock(mutex_);
  resources_[path].redirect = std::move(location);
}

void TestHttpServer::SetScripted(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  resources_[path].scripted = true;
}

std::optional<TestHttpServer::Scripted> TestHttpServer::WaitForRequest(
    const std::string& path, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  std::deque<int>& arrived = arrivals_[path];
  if (!exchangeChanged_.wait_for(lock, timeout, [&] { return stop_ || !arrived.empty(); }) ||
      arrived.empty()) {
    return std::nullopt;
  }
  const int id = arrived.front();
  arrived.pop_front();
  const Exchange& exchange = exchanges_.at(id);
  Scripted scripted;
  scripted.id = id;
  scripted.range = exchange.range;
  scripted.first = exchange.first;
  scripted.last = exchange.last;
  scripted.connection = exchange.connection;
  return scripted;
}

bool TestHttpServer::SendHeaders(int id) {
  std::string head;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = exchanges_.find(id);
    if (found == exchanges_.end()) return false;
    const Exchange& exchange = found->second;
    const std::uint64_t length = exchange.last - exchange.first + 1;
    head = exchange.ranged
               ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " +
                     std::to_string(exchange.first) + "-" + std::to_string(exchange.last) + "/" +
                     std::to_string(exchange.bodySize) + "\r\n"
               : "HTTP/1.1 200 OK\r\n";
    head += "Accept-Ranges: bytes\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
  }
  Exchange::Step step;
  step.bytes = std::move(head);
  step.headers = true;
  return Perform(id, std::move(step));
}

bool TestHttpServer::SendBody(int id, std::uint64_t from, std::uint64_t length) {
  std::string bytes;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = exchanges_.find(id);
    if (found == exchanges_.end()) return false;
    const Exchange& exchange = found->second;
    const std::uint64_t size = exchange.last - exchange.first + 1;
    if (from >= size) return false;
    const std::optional<std::string>& body = resources_[exchange.path].body;
    if (!body) return false;
    bytes = body->substr(exchange.first + from, std::min(length, size - from));
  }
  return SendBytes(id, std::move(bytes));
}

bool TestHttpServer::SendBytes(int id, std::string bytes) {
  Exchange::Step step;
  step.bytes = std::move(bytes);
  return Perform(id, std::move(step));
}

bool TestHttpServer::Close(int id) {
  Exchange::Step step;
  step.close = true;
  return Perform(id, std::move(step));
}

bool TestHttpServer::Perform(int id, Exchange::Step step) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto found = exchanges_.find(id);
  if (found == exchanges_.end()) return false;
  Exchange& exchange = found->second;
  if (exchange.over || stop_) return false;
  exchange.steps.push_back(std::move(step));
  const std::size_t number = ++exchange.queued;
  exchangeChanged_.notify_all();
  exchangeChanged_.wait_for(lock, kScriptBound,
                            [&] { return stop_ || exchange.over || exchange.done >= number; });
  return exchange.done >= number;
}

bool TestHttpServer::WaitClosedByClient(int id, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto found = exchanges_.find(id);
  if (found == exchanges_.end()) return false;
  const Exchange& exchange = found->second;
  return exchangeChanged_.wait_for(lock, timeout, [&] { return stop_ || exchange.hungUp; }) &&
         exchange.hungUp;
}

bool TestHttpServer::IsOpen(int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = exchanges_.find(id);
  return found != exchanges_.end() && !found->second.over;
}

bool TestHttpServer::HungUp(int fd) {
  pollfd entry{fd, POLLIN | POLLRDHUP, 0};
  if (::poll(&entry, 1, 0) <= 0) return false;
  if ((entry.revents & (POLLHUP | POLLERR | POLLRDHUP)) != 0) return true;
  // Readable: an orderly close reads as 0 bytes. Anything else waits for
  // the answer (clients do not pipeline).
  char byte;
  return ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

bool TestHttpServer::AnswerScripted(int fd, const Request& request, const std::string& path,
                                    std::uint64_t first, std::uint64_t last, bool ranged) {
  std::unique_lock<std::mutex> lock(mutex_);
  const int id = ++lastExchange_;
  Exchange& exchange = exchanges_[id];  // a reference into a map stays valid
  exchange.path = path;
  exchange.first = first;
  exchange.last = last;
  exchange.bodySize = resources_[path].body->size();
  exchange.ranged = ranged;
  exchange.range = request.range;
  exchange.connection = request.connection;
  arrivals_[path].push_back(id);
  exchangeChanged_.notify_all();
  for (;;) {
    exchangeChanged_.wait_for(lock, std::chrono::milliseconds(kPollMs),
                              [&] { return stop_ || !exchange.steps.empty(); });
    if (stop_) {
      exchange.over = true;
      exchangeChanged_.notify_all();
      return false;
    }
    if (exchange.steps.empty()) {
      lock.unlock();
      const bool gone = HungUp(fd);
      lock.lock();
      if (gone) {
        exchange.hungUp = exchange.over = true;
        exchangeChanged_.notify_all();
        return false;
      }
      continue;
    }
    const Exchange::Step step = std::move(exchange.steps.front());
    exchange.steps.pop_front();
    if (step.close) {
      ++exchange.done;
      exchange.over = true;
      exchangeChanged_.notify_all();
      return false;
    }
    lock.unlock();
    std::size_t delivered = 0;
    const bool sent = SendAll(fd, step.bytes.data(), step.bytes.size(), 0, &delivered);
    lock.lock();
    if (step.headers) {
      exchange.announced = last - first + 1;
    } else {
      exchange.sent += delivered;
      served_[path] += delivered;
    }
    if (sent) ++exchange.done;
    // A send fails when the client has gone (or the server stops).
    if (!sent && !stop_) exchange.hungUp = true;
    const bool complete = exchange.announced && exchange.sent >= *exchange.announced;
    if (!sent || complete) exchange.over = true;
    exchangeChanged_.notify_all();
    if (!sent) return false;
    if (complete) return true;
  }
}

int TestHttpServer::RequestCount(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(std::count_if(requests_.begin(), requests_.end(),
                                        [&](const Request& r) { return r.path == path; }));
}

std::vector<TestHttpServer::Request> TestHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::uint64_t TestHttpServer::BytesServed(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = served_.find(path);
  return found == served_.end() ? 0 : found->second;
}

bool TestHttpServer::WaitReadable(int fd, int ms) const {
  for (int waited = 0; waited < ms && !stop_; waited += kPollMs) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, kPollMs) > 0) return true;
  }
  return false;
}

bool TestHttpServer::Pause(std::chrono::milliseconds duration) const {
  const auto until = std::chrono::steady_clock::now() + duration;
  while (!stop_ && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(
        std::min<std::int64_t>(kPollMs, std::chrono::duration_cast<std::chrono::milliseconds>(
                                            until - std::chrono::steady_clock::now())
                                                .count() +
                                            1)));
  }
  return !stop_;
}

bool TestHttpServer::WaitIdle(std::chrono::milliseconds bound) const {
  const auto until = std::chrono::steady_clock::now() + bound;
  while (std::chrono::steady_clock::now() < until) {
    pollfd pending{listener_, POLLIN, 0};
    bool idle = ::poll(&pending, 1, 0) == 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      idle = idle && openSockets_.empty();
    }
    if (idle) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

void TestHttpServer::Accept() {
  while (!stop_) {
    if (!WaitReadable(listener_, 100)) continue;
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int connection = ++connections_;
    std::lock_guard<std::mutex> lock(mutex_);
    openSockets_.insert(fd);
    threads_.emplace_back([this, fd, connection] { Serve(fd, connection); });
  }
}

void TestHttpServer::Serve(int fd, int connection) {
  std::string buffer;
  char block[16384];
  bool open = true;
  while (open && !stop_) {
    // The header block.
    std::size_t end;
    while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
      if (buffer.size() > kMaxHeader || !WaitReadable(fd, kIdleMs)) {
        open = false;
        break;
      }
      const ssize_t n = ::recv(fd, block, sizeof(block), 0);
      if (n <= 0) {
        open = false;
        break;
      }
      buffer.append(block, static_cast<std::size_t>(n));
    }
    if (!open) break;
    const std::string head = buffer.substr(0, end);
    buffer.erase(0, end + 4);

    Request request;
    request.connection = connection;
    std::size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const auto firstSpace = requestLine.find(' ');
    const auto secondSpace = requestLine.find(' ', firstSpace + 1);
    if (firstSpace == std::string::npos || secondSpace == std::string::npos) break;
    request.method = requestLine.substr(0, firstSpace);
    request.path = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    std::size_t contentLength = 0;
    bool closeAfter = false;
    while (lineEnd != std::string::npos) {
      const std::size_t next = head.find("\r\n", lineEnd + 2);
      const std::string line = head.substr(
          lineEnd + 2, next == std::string::npos ? std::string::npos : next - lineEnd - 2);
      lineEnd = next;
      const auto colon = line.find(':');
      if (colon == std::string::npos) continue;
      const std::string name = Lower(line.substr(0, colon));
      const std::string value = Trim(line.substr(colon + 1));
      if (name == "range") request.range = value;
      if (name == "content-type") request.contentType = value;
      if (name == "user-agent") request.userAgent = value;
      if (name == "accept-encoding") request.acceptEncoding = value;
      if (name == "connection" && Lower(value) == "close") closeAfter = true;
      if (name == "content-length") {
        try {
          contentLength = static_cast<std::size_t>(std::stoull(value));
        } catch (const std::exception&) {
          contentLength = kMaxBody + 1;
        }
      }
    }
    if (contentLength > kMaxBody) break;
    while (buffer.size() < contentLength) {
      if (!WaitReadable(fd, kIdleMs)) {
        open = false;
        break;
      }
      const ssize_t n = ::recv(fd, block, sizeof(block), 0);
      if (n <= 0) {
        open = false;
        break;
      }
      buffer.append(block, static_cast<std::size_t>(n));
    }
    if (!open) break;
    request.body = buffer.substr(0, contentLength);
    buffer.erase(0, contentLength);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    open = Answer(fd, request) && !closeAfter;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  openSockets_.erase(fd);
  ::close(fd);
}

bool TestHttpServer::SendAll(int fd, const char* data, std::size_t size, std::size_t throttle,
                             std::size_t* sentBytes) {
  // Throttled answers go out in slices of a tenth of the rate, ten per second.
  const std::size_t slice = throttle == 0 ? size : std::max<std::size_t>(1, throttle / 10);
  std::size_t sent = 0;
  while (sent < size) {
    if (stop_) return false;
    const std::size_t want = std::min(slice, size - sent);
    std::size_t done = 0;
    while (done < want) {
      const ssize_t n = ::send(fd, data + sent + done, want - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
      if (sentBytes != nullptr) *sentBytes += static_cast<std::size_t>(n);
    }
    sent += want;
    if (throttle != 0 && sent < size && !Pause(std::chrono::milliseconds(100))) return false;
  }
  return true;
}

bool TestHttpServer::Answer(int fd, const Request& request) {
  // Query strings do not select a different resource.
  const std::string path = request.path.substr(0, request.path.find('?'));
  Resource resource;
  bool known = false;
  int scripted = 0;
  int busy = 0;
  std::string retryAfter;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (busy_.status != 0 && request.method == "GET") {
      const auto now = std::chrono::steady_clock::now();
      if (!busy_.since) busy_.since = now;
      if (now - *busy_.since < busy_.window) {
        busy = busy_.status;
        retryAfter = busy_.retryAfter;
        ++busy_.answered;
      }
    }
    const auto found = resources_.find(path);
    if (found != resources_.end()) {
      known = true;
      if (!found->second.statuses.empty()) {
        scripted = found->second.statuses.front();
        found->second.statuses.pop_front();
      }
      resource = found->second;
    }
  }
  if (resource.delay.count() > 0 && !Pause(resource.delay)) return false;

  const auto sendSimple = [&](int status, const std::string& extraHeaders,
                              const std::string& text) {
    const std::string response = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) +
                                 "\r\n" + extraHeaders +
                                 "Content-Length: " + std::to_string(text.size()) + "\r\n\r\n" +
                                 (request.method == "HEAD" ? std::string() : text);
    return SendAll(fd, response.data(), response.size(), 0);
  };

  if (busy != 0) {
    return sendSimple(busy, retryAfter.empty() ? "" : "Retry-After: " + retryAfter + "\r\n",
                      "busy\n");
  }
  if (scripted != 0 && (scripted < 200 || scripted > 299)) {
    return sendSimple(scripted, "", "scripted " + std::to_string(scripted) + "\n");
  }
  if (!resource.redirect.empty()) {
    return sendSimple(302, "Location: " + resource.redirect + "\r\n", "");
  }
  if (request.method == "POST") {
    return sendSimple(scripted != 0 ? scripted : 204, "", "");
  }
  if (!known || !resource.body) {
    return sendSimple(404, "", "not found\n");
  }

  const std::string& body = *resource.body;
  std::uint64_t first = 0;
  std::optional<std::uint64_t> last;
  const bool ranged = !resource.ignoreRange && ParseRange(request.range, first, last);
  if (resource.scripted && request.method == "GET" && !body.empty() &&
      (!ranged || first < body.size())) {
    const std::uint64_t end =
        ranged ? std::min<std::uint64_t>(last.value_or(body.size() - 1), body.size() - 1)
               : body.size() - 1;
    return AnswerScripted(fd, request, path, ranged ? first : 0, end, ranged);
  }
  std::string headers;
  std::string payload;
  int status = 200;
  std::uint64_t offset = 0;
  if (ranged) {
    if (first >= body.size()) {
      return sendSimple(416, "Content-Range: bytes */" + std::to_string(body.size()) + "\r\n", "");
    }
    std::uint64_t end = std::min<std::uint64_t>(last.value_or(body.size() - 1), body.size() - 1);
    if (resource.rangeShift != 0) {
      const std::uint64_t length = end - first + 1;
      first = (first + resource.rangeShift) % (body.size() - length + 1);
      end = first + length - 1;
    }
    payload = body.substr(first, end - first + 1);
    offset = first;
    status = 206;
    headers = "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(end) + "/" +
              std::to_string(body.size()) + "\r\n";
  } else {
    payload = body;
  }
  if (resource.corruptOffset && *resource.corruptOffset >= offset &&
      *resource.corruptOffset < offset + payload.size()) {
    char& byte = payload[*resource.corruptOffset - offset];
    byte = static_cast<char>(~static_cast<unsigned char>(byte));
  }
  payload.append(resource.extraBytes, 'X');
  const std::string head =
      "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n" + headers +
      "Accept-Ranges: bytes\r\nContent-Length: " + std::to_string(payload.size()) + "\r\n\r\n";
  if (!SendAll(fd, head.data(), head.size(), 0)) return false;
  if (request.method == "HEAD") return true;
  std::size_t toSend = payload.size();
  const bool cut = resource.closeAfter && *resource.closeAfter < toSend;
  if (cut) toSend = *resource.closeAfter;
  const bool reset = resource.resetAfter && *resource.resetAfter < toSend;
  if (reset) toSend = *resource.resetAfter;
  // What went out, not what was meant to: a cancelled download stops short.
  std::size_t delivered = 0;
  const bool sent = SendAll(fd, payload.data(), toSend, resource.throttle, &delivered);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    served_[path] += delivered;
  }
  if (reset) {
    // A zero linger time makes the close that follows send RST.
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  }
  return sent && !cut && !reset;
}

}  // namespace velmo::test
