// velmo-pacing-proxy: a TCP proxy on 127.0.0.1 for benchmarks and fault
// drills. Everything the server sends goes out at no more than --rate bytes
// per second across all connections together, shared equally among the
// connections that have bytes waiting, as a mirror behind one capped link
// would behave (nginx's limit_rate caps each request on its own). With
// --stall-after-headers every response stops after its header block while
// the connection stays open: a server that hangs mid-response.
//
// One thread, non-blocking sockets and poll(2); at most kBuffer bytes wait in
// each direction of a connection, so a fast server is held back rather than
// buffered. SIGTERM or SIGINT ends it cleanly.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <list>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kBuffer = std::size_t{256} * 1024;
constexpr int kMaxConnections = 1000;

volatile sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

const char kUsage[] =
    "Usage: velmo-pacing-proxy --target PORT [--listen PORT] [--rate BYTES_PER_SECOND]\n"
    "                          [--stall-after-headers] [--port-file FILE]\n"
    "                          [--stats-file FILE]\n"
    "\n"
    "Listens on 127.0.0.1:PORT (default 0: any free port) and forwards every\n"
    "connection to 127.0.0.1:TARGET. --rate caps what the server sends, across\n"
    "all connections together (0: no cap). --stall-after-headers forwards only\n"
    "the header block of each response and then nothing more. Prints\n"
    "\"port=N\" once it listens (also into --port-file, written atomically).\n"
    "--stats-file gets \"sent=BYTES\", the bytes delivered to clients so far,\n"
    "rewritten atomically within 100 ms of a change and at exit.\n";

[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "velmo-pacing-proxy: " << message << "\n";
  std::exit(2);
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL, 0);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Bytes waiting to go one way.
struct Buffer {
  std::vector<char> bytes;
  std::size_t start = 0;

  std::size_t Size() const { return bytes.size() - start; }
  std::size_t Room() const { return kBuffer > Size() ? kBuffer - Size() : 0; }
  const char* Data() const { return bytes.data() + start; }
  void Append(const char* data, std::size_t size) {
    if (start > 0 && start == bytes.size()) {
      bytes.clear();
      start = 0;
    }
    bytes.insert(bytes.end(), data, data + size);
  }
  void Consume(std::size_t size) {
    start += size;
    if (start == bytes.size()) {
      bytes.clear();
      start = 0;
    } else if (start > kBuffer) {
      bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(start));
      start = 0;
    }
  }
};

struct Connection {
  int client = -1;
  int server = -1;
  bool connecting = true;
  bool clientDone = false;  // the client sent EOF
  bool serverDone = false;  // the server sent EOF
  bool broken = false;      // an error on either side: close now
  bool stalled = false;     // a header block went out; nothing more will
  int headerMatch = 0;      // how much of "\r\n\r\n" the response has matched
  Buffer toServer;
  Buffer toClient;
};

void Close(Connection& c) {
  if (c.client >= 0) close(c.client);
  if (c.server >= 0) close(c.server);
  c.client = c.server = -1;
}

// Takes bytes the server sent; in stall mode keeps only up to the end of the
// first header block and stalls the connection there.
void FromServer(Connection& c, const char* data, std::size_t size, bool stall) {
  if (!stall) {
    c.toClient.Append(data, size);
    return;
  }
  static const char kEnd[] = "\r\n\r\n";
  std::size_t i = 0;
  for (; i < size && !c.stalled; ++i) {
    c.headerMatch = data[i] == kEnd[c.headerMatch] ? c.headerMatch + 1 : (data[i] == '\r' ? 1 : 0);
    if (c.headerMatch == 4) c.stalled = true;
  }
  c.toClient.Append(data, i);
}

int Listen(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) Fail(std::string("socket: ") + std::strerror(errno));
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    Fail("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno));
  }
  if (listen(fd, 128) != 0 || !SetNonBlocking(fd)) {
    Fail(std::string("listen: ") + std::strerror(errno));
  }
  return fd;
}

int BoundPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

// Starts a connection to the server; -1 when that fails at once.
int ConnectServer(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  if (!SetNonBlocking(fd)) {
    close(fd);
    return -1;
  }
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
      errno != EINPROGRESS) {
    close(fd);
    return -1;
  }
  return fd;
}

