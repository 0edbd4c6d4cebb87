// Feeds arbitrary bytes, as the text of a dump reply, to the scanner that
// reads it back into bytes: the first byte picks the unit and the format.
#include <cstdint>
#include <string>

#include "text/dump_bytes.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  static const unsigned units[4] = {1, 2, 4, 8};
  static const char formats[5] = {'x', 'd', 'u', 't', 'o'};
  unsigned unit = units[data[0] & 3];
  char format = formats[(data[0] >> 2) % 5];
  uint32_t address = (uint32_t)(data[0] >> 5) * 0x7FFFFFF9u;  // low, middle and high addresses
  std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
  DumpBytes d;
  scan_dump_bytes(text, address, unit, format, &d);
  if (d.address != address) __builtin_trap();
  if (d.bytes.size() % unit != 0) __builtin_trap();
  if (d.bytes.size() > 8 * text.size()) __builtin_trap();  // a value takes a character at least
  if (d.error_text.size() > 160) __builtin_trap();
  if (d.error == DumpError::none && !d.error_text.empty()) __builtin_trap();
  for (char c : d.error_text)
    if ((unsigned char)c < 0x20 || (unsigned char)c >= 0x7f) __builtin_trap();
  if (d.error != DumpError::page_not_present && d.error != DumpError::unreadable_page && d.fault_address != 0)
    __builtin_trap();
  uint64_t value = 0;
  if (scan_dump_value(text, address, unit, &value) && (unit == 4 ? value >> 32 : 0) != 0) __builtin_trap();
  std::string shown = printable_characters(d.bytes.data(), d.bytes.size());
  if (shown.size() != d.bytes.size()) __builtin_trap();
  // The same text as the values of one line: at most 8 printable characters.
  std::string line = value_characters(text, format, 8);
  if (line.size() > 8) __builtin_trap();
  // Read straight through or value by value, the same characters.
  if (line != value_characters_by_format(text, format, 8)) __builtin_trap();
  // The same bytes as a line of hexadecimal values, now and then broken by
  // a character of the input, as the quick reading mostly meets them.
  std::string hex;
  for (size_t i = 1; i < size; i++) {
    static const char digits[] = "0123456789abcdef";
    if (data[i] >= 0xe0) {
      hex += (char)(data[i] & 0x7f);
      continue;
    }
    hex += "0x";
    if (data[i] & 0x80) hex += '0';
    if ((data[i] & 0x30) == 0x30) hex += '1';  // past a byte
    hex += digits[(data[i] >> 3) & 15];
    hex += digits[data[i] & 7];
    hex += (data[i] & 0x40) ? "\t" : " ";
  }
  if (value_characters(hex, 'x', 8) != value_characters_by_format(hex, 'x', 8)) __builtin_trap();
  if (value_characters(text, 'x', 8) != value_characters_by_format(text, 'x', 8)) __builtin_trap();
  for (char c : line)
    if ((unsigned char)c < 0x20 || (unsigned char)c >= 0x7f) __builtin_trap();
  return 0;
}
