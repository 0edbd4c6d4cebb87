// Repeat folding of the history: an instruction at the address of the one
// before it is counted, and the count is written before the next row.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/history_fold.hpp"

namespace {

// Feeds a sequence of events ("i" + hex address for an instruction, "m" for
// a message, "r" for a new debugger) and records the rows the history would
// show: "row ADDR", "repeated N times", "msg".
std::vector<std::string> rows_of(const std::vector<std::string> &events) {
  RepeatFold fold;
  reset_fold(&fold);
  std::vector<std::string> rows;
  char text[repeat_message_size];
  for (const std::string &e : events) {
    if (e[0] == 'r') {
      reset_fold(&fold);
      continue;
    }
    if (e[0] == 'i' && fold_instruction(&fold, (uint32_t)std::stoul(e.substr(1), nullptr, 16))) continue;
    if (take_repeat_message(&fold, text)) rows.push_back(text);
    rows.push_back(e[0] == 'i' ? "row " + e.substr(1) : "msg");
  }
  if (take_repeat_message(&fold, text)) rows.push_back(text);
  return rows;
}

}  // namespace

TEST(RepeatFold, RowsAndCounts) {
  struct Case {
    const char *what;
    std::vector<std::string> events;
    std::vector<std::string> rows;
  } cases[] = {
      {"new addresses each make a row", {"i7c00", "i7c01", "i7c03"}, {"row 7c00", "row 7c01", "row 7c03"}},
      {"a repeat is counted, and written before the next row",
       {"i7c00", "i7c00", "i7c00", "i7c01"}, {"row 7c00", "repeated 2 times", "row 7c01"}},
      {"a message writes the count first", {"i7c00", "i7c00", "m"}, {"row 7c00", "repeated 1 times", "msg"}},
      {"a message does not end the run of repeats", {"i7c00", "m", "i7c00"}, {"row 7c00", "msg", "repeated 1 times"}},
      {"a count left at the end is written when flushed", {"i500", "i500"}, {"row 500", "repeated 1 times"}},
      {"address 0 at the very start counts as a repeat of nothing", {"i0", "i1"}, {"repeated 1 times", "row 1"}},
      {"a new debugger starts afresh: the same address is new", {"i7c00", "r", "i7c00"}, {"row 7c00", "row 7c00"}},
      {"alternating addresses never fold", {"i10", "i20", "i10", "i20"}, {"row 10", "row 20", "row 10", "row 20"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(rows_of(c.events), c.rows);
  }
}

TEST(RepeatFold, TheCountIsTakenOnce) {
  RepeatFold fold;
  reset_fold(&fold);
  char text[repeat_message_size];
  EXPECT_FALSE(take_repeat_message(&fold, text)) << "nothing counted";
  fold_instruction(&fold, 0x10);
  for (int i = 0; i < 4000000; i++) fold_instruction(&fold, 0x10);
  ASSERT_TRUE(take_repeat_message(&fold, text));
  EXPECT_STREQ(text, "repeated 4000000 times");
  EXPECT_FALSE(take_repeat_message(&fold, text)) << "the count went with its message";
}
