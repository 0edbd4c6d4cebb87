// What the debugger prints at a stop, as text: the current-instruction line,
// trace lines and stop lines, scanned into plain records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct StopLocation {
  uint32_t physical_address;
  uint32_t length;
  uint32_t cs;
  uint32_t eip;
  char text[128];
  char bytes[128];
};

// Lines of a running target's replies are read into buffers of this size.
const int reply_line_size = 200;

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

// Classifies one line already read (`stop->line`, set by the caller).
void classify_stop_line(StopLine *stop);

// What a notice line before a report's location says.
enum NoticeKind {
  notice_other = 0,      // passed on as it is
  notice_magic_breakpoint,
  notice_triple_fault,
};
NoticeKind classify_notice(const char *line);

// The reply to a step, or the report that ends a run, as text up to the
// prompt: a stop line (a run's breakpoint or watchpoint), notice lines, a
// line passed over ("Next at t=N"), and the current-instruction line, which
// is the last line of the text. The line before it gives the tick count when
// it reads "Next at t=N".
struct StopReport {
  StopLine stop;                      // the first line, classified (run reports)
  std::vector<std::string> notices;   // lines between it and the last two
  bool has_ticks;
  uint64_t ticks;                     // of "Next at t=N"
  InstructionScan scan;
  StopLocation location;              // as it was, updated by the scan
  bool lost;                          // the report was cut off by the end of the replies
};

// Scans a report's text (`with_stop_line`: its first line may be a stop
// line). `location` starts as the last known place: a line that does not
// scan leaves the later fields as they were. An empty text or one of a
// single line (after the stop line) has an empty instruction line.
void scan_stop_report(const std::string &text, bool with_stop_line, const StopLocation &location,
                      StopReport *report);

// The two texts of a place: "%.8X" of the physical address and "%.4X:%.8X"
// of cs and eip.
void format_stop_location(const StopLocation &at, char physical[12], char location[24]);
