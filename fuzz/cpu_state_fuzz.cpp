// Feeds arbitrary bytes to the register dump scanner and the stack element
// scanner, and the scanned state to the panel's texts and the stack walk.
#include <cstdint>
#include <cstring>
#include <string>

#include "views/cpu_scan.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  CpuState cpu;
  memset(&cpu, 0, sizeof cpu);
  int n = scan_cpu_state(text.c_str(), &cpu);
  if (n < 0 || n > 63) __builtin_trap();
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
