// The scanners of stop reports, current-instruction lines and trace lines:
// text in, records out. (The run reader's lines are read as the reply
// reader's line reads give them.)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "text/stop_scan.hpp"
#include "support/text_reader.hpp"

namespace {

// A record whose every field shows whether a scan wrote it.
StopLocation marked() {
  StopLocation at;
  at.physical_address = 0xAAAAAAAA;
  at.length = 77;
  at.cs = 0xBBBB;
  at.eip = 0xCCCCCCCC;
  strcpy(at.text, "old text");
  strcpy(at.bytes, "old bytes");
  return at;
}

const uint32_t old_address = 0xAAAAAAAA, old_cs = 0xBBBB, old_eip = 0xCCCCCCCC, old_length = 77;

}  // namespace

TEST(RunLines, ReadsWholeLinesAndNeverLeavesOldText) {
  TextStream s("Next at t=1\nsecond\nhalf a li");
  char line[reply_line_size];
  ASSERT_TRUE(s.reader.read_line(line, reply_line_size, true));
  EXPECT_STREQ(line, "Next at t=1\n");
  ASSERT_TRUE(s.reader.read_line(line, reply_line_size, true));
  EXPECT_STREQ(line, "second\n");
  // The debugger ended in the middle of a line: no line, and nothing of the
  // previous one or of the half line is left in the buffer.
  EXPECT_FALSE(s.reader.read_line(line, reply_line_size, true));
  EXPECT_STREQ(line, "");
  strcpy(line, "stale");
  EXPECT_FALSE(s.reader.read_line(line, reply_line_size, true));
  EXPECT_STREQ(line, "");
}

TEST(RunLines, StopsBeforeThePromptAndLeavesItUnread) {
  TextStream s("text<bochs:4> ");
  char line[reply_line_size];
  ASSERT_TRUE(s.reader.read_line(line, reply_line_size, true));
  EXPECT_STREQ(line, "text");
  ASSERT_TRUE(s.reader.read_line(line, reply_line_size, true));
  EXPECT_STREQ(line, "") << "at the prompt a read gives the empty line";
  EXPECT_EQ(s.rest(), "<bochs:4> ");
}

TEST(RunLines, CutsLongLinesAt199CharactersAndKeepsHighBytes) {
  std::string longline(250, 'x');
  longline[10] = '\xff';
  TextStream s(longline + "\n");
  char line[reply_line_size];
  ASSERT_TRUE(s.reader.read_line(line, reply_line_size, true));
  EXPECT_EQ(std::string(line), longline.substr(0, 199));
  ASSERT_TRUE(s.reader.read_line(line, reply_line_size, true));
  EXPECT_EQ(std::string(line), longline.substr(199) + "\n");
}

