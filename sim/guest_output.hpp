// The guest's console on standard output: what the guest writes to port
// 0xe9, byte for byte, one write(2) per burst, and never at the cost of the
// debugger. Standard output is written without blocking: when nobody reads
// it and the pipe is full, the bytes wait in a buffer of kCapacity bytes;
// what does not fit there is dropped and counted, and the count is reported
// in the next stop report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

class GuestOutput {
 public:
  static constexpr size_t kCapacity = 1 << 16;
  // A burst this long is written without waiting for its end.
  static constexpr size_t kBurst = 4096;

  // Takes standard output (descriptor `fd`). A pipe is reopened through
  // /proc/self/fd with O_NONBLOCK, so that the flag does not reach whoever
  // else holds the pipe; anything else is written only when poll says it
  // can take bytes.
  void open(int fd = 1);

  // Appends the guest's bytes; what does not fit is dropped and counted.
  void put(const std::string &bytes);

  // Writes what standard output takes now, without blocking.
  void flush();

  bool pending() const { return !buffer_.empty(); }
  size_t size() const { return buffer_.size(); }
  // The descriptor to wait on for room (POLLOUT) while bytes are pending.
  int descriptor() const { return fd_; }

  // The count of dropped bytes since the last call, then zero.
  uint64_t take_dropped();

 private:
  std::string buffer_;
  int fd_ = 1;
  bool nonblocking_ = false;
  bool gone_ = false;  // the reader has gone: bytes go nowhere
  bool full_ = false;  // the last flush left bytes that did not fit
  uint64_t dropped_ = 0;
};

}  // namespace sim
