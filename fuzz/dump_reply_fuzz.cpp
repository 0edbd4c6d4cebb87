// Feeds arbitrary bytes, as a reply stream, to the memory dump reader.
#include <cstdint>
#include <cstring>
#include <vector>

#include "views/dump_scan.hpp"
#include "reader_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ReplyReader reader;
  read_from(reader, data, size);
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