TEST(ScanInstructionLine, CurrentInstructionGrammar) {
  struct Case {
    const char *line;
    int stage;
    uint32_t physical, cs, eip, length;
    const char *text, *bytes;
    int next;
  } cases[] = {
      // The layout of the debugger, with the CPU and the two-word context field.
      {"(0) [0x0001f3a2] 1f00:03a2 (two words): add bx, 0x10              ; 83c310\n",
       instruction_complete, 0x1F3A2, 0x1F00, 0x3A2, 3, "add bx, 0x10", "83c310", 0},
      // No CPU field: parsed from the first character.
      {"[0x00007c00] 0000:7c00 (unk. ctxt): call 0x7c11 ; e80300\n", instruction_complete, 0x7C00,
       0, 0x7C00, 3, "call 0x7c11", "e80300", 1},
      // No context field.
      {"(0) [0x00000100] 0010:0100 int 0x21 ; cd21\n", instruction_complete, 0x100, 0x10, 0x100, 2,
       "int 0x21", "cd21", 1},
      // A one-word context field swallows the instruction's first word.
      {"(0) [0x00000500] 0000:0500 (ctx) call 0x10 ; e80000\n", instruction_complete, 0x500, 0,
       0x500, 3, "0x10", "e80000", 0},
      // A first field opened by "(" goes whole, whatever it holds.
      {"(0)[0x00000010] 0000:0010 (a b): nop ; 90\n", instruction_no_address, old_address, old_cs,
       old_eip, old_length, "old text", "old bytes", 0},
      {"Next at t=5\n", instruction_no_address, old_address, old_cs, old_eip, old_length,
       "old text", "old bytes", 0},
      // Only the segment converts: cs changes and the parse stops.
      {"[0x00000010] 1234 nop ; 90\n", instruction_no_location, 0x10, 0x1234, old_eip, old_length,
       "old text", "old bytes", 0},
      {"[0x00000010] :10 nop ; 90\n", instruction_no_location, 0x10, old_cs, old_eip, old_length,
       "old text", "old bytes", 0},
      // Empty text: the entries get the location, text and bytes stay.
      {"[0x00000010] 0000:0010 (a b): ; 90\n", instruction_no_text, 0x10, 0, 0x10, old_length, "",
       "old bytes", 0},
      // No hex digits after "; ": length 0, the bytes are what stands there.
      {"[0x00000010] 0000:0010 nop ; zz\n", instruction_complete, 0x10, 0, 0x10, 0, "nop", "zz", 0},
      // Odd digit counts drop the remainder; white space and 0x count as consumed.
      {"[0x00000010] 0000:0010 nop ; e80\n", instruction_complete, 0x10, 0, 0x10, 1, "nop", "e80", 0},
      {"[0x00000010] 0000:0010 nop ;  0xe8\n", instruction_complete, 0x10, 0, 0x10, 2, "nop",
       " 0xe8", 0},
      // The character right after ';' is passed over whatever it is.
      {"[0x00000010] 0000:0010 nop ;x90\n", instruction_complete, 0x10, 0, 0x10, 1, "nop", "90", 0},
      // No ';' at all: no bytes; nothing past the line's end is read.
      {"[0x00000010] 0000:0010 nop   \n", instruction_complete, 0x10, 0, 0x10, 0, "nop", "", 0},
      {"[0x00000010] 0000:0010 nop ;", instruction_complete, 0x10, 0, 0x10, 0, "nop", "", 0},
      {"[0x00000010] 0000:0010 nop ;\n", instruction_complete, 0x10, 0, 0x10, 0, "nop", "", 0},
      // The "]" and the blank after the address are not required.
      {"[0x10 0000:0010 nop ; 90\n", instruction_complete, 0x10, 0, 0x10, 1, "nop", "90", 0},
  };
  for (const Case &c : cases) {
    StopLocation at = marked();
    InstructionScan scan = scan_instruction_line(c.line, &at, false);
    SCOPED_TRACE(c.line);
    EXPECT_EQ(scan.stage, c.stage);
    EXPECT_EQ(at.physical_address, c.physical);
    EXPECT_EQ(at.cs, c.cs);
    EXPECT_EQ(at.eip, c.eip);
    EXPECT_EQ(at.length, c.length);
    EXPECT_STREQ(at.text, c.text);
    EXPECT_STREQ(at.bytes, c.bytes);
    EXPECT_EQ(scan.next_offered, c.next);
  }
}

TEST(ScanInstructionLine, LongTextIsCutAt127AndTheBytesAreStillFound) {
  std::string operands(150, 'a');
  std::string line = "[0x00000010] 0000:0010 mov " + operands + " ; 8b07\n";
  ASSERT_LT(line.size(), 200u);
  StopLocation at = marked();
  InstructionScan scan = scan_instruction_line(line.c_str(), &at, false);
  EXPECT_EQ(scan.stage, instruction_complete);
  EXPECT_EQ(std::string(at.text), ("mov " + operands).substr(0, 127));
  EXPECT_STREQ(at.bytes, "8b07");
  EXPECT_EQ(at.length, 2u);

  // Without a ';' in reach: no bytes, and the 127 characters of text.
  std::string bare = "[0x00000010] 0000:0010 " + std::string(170, 'b');
  ASSERT_LT(bare.size(), 200u);
  at = marked();
  scan_instruction_line(bare.c_str(), &at, false);
  EXPECT_EQ(strlen(at.text), 127u);
  EXPECT_STREQ(at.bytes, "");
  EXPECT_EQ(at.length, 0u);
}

