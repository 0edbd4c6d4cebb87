// What the Console page does with a typed line.
#include <gtest/gtest.h>

#include "text/console_rules.hpp"

TEST(ConsoleRules, EachLineIsSentMappedOrRefused) {
  struct Case {
    const char *typed;
    ConsoleAction action;
    const char *command;
    const char *message;
  } cases[] = {
      {"", ConsoleAction::ignore, "", ""},
      {"  \t ", ConsoleAction::ignore, "", ""},
      {"info break", ConsoleAction::send, "info break", ""},
      {"  x /4wx 0x500  ", ConsoleAction::send, "x /4wx 0x500", ""},
      {"u /3 0x7c00", ConsoleAction::send, "u /3 0x7c00", ""},
      {"set eax = 0x5", ConsoleAction::send, "set eax = 0x5", ""},
      {"sb 100", ConsoleAction::send, "sb 100", ""},
      {"show", ConsoleAction::send, "show", ""},
      {"s", ConsoleAction::step, "s", "Done with VUM's Step, so that the views follow the stop"},
      {" S ", ConsoleAction::step, "S", "Done with VUM's Step, so that the views follow the stop"},
      {"step", ConsoleAction::step, "step", "Done with VUM's Step, so that the views follow the stop"},
      {"stepi", ConsoleAction::step, "stepi", "Done with VUM's Step, so that the views follow the stop"},
      {"si 1", ConsoleAction::step, "si 1", "Done with VUM's Step, so that the views follow the stop"},
      {"s 10", ConsoleAction::refuse, "s 10",
       "Refused: VUM steps one instruction at a time (Step, F11), so that every stop is shown"},
      {"c", ConsoleAction::go, "c", "Done with VUM's Go, so that the views follow the stop"},
      {"cont", ConsoleAction::go, "cont", "Done with VUM's Go, so that the views follow the stop"},
      {"continue", ConsoleAction::go, "continue", "Done with VUM's Go, so that the views follow the stop"},
      {"c 5", ConsoleAction::refuse, "c 5", "Refused: use Go (F5)"},
      {"n", ConsoleAction::next, "n", "Done with VUM's Next, so that the views follow the stop"},
      {"next", ConsoleAction::next, "next", "Done with VUM's Next, so that the views follow the stop"},
      {"p", ConsoleAction::next, "p", "Done with VUM's Next, so that the views follow the stop"},
      {"p 3", ConsoleAction::refuse, "p 3", "Refused: use Next (F10)"},
      {"q", ConsoleAction::refuse, "q", "Refused: end the debugger with Kill Bochs, or VUM with Quit"},
      {"quit", ConsoleAction::refuse, "quit", "Refused: end the debugger with Kill Bochs, or VUM with Quit"},
      {"EXIT", ConsoleAction::refuse, "EXIT", "Refused: end the debugger with Kill Bochs, or VUM with Quit"},
      {"trace-on", ConsoleAction::refuse, "trace-on",
       "Refused: tracing is switched on the Preferences page, so that the History follows it"},
      {"trace-reg on", ConsoleAction::refuse, "trace-reg on",
       "Refused: tracing is switched on the Preferences page, so that the History follows it"},
      {"trace", ConsoleAction::refuse, "trace",
       "Refused: tracing is switched on the Preferences page, so that the History follows it"},
      {"info break; c", ConsoleAction::refuse, "info break; c", "Refused: one command at a time, without ';'"},
      {"x;q", ConsoleAction::refuse, "x;q", "Refused: one command at a time, without ';'"},
      {"info\x01 break", ConsoleAction::refuse, "info\x01 break", "Refused: the line holds a control character"},
      {"info break\x7f", ConsoleAction::refuse, "info break\x7f", "Refused: the line holds a control character"},
      {"info\nc", ConsoleAction::refuse, "info\nc", "Refused: the line holds a control character"},
      {"stepper", ConsoleAction::send, "stepper", ""},
      {"cc", ConsoleAction::send, "cc", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.typed);
    ConsoleVerdict v = judge_console_line(c.typed);
    EXPECT_EQ(v.action, c.action);
    EXPECT_EQ(v.command, c.command);
    EXPECT_EQ(v.message, c.message);
  }
}

TEST(ConsoleRules, CommandsThatChangeThePointLists) {
  for (const char *line : {"pb 0x7c00", "lb 0x7c00", "vb 0:7c00", "d 1", "delete 2", "bpd 1", "watch write 0x500",
                           "unwatch", "PB 0x1"})
    EXPECT_TRUE(console_command_changes_points(line)) << line;
  for (const char *line : {"info break", "x /1wx 0x500", "dump_cpu", "", "pbx"})
    EXPECT_FALSE(console_command_changes_points(line)) << line;
}
