// The "watch" reply scanner on text.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "text/point_lists.hpp"
#include "support/text_reader.hpp"

namespace {

const uint32_t stale_value = 0xdead;

struct Scan {
  bool prompt_due;
  uint32_t count;
  Watchpoint table[30];
  std::string rest;  // what the scanner left unread
};

Scan scan(const std::string &reply) {
  Scan s;
  // Content from an earlier list: every entry in use.
  for (Watchpoint &w : s.table) w = Watchpoint{watchpoint_write, true, 0x99, stale_value, 4};
  s.count = 12345;
  // As the page reads it: the reply's text up to its prompt, then the scan.
  TextStream stream(reply);
  std::string text;
  uint32_t number = 0;
  bool at_prompt = stream.reader.read_reply(&text, &number);
  size_t used = 0;
  s.prompt_due = scan_watchpoint_list(text.data(), text.size(), at_prompt, s.table, &s.count, &used);
  s.rest = text.substr(used) + (at_prompt ? "<bochs:" + std::to_string(number) + "> " : "") + stream.rest();
  return s;
}

// A reply text with NUL bytes in it.
template <size_t N>
std::string with_nul(const char (&text)[N]) {
  return std::string(text, N - 1);
}

struct Entry {
  uint32_t kind, address, value, width;
};

struct Case {
  const char *what;
  std::string reply;
  bool prompt_due;
  std::vector<Entry> entries;  // exactly the entries in use, in order
  std::string rest_starts;
};

}  // namespace

TEST(WatchpointList, ReadsTheEntriesTheReplyHolds) {
  const Case cases[] = {
      {"only the prompt", "<bochs:2> ", true, {}, "<bochs:2>"},
      {"four and eight digits",
       "read 0x500 (1234)\nwrite 0x600 (0000abcd)\n<bochs:5> ", true,
       {{0, 0x500, 0x1234, 2}, {1, 0x600, 0xabcd, 4}}, "<bochs:5>"},
      {"the debugger's own layout",
       "read 0x00000500 (1234)\nwrite 0x00000604 (12345678)\n<bochs:5> ", true,
       {{0, 0x500, 0x1234, 2}, {1, 0x604, 0x12345678, 4}}, "<bochs:5>"},
      {"blanks inside the brackets", "read 0x500 ( 1234)\n<bochs:5> ", true,
       {{0, 0x500, 0x1234, 2}}, "<bochs:5>"},
      {"text without r, w or < between entries is dropped",
       "List:\nread 0x500 (1234)\n  --  \nwrite 0x600 (5678)\n<bochs:5> ", true,
       {{0, 0x500, 0x1234, 2}, {1, 0x600, 0x5678, 2}}, "<bochs:5>"},
      {"READ holds no r, w or < and is skipped whole",
       "READ 0x500 (1234)\nwrite 0x600 (0000abcd)\n<bochs:5> ", true,
       {{1, 0x600, 0xabcd, 4}}, "<bochs:5>"},
      {"Write starts at its r and ends the list",
       "read 0x500 (1234)\nWrite 0x600 (1234)\nread 0x700 (1234)\n<bochs:5> ", true,
       {{0, 0x500, 0x1234, 2}}, ""},
      {"a stray r between entries ends the list",
       "read 0x500 (1234)\nerror\nwrite 0x600 (1234)\n<bochs:5> ", true,
       {{0, 0x500, 0x1234, 2}}, ""},
      {"three digits", "read 0x500 (1234)\nwrite 0x600 (123)\nread 0x700 (1234)\n<bochs:5> ", true,
       {{0, 0x500, 0x1234, 2}}, ""},
      {"five digits", "read 0x500 (1234)\nwrite 0x600 (12345)\nread 0x700 (1234)\n<bochs:5> ", true,
       {{0, 0x500, 0x1234, 2}}, ""},
      {"nine digits", "read 0x500 (1234)\nwrite 0x600 (123456789)\n<bochs:5> ", true,
       {{0, 0x500, 0x1234, 2}}, ""},
      {"a value that is no hexadecimal number keeps the old value", "read 0x500 (zzzz)\n<bochs:5> ",
       true, {{0, 0x500, stale_value, 2}}, "<bochs:5>"},
      {"a missing '(' ends the list", "read 0x500 1234)\n<bochs:5> ", true, {}, "1234)"},
      // The kind word has room for 5 characters and the value token for 15:
      // a longer one is a mismatch, not a word read in pieces.
      {"a kind word longer than its field",
       "read 0x500 (1234)\nwrite0x600 (1234)\n<bochs:5> ", true, {{0, 0x500, 0x1234, 2}}, "0x600"},
      {"a value token longer than its field",
       "read 0x500 (1234)\nwrite 0x600 (0000000000001234)\n<bochs:5> ", true,
       {{0, 0x500, 0x1234, 2}}, "4)"},
      {"a value token that just fits its field is read and does not fit the list",
       "write 0x600 (00000000001234)\n<bochs:5> ", true, {}, "\n<bochs:5>"},
      {"a NUL byte ends no word early: kind word", with_nul("read\0 0x500 (1234)\n<bochs:5> "), true,
       {}, ""},
      {"a NUL byte ends no word early: value token",
       with_nul("read 0x500 (1234)\nwrite 0x600 (1234\0)\n<bochs:5> "), true,
       {{0, 0x500, 0x1234, 2}}, ""},
      {"a value token of NUL bytes", with_nul("read 0x500 (\0\0\0\0)\n<bochs:5> "), true, {}, ""},
      {"end of stream before any entry", "None.", false, {}, ""},
      {"end of stream between entries", "read 0x500 (1234)\n", false, {{0, 0x500, 0x1234, 2}}, ""},
      {"end of stream inside an entry", "read 0x500 (1234)\nwrite 0x600 (12", true,
       {{0, 0x500, 0x1234, 2}}, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Scan s = scan(c.reply);
    EXPECT_EQ(s.prompt_due, c.prompt_due);
    EXPECT_EQ(s.count, c.entries.size());
    for (size_t i = 0; i < c.entries.size(); i++) {
      EXPECT_TRUE(s.table[i].in_use) << i;
      EXPECT_EQ((uint32_t)s.table[i].kind, c.entries[i].kind) << i;
      EXPECT_EQ(s.table[i].address, c.entries[i].address) << i;
      EXPECT_EQ(s.table[i].value, c.entries[i].value) << i;
      EXPECT_EQ(s.table[i].width, c.entries[i].width) << i;
    }
    for (size_t i = c.entries.size(); i < 30; i++) EXPECT_FALSE(s.table[i].in_use) << i;
    EXPECT_EQ(s.rest.substr(0, std::string(c.rest_starts).size()), c.rest_starts);
  }
}

TEST(WatchpointList, ReadsAtMostThirtyEntries) {
  std::string reply;
  for (int n = 1; n <= 31; n++) reply += "write 0x" + std::to_string(n * 100) + " (0000abcd)\n";
  reply += "<bochs:40> ";
  Scan s = scan(reply);
  EXPECT_TRUE(s.prompt_due);
  EXPECT_EQ(s.count, 30u);
  EXPECT_TRUE(s.table[29].in_use);
  EXPECT_EQ(s.table[29].address, 0x3000u);
  // The 31st entry stays in the stream, to be dropped with the prompt.
  EXPECT_EQ(s.rest.find("write 0x3100"), s.rest.find_first_not_of(" \n"));
}
