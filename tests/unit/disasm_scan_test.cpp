// The disassembly reply's lines, and the rule that finds the instructions
// before an address, driven by a small machine whose instruction lengths
// are known (so that every answer can be checked against the truth).
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "text/disasm_scan.hpp"

TEST(DisasmScan, Lines) {
  struct Case {
    const char *line;
    bool ok;
    uint32_t address;
    const char *symbol;
    const char *text;
    const char *bytes;
    uint32_t length;
  } cases[] = {
      {"00007c00: (                    ): cli                      ; fa", true, 0x7c00, "", "cli", "fa", 1},
      {"00007c0d: (                    ): call 0x7c4b              ; e83b00", true, 0x7c0d, "", "call 0x7c4b",
       "e83b00", 3},
      {"00007bf8: (                    ): add byte ptr ds:[bx+si], al ; 0000", true, 0x7bf8, "",
       "add byte ptr ds:[bx+si], al", "0000", 2},
      {"00007c13: (count+0x0           ): call 0x7c3d              ; e82700", true, 0x7c13, "count+0x0",
       "call 0x7c3d", "e82700", 3},
      {"C0000000: (                    ): jmp .-2 ; EBFE", true, 0xc0000000, "", "jmp .-2", "EBFE", 2},
      {"00007c00: (                    ): cli                      ; fa\r", true, 0x7c00, "", "cli", "fa", 1},
      {"7c00: (): nop ; 90  ", true, 0x7c00, "", "nop", "90", 1},
      {"00007c00: (                    ): cli                      ; f", false, 0, "", "", "", 0},
      {"00007c00: (                    ): cli                      ; fz", false, 0, "", "", "", 0},
      {"00007c00: (                    ): cli                      ;", false, 0, "", "", "", 0},
      {"00007c00: (                    ): cli", false, 0, "", "", "", 0},
      {"00007c00: (                    ):                          ; 90", false, 0, "", "", "", 0},
      {"00007c00: (                    ) cli ; fa", false, 0, "", "", "", 0},
      {"000007c00: (): cli ; fa", false, 0, "", "", "", 0},
      {"00007c00 (): cli ; fa", false, 0, "", "", "", 0},
      {"Error: reading linear 0x01000000: past the end of memory", false, 0, "", "", "", 0},
      {"", false, 0, "", "", "", 0},
      {"00007c00: (                    ): rep movsb ; f3a4f3a4f3a4f3a4f3a4f3a4f3a4f3a4f3a4", false, 0, "", "",
       "", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    DisasmLine line;
    ASSERT_EQ(scan_disasm_line(c.line, strlen(c.line), &line), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(line.address, c.address);
    EXPECT_STREQ(line.symbol, c.symbol);
    EXPECT_STREQ(line.text, c.text);
    EXPECT_STREQ(line.bytes, c.bytes);
    EXPECT_EQ(line.length, c.length);
  }
}

TEST(DisasmScan, Replies) {
  struct Case {
    const char *what;
    std::string text;
    std::vector<uint32_t> addresses;
    bool error;
    bool address_known;
    uint32_t error_address;
    const char *error_text;
  } cases[] = {
      {"two lines", "00007c00: (): cli ; fa\n00007c01: (): xor ax, ax ; 31c0\n", {0x7c00, 0x7c01}, false, false, 0,
       ""},
      {"the last line without its newline", "00007c00: (): cli ; fa\n00007c01: (): xor ax, ax ; 31c0",
       {0x7c00, 0x7c01}, false, false, 0, ""},
      {"empty", "", {}, false, false, 0, ""},
      {"blank lines pass", "\n00007c00: (): cli ; fa\n  \n", {0x7c00}, false, false, 0, ""},
      {"an error in place of the rest", "00fffffe: (): add [bx+si], al ; 0000\nError: reading linear 0x01000000: past the end of memory\n",
       {0xfffffe}, true, true, 0x1000000, "Error: reading linear 0x01000000: past the end of memory"},
      {"a page not present at once", "Error: reading linear 0x00801000: page not present\n", {}, true, true,
       0x801000, "Error: reading linear 0x00801000: page not present"},
      {"an error that names no address", "Error: usage: u /N ADDR (N from 1 to 64)\n", {}, true, false, 0,
       "Error: usage: u /N ADDR (N from 1 to 64)"},
      {"a number beyond 32 bits is no address", "Error: at 0x123456789 nothing\n", {}, true, false, 0,
       "Error: at 0x123456789 nothing"},
      {"nothing after the error is read", "junk\n00007c00: (): cli ; fa\n", {}, true, false, 0, "junk"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    DisasmReply reply;
    reply.lines.resize(3);  // from an earlier reply: cleared
    scan_disasm_reply(c.text, &reply);
    std::vector<uint32_t> addresses;
    for (const DisasmLine &l : reply.lines) addresses.push_back(l.address);
    EXPECT_EQ(addresses, c.addresses);
    EXPECT_EQ(reply.error, c.error);
    EXPECT_EQ(reply.error_address_known, c.address_known);
    EXPECT_EQ(reply.error_address, c.error_address);
    EXPECT_STREQ(reply.error_text, c.error_text);
  }
}

// ---------------------------------------------------------------------------
// A machine of the test's own. An instruction's first byte gives its length:
// its high nibble, 1 to 6 (0 counts as 1, more than 6 as 6). Any byte can
// begin an instruction, so decoding from the wrong place gives other
// instructions that fall into step again, as x86 code does.

namespace {

struct Machine {
  uint32_t base = 0;
  std::vector<uint8_t> bytes;  // readable memory: [base, base + size)
  std::vector<uint32_t> truth;  // where the real instructions begin
  std::vector<uint32_t> asked;  // starts of the replies given

  static uint32_t length_of(uint8_t first) {
    uint32_t n = first >> 4;
    return n == 0 ? 1 : n > 6 ? 6 : n;
  }

  // Appends a real instruction of `length` bytes.
  void put(uint32_t length, uint8_t filler) {
    truth.push_back(base + (uint32_t)bytes.size());
    bytes.push_back((uint8_t)(length << 4 | (filler & 0xf)));
    for (uint32_t i = 1; i < length; i++) bytes.push_back((uint8_t)(filler * 7 + i * 13));
  }

  // The reply to "u /count start", in the debugger's words.
  std::string u(uint32_t count, uint32_t start) {
    asked.push_back(start);
    std::string text;
    uint32_t at = start;
    for (uint32_t i = 0; i < count; i++) {
      if (at < base || at >= base + bytes.size()) return text + error(at);
      uint32_t n = length_of(bytes[at - base]);
      char hex[40] = "";
      for (uint32_t k = 0; k < n; k++) {
        if (at + k >= base + bytes.size()) return text + error(at + k);
        snprintf(hex + 2 * k, 3, "%02x", bytes[at + k - base]);
      }
      char line[120];
      snprintf(line, sizeof line, "%08x: (                    ): op%u                      ; %s\n", at, n, hex);
      text += line;
      at += n;
    }
    return text;
  }

  static std::string error(uint32_t address) {
    char line[80];
    snprintf(line, sizeof line, "Error: reading linear 0x%08x: page not present\n", address);
    return line;
  }

  // Runs the scan as the Code page does.
  BackScan scan(uint32_t target, uint32_t floor) {
    BackScan s(target, floor);
    uint32_t start;
    DisasmReply reply;
    while (s.next_start(&start)) {
      scan_disasm_reply(u(back_scan_lines, start), &reply);
      s.take(start, reply);
    }
    return s;
  }

  std::vector<uint32_t> truth_before(uint32_t target, size_t most) {
    std::vector<uint32_t> out;
    for (uint32_t a : truth)
      if (a < target) out.push_back(a);
    if (out.size() > most) out.erase(out.begin(), out.end() - (long)most);
    return out;
  }
};

std::vector<uint32_t> addresses(const std::vector<DisasmLine> &lines) {
  std::vector<uint32_t> out;
  for (const DisasmLine &l : lines) out.push_back(l.address);
  return out;
}

// Code of mixed lengths, as a compiler's output.
Machine mixed_code(uint32_t base, int instructions) {
  Machine m;
  m.base = base;
  static const uint32_t lengths[] = {1, 3, 2, 5, 1, 2, 3, 6, 2, 1, 4, 3};
  for (int i = 0; i < instructions; i++) m.put(lengths[i % 12], (uint8_t)(i * 5 + 3));
  return m;
}

}  // namespace

TEST(BackScan, FindsTheInstructionsBeforeTheTargetInMixedCode) {
  Machine m = mixed_code(0x7c00, 200);
  for (int at : {20, 30, 41, 57}) {
    uint32_t target = m.truth[(size_t)at];
    SCOPED_TRACE(target);
    m.asked.clear();
    BackScan s = m.scan(target, m.base);
    EXPECT_EQ(s.replies_landed(), 2);
    EXPECT_LE(s.replies_taken(), 4);
    std::vector<uint32_t> before = addresses(s.lines_before());
    EXPECT_GE(before.size(), 8u);
    EXPECT_EQ(before, m.truth_before(target, before.size())) << "each line shown is a real instruction";
    EXPECT_EQ(m.asked[0], target - back_scan_distance);
    std::vector<DisasmLine> from = s.lines_from_target();
    ASSERT_GE(from.size(), lines_after_target + 1);
    EXPECT_EQ(from[0].address, target);
    EXPECT_EQ(from[1].address, m.truth[(size_t)at + 1]);
  }
}

TEST(BackScan, NeverStartsBelowTheFloorNorAsksWhenThereIsNoRoom) {
  Machine m = mixed_code(0x1000, 40);
  uint32_t target = m.truth[12];  // 33 bytes in
  BackScan s = m.scan(target, m.base);
  ASSERT_FALSE(m.asked.empty());
  EXPECT_EQ(m.asked[0], m.base);
  for (uint32_t start : m.asked) EXPECT_GE(start, m.base);
  std::vector<uint32_t> before = addresses(s.lines_before());
  EXPECT_FALSE(before.empty());
  EXPECT_EQ(before, m.truth_before(target, before.size()));

  m.asked.clear();
  BackScan none = m.scan(m.base, m.base);
  EXPECT_TRUE(m.asked.empty()) << "nothing before the floor";
  EXPECT_TRUE(none.lines_before().empty());
  EXPECT_TRUE(none.lines_from_target().empty());

  BackScan above(m.base, m.base + 0x100);  // a floor above the target counts as the target
  uint32_t start;
  EXPECT_FALSE(above.next_start(&start));
}

TEST(BackScan, StartsThatAnEarlierReplyDecodedAreNotAskedAgain) {
  // Two-byte instructions of two equal bytes: the reply from 48 bytes back
  // lands, and so would every even start after it; the next start asked is
  // the odd one, which steps over the target, and the odd ones after it are
  // its tail.
  Machine m;
  m.base = 0x2000;
  for (int i = 0; i < 60; i++) {
    m.truth.push_back(m.base + (uint32_t)m.bytes.size());
    m.bytes.insert(m.bytes.end(), {0x20, 0x20});
  }
  uint32_t target = m.truth[40];
  BackScan s = m.scan(target, m.base);
  EXPECT_EQ(m.asked, (std::vector<uint32_t>{target - 48, target - 47}));
  EXPECT_EQ(s.replies_landed(), 1);
  EXPECT_EQ(addresses(s.lines_before()), m.truth_before(target, lines_before_shown));
}

TEST(BackScan, LinesWhereTheTwoRepliesDisagreeAreDropped) {
  // Data before the code: from 0x3000 the first reply reads 0x3000 as a
  // 2-byte instruction, the second (0x3001) reads 0x3001 as a 1-byte one;
  // they meet at 0x3002, the first real instruction.
  Machine m;
  m.base = 0x3000;
  m.bytes = {0x20, 0x10};
  for (int i = 0; i < 40; i++) m.put(i % 2 ? 3 : 1, (uint8_t)i);
  uint32_t target = m.truth[6];
  BackScan s = m.scan(target, m.base);
  EXPECT_EQ(m.asked, (std::vector<uint32_t>{0x3000, 0x3001}));
  EXPECT_EQ(addresses(s.lines_before()), m.truth_before(target, 16)) << "0x3000 goes, 0x3001 never came";
}

TEST(BackScan, UnreadableMemoryRaisesTheFloorToItsEnd) {
  // Readable memory begins at a page: 20 bytes below the target nothing can
  // be read, so the first reply is one error line.
  Machine m = mixed_code(0x5000, 30);
  uint32_t target = m.truth[8];
  ASSERT_LT(target - m.base, back_scan_distance);
  BackScan s = m.scan(target, 0);
  ASSERT_GE(m.asked.size(), 2u);
  EXPECT_EQ(m.asked[0], target - back_scan_distance);
  EXPECT_EQ(m.asked[1], m.base) << "the next start is past the page that could not be read";
  std::vector<uint32_t> before = addresses(s.lines_before());
  EXPECT_FALSE(before.empty());
  EXPECT_EQ(before, m.truth_before(target, before.size()));
}

TEST(BackScan, AnErrorThatNamesNoAddressRaisesTheFloorToTheTargetsPage) {
  BackScan s(0x9010, 0);
  uint32_t start;
  ASSERT_TRUE(s.next_start(&start));
  EXPECT_EQ(start, 0x9010u - back_scan_distance);
  DisasmReply reply;
  scan_disasm_reply("Error: no memory there\n", &reply);
  s.take(start, reply);
  ASSERT_TRUE(s.next_start(&start));
  EXPECT_EQ(start, 0x9000u);
  s.take(start, reply);  // again: from there on, one byte at a time
  ASSERT_TRUE(s.next_start(&start));
  EXPECT_EQ(start, 0x9001u);
}

TEST(BackScan, RepliesThatAreNoStreamFromTheirStartProveNothing) {
  // A debugger that answers from somewhere else, or skips bytes: such a
  // reply is not taken as landing even though it names the target.
  BackScan s(0x100, 0);
  uint32_t start;
  ASSERT_TRUE(s.next_start(&start));
  DisasmReply reply;
  scan_disasm_reply("000000d0: (): nop ; 90\n00000100: (): nop ; 90\n", &reply);
  s.take(start, reply);
  EXPECT_EQ(s.replies_landed(), 0);
  scan_disasm_reply("00000100: (): nop ; 90\n", &reply);
  ASSERT_TRUE(s.next_start(&start));
  s.take(start, reply);
  EXPECT_EQ(s.replies_landed(), 0);
  EXPECT_TRUE(s.lines_before().empty());
}

TEST(BackScan, GivesUpAfterItsTries) {
  // Every reply is an error that names an address below its start: nothing
  // is learnt, and the scan ends after back_scan_tries replies.
  BackScan s(0x100, 0);
  uint32_t start;
  DisasmReply reply;
  scan_disasm_reply("Error: reading linear 0x00000000: no\n", &reply);
  int asked = 0;
  while (s.next_start(&start)) {
    s.take(start, reply);
    asked++;
  }
  EXPECT_EQ(asked, back_scan_tries);
}
