// The debugger's breakpoint and watchpoint lists, as text: the records of
// the two 30-entry tables and the scanners of the "info break" and "watch"
// replies.
#pragma once

#include <cstddef>
#include <cstdint>

enum BreakpointKind : uint32_t {
  breakpoint_physical = 0,
  breakpoint_linear = 1,
  breakpoint_virtual = 2,
};

struct Breakpoint {
  uint32_t number;      // the debugger's number, argument of the delete command
  BreakpointKind kind;
  bool enabled;         // listed as enabled; the first false ends the live entries
  uint32_t segment;     // virtual breakpoints only
  uint32_t offset;      // address, or offset within `segment`
};

enum WatchpointKind : uint32_t {
  watchpoint_read = 0,
  watchpoint_write = 1,
};

struct Watchpoint {
  WatchpointKind kind;
  bool in_use;       // read completely by the last query; the first false ends the live entries
  uint32_t address;  // watched physical address
  uint32_t value;    // value shown by the debugger
  uint32_t width;    // 2 or 4 bytes
};

const int point_table_size = 30;

// Scans the text of an "info break" reply (its `length` bytes up to the
// prompt, or up to the end of the replies when `at_prompt` is false) into
// `table` and `*count`: every entry is first marked not live and the count
// set to 0. The result is false when the replies ended while an entry was
// looked for, true when the list ended otherwise. `consumed`, when given,
// receives how many bytes of the text the scan took.
bool scan_breakpoint_list(const char *text, size_t length, bool at_prompt,
                          Breakpoint table[point_table_size], uint32_t *count,
                          size_t *consumed = nullptr);

// The same for a "watch" reply.
bool scan_watchpoint_list(const char *text, size_t length, bool at_prompt,
                          Watchpoint table[point_table_size], uint32_t *count,
                          size_t *consumed = nullptr);
