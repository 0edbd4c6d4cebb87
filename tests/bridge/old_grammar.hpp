// The old dialect's reply grammars, as VUM's readers apply them, written
// out independently of VUM's own code: a reply that these accept is a reply
// VUM reads correctly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace old_grammar {

// The current-instruction line (also a trace line).
struct Location {
  uint32_t physical = 0, cs = 0, eip = 0, length = 0;
  std::string text, bytes;
};
// Fields of one line; false when the physical address or seg:off does not
// convert, or the text is empty.
bool scan_instruction_line(const std::string &line, Location *at);
// A step's reply: two lines, the second the current-instruction line.
bool scan_location(const std::string &reply, Location *at);
// Whether the old Next rule offers Next for the instruction text.
bool offers_next(const std::string &text);

// Stop lines: "%*s Breakpoint %u," and "%*s Caught %9s watch point at %x".
bool scan_breakpoint_stop(const std::string &line, unsigned *number);
bool scan_watch_stop(const std::string &line, std::string *kind, uint32_t *address);

struct Breakpoint {
  unsigned number = 0, kind = 0, enabled = 0, segment = 0, offset = 0;
};
std::vector<Breakpoint> scan_breakpoint_list(const std::string &reply);

struct Watchpoint {
  unsigned kind = 0, address = 0, value = 0, width = 0;
};
std::vector<Watchpoint> scan_watch_list(const std::string &reply);

// The register dump: the number of values converted (63 when all).
int scan_registers(const std::string &reply, uint32_t values[63]);
// Indexes into those values.
enum { kEax = 0, kEsp = 7, kEflags = 8, kEip = 9, kCs = 10, kSs = 14, kCr0 = 57 };

// "%*s %*s 0x%x" (a stack element), " %*s %*s 0x%X 0x%X" (a struct field).
bool scan_stack_element(const std::string &reply, uint32_t *value);
int scan_struct_field(const std::string &reply, uint32_t *first, uint32_t *second);

// Memory dump rows by the dump windows' reading rules; `reply` begins with
// the byte left after the previous prompt.
struct DumpRow {
  std::string base, offset, values;
};
std::vector<DumpRow> read_dump(const std::string &reply);

// The lines of a text, without their newlines.
std::vector<std::string> lines(const std::string &text);

}  // namespace old_grammar
