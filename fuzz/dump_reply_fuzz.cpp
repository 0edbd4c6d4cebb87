// Feeds arbitrary bytes, as the text of a dump reply, to the dump scanner.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "text/dump_scan.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  std::vector<DumpRow> rows;
  scan_dump_reply(text, &rows);
  for (const DumpRow &r : rows) {
    if (strlen(r.base) > 8 || strlen(r.offset) > 16 || r.values.size() > (size_t)dump_line_size)
      __builtin_trap();
  }
  if (rows.size() > size) __builtin_trap();
  return 0;
}
