// A slow network link between a client and a database server on this machine: a TCP relay on
// 127.0.0.1 that forwards every connection to the server, each direction through one shared link
// of a given rate (all connections of a run share it, as they would share a branch office's line)
// and a given delay, and counts the bytes it forwards each way.
//
//   link_relay --to HOST:PORT [--rate BITS_PER_SECOND] [--delay-us MICROSECONDS]
//
// Prints "port N" on standard output once it listens (on 127.0.0.1, a port of the system's
// choosing), then forwards until SIGTERM or SIGINT, and prints "to_server N" and "to_client N",
// the bytes forwarded each way, before it exits. Defaults: 100 Mbit/s, 500 us each way.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string host;
  std::string port;
  double rate = 100e6;  // bits per second, each way
  std::chrono::microseconds delay{500};
};

// One direction of the link, shared by every connection: a chunk waits for the link to be free,
// takes its bytes' time to cross it, then the delay to arrive.
class Link {
 public:
  Link(double rate, std::chrono::microseconds delay) : rate_(rate), delay_(delay) {}
  Clock::time_point Arrival(std::size_t bytes) {
    const std::lock_guard lock(mutex_);
    const Clock::time_point start = std::max(Clock::now(), free_);
    free_ = start + std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(static_cast<double>(bytes) * 8 / rate_));
    return free_ + delay_;
  }
  std::atomic<long long> bytes{0};

 private:
  const double rate_;
  const std::chrono::microseconds delay_;
  std::mutex mutex_;
  Clock::time_point free_{};
};

// Chunks read from one socket, waiting to be written to the other at their arrival time. The
// reader stops reading while a few MiB wait: the sender then feels the link through TCP.
class Pipe {
 public:
  static constexpr std::size_t kMaxWaiting = 4u << 20;

  void Push(std::vector<char> data, Clock::time_point arrival) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return waiting_ < kMaxWaiting; });
    waiting_ += data.size();
    chunks_.push_back({std::move(data), arrival});
    ready_.notify_one();
  }
  void Close() {
    const std::lock_guard lock(mutex_);
    closed_ = true;
    ready_.notify_one();
  }
  // False once closed and empty.
  bool Pop(std::vector<char>& data, Clock::time_point& arrival) {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return closed_ || !chunks_.empty(); });
    if (chunks_.empty()) return false;
    data = std::move(chunks_.front().data);
    arrival = chunks_.front().arrival;
    chunks_.pop_front();
    waiting_ -= data.size();
    room_.notify_one();
    return true;
  }

 private:
  struct Chunk {
    std::vector<char> data;
    Clock::time_point arrival;
  };
  std::mutex mutex_;
  std::condition_variable ready_, room_;
  std::deque<Chunk> chunks_;
  std::size_t waiting_ = 0;
  bool closed_ = false;
};

bool WriteAll(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

// One direction of one connection: read `from`, hold each chunk until the link delivers it,
// write `to`; the end of `from` ends `to`'s writing side.
void Forward(int from, int to, Link& link) {
  Pipe pipe;
  std::thread writer([&] {
    std::vector<char> data;
    Clock::time_point arrival;
    bool open = true;
    while (pipe.Pop(data, arrival)) {
      std::this_thread::sleep_until(arrival);
      if (open && WriteAll(to, data.data(), data.size())) {
        link.bytes += static_cast<long long>(data.size());
      } else {
        open = false;  // the other end is gone: drain what is still coming, then stop
      }
    }
    ::shutdown(to, SHUT_WR);
  });
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    const ssize_t n = ::recv(from, buffer.data(), buffer.size(), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    const auto size = static_cast<std::size_t>(n);
    pipe.Push(std::vector<char>(buffer.begin(), buffer.begin() + n), link.Arrival(size));
  }
  pipe.Close();
  writer.join();
}

int ConnectTo(const Options& o) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(o.host.c_str(), o.port.c_str(), &hints, &found) != 0) return -1;
  int fd = -1;
  for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (fd >= 0 && ::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(found);
  return fd;
}

void NoDelay(int fd) {
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void Usage() {
  std::fprintf(stderr,
               "usage: link_relay --to HOST:PORT [--rate BITS_PER_SECOND] [--delay-us N]\n");
  std::exit(2);
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i], value = argv[i + 1];
    if (option == "--to") {
      const auto colon = value.rfind(':');
      if (colon == std::string::npos) Usage();
      o.host = value.substr(0, colon);
      o.port = value.substr(colon + 1);
    } else if (option == "--rate") {
      o.rate = std::atof(value.c_str());
    } else if (option == "--delay-us") {
      o.delay = std::chrono::microseconds(std::atol(value.c_str()));
    } else {
      Usage();
    }
  }
  if (argc % 2 == 0 || o.host.empty() || o.rate <= 0) Usage();
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = Parse(argc, argv);
  // Every thread leaves the stop signals to the main thread, which waits for them.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 ||
      ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 64) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("link_relay: listen");
    return 1;
  }
  Link toServer(options.rate, options.delay), toClient(options.rate, options.delay);
  std::printf("port %d\n", ntohs(address.sin_port));
  std::fflush(stdout);

  // Every connection's threads, and the sockets that stopping shuts to end them.
  std::mutex connectionsMutex;
  std::vector<std::thread> connections;
  std::vector<int> sockets;
  std::thread accepting([&] {
    for (;;) {
      const int client = ::accept(listener, nullptr, nullptr);
      if (client < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return;  // the listener was shut: the relay stops
      }
      const int server = ConnectTo(options);
      if (server < 0) {
        ::close(client);
        continue;
      }
      NoDelay(client);
      NoDelay(server);
      const std::lock_guard lock(connectionsMutex);
      sockets.insert(sockets.end(), {client, server});
      connections.emplace_back([client, server, &toServer, &toClient] {
        std::thread up([&] { Forward(client, server, toServer); });
        Forward(server, client, toClient);
        up.join();
      });
    }
  });

  int signal = 0;
  sigwait(&stop, &signal);
  ::shutdown(listener, SHUT_RDWR);
  accepting.join();
  {
    const std::lock_guard lock(connectionsMutex);
    for (const int fd : sockets) ::shutdown(fd, SHUT_RDWR);
  }
  for (std::thread& t : connections) t.join();
  for (const int fd : sockets) ::close(fd);
  ::close(listener);
  std::printf("to_server %lld\nto_client %lld\n", toServer.bytes.load(), toClient.bytes.load());
  return 0;
}
