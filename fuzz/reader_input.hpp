// The fuzzer's bytes as a reply stream: an in-memory file the reader reads,
// then its end, as a debugger's pipe after the debugger has exited.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "link/reply_reader.hpp"

inline void read_from(ReplyReader &reader, const uint8_t *data, size_t size) {
  int fd = memfd_create("reply", MFD_CLOEXEC);
  if (size > 0 && write(fd, data, size) != (ssize_t)size) __builtin_trap();
  lseek(fd, 0, SEEK_SET);
  reader.attach(fd);
}
