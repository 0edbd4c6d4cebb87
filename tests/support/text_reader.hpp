// A reply reader over a fixed text: the text is put into an anonymous
// in-memory file, whose descriptor reads it and then ends, as a debugger's
// reply pipe does when the debugger has written it and exited.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "link/reply_reader.hpp"

inline void read_from_text(ReplyReader &reader, const std::string &text) {
  int fd = memfd_create("reply", MFD_CLOEXEC);
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) break;
    done += (size_t)n;
  }
  lseek(fd, 0, SEEK_SET);
  reader.attach(fd);
}

// Everything the reader has not handed out yet.
inline std::string rest_of(ReplyReader &reader) {
  std::string out;
  for (int c; (c = reader.get()) != -1;) out += (char)c;
  return out;
}

// A reader over a copy of `text`.
struct TextStream {
  ReplyReader reader;
  explicit TextStream(const std::string &text) { read_from_text(reader, text); }
  std::string rest() { return rest_of(reader); }
};
