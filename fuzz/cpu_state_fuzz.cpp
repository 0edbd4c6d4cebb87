// Feeds arbitrary bytes to the register dump scanner and the stack element
// scanner, and the scanned state to the panel's texts and the stack walk.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "text/cpu_scan.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  CpuState cpu;
  memset(&cpu, 0, sizeof cpu);
  int n = scan_cpu_state(text.c_str(), &cpu);
  if (n < 0 || n > 63) __builtin_trap();

  // The scan stores what sscanf with the same pattern stores.
  CpuState want;
  memset(&want, 0, sizeof want);
  uint32_t *f[63];
  cpu_state_fields(&want, f);
  int r = sscanf(text.c_str(), cpu_state_pattern(), f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7],
                 f[8], f[9], f[10], f[11], f[12], f[13], f[14], f[15], f[16], f[17], f[18], f[19],
                 f[20], f[21], f[22], f[23], f[24], f[25], f[26], f[27], f[28], f[29], f[30], f[31],
                 f[32], f[33], f[34], f[35], f[36], f[37], f[38], f[39], f[40], f[41], f[42], f[43],
                 f[44], f[45], f[46], f[47], f[48], f[49], f[50], f[51], f[52], f[53], f[54], f[55],
                 f[56], f[57], f[58], f[59], f[60], f[61], f[62]);
  if ((r < 0 ? 0 : r) != n || memcmp(&want, &cpu, sizeof cpu) != 0) __builtin_trap();
  char out[32];
  for (int e = 0; e < register_entries; e++) {
    format_register(out, cpu, (RegisterEntry)e);
    if (strlen(out) >= sizeof out) __builtin_trap();
  }
  int values[eflags_rows];
  eflags_row_values(cpu.eflags, values);
  for (int v : values)
    if (v < 0 || v > 3) __builtin_trap();
  StackMode mode = stack_mode(cpu);
  StackWalk walk = stack_walk(cpu.esp, cpu.eax, cpu.ebx, mode.size);
  if (walk.hi >= walk.lo && (walk.hi - walk.lo) / mode.size > 2 * stack_walk_limit) __builtin_trap();
  uint32_t value;
  scan_stack_value(text.c_str(), &value);
  return 0;
}
