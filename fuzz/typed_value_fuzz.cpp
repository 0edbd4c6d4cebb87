// Feeds arbitrary text to what may be typed to change a register or a
// memory cell, and to the reading of the debugger's answer; checks the
// writes that store a value.
#include <cstdint>
#include <cstring>
#include <string>

#include "text/typed_value.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  std::string text(reinterpret_cast<const char *>(data + 2), size - 2);
  char message[address_message_size];

  RegisterEntry entry = (RegisterEntry)(data[0] % (register_entries + 1));
  uint32_t value32 = 0;
  bool ok = parse_register_value(entry, text.c_str(), &value32, message);
  if (ok != (message[0] == '\0')) __builtin_trap();
  if (ok && settable_register(entry) == NULL) __builtin_trap();
  if (strlen(message) >= (size_t)address_message_size) __builtin_trap();

  static const unsigned units[4] = {1, 2, 4, 8};
  static const char formats[5] = {'x', 'd', 'u', 't', 'o'};
  unsigned unit = units[data[1] & 3];
  char format = formats[(data[1] >> 2) % 5];
  uint64_t value = 0;
  ok = parse_memory_value(text.c_str(), unit, format, &value, message);
  if (ok != (message[0] == '\0')) __builtin_trap();
  if (ok && unit < 8 && (value >> (8 * unit)) != 0) __builtin_trap();

  // The writes cover the unit exactly, in order, within the sizes setpmem
  // takes, each part within its page when asked.
  uint32_t address = (uint32_t)data[0] << 24 | (uint32_t)data[1] << 4 | (data[0] & 0xF);
  for (bool split : {false, true}) {
    MemoryWrite writes[8];
    int n = memory_writes(address, unit, value, split, writes);
    uint32_t at = address;
    uint64_t rebuilt = 0;
    unsigned shift = 0;
    for (int i = 0; i < n; i++) {
      const MemoryWrite &w = writes[i];
      if (w.address != at || (w.size != 1 && w.size != 2 && w.size != 4)) __builtin_trap();
      if (w.size < 4 && (w.value >> (8 * w.size)) != 0) __builtin_trap();
      if (split && (w.address & 0xFFF) + w.size > 0x1000) __builtin_trap();
      rebuilt |= (uint64_t)w.value << shift;
      shift += 8 * w.size;
      at += w.size;
    }
    if (shift != 8 * unit || rebuilt != value) __builtin_trap();
  }

  bool refused = setting_refused(text, message);
  if (refused != (text.find_first_not_of(" \t\r\n") != std::string::npos)) __builtin_trap();
  if (strlen(message) > 103) __builtin_trap();
  return 0;
}
