// A debugger that answers with text VUM cannot read: it is named once in the
// history, counts as no instruction, and the control bar keeps the last
// place it knew.
#include <string>
#include <vector>

#include "exec/control_bar.hpp"
#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "support/points_script.hpp"

namespace {

class UnreadableReplyTest : public ScriptedDebuggerTest {
 protected:
  // The reply to a step at the given address, then to the register dump.
  std::string step_reply(const char *address) {
    return std::string("Next at t=1\n(0) [0x0000") + address + "] 0000:" + address +
           " (unk. ctxt): nop ; 90\n" + prompt() + prompt();
  }
};

}  // namespace

TEST_F(UnreadableReplyTest, GarbageIsNamedOnceAndCountsAsNoInstruction) {
  struct Case {
    const char *what;
    std::string reply;
    std::string message;
  } cases[] = {
      {"binary bytes", std::string("\x01\x02\xff\xfe\x00garbage\n\x7f\x80zz\n", 18),
       "Unreadable reply from Bochs: ?????garbage ??zz"},
      {"a megabyte without a line break", std::string(1 << 20, 'x'),
       "Unreadable reply from Bochs: " + std::string(40, 'x') + "..."},
      {"nothing but the prompt", "", "Unreadable reply from Bochs: (empty)"},
      {"a location that does not scan", "Next at t=1\n(0) [0xzz] nop ; 90\n",
       "Unreadable reply from Bochs: Next at t=1 (0) [0xzz] nop ; 90"},
      {"a line longer than a buffer names its start", std::string(300, 'g') + "arbage\n" + "(0) [0xzz]\n",
       "Unreadable reply from Bochs: " + std::string(40, 'g') + "..."},
  };
  build_window();
  online();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    // A good step first: the bar and the history know where the CPU is.
    replies(step_reply("7c10"));
    click(control_bar().step_button);
    ASSERT_EQ(entry_text(control_bar().physical_entry), "00007C10");
    std::vector<std::string> before = history_texts();

    replies(c.reply + prompt() + prompt());  // the garbage, then the register dump
    click(control_bar().step_button);
    std::vector<std::string> h = history_texts();
    ASSERT_EQ(h.size(), before.size() + 1) << "one message, no row of an instruction";
    EXPECT_EQ(h.back(), c.message);
    EXPECT_EQ(entry_text(control_bar().physical_entry), "00007C10") << "the last known place";
    EXPECT_EQ(entry_text(control_bar().location_entry), "0000:00007C10");
    EXPECT_EQ(entry_text(control_bar().instruction_entry), "nop");
    EXPECT_EQ(unread(), "") << "the dialogue is in step";

    // The same garbage again: said again, still never a count of nothing.
    replies(c.reply + prompt() + prompt());
    click(control_bar().step_button);
    h = history_texts();
    ASSERT_EQ(h.size(), before.size() + 2);
    EXPECT_EQ(h.back(), c.message);
    for (size_t r = before.size(); r < h.size(); r++)
      EXPECT_EQ(h[r].find("repeated"), std::string::npos) << h[r];

    // A good step at the same place as before counts as its repeat.
    replies(step_reply("7c10"));
    click(control_bar().step_button);
    EXPECT_EQ(history_page().fold.count, 1u);
    replies(step_reply("7c00"));  // somewhere else, for the next case
    click(control_bar().step_button);
  }
}

TEST_F(UnreadableReplyTest, BeforeAnyPlaceIsKnownTheBarIsClearedNotLeftOffline) {
  build_window();
  online();
  replies(std::string("\x01\x02\n\x03\n") + prompt() + prompt());
  click(control_bar().step_button);
  EXPECT_EQ(history_texts().back(), "Unreadable reply from Bochs: ?? ?");
  EXPECT_EQ(entry_text(control_bar().physical_entry), "");
  EXPECT_EQ(entry_text(control_bar().instruction_entry), "") << "not \".. o f f l i n e ..\" while online";
}

TEST_F(UnreadableReplyTest, AnotherLineEndingARunIsReadAsItsStopReport) {
  build_window();
  online();
  replies(step_reply("7c10"));
  click(control_bar().step_button);
  // Go; the run ends with a report that is neither a breakpoint nor a
  // watchpoint: its two lines and the prompt are read, the dialogue stays
  // in step.
  replies(" Next at t=9\n(0) [0x00007c20] 0000:7c20 (unk. ctxt): hlt ; f4\n" + prompt() + prompt());
  click(control_bar().go_button);
  ASSERT_TRUE(pump_until([] { return !target_running(); }));
  EXPECT_EQ(entry_text(control_bar().physical_entry), "00007C20");
  EXPECT_EQ(entry_text(control_bar().instruction_entry), "hlt");
  EXPECT_EQ(history_texts().back(), "hlt");
  EXPECT_EQ(unread(), "");
}
