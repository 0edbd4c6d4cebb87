// Feeds arbitrary bytes to the "watch" reply scanner.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "points/watchpoints_page.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  std::vector<char> text(data, data + size);
  FILE *in = fmemopen(text.data(), text.size(), "r");
  if (in == NULL) return 0;
  Watchpoint table[30] = {};
  uint32_t count = 0;
  scan_watchpoint_list(in, table, &count);
  fclose(in);
  if (count > 30) __builtin_trap();
  for (uint32_t i = 0; i < count; i++)
    if (!table[i].in_use || table[i].kind > 1 || (table[i].width != 2 && table[i].width != 4))
      __builtin_trap();
  return 0;
}
