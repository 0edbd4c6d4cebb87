// What the debugger prints at a stop, as text: the current-instruction line,
// trace lines and stop lines, scanned into plain records.
#pragma once

#include <cstdint>

#include "link/reply_reader.hpp"

struct StopLocation {
  uint32_t physical_address;
  uint32_t length;
  uint32_t cs;
  uint32_t eip;
  char text[128];
  char bytes[128];
};

const int reply_line_size = 200;

// One bounded line read (at most 199 characters, the newline included when it
// fits). The line also ends before a '<', which stays unread: the prompt
// belongs to wait_for_prompt. At the end of the replies, also in the middle
// of a line, the line is left empty and the result is false: a failed read
// never leaves old or half-received text behind.
bool read_reply_line(ReplyReader &reader, char line[reply_line_size]);

// How far a current-instruction line got.
enum InstructionStage {
  instruction_no_address = 0,  // "[0x%x] " assigned nothing
  instruction_no_location,     // "%x:%x " assigned fewer than two numbers
  instruction_no_text,         // the instruction text is empty
  instruction_complete,        // text, length and bytes were taken
};

struct InstructionScan {
  InstructionStage stage;
  bool next_offered;  // the instruction may be stepped over with Next
};

// Parses one current-instruction line (trace false) or trace line (trace
// true) into `at`. A current-instruction line stops at the first failed step
// and leaves the later fields as they were; a trace line goes on past failed
// conversions and an empty text. Nothing is read past the line's end.
InstructionScan scan_instruction_line(const char *line, StopLocation *at, bool trace);

// The Next rule on an instruction text: its first word is "call", "int",
// "rep:" or "loop" (letter case ignored), or begins with a lower-case 'j'
// and is not "jmp".
bool offers_next(const char *text);

// Reads the two-line current-instruction report (the first line is passed
// over) and parses the second; with `lines` 1, the first line has been read
// already and only the second is. `lost` is set when a line was missing.
// `shown`, when given, receives the line parsed, or the first line when the
// second is empty: the text to name when the report does not scan.
InstructionScan scan_current_instruction(ReplyReader &reader, StopLocation *at, bool *lost,
                                         int lines = 2, char *shown = nullptr);

enum StopLineKind {
  stop_line_missing = 0,  // the replies ended: no line
  stop_line_breakpoint,   // "%*s Breakpoint %u,"
  stop_line_watchpoint,   // "%*s Caught %9s watch point at %x"
  stop_line_prompt,       // no text before the debugger's prompt: the run is over
  stop_line_other,        // anything else (a trace line while tracing)
};

struct StopLine {
  StopLineKind kind;
  uint32_t number;             // breakpoint number
  char watch_kind[10];         // watchpoint kind word, at most 9 characters
  uint32_t address;            // watched address
  bool read_watch;             // the kind word is "read"
  char line[reply_line_size];  // the line as read
};

// Classifies one line already read.
void classify_stop_line(StopLine *stop);

// Reads one line and classifies it.
void scan_stop_line(ReplyReader &reader, StopLine *stop);
