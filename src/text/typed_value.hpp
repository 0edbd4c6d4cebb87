// What a user may type to change a register or a value in memory, and the
// one message for each refusal, in the manner of text/address.hpp: which
// registers the debugger can set ("set REG = 0x%X"), the value typed into a
// register's entry, the value typed into a dump window's cell (in the
// window's unit size and format), the setpmem writes that store it, and the
// debugger's answer. No toolkit, no debugger.
#pragma once

#include <cstdint>
#include <string>

#include "text/address.hpp"
#include "text/cpu_scan.hpp"

// The name the debugger's `set` takes for a register of the CPU state panel
// ("eax" ... "eip", "eflags"), or NULL for one it cannot set (segments,
// table, debug, test and control registers).
const char *settable_register(RegisterEntry entry);

// A value typed into a register's entry: hexadecimal, 0x optional, blanks
// around it allowed, at most 32 bits (every register that can be set holds
// 32). False with the message, also for a register that cannot be set.
bool parse_register_value(RegisterEntry entry, const char *text, uint32_t *value, char message[address_message_size]);

// A value typed into a cell of a dump window of units of `unit_bytes` (1, 2,
// 4 or 8) shown in `format`: 'x' hexadecimal (0x optional), 'd' decimal (a
// minus sign allowed; from the most negative to the largest unsigned value
// of the unit), 'u' unsigned decimal, 't' binary, 'o' octal (the leading 0
// optional). *value holds the unit's bits.
bool parse_memory_value(const char *text, unsigned unit_bytes, char format, uint64_t *value,
                        char message[address_message_size]);

// One setpmem command: `size` (1, 2 or 4) bytes of `value` at `address`.
struct MemoryWrite {
  uint32_t address;
  unsigned size;
  uint32_t value;
};

// The writes that store the `unit_bytes` bytes of `value` (little-endian) at
// `address`, in address order: one for 1, 2 and 4 bytes, two doublewords
// for 8. With `split_at_pages` (a linear window: each page translates on
// its own) no write crosses a 4 KiB boundary: the bytes on either side are
// written apart, each part in as few writes as its length allows (3 bytes:
// a word and a byte). The addresses are the window's; a linear window
// translates each one. Returns the number of writes (at most 8).
int memory_writes(uint32_t address, unsigned unit_bytes, uint64_t value, bool split_at_pages, MemoryWrite writes[8]);

// The debugger's answer to `set` or `setpmem`: the prompt alone means done;
// any text is a refusal, whose first line (printable, at most 100
// characters) goes into `message`. True when refused.
bool setting_refused(const std::string &reply, char message[address_message_size]);