void WriteAtomically(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  std::ofstream(temporary) << text;
  if (std::rename(temporary.c_str(), path.c_str()) != 0) Fail("cannot write " + path);
}

int ParsePort(const std::string& text, const char* option) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 0 || value > 65535) {
    Fail(std::string(option) + " needs a port number, not '" + text + "'");
  }
  return static_cast<int>(value);
}

}  // namespace

int main(int argc, char** argv) {
  int listenPort = 0;
  int target = -1;
  double rate = 0.0;
  bool stall = false;
  std::string portFile;
  std::string statsFile;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) Fail(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--listen") {
      listenPort = ParsePort(value(), "--listen");
    } else if (arg == "--target") {
      target = ParsePort(value(), "--target");
    } else if (arg == "--rate") {
      const std::string text = value();
      char* end = nullptr;
      rate = std::strtod(text.c_str(), &end);
      if (text.empty() || *end != '\0' || !(rate >= 0.0)) {
        Fail("--rate needs a number of bytes per second, not '" + text + "'");
      }
    } else if (arg == "--stall-after-headers") {
      stall = true;
    } else if (arg == "--port-file") {
      portFile = value();
    } else if (arg == "--stats-file") {
      statsFile = value();
    } else {
      Fail("unknown argument " + arg + "\n" + kUsage);
    }
  }
  if (target <= 0) Fail("--target PORT is required\n" + std::string(kUsage));

  signal(SIGPIPE, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);

  const int listener = Listen(listenPort);
  const int port = BoundPort(listener);
  std::cout << "port=" << port << std::endl;
  if (!portFile.empty()) WriteAtomically(portFile, "port=" + std::to_string(port) + "\n");
  std::uint64_t sentTotal = 0;
  std::uint64_t sentWritten = 1;  // differs: the first pass writes the file
  double statsWritten = 0.0;
  const auto writeStats = [&](double now) {
    if (statsFile.empty() || sentWritten == sentTotal) return;
    WriteAtomically(statsFile, "sent=" + std::to_string(sentTotal) + "\n");
    sentWritten = sentTotal;
    statsWritten = now;
  };

  // The shared budget: what may still go out now, refilled at `rate` and
  // held to a short burst so that the cap holds over any 20 ms.
  const double burst = std::max(rate * 0.02, 16384.0);
  double tokens = burst;
  double last = Now();
  std::list<Connection> connections;
  std::vector<char> chunk(std::size_t{64} * 1024);
  std::size_t turn = 0;

  while (!gStop) {
    const double now = Now();
    if (now - statsWritten >= 0.1) writeStats(now);
    if (rate > 0.0) tokens = std::min(burst, tokens + (now - last) * rate);
    last = now;
    // Writes wait for a few KiB of budget, so that poll does not spin.
    const double quantum = std::min(4096.0, burst);
    const bool mayWrite = rate <= 0.0 || tokens >= quantum;

    std::vector<pollfd> fds;
    std::vector<Connection*> owners;
    fds.push_back(
        {listener, static_cast<short>(connections.size() < kMaxConnections ? POLLIN : 0), 0});
    owners.push_back(nullptr);
    bool waitingForTokens = false;
    for (auto& c : connections) {
      short client = 0;
      short server = 0;
      if (!c.clientDone && c.toServer.Room() > 0) client |= POLLIN;
      if (c.toClient.Size() > 0) {
        if (mayWrite) {
          client |= POLLOUT;
        } else {
          waitingForTokens = true;
        }
      }
      if (c.server >= 0 && (c.connecting || c.toServer.Size() > 0)) server |= POLLOUT;
      if (!c.connecting && !c.serverDone && !c.stalled && c.toClient.Room() > 0) server |= POLLIN;
      fds.push_back({c.client, client, 0});
      owners.push_back(&c);
      fds.push_back({c.server, server, 0});
      owners.push_back(&c);
    }
    int timeout = 100;
    if (waitingForTokens) {
      timeout = std::max(1, static_cast<int>((quantum - tokens) / rate * 1000.0 + 1.0));
      timeout = std::min(timeout, 100);
    }
    if (poll(fds.data(), fds.size(), timeout) < 0) {
      if (errno == EINTR) continue;
      Fail(std::string("poll: ") + std::strerror(errno));
    }

    if (fds[0].revents & POLLIN) {
      for (;;) {
        const int client = accept(listener, nullptr, nullptr);
        if (client < 0) break;
        const int server = SetNonBlocking(client) ? ConnectServer(target) : -1;
        if (server < 0) {
          close(client);
          continue;
        }
        const int one = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        Connection c;
        c.client = client;
        c.server = server;
        connections.push_back(std::move(c));
        if (connections.size() >= kMaxConnections) break;
      }
    }

    // Reads, connects and unpaced writes towards the server.
    std::vector<Connection*> writable;
    for (std::size_t i = 1; i < fds.size(); i += 2) {
      Connection& c = *owners[i];
      const short client = fds[i].revents;
      const short server = fds[i + 1].revents;
      if (c.connecting && (server & (POLLOUT | POLLERR | POLLHUP))) {
        int error = 0;
        socklen_t length = sizeof error;
        getsockopt(c.server, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0) {
          c.broken = true;
          continue;
        }
        c.connecting = false;
      }
      if (client & (POLLIN | POLLHUP | POLLERR)) {
        const ssize_t n =
            recv(c.client, chunk.data(), std::min(chunk.size(), c.toServer.Room()), 0);
        if (n > 0) {
          c.toServer.Append(chunk.data(), static_cast<std::size_t>(n));
        } else if (n == 0) {
          c.clientDone = true;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
          c.broken = true;
        }
      }
      if (c.stalled && (server & (POLLHUP | POLLERR))) {
        // The server gave up on a stalled response; the client keeps waiting.
        close(c.server);
        c.server = -1;
        c.toServer = Buffer();
        continue;
      }
      if (!c.connecting && (server & (POLLIN | POLLHUP | POLLERR)) && !c.stalled) {
        const ssize_t n =
            recv(c.server, chunk.data(), std::min(chunk.size(), c.toClient.Room()), 0);
        if (n > 0) {
          FromServer(c, chunk.data(), static_cast<std::size_t>(n), stall);
        } else if (n == 0) {
          c.serverDone = true;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
          c.broken = true;
        }
      }
      if (!c.connecting && c.server >= 0 && c.toServer.Size() > 0) {
        const ssize_t n = send(c.server, c.toServer.Data(), c.toServer.Size(), MSG_NOSIGNAL);
        if (n > 0) {
          c.toServer.Consume(static_cast<std::size_t>(n));
        } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
          c.broken = true;
        }
      }
      if (client & POLLOUT) writable.push_back(&c);
    }

    // Paced writes towards the clients: an equal share of the budget for
    // each connection with bytes waiting, in turns so none is always first.
    if (!writable.empty()) {
      const std::size_t n = writable.size();
      turn = (turn + 1) % n;
      for (std::size_t k = 0; k < n; ++k) {
        Connection& c = *writable[(turn + k) % n];
        std::size_t allowed = c.toClient.Size();
        if (rate > 0.0) {
          const double share = tokens / static_cast<double>(n - k);
          allowed = std::min(allowed, static_cast<std::size_t>(std::max(share, 0.0)));
        }
        if (allowed == 0) continue;
        const ssize_t sent = send(c.client, c.toClient.Data(), allowed, MSG_NOSIGNAL);
        if (sent > 0) {
          c.toClient.Consume(static_cast<std::size_t>(sent));
          sentTotal += static_cast<std::uint64_t>(sent);
          if (rate > 0.0) tokens -= static_cast<double>(sent);
        } else if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
          c.broken = true;
        }
      }
    }

    // A side that ended passes its end on once everything before it went out.
    for (auto it = connections.begin(); it != connections.end();) {
      Connection& c = *it;
      const bool serverEnded = c.serverDone && c.toClient.Size() == 0;
      const bool clientEnded = c.clientDone && c.toServer.Size() == 0;
      if (c.broken || serverEnded || clientEnded) {
        Close(c);
        it = connections.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : connections) Close(c);
  close(listener);
  writeStats(Now());
  return 0;
}