TEST(ScanInstructionLine, TraceLinesGoOnPastFailedConversions) {
  struct Case {
    const char *line;
    uint32_t physical, cs, eip, length;
    const char *text, *bytes;
  } cases[] = {
      {"(0) [0x00007c05] 0000:7c05 (unk. ctxt): jmp .-2 ; ebfe\n", 0x7C05, 0, 0x7C05, 2,
       "jmp .-2", "ebfe"},
      // A failed address keeps the old one; the rest is taken.
      {"(0) xx 0010:0020 (a b): nop ; 90\n", old_address, 0x10, 0x20, 1, "nop", "90"},
      // A lone segment changes only cs.
      {"(0) [0x00000030] 0040 (a b): nop ; 90\n", 0x30, 0x40, old_eip, 1, "nop", "90"},
      // An empty text goes on to the bytes.
      {"[0x00000030] 0000:0030 (a b): ; 9090\n", 0x30, 0, 0x30, 2, "", "9090"},
  };
  for (const Case &c : cases) {
    StopLocation at = marked();
    scan_instruction_line(c.line, &at, true);
    SCOPED_TRACE(c.line);
    EXPECT_EQ(at.physical_address, c.physical);
    EXPECT_EQ(at.cs, c.cs);
    EXPECT_EQ(at.eip, c.eip);
    EXPECT_EQ(at.length, c.length);
    EXPECT_STREQ(at.text, c.text);
    EXPECT_STREQ(at.bytes, c.bytes);
  }
}

TEST(OffersNext, CallsInterruptsRepeatsLoopsAndConditionalJumps) {
  struct Case {
    const char *text;
    bool offered;
  } cases[] = {
      {"call 0x7c11", true},  {"CALL 0x7c11", true},   {"int 0x10", true},
      {"rep: movsb", true},   {"REP: stosw", true},    {"loop .-4", true},
      {"jnz .+3", true},      {"je .+3", true},        {"j", true},
      {"JNZ .+3", false},     {"jmp .-2", false},      {"JMP .-2", false},
      {"jMP .-2", false},     {"loopne .-4", false},   {"callf 0x10", false},
      {"rep movsb", false},   {"mov ax, bx", false},   {"", false},
      {"   ", false},         {"  call 0x10", true},   {"\tjc .+2", true},
  };
  for (const Case &c : cases) EXPECT_EQ(offers_next(c.text), c.offered) << "'" << c.text << "'";
}

TEST(ScanStopReport, PassesOverTheLineBeforeTheLastAndParsesTheLast) {
  StopReport r;
  scan_stop_report("Next at t=3\n(0) [0x00007c03] 0000:7c03 (unk. ctxt): jnz .+2 ; 7502\n", false, marked(), &r);
  EXPECT_EQ(r.scan.stage, instruction_complete);
  EXPECT_TRUE(r.scan.next_offered);
  EXPECT_EQ(r.location.physical_address, 0x7C03u);
  EXPECT_STREQ(r.location.text, "jnz .+2");
  EXPECT_TRUE(r.has_ticks);
  EXPECT_EQ(r.ticks, 3u);
  EXPECT_TRUE(r.notices.empty());
  EXPECT_EQ(r.stop.kind, stop_line_other);
}

TEST(ScanStopReport, ReportsOfEveryShape) {
  const std::string at_7c10 = "(0) [0x00007c10] 0000:7c10 (unk. ctxt): nop ; 90\n";
  struct Case {
    const char *what;
    std::string text;
    bool with_stop_line;
    StopLineKind kind;
    std::vector<std::string> notices;
    uint32_t address;  // old_address: the place is kept
  } cases[] = {
      {"a step", "Next at t=9\n" + at_7c10, false, stop_line_other, {}, 0x7C10},
      {"a breakpoint", "(0) Breakpoint 2, 0x7c10 in ?? ()\nNext at t=9\n" + at_7c10, true,
       stop_line_breakpoint, {}, 0x7C10},
      {"a watchpoint", "(0) Caught write watch point at 0x00000500\nNext at t=9\n" + at_7c10, true,
       stop_line_watchpoint, {}, 0x7C10},
      {"the interrupt of Stop", "Next at t=9\n" + at_7c10, true, stop_line_other, {}, 0x7C10},
      {"a magic breakpoint", "(0) Magic breakpoint\nNext at t=9\n" + at_7c10, true, stop_line_other,
       {"(0) Magic breakpoint"}, 0x7C10},
      {"a breakpoint and two notices",
       "(0) Breakpoint 1, 0x7c10\n(0) one\n(0) two\nNext at t=9\n" + at_7c10, true, stop_line_breakpoint,
       {"(0) one", "(0) two"}, 0x7C10},
      {"a step's notice", "(0) Reset after a triple fault\nNext at t=9\n" + at_7c10, false,
       stop_line_other, {"(0) Reset after a triple fault"}, 0x7C10},
      {"nothing", "", false, stop_line_other, {}, old_address},
      {"one line", "garbage\n", false, stop_line_other, {}, old_address},
      {"a breakpoint line alone", "(0) Breakpoint 2, 0x7c10\n", true, stop_line_breakpoint, {}, old_address},
      {"an empty last line", "Next at t=9\n\n", false, stop_line_other, {}, old_address},
      {"a text without a final newline", "Next at t=9\n(0) [0x00007c20] 0000:7c20 (unk. ctxt): hlt ; f4",
       false, stop_line_other, {}, 0x7C20},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    StopReport r;
    scan_stop_report(c.text, c.with_stop_line, marked(), &r);
    EXPECT_EQ(r.stop.kind, c.kind);
    EXPECT_EQ(r.notices, c.notices);
    EXPECT_EQ(r.location.physical_address, c.address);
  }
}

