// The memory dump reply scanner: the text of a reply in, rows out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/text_reader.hpp"
#include "text/dump_scan.hpp"

namespace {

struct Row {
  std::string base, offset, values;
  bool operator==(const Row &o) const {
    return base == o.base && offset == o.offset && values == o.values;
  }
};

void PrintTo(const Row &r, std::ostream *os) {
  *os << "{" << r.base << " | " << r.offset << " | " << r.values << "}";
}

struct Read {
  std::vector<Row> rows;
  uint32_t prompt;
  std::string rest;
};

Read read(const std::string &reply) {
  // As a dump window reads it: the reply's text up to its prompt, then the scan.
  TextStream s(reply);
  std::vector<DumpRow> rows;
  Read r;
  r.prompt = 77;
  std::string text;
  s.reader.read_reply(&text, &r.prompt);
  scan_dump_reply(text, &rows);
  for (const DumpRow &d : rows) r.rows.push_back(Row{d.base, d.offset, d.values});
  r.rest = s.rest();
  return r;
}

}  // namespace

TEST(DumpReply, RowsOfAddressLabelAndValues) {
  struct Case {
    const char *what;
    std::string reply;
    std::vector<Row> rows;
    uint32_t prompt;
    std::string rest;
  } cases[] = {
      {"the debugger's layout",
       "0x500 <bogus+0>:\t0x41\t0x07\t0x42\t0x07\n0x504 <bogus+4>:\t0x43\t0x07\t0x44\t0x07\n<bochs:9> ",
       {{"00000500", "+0", "0x41 0x07 0x42 0x07"}, {"00000504", "+4", "0x43 0x07 0x44 0x07"}},
       9, ""},
      {"runs of blanks become one space",
       "0x10  <bogus+0>: \t 1  \t2\n<bochs:1> ", {{"00000010", "+0", "1 2"}}, 1, ""},
      {"a '>' goes with the character after it",
       "0x10 a> 1\n<bochs:1> ", {{"00000010", "a1", ""}}, 1, ""},
      {"a '>' at the end of a line joins the next line to it",
       "0x10 a 1>\nb 2\n<bochs:1> ", {{"00000010", "a", "1b 2"}}, 1, ""},
      {"a '<' goes with as much of \"bogus\" as follows it",
       "0x10 <boxes 1\n<bochs:1> ", {{"00000010", "xes", "1"}}, 1, ""},
      {"a line that begins with '<' is text like any other: only the prompt ends the reply",
       "0x10 x 1\n<nonsense\n0x20 y 2\n<bochs:3> ",
       {{"00000010", "x", "1"}, {"00000010", "", ""}, {"00000020", "y", "2"}}, 3, ""},
      {"a second word beginning with r or d empties Base and Offset",
       "Error: read past the end\n0x10 dump 1\n<bochs:2> ",
       {{"", "", "past the end"}, {"", "", "1"}}, 2, ""},
      {"a first word that is no number takes the previous line's",
       "0x10 a 1\nzz b 2\n<bochs:2> ", {{"00000010", "a", "1"}, {"00000010", "b", "2"}}, 2, ""},
      {"with no number before it, Base is empty",
       "zz b 2\n<bochs:2> ", {{"", "b", "2"}}, 2, ""},
      {"a line of one or two words has no values",
       "0x10\n0x20 +4:\n<bochs:2> ", {{"00000010", "", ""}, {"00000020", "+4:", ""}}, 2, ""},
      {"a long label keeps its first 16 characters",
       "0x10 0123456789abcdefXYZ v\n<bochs:2> ", {{"00000010", "0123456789abcdef", "v"}}, 2, ""},
      {"the end of the replies ends the reply; a half line makes no row",
       "0x10 a 1\n0x20 b", {{"00000010", "a", "1"}}, 77, ""},
      {"only the prompt", "<bochs:3> ", {}, 3, ""},
      {"NUL and high bytes are text", std::string("0x10 a \xff\0x\n<bochs:4> ", 21),
       {{"00000010", "a", std::string("\xff", 1)}}, 4, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Read r = read(c.reply);
    EXPECT_EQ(r.rows, c.rows);
    EXPECT_EQ(r.prompt, c.prompt);
    EXPECT_EQ(r.rest, c.rest);
  }
}

TEST(DumpReply, ALineLongerThanTheBufferIsCutAndTheNextLinesStillParse) {
  std::string values;
  for (int i = 0; i < 200; i++) values += " 0x41";
  Read r = read("0x10 +0: " + values + "\n0x20 +16: 1\n<bochs:5> ");
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.rows[0].base, "00000010");
  EXPECT_EQ(r.rows[0].values.size(), (size_t)dump_line_size - 9) << "the line kept its first characters";
  EXPECT_EQ(r.rows[0].values, values.substr(1, dump_line_size - 9));
  EXPECT_EQ(r.rows[1], (Row{"00000020", "+16:", "1"}));
  EXPECT_EQ(r.prompt, 5u);
}
