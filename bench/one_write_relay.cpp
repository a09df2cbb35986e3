// The floor for browser-to-application messages: the least a relay does when it makes one
// write per message. It reads frames from standard input in 64 KiB pieces and sends each
// body with its "\n" to the abstract Unix socket NAME in one write, until the input ends or
// holds a length of 0.
//
//   bench_one_write_relay NAME

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

int connect_abstract(const char* name) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t length = std::strlen(name);
  if (length + 1 > sizeof address.sun_path) return -1;
  std::memcpy(address.sun_path + 1, name, length);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
  if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) return -1;
  return fd;
}

bool send_all(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t put = ::send(fd, p, n, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    n -= static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_one_write_relay NAME\n");
    return 2;
  }
  const int pipe = connect_abstract(argv[1]);
  if (pipe < 0) {
    std::perror("bench_one_write_relay: connect");
    return 2;
  }
  std::vector<char> input(64 * 1024);
  std::vector<char> line;
  std::size_t begin = 0, end = 0;
  for (;;) {
    // Every complete frame in the buffer: one write each.
    while (end - begin >= 4) {
      std::uint32_t n = 0;
      for (int i = 3; i >= 0; --i) n = n << 8 | static_cast<unsigned char>(input[begin + i]);
      if (n == 0) return 0;
      if (end - begin - 4 < n) {
        if (input.size() < n + 4) input.resize(n + 4);
        break;
      }
      line.assign(input.begin() + begin + 4, input.begin() + begin + 4 + n);
      line.push_back('\n');
      if (!send_all(pipe, line.data(), line.size())) return 0;
      begin += 4 + n;
    }
    std::memmove(input.data(), input.data() + begin, end - begin);
    end -= begin;
    begin = 0;
    const ssize_t got = ::read(STDIN_FILENO, input.data() + end, input.size() - end);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return 0;
    end += static_cast<std::size_t>(got);
  }
}