TEST(ScanStopReport, NoticesAreKnownByTheirWords) {
  EXPECT_EQ(classify_notice("(0) Magic breakpoint"), notice_magic_breakpoint);
  EXPECT_EQ(classify_notice("(0) Reset after a triple fault"), notice_triple_fault);
  EXPECT_EQ(classify_notice("(0) Switched to protected mode"), notice_other);
}

TEST(ScanStopLine, ClassifiesBreakpointWatchpointPromptAndOtherLines) {
  struct Case {
    const char *reply;
    StopLineKind kind;
    uint32_t number;
    const char *watch_kind;
    uint32_t address;
    bool read_watch;
  } cases[] = {
      {"(0) Breakpoint 3, 0x7c11 in ?? ()\n", stop_line_breakpoint, 3, "", 0, false},
      {"(0) Breakpoint 12 0x7c11\n", stop_line_breakpoint, 12, "", 0, false},  // no comma needed
      {"Breakpoint 3, 0x7c11\n", stop_line_other, 0, "", 0, false},           // a first word is needed
      {"(0) Breakpoint x, 0x7c11\n", stop_line_other, 0, "", 0, false},
      {"(0) Caught read watch point at 0x00000500\n", stop_line_watchpoint, 0, "read", 0x500, true},
      {"(0) Caught write watch point at 0x00000600\n", stop_line_watchpoint, 0, "write", 0x600, false},
      {"(0) Caught READ watch point at 0x500\n", stop_line_watchpoint, 0, "READ", 0x500, true},
      {"(0) Caught access watch point at 0x700\n", stop_line_watchpoint, 0, "access", 0x700, false},
      // A kind word longer than 9 characters is kept in 9 and counts as write.
      {"(0) Caught readreadread watch point at 0x10\n", stop_line_watchpoint, 0, "readreadr", 0x10,
       0},
      {"(0) Caught read watch point at zz\n", stop_line_other, 0, "", 0, false},
      {"(0) Caught read\n", stop_line_other, 0, "", 0, false},
      {"(0) Caught watch point at 0x10\n", stop_line_other, 0, "", 0, false},
      {"(0) [0x00007c05] 0000:7c05 (unk. ctxt): jmp .-2 ; ebfe\n", stop_line_other, 0, "", 0, false},
      {"\n", stop_line_other, 0, "", 0, false},
      {"<bochs:7> ", stop_line_prompt, 0, "", 0, false},
      {"", stop_line_missing, 0, "", 0, false},
      {"(0) Breakpoint 3, 0x7c", stop_line_missing, 0, "", 0, false},
  };
  for (const Case &c : cases) {
    // As the run reader reads a line from the replies.
    TextStream s(c.reply);
    StopLine stop;
    memset(&stop, 0, sizeof stop);
    if (!s.reader.read_line(stop.line, reply_line_size, true))
      stop.kind = stop_line_missing;
    else
      classify_stop_line(&stop);
    SCOPED_TRACE(c.reply);
    EXPECT_EQ(stop.kind, c.kind);
    if (c.kind == stop_line_breakpoint) {
      EXPECT_EQ(stop.number, c.number);
    }
    if (c.kind == stop_line_watchpoint) {
      EXPECT_STREQ(stop.watch_kind, c.watch_kind);
      EXPECT_EQ(stop.address, c.address);
      EXPECT_EQ(stop.read_watch, c.read_watch);
    }
  }
}
