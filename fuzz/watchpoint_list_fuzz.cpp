// Feeds arbitrary bytes to the "watch" reply scanner.
#include <cstdint>
#include <vector>

#include "text/point_lists.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<char> text(data, data + size);
  Watchpoint table[30] = {};
  uint32_t count = 0;
  size_t used = 0;
  scan_watchpoint_list(text.data(), text.size(), size % 2 == 0, table, &count, &used);
  if (count > 30 || used > size) __builtin_trap();
  for (uint32_t i = 0; i < count; i++)
    if (!table[i].in_use || table[i].kind > watchpoint_write ||
        (table[i].width != 2 && table[i].width != 4))
      __builtin_trap();
  return 0;
}
