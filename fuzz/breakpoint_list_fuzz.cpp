// Feeds arbitrary bytes to the "info break" reply scanner.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "points/breakpoints_page.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  std::vector<char> text(data, data + size);
  FILE *in = fmemopen(text.data(), text.size(), "r");
  if (in == NULL) return 0;
  Breakpoint table[30] = {};
  uint32_t count = 0;
  scan_breakpoint_list(in, table, &count);
  fclose(in);
  if (count > 30) __builtin_trap();
  for (int i = 0; i < 30 && table[i].enabled; i++)
    if (table[i].kind > 2) __builtin_trap();
  return 0;
}
