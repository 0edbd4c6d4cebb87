// The "info break" reply scanner on text.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "text/point_lists.hpp"
#include "support/text_reader.hpp"

namespace {

struct Scan {
  bool prompt_due;
  uint32_t count;
  Breakpoint table[30];
  std::string rest;  // what the scanner left unread
};

Scan scan(const std::string &reply) {
  Scan s;
  // Stale content from an earlier list: every entry marked live.
  for (Breakpoint &b : s.table) b = Breakpoint{99, breakpoint_linear, true, 0x77, 0x88};
  s.count = 12345;
  // As the page reads it: the reply's text up to its prompt, then the scan.
  TextStream stream(reply);
  std::string text;
  uint32_t number = 0;
  bool at_prompt = stream.reader.read_reply(&text, &number);
  size_t used = 0;
  s.prompt_due = scan_breakpoint_list(text.data(), text.size(), at_prompt, s.table, &s.count, &used);
  s.rest = text.substr(used) + (at_prompt ? "<bochs:" + std::to_string(number) + "> " : "") + stream.rest();
  return s;
}

int live(const Scan &s) {
  int n = 0;
  while (n < 30 && s.table[n].enabled) n++;
  return n;
}

const char *const header = "Num Type           Disp Enb Address\n";

struct Case {
  const char *what;
  std::string reply;
  bool prompt_due;
  uint32_t count;
  int live;
  struct Entry {
    uint32_t number, kind, enabled, segment, offset;
  };
  std::vector<Entry> first;  // the leading entries, enabled flag included
  std::string rest_starts;
};

}  // namespace

TEST(BreakpointList, ReadsTheEntriesTheReplyHolds) {
  const Case cases[] = {
      {"no entries", std::string(header) + "<bochs:3> ", true, 0, 0, {}, "<bochs:3>"},
      {"no header, only the prompt", "<bochs:3> ", true, 0, 0, {}, "<bochs:3>"},
      {"one of each kind, short addresses",
       std::string(header) +
           "  1 pbreakpoint    keep y   0x500\n"
           "  2 lbreakpoint    keep y   0x1f3a5\n"
           "  3 vbreakpoint    keep y   0x0008:0x0100\n<bochs:4> ",
       true, 3, 3,
       {{1, 0, 1, 0, 0x500}, {2, 1, 1, 0, 0x1f3a5}, {3, 2, 1, 8, 0x100}}, "<bochs:4>"},
      {"eight-digit addresses, as the debugger prints them",
       std::string(header) +
           "  7 pbreakpoint    keep y   0x00000500\n"
           " 12 vbreakpoint    keep y   0x0008:0x00000100\n<bochs:9> ",
       true, 2, 2, {{7, 0, 1, 0, 0x500}, {12, 2, 1, 8, 0x100}}, "<bochs:9>"},
      {"blanks after the ':' are skipped",
       "1 vbreakpoint keep y 0x10: 0x20\n<bochs:2> ", true, 1, 1, {{1, 2, 1, 0x10, 0x20}},
       "<bochs:2>"},
      {"a blank before the ':' makes a single address and ends the list",
       "  1 vbreakpoint keep y 0x0008 :0x0100\n  2 pbreakpoint keep y 0x600\n<bochs:3> ", true, 1,
       1, {{1, 2, 1, 0, 8}}, ":0x0100"},
      {"a letter other than 'y' ends the live entries but is counted",
       "  1 pbreakpoint keep n 0x500\n  2 lbreakpoint keep y 0x600\n<bochs:3> ", true, 2, 0,
       {{1, 0, 0, 0, 0x500}, {2, 1, 1, 0, 0x600}}, "<bochs:3>"},
      {"a type word of another letter ends the list",
       "  1 pbreakpoint keep y 0x500\n  2 xbreakpoint keep y 0x600\n<bochs:3> ", true, 1, 1,
       {{1, 0, 1, 0, 0x500}}, "keep y 0x600"},
      {"an entry without an address ends the list",
       "  1 pbreakpoint keep y\n<bochs:3> ", true, 0, 0, {}, "<bochs:3>"},
      {"end of stream before any entry", "Num Type Disp", false, 0, 0, {}, ""},
      {"end of stream between entries", "  1 pbreakpoint keep y 0x500\n", false, 1, 1,
       {{1, 0, 1, 0, 0x500}}, ""},
      {"end of stream inside an entry", "  1 pbreakpoint keep y 0x500\n  2 lbreak", true, 1, 1,
       {{1, 0, 1, 0, 0x500}}, ""},
      // An entry cut short after its enabled letter is not live: it would
      // otherwise show, and be set again, at an address left from an older list.
      {"end of stream after the enabled letter", "  1 pbreakpoint keep y 0x500\n  2 lbreakpoint keep y",
       true, 1, 1, {{1, 0, 1, 0, 0x500}}, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Scan s = scan(c.reply);
    EXPECT_EQ(s.prompt_due, c.prompt_due);
    EXPECT_EQ(s.count, c.count);
    EXPECT_EQ(live(s), c.live);
    for (size_t i = 0; i < c.first.size(); i++) {
      EXPECT_EQ(s.table[i].number, c.first[i].number) << i;
      EXPECT_EQ((uint32_t)s.table[i].kind, c.first[i].kind) << i;
      EXPECT_EQ(s.table[i].enabled, c.first[i].enabled != 0) << i;
      EXPECT_EQ(s.table[i].segment, c.first[i].segment) << i;
      EXPECT_EQ(s.table[i].offset, c.first[i].offset) << i;
    }
    for (int i = (int)c.first.size(); i < 30; i++) EXPECT_FALSE(s.table[i].enabled) << i;
    EXPECT_EQ(s.rest.substr(0, std::string(c.rest_starts).size()), c.rest_starts);
  }
}

TEST(BreakpointList, ReadsAtMostThirtyEntries) {
  std::string reply = header;
  for (int n = 1; n <= 31; n++) reply += "  " + std::to_string(n) + " pbreakpoint keep y 0x" +
                                         std::to_string(n * 100) + "\n";
  reply += "<bochs:40> ";
  Scan s = scan(reply);
  EXPECT_TRUE(s.prompt_due);
  EXPECT_EQ(s.count, 30u);
  EXPECT_EQ(live(s), 30);
  EXPECT_EQ(s.table[29].number, 30u);
  EXPECT_EQ(s.table[29].offset, 0x3000u);
  // The 31st entry stays in the stream, to be dropped with the prompt.
  EXPECT_EQ(s.rest.find("31 pbreakpoint"), s.rest.find_first_not_of(" \n"));
}
