// Feeds arbitrary bytes, as a reply stream, to the memory dump reader.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "views/dump_scan.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  int fd = memfd_create("reply", MFD_CLOEXEC);
  if (size > 0 && write(fd, data, size) != (ssize_t)size) __builtin_trap();
  lseek(fd, 0, SEEK_SET);
  ReplyReader reader;
  reader.attach(fd);
  std::vector<DumpRow> rows;
  uint32_t prompt = 0;
  read_dump_reply(reader, &rows, &prompt);
  for (const DumpRow &r : rows) {
    if (strlen(r.base) > 8 || strlen(r.offset) > 16 || r.values.size() > (size_t)dump_line_size)
      __builtin_trap();
  }
  if (rows.size() > size) __builtin_trap();
  return 0;
}
