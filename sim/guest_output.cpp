#include "guest_output.hpp"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace sim {

void GuestOutput::open(int fd) {
  fd_ = fd;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    gone_ = true;
    return;
  }
  if (S_ISFIFO(st.st_mode)) {
    char path[64];
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    int own = ::open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (own >= 0) {
      fd_ = own;
      nonblocking_ = true;
    }
  }
}

void GuestOutput::put(const std::string &bytes) {
  if (gone_) return;
  // While standard output is full, only flush() calls from outside try
  // again (the debugger spaces them out): a write per byte would slow the
  // guest down for nothing.
  if (!full_ && buffer_.size() + bytes.size() > kCapacity) flush();
  size_t room = kCapacity - buffer_.size();
  if (bytes.size() <= room) {
    buffer_ += bytes;
  } else {
    buffer_.append(bytes, 0, room);
    dropped_ += bytes.size() - room;
  }
  if (!full_ && buffer_.size() >= kBurst) flush();
}

void GuestOutput::flush() {
  full_ = false;
  while (!buffer_.empty() && !gone_) {
    size_t n = buffer_.size();
    if (!nonblocking_) {
      // Without O_NONBLOCK a write blocks unless poll has seen room, and
      // even then only up to PIPE_BUF bytes are sure to go in at once.
      struct pollfd p = {fd_, POLLOUT, 0};
      if (poll(&p, 1, 0) <= 0) {
        full_ = true;
        return;
      }
      if (p.revents & (POLLERR | POLLNVAL)) {
        gone_ = true;
        break;
      }
      if (n > PIPE_BUF) n = PIPE_BUF;
    }
    ssize_t r = write(fd_, buffer_.data(), n);
    if (r > 0) {
      buffer_.erase(0, size_t(r));
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      full_ = true;
      return;
    }
    gone_ = true;  // EPIPE and the like: nobody will read these bytes
  }
  if (gone_) buffer_.clear();
}

uint64_t GuestOutput::take_dropped() {
  uint64_t n = dropped_;
  dropped_ = 0;
  return n;
}

}  // namespace sim
