// What the Console page does with a line typed into it. Any debugger command
// goes to the debugger as one exchange, except those that would run the
// target or end the debugger behind VUM's back: the bare step, continue and
// next commands become VUM's own Step, Go and Next (so that the stop is read
// and shown as the buttons' stops are), the others are refused with the
// reason.
#pragma once

#include <cstdint>
#include <string>

enum class ConsoleAction {
  ignore,  // nothing typed (the debugger would repeat its last command)
  send,    // forwarded as it is
  step,    // VUM's Step
  go,      // VUM's Go
  next,    // VUM's Next
  refuse,  // not sent; `message` says why
};

struct ConsoleVerdict {
  ConsoleAction action;
  std::string command;  // the line as sent: blanks at its ends dropped
  std::string message;  // for step, go, next and refuse: the line shown after the echo
};

// Judges one typed line. Refused: s, step, si, stepi with a count other than
// 1; c, cont, continue, n, next, p with any argument; q, quit, exit; every
// trace command (a word beginning "trace"); any line with ';' or a control
// character. Words are compared without regard to letter case.
ConsoleVerdict judge_console_line(const char *line);

// True when a command sent from the console may have changed the
// breakpoint or watchpoint lists (their pages read them again).
bool console_command_changes_points(const std::string &command);
