// Memory dumps ("x" linear, "xp" physical) in every unit size and format,
// read back the way the front end reads them: line by line against the dump
// format, through the dump window's character reader, and with the one-value
// scans of the stack view and the struct windows. Also the register dump
// against the front end's one scan pattern.
//
// The memory under test is set by a state file: a block of known bytes low
// in memory and another that ends at the end of memory.
#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "sim_process.hpp"

using simtest::Sim;
using simtest::SimConfig;
using simtest::TempDir;

namespace {

constexpr uint32_t kMemoryEnd = 0x1000000;
constexpr uint32_t kBlock = 256;
constexpr uint32_t kLow = 0x1000;
constexpr uint32_t kHigh = kMemoryEnd - kBlock;

// The bytes of both blocks. The first 32 are the edge values of the sizes:
// 00 7f 80 ff as bytes, ffff and 7fffffff and 80000000, the most negative
// quadword and -1; the rest are scrambled.
uint8_t block_byte(uint32_t i, bool high) {
  static const uint8_t edges[32] = {0x00, 0x7f, 0x80, 0xff, 0xff, 0xff, 0xff, 0x7f, 0x00, 0x00, 0x00,
                                    0x80, 0x01, 0xfe, 0x55, 0xaa, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0x00, 0x80, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
  uint8_t b = i < sizeof edges ? edges[i] : uint8_t((i * 2654435761u) >> 24);
  return high ? uint8_t(b ^ 0xa5) : b;
}

// Memory as the state file sets it (only the two blocks are asked for).
uint8_t memory_byte(uint32_t a) {
  if (a >= kLow && a < kLow + kBlock) return block_byte(a - kLow, false);
  if (a >= kHigh && a < kMemoryEnd) return block_byte(a - kHigh, true);
  ADD_FAILURE() << "address outside the blocks: " << a;
  return 0;
}

uint64_t memory_value(uint32_t a, unsigned size) {
  uint64_t v = 0;
  for (unsigned i = 0; i < size; ++i) v |= uint64_t(memory_byte(a + i)) << (8 * i);
  return v;
}

std::string block_hex(bool high) {
  std::string hex;
  char two[3];
  for (uint32_t i = 0; i < kBlock; ++i) {
    snprintf(two, sizeof two, "%02x", block_byte(i, high));
    hex += two;
  }
  return hex;
}

// A simulated PC with both blocks in memory.
struct WithBlocks {
  TempDir dir;
  Sim sim{SimConfig{{{"VUM_SIM_STATE", dir.write("state", "mem 0x1000 " + block_hex(false) + "\nmem 0xffff00 " +
                                                                    block_hex(true) + "\n")}},
                    {"-q"}}};
  unsigned prompt = 1;
  WithBlocks() { sim.until_prompt(); }

  // Sends a command and returns its reply without the prompt, checking
  // that the reply ends with the next prompt.
  std::string ask(const std::string &command) {
    std::string reply = sim.send(command);
    std::string expected_prompt = "<bochs:" + std::to_string(++prompt) + "> ";
    EXPECT_GE(reply.size(), expected_prompt.size()) << command;
    if (reply.size() < expected_prompt.size()) return reply;
    EXPECT_EQ(reply.substr(reply.size() - expected_prompt.size()), expected_prompt) << command;
    return reply.substr(0, reply.size() - expected_prompt.size());
  }
};

struct Unit {
  char letter;
  unsigned size;
  unsigned per_line;  // values on a full line
};
const Unit kUnits[] = {{'b', 1, 8}, {'h', 2, 8}, {'w', 4, 4}, {'g', 8, 2}};
const char kFormats[] = "xduto";

// The number a value text stands for, when the text has the form its format
// gives a unit of `size` bytes: x "0x" and 2*size hex digits; d a signed
// decimal in the unit's range; u an unsigned decimal; t 8*size binary
// digits; o "0" and the octal digits of the value. False otherwise.
bool value_of(const std::string &t, char format, unsigned size, uint64_t *out) {
  const unsigned bits = 8 * size;
  const uint64_t mask = bits == 64 ? ~uint64_t(0) : (uint64_t(1) << bits) - 1;
  auto only = [&](size_t from, const char *set) {
    return from < t.size() && t.find_first_not_of(set, from) == std::string::npos;
  };
  auto number = [&](size_t from, int base, uint64_t *v) {
    errno = 0;
    *v = strtoull(t.c_str() + from, nullptr, base);
    return errno == 0;
  };
  uint64_t v;
  switch (format) {
    case 'x':
      if (t.size() != 2 + 2 * size || t.compare(0, 2, "0x") != 0 || !only(2, "0123456789abcdef")) return false;
      return number(2, 16, out);
    case 'u':
      if (!only(0, "0123456789") || (t.size() > 1 && t[0] == '0') || !number(0, 10, &v) || v > mask) return false;
      *out = v;
      return true;
    case 'd': {
      const bool negative = !t.empty() && t[0] == '-';
      const size_t from = negative ? 1 : 0;
      if (!only(from, "0123456789") || (t.size() > from + 1 && t[from] == '0') || !number(from, 10, &v))
        return false;
      const uint64_t half = uint64_t(1) << (bits - 1);
      if (negative ? (v == 0 || v > half) : v >= half) return false;
      *out = (negative ? 0 - v : v) & mask;
      return true;
    }
    case 't':
      if (t.size() != bits || !only(0, "01")) return false;
      return number(0, 2, out);
    case 'o':
      if (t.size() < 2 || t[0] != '0' || (t[1] == '0' && t.size() > 2) || !only(1, "01234567") ||
          !number(1, 8, &v) || v > mask)
        return false;
      *out = v;
      return true;
  }
  return false;
}

// --- the dump window's reader ---------------------------------------------------
//
// The front end reads a dump reply character by character: runs of blanks
// become one space; a '<' at the start of a line is the prompt; any other
// '<' is dropped with as much of "bogus" as follows it; a '>' is dropped
// with the character after it. Each line becomes a row: the first word read
// as hex gives Base, the second word Offset (at most 16 characters), the rest
// Values; an Offset beginning with 'r' or 'd' empties Base and Offset.

struct Row {
  std::string base, offset, values;
  bool operator==(const Row &o) const { return base == o.base && offset == o.offset && values == o.values; }
};
std::ostream &operator<<(std::ostream &os, const Row &r) {
  return os << "[" << r.base << "|" << r.offset << "|" << r.values << "]";
}

struct WindowRead {
  std::vector<Row> rows;
  bool prompt = false;
  unsigned prompt_number = 0;
};

// Cuts the next word off `line` at `*pos`: leading blanks skipped, the
// position left past the one blank that ended the word.
std::string next_word(const std::string &line, size_t *pos) {
  while (*pos < line.size() && line[*pos] == ' ') ++*pos;
  size_t start = *pos;
  while (*pos < line.size() && line[*pos] != ' ') ++*pos;
  std::string word = line.substr(start, *pos - start);
  if (*pos < line.size()) ++*pos;
  return word;
}

WindowRead read_as_dump_window(const std::string &reply) {
  WindowRead r;
  std::string line;
  unsigned last_base = 0;
  auto make_row = [&]() {
    size_t pos = 0;
    std::string first = next_word(line, &pos);
    unsigned base;
    if (sscanf(first.c_str(), "%x", &base) == 1) last_base = base;
    char text[18];
    snprintf(text, sizeof text, "%.8X", last_base);
    Row row{text, next_word(line, &pos).substr(0, 16), line.substr(pos)};
    if (!row.offset.empty() && (row.offset[0] == 'r' || row.offset[0] == 'd')) row.base = row.offset = "";
    r.rows.push_back(row);
    line.clear();
  };
  size_t i = 0;
  while (i < reply.size()) {
    char ch = reply[i++];
    if (ch == ' ' || ch == '\t') {
      if (line.empty() || line.back() != ' ') line += ' ';
    } else if (ch == '\n') {
      make_row();
    } else if (ch == '<' && line.empty()) {
      r.prompt = sscanf(reply.c_str() + i, "bochs:%u>", &r.prompt_number) == 1;
      return r;
    } else if (ch == '<') {
      for (const char *b = "bogus"; *b && i < reply.size() && reply[i] == *b; ++b) ++i;
    } else if (ch == '>') {
      if (i < reply.size()) ++i;
    } else {
      line += ch;
    }
  }
  return r;
}

// Checks the reply to an examine command of `count` units from `address`
// against memory: first its lines as written ("0x%08x <bogus+N>:", a TAB
// before each value, the values a line holds), then the rows a dump window
// makes of it.
void check_dump(const std::string &body, unsigned prompt, uint32_t address, unsigned count, const Unit &u,
                char format) {
  const unsigned lines = (count + u.per_line - 1) / u.per_line;
  ASSERT_EQ(body.empty(), count == 0);
  if (count) {
    ASSERT_EQ(body.back(), '\n');
  }
  std::vector<std::string> text = simtest::lines_of(body);
  ASSERT_EQ(text.size(), lines) << body;
  std::vector<Row> expected_rows;
  for (unsigned k = 0; k < lines; ++k) {
    const std::string &line = text[k];
    SCOPED_TRACE("line " + std::to_string(k) + ": " + line);
    // The front end keeps at most 199 characters of a line.
    EXPECT_LT(line.size(), 200u);
    const uint32_t offset = k * u.per_line * u.size;
    const uint32_t at = address + offset;
    char head[64];
    snprintf(head, sizeof head, "0x%08x <bogus+%u>:", at, offset);
    ASSERT_EQ(line.compare(0, strlen(head), head), 0);
    ASSERT_EQ(line.find('<', 1), line.find('<')) << "a second '<'";
    ASSERT_EQ(line.find('>'), strlen(head) - 2) << "a second '>'";
    std::vector<std::string> values;
    for (size_t tab = strlen(head); tab != std::string::npos;) {
      ASSERT_EQ(line[tab], '\t');
      size_t next = line.find('\t', tab + 1);
      values.push_back(line.substr(tab + 1, next == std::string::npos ? std::string::npos : next - tab - 1));
      tab = next;
    }
    const unsigned on_line = std::min(u.per_line, count - k * u.per_line);
    ASSERT_EQ(values.size(), on_line);
    std::string joined;
    for (unsigned j = 0; j < on_line; ++j) {
      uint64_t v;
      ASSERT_TRUE(value_of(values[j], format, u.size, &v)) << "value " << j << ": " << values[j];
      EXPECT_EQ(v, memory_value(at + j * u.size, u.size)) << "value " << j << ": " << values[j];
      joined += (j ? " " : "") + values[j];
    }
    char base[18];
    snprintf(base, sizeof base, "%.8X", at);
    expected_rows.push_back(Row{base, "+" + std::to_string(offset), joined});
  }
  WindowRead w = read_as_dump_window(body + "<bochs:" + std::to_string(prompt) + "> ");
  EXPECT_EQ(w.rows, expected_rows);
  EXPECT_TRUE(w.prompt);
  EXPECT_EQ(w.prompt_number, prompt);
}

std::string examine_command(const char *command, unsigned count, const Unit &u, char format, uint32_t address) {
  char text[64];
  snprintf(text, sizeof text, "%s /%u%c%c 0x%X", command, count, u.letter, format, address);
  return text;
}

TEST(Dump, EveryUnitAndFormatLinearAndPhysicalOverSeveralLines) {
  WithBlocks pc;
  for (const char *command : {"x", "xp"})
    for (const Unit &u : kUnits)
      for (const char *f = kFormats; *f; ++f)
        for (unsigned count : {1u, u.per_line - 1, u.per_line, u.per_line + 1, 3 * u.per_line + 2})
          for (uint32_t address : {kLow, kLow + 3}) {
            if (count == 0) continue;
            std::string cmd = examine_command(command, count, u, *f, address);
            SCOPED_TRACE(cmd);
            std::string body = pc.ask(cmd);
            check_dump(body, pc.prompt, address, count, u, *f);
            if (HasFatalFailure()) return;
          }
}

TEST(Dump, ARangeEndingAtTheEndOfMemoryIsDumpedWhole) {
  WithBlocks pc;
  for (const char *command : {"x", "xp"})
    for (const Unit &u : kUnits)
      for (const char *f = kFormats; *f; ++f)
        for (unsigned count : {1u, u.per_line + 1, kBlock / u.size}) {
          const uint32_t address = kMemoryEnd - count * u.size;
          std::string cmd = examine_command(command, count, u, *f, address);
          SCOPED_TRACE(cmd);
          check_dump(pc.ask(cmd), pc.prompt, address, count, u, *f);
          if (HasFatalFailure()) return;
        }
}

TEST(Dump, ACountOfZeroGivesThePromptAlone) {
  WithBlocks pc;
  for (const char *command : {"x", "xp"})
    for (const Unit &u : kUnits) EXPECT_EQ(pc.ask(examine_command(command, 0, u, 'x', kLow)), "");
}

TEST(Dump, ARangePastTheEndGivesOneErrorLineAndNoValues) {
  struct Case {
    unsigned count;
    char unit;
    uint32_t address;
  } cases[] = {
      {1, 'b', kMemoryEnd},          {2, 'b', kMemoryEnd - 1},     {9, 'b', kMemoryEnd - 8},
      {1, 'h', kMemoryEnd - 1},      {8, 'h', kMemoryEnd - 15},    {1, 'w', kMemoryEnd - 3},
      {5, 'w', kMemoryEnd - 16},     {1, 'g', kMemoryEnd - 7},     {3, 'g', kMemoryEnd - 16},
      {1, 'w', 0xffffffff},          {2, 'w', 0xfffffff8},         {100, 'b', 0x80000000},
      {16777216, 'g', 0},
  };
  WithBlocks pc;
  for (const Case &c : cases) {
    const unsigned size = c.unit == 'b' ? 1 : c.unit == 'h' ? 2 : c.unit == 'w' ? 4 : 8;
    for (const char *command : {"x", "xp"})
      for (const char *f = kFormats; *f; ++f) {
        char cmd[64];
        snprintf(cmd, sizeof cmd, "%s /%u%c%c 0x%X", command, c.count, c.unit, *f, c.address);
        SCOPED_TRACE(cmd);
        std::string body = pc.ask(cmd);
        const uint64_t bytes = uint64_t(c.count) * size;
        char expected[128];
        snprintf(expected, sizeof expected, "Error: read past the end of memory (0x01000000): %" PRIu64 " %s at 0x%08x\n",
                 bytes, bytes == 1 ? "byte" : "bytes", c.address);
        EXPECT_EQ(body, expected);
        // A dump window shows the text alone, without Base and Offset.
        std::string after_two_words = std::string(expected).substr(strlen("Error: read "));
        after_two_words.pop_back();
        EXPECT_EQ(read_as_dump_window(body + "<bochs:9> ").rows,
                  (std::vector<Row>{Row{"", "", after_two_words}}));
        // The one-value reads find no value in it.
        unsigned v = 0, w = 0;
        EXPECT_EQ(sscanf(body.c_str(), " %*s %*s 0x%X ", &v), 0);
        EXPECT_EQ(sscanf(body.c_str(), " %*s %*s 0x%X 0x%X", &v, &w), 0);
      }
  }
}

// --- one-value reads ------------------------------------------------------------

TEST(SingleValueReads, TwoWordsThenTheValueForEachSizeTheViewsRead) {
  struct Case {
    const char *form;  // as the views send it
    unsigned size;     // 8: the two doublewords of "x /2wx"
    uint32_t address;
  } cases[] = {
      {"x /1bx 0x%X", 1, kLow},          {"x /1bx 0x%X", 1, kLow + 1},     {"x /1bx 0x%X", 1, kLow + 2},
      {"x /1bx 0x%X", 1, kLow + 3},      {"x /1bx 0x%X", 1, kMemoryEnd - 1},
      {"x /1hx 0x%X", 2, kLow},          {"x /1hx 0x%X", 2, kLow + 1},     {"x /1hx 0x%X", 2, kLow + 4},
      {"x /1hx 0x%X", 2, kLow + 37},     {"x /1hx 0x%X", 2, kMemoryEnd - 2},
      {"x /1wx 0x%X", 4, kLow},          {"x /1wx 0x%X", 4, kLow + 4},     {"x /1wx 0x%X", 4, kLow + 8},
      {"x /1wx 0x%X", 4, kLow + 41},     {"x /1wx 0x%X", 4, kMemoryEnd - 4},
      {"x /2wx 0x%X", 8, kLow},          {"x /2wx 0x%X", 8, kLow + 8},     {"x /2wx 0x%X", 8, kLow + 16},
      {"x /2wx 0x%X", 8, kLow + 24},     {"x /2wx 0x%X", 8, kLow + 101},   {"x /2wx 0x%X", 8, kMemoryEnd - 8},
  };
  WithBlocks pc;
  for (const Case &c : cases) {
    char cmd[64];
    snprintf(cmd, sizeof cmd, c.form, c.address);
    SCOPED_TRACE(cmd);
    std::string body = pc.ask(cmd);
    EXPECT_EQ(simtest::lines_of(body).size(), 1u) << body;
    unsigned value = 0, high = 0;
    if (c.size < 8) {
      // The struct windows' scan, and the stack view's.
      ASSERT_EQ(sscanf(body.c_str(), " %*s %*s 0x%X ", &value), 1) << body;
      EXPECT_EQ(value, memory_value(c.address, c.size));
      value = 0;
      ASSERT_EQ(sscanf(body.c_str(), "%*s %*s 0x%x", &value), 1) << body;
      EXPECT_EQ(value, memory_value(c.address, c.size));
    } else {
      ASSERT_EQ(sscanf(body.c_str(), " %*s %*s 0x%X 0x%X", &value, &high), 2) << body;
      EXPECT_EQ(value, memory_value(c.address, 4));
      EXPECT_EQ(high, memory_value(c.address + 4, 4));
      // Shown higher word first: the quadword at the address.
      char shown[32], quad[32];
      snprintf(shown, sizeof shown, "%.8X%.8X", high, value);
      snprintf(quad, sizeof quad, "%016" PRIX64, memory_value(c.address, 8));
      EXPECT_STREQ(shown, quad);
    }
  }
}

// --- the register dump ------------------------------------------------------------

TEST(RegisterDump, TheFrontEndsScanPatternTakesAllSixtyThreeValues) {
  struct Seg {
    const char *name;
    uint32_t selector, base, limit, access, db, g, valid;
  } segs[] = {
      {"cs", 0x0008, 0x12345678, 0xabcde, 0x9b, 1, 1, 1}, {"ss", 0x0010, 0x00200000, 0x0ffff, 0x93, 1, 0, 1},
      {"ds", 0x0018, 0xff000000, 0xfffff, 0x93, 0, 1, 1}, {"es", 0x0020, 0x0000b800, 0x00fff, 0x92, 0, 0, 1},
      {"fs", 0x0000, 0x00000000, 0x00000, 0x00, 0, 0, 0}, {"gs", 0x0033, 0x89abcdef, 0x54321, 0xf3, 1, 1, 1},
      {"ldtr", 0x0040, 0x00031000, 0x0003f, 0x82, 0, 0, 1}, {"tr", 0x0048, 0x00032000, 0x00067, 0x8b, 0, 0, 1},
  };
  struct Reg {
    const char *name;
    uint32_t value;
  } regs[] = {
      {"eax", 0x11111111}, {"ebx", 0x22222222}, {"ecx", 0x33333333}, {"edx", 0x44444444}, {"ebp", 0x55555555},
      {"esi", 0x66666666}, {"edi", 0x77777777}, {"esp", 0x88888888}, {"eflags", 0x00000ad7}, {"eip", 0x0000beef},
  };
  std::string state;
  char line[96];
  for (const Reg &r : regs) {
    snprintf(line, sizeof line, "%s 0x%x\n", r.name, r.value);
    state += line;
  }
  for (const Seg &s : segs) {
    snprintf(line, sizeof line, "%s.selector 0x%x\n%s.base 0x%x\n%s.limit 0x%x\n%s.access 0x%x\n", s.name, s.selector,
             s.name, s.base, s.name, s.limit, s.name, s.access);
    state += line;
    snprintf(line, sizeof line, "%s.db %u\n%s.g %u\n%s.valid %u\n", s.name, s.db, s.name, s.g, s.name, s.valid);
    state += line;
  }
  state +=
      "gdtr.base 0x00030000\ngdtr.limit 0x27\nidtr.base 0x00030800\nidtr.limit 0x7ff\n"
      "dr0 0xd0d0d0d0\ndr1 0xd1d1d1d1\ndr2 0xd2d2d2d2\ndr3 0xd3d3d3d3\ndr4 0xd4d4d4d4\ndr5 0xd5d5d5d5\n"
      "dr6 0xffff0ff0\ndr7 0x00000400\n"
      "tr3 0x30303030\ntr4 0x40404040\ntr5 0x50505050\ntr6 0x60606060\ntr7 0x70707070\n"
      "cr0 0x60000011\ncr1 0x0c1c1c1c\ncr2 0x0c2c2c2c\ncr3 0x00100000\ncr4 0x00000010\n";
  TempDir dir;
  Sim sim(SimConfig{{{"VUM_SIM_STATE", dir.write("state", state)}}, {"-q"}});
  std::string start = sim.until_prompt();
  ASSERT_EQ(start.find("ignored"), std::string::npos) << start;
  std::string reply = sim.send("dump_cpu");

  std::vector<uint32_t> expected;
  for (const Reg &r : regs) expected.push_back(r.value);
  for (const Seg &s : segs) {
    // The two descriptor doublewords in the processor's layout.
    const uint32_t dl = (s.limit & 0xffff) | (s.base & 0xffff) << 16;
    const uint32_t dh = (s.base >> 16 & 0xff) | s.access << 8 | (s.limit & 0xf0000) | s.db << 22 | s.g << 23 |
                        (s.base & 0xff000000);
    expected.insert(expected.end(), {s.selector, dl, dh, s.valid});
  }
  expected.insert(expected.end(), {0x00030000, 0x27, 0x00030800, 0x7ff});
  expected.insert(expected.end(), {0xd0d0d0d0, 0xd1d1d1d1, 0xd2d2d2d2, 0xd3d3d3d3, 0xffff0ff0, 0x00000400});
  expected.insert(expected.end(), {0x30303030, 0x40404040, 0x50505050, 0x60606060, 0x70707070});
  expected.insert(expected.end(), {0x60000011, 0x0c1c1c1c, 0x0c2c2c2c, 0x00100000, 0x00000010});
  expected.push_back(0);  // inhibit_mask
  ASSERT_EQ(expected.size(), 63u);

  unsigned v[63];
  for (unsigned &x : v) x = 0xdeadbeef;
  int consumed = -1;
  const char pattern[] =
      " eax:%x\nebx:%x\necx:%x\nedx:%x\nebp:%x\nesi:%x\nedi:%x\nesp:%x\neflags:%x\neip:%x\n"
      "cs:s=%x, dl=%x, dh=%x, valid=%u\nss:s=%x, dl=%x, dh=%x, valid=%u\nds:s=%x, dl=%x, dh=%x, valid=%u\n"
      "es:s=%x, dl=%x, dh=%x, valid=%u\nfs:s=%x, dl=%x, dh=%x, valid=%u\ngs:s=%x, dl=%x, dh=%x, valid=%u\n"
      "ldtr:s=%x, dl=%x, dh=%x, valid=%u\ntr:s=%x, dl=%x, dh=%x, valid=%u\n"
      "gdtr:base=%x, limit=%x\nidtr:base=%x, limit=%x\n"
      "dr0:%x\ndr1:%x\ndr2:%x\ndr3:%x\ndr6:%x\ndr7:%x\ntr3:%x\ntr4:%x\ntr5:%x\ntr6:%x\ntr7:%x\n"
      "cr0:%x\ncr1:%x\ncr2:%x\ncr3:%x\ncr4:%x\ninhibit_mask:%u\ndone\n%n";
  int n = sscanf(reply.c_str(), pattern, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9], &v[10], &v[11], &v[12], &v[13], &v[14], &v[15], &v[16], &v[17], &v[18], &v[19], &v[20], &v[21], &v[22], &v[23], &v[24], &v[25], &v[26], &v[27], &v[28], &v[29], &v[30], &v[31], &v[32], &v[33], &v[34], &v[35], &v[36], &v[37], &v[38], &v[39], &v[40], &v[41], &v[42], &v[43], &v[44], &v[45], &v[46], &v[47], &v[48], &v[49], &v[50], &v[51], &v[52], &v[53], &v[54], &v[55], &v[56], &v[57], &v[58], &v[59], &v[60], &v[61], &v[62], &consumed);
  EXPECT_EQ(n, 63) << reply;
  for (size_t i = 0; i < 63; ++i) EXPECT_EQ(v[i], expected[i]) << "value " << i;
  // "done" closes the reply; only the prompt follows.
  ASSERT_GT(consumed, 0);
  EXPECT_EQ(reply.substr(size_t(consumed)), "<bochs:2> ");
  // 38 lines, none longer than the front end's line buffer.
  std::vector<std::string> lines = simtest::lines_of(reply);
  EXPECT_EQ(lines.size(), 39u);
  for (const std::string &l : lines) EXPECT_LT(l.size(), 200u) << l;
}

}  // namespace
