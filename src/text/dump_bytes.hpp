// A memory dump reply ("x" or "xp" with a count, a unit and a format) read
// back into the bytes it shows, for the pages that decode memory rather than
// show it: descriptor tables, page tables, the memory search. Stricter than
// the dump windows' scanner: a line counts only when its address follows on
// from the line before, and every value must read in the format asked for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class DumpError {
  none,
  page_not_present,  // "Error: reading linear 0x%08x: page not present"
  unreadable_page,   // "Error: reading linear 0x%08x: ..." for any other reason
  past_end,          // "Error: read past the end of memory ..."
  other,             // any other line that is no dump line
  malformed,         // a dump line out of place, or a value that does not read
};

struct DumpBytes {
  uint32_t address;            // of bytes[0]: the address asked for
  std::vector<uint8_t> bytes;  // the values in memory order, as far as they read
  DumpError error;
  uint32_t fault_address;      // page_not_present, unreadable_page: the linear address named
  std::string error_text;      // the line that ended the reading, as it can be shown
                               // (at most 160 characters, printable ASCII)
};

// Scans the text of a reply to a dump of units of `unit` bytes (1, 2, 4 or
// 8) in `format` ('x', 'd', 'u', 't' or 'o') that began at `address`.
// Bytes are stored little-endian, unit by unit, until the first line that is
// not the next line of the dump (an error line, another text, a line whose
// address or offset does not follow on); blank lines are skipped.
void scan_dump_bytes(const std::string &text, uint32_t address, unsigned unit, char format, DumpBytes *out);

// The unit a page reads `length` bytes at `address` in: doublewords ('w')
// when both are multiples of 4 (a quarter of the text of bytes), else
// bytes ('b'). The unit count is length / unit size.
char dump_unit_for(uint32_t address, uint32_t length);
unsigned dump_unit_size(char unit);

// A little-endian value of `size` bytes (at most 8) at `at`.
uint64_t bytes_value(const std::vector<uint8_t> &bytes, size_t at, unsigned size);

// A value of `size` bytes (4 or 8: a page table entry) read with
// "xp /Nwx ADDR" (N = size / 4): true with the value when the reply holds
// exactly it. What a PhysicalReader (text/page_walk.hpp) does with the
// reply of its one exchange.
bool scan_dump_value(const std::string &reply, uint32_t address, unsigned size, uint64_t *value);

// The layout of the debuggers' dumps: 8 bytes, 8 words, 4 doublewords or
// 2 quadwords to a line, each line beginning where the one before ended.
unsigned dump_units_per_line(unsigned unit);
// The address of the value in row `row` (from 0), place `column` (from 0)
// of a dump of `unit`-byte units that began at `start`.
uint32_t dump_value_address(uint32_t start, unsigned row, unsigned column, unsigned unit);

// Bytes as a dump's text column shows them: printable ASCII as it is, any
// other byte as '.'.
std::string printable_characters(const uint8_t *bytes, size_t length);

// The same for the values of one line of a dump of bytes in `format`, as
// the line shows them ("0x48 0x65 ..."): empty unless every value reads as
// a byte and there are at most `most` of them.
std::string value_characters(const std::string &values, char format, size_t most);

// The same, every value read by the reader of any format: the reference the
// quick reading of hexadecimal bytes in value_characters is checked against.
std::string value_characters_by_format(const std::string &values, char format, size_t most);
