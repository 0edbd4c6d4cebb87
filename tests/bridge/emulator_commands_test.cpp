// The bridge against the real Bochs 2.7 on the demo floppy: what the
// Breakpoints and Watchpoints entries may send (only well-formed arguments
// reach Bochs), and the commands the dialect gained: u, set, setpmem, and x
// through the page tables the demo sets up (demo/README.md).
#include <regex.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "emulator_fixture.hpp"

using namespace old_grammar;

namespace {

const uint32_t demo_pm_loop = 0x7CA0;
const uint32_t demo_elsewhere = 0x400000;  // mapped onto physical 0x7000
const uint32_t demo_absent = 0x401000;     // not present

bool matches(const std::string &text, const char *pattern) {
  regex_t re;
  if (regcomp(&re, pattern, REG_EXTENDED | REG_NOSUB) != 0) return false;
  bool ok = regexec(&re, text.c_str(), 0, NULL, 0) == 0;
  regfree(&re);
  return ok;
}

// One error line of the old dialect and nothing else.
void expect_one_error_line(const std::string &reply, const std::string &what) {
  std::vector<std::string> l = lines(reply);
  ASSERT_EQ(l.size(), 1u) << what << ": " << reply;
  EXPECT_EQ(l[0].rfind(" Error: ", 0), 0u) << what << ": " << reply;
  EXPECT_EQ(reply.find('<'), std::string::npos) << what;
}

// "xxxxxxxx: (SYMBOL              ): TEXT                      ; BYTES"
const char kDisassemblyLine[] = "^[0-9a-f]{8}: \\(.{20}\\): .{25,} ; [0-9a-f]+$";

struct Disassembled {
  uint32_t address = 0;
  std::string symbol, text, bytes;
};

std::vector<Disassembled> disassembly(const std::string &reply) {
  std::vector<Disassembled> out;
  for (std::string l : lines(reply)) {
    if (!l.empty() && l[0] == ' ') l.erase(0, 1);  // the byte left after the prompt
    EXPECT_TRUE(matches(l, kDisassemblyLine)) << "[" << l << "]";
    Disassembled d;
    d.address = uint32_t(strtoul(l.substr(0, 8).c_str(), nullptr, 16));
    d.symbol = l.substr(11, 20);
    while (!d.symbol.empty() && d.symbol.back() == ' ') d.symbol.pop_back();
    size_t semi = l.rfind(" ; ");
    d.text = l.substr(34, semi - 34);
    while (!d.text.empty() && d.text.back() == ' ') d.text.pop_back();
    d.bytes = l.substr(semi + 3);
    out.push_back(d);
  }
  return out;
}

}  // namespace

// Text typed into VUM's Breakpoints and Watchpoints entries goes out as an
// argument of its command. Bochs 2.7 takes ';' between commands: none of
// these may quit it, write a host file, run the guest or crash it; each gets
// one error line and the prompt, and Bochs hears nothing of it.
TEST_F(EmulatorTest, MalformedArgumentsNeverReachBochs) {
  std::string written = dir + "/written";
  start();
  pid_t emulator = bridge->emulator_pid();
  ASSERT_GT(emulator, 0);
  const std::string typed[] = {
      "pb 0x7c00;q",
      "pb 0x7c00;writemem \"" + written + "\" 0xfe05b 64",
      "pb 0x7c00;c",
      "lb 0x7c00;c",
      "vb 0:0x7c00;c",
      "watch read 0x7c00;q",
      "watch write 0x500;writemem \"" + written + "\" 0xfe05b 64",
      "unwatch read 0x500;c",
      "x /4bx 0x7c00;c",
      "info break;q",
      "pb \"0x7c00\"",
      "pb start",
      "pb 0x7c00+2",
      "pb 0x1ffffffff",
      "vb 0x10000:0x7c00",
      "watch read 0xffffffffffffffff",
      "watch write 0x100000000",
      "d 1;q",
      "u /4 0x7c00;c",
      "set eax = 0x1;c",
      "setpmem 0x500 4 0x1;q",
  };
  for (const std::string &t : typed) {
    expect_one_error_line(x(t), t);
    ASSERT_GT(bridge->emulator_pid(), 0) << "Bochs ended after " << t;
  }
  struct stat st;
  EXPECT_NE(stat(written.c_str(), &st), 0) << "a host file was written";
  EXPECT_TRUE(scan_breakpoint_list(x("info break")).empty());
  EXPECT_TRUE(scan_watch_list(x("watch")).empty());
  // The guest has not run: the first step leaves the reset vector.
  Location at = step();
  EXPECT_EQ(at.physical, 0xFE05Bu);
  EXPECT_EQ(bridge->emulator_pid(), emulator);
}

// Well-formed arguments in every form the entries and the reload write.
TEST_F(EmulatorTest, WellFormedArgumentsAreTaken) {
  start();
  for (const char *line : {"pb 0x7C00", "pb 7c50", "pb 0x00007C58", "lb 0x7ca1", "vb 0:7c58", "vb 0x0008:0x00007CC0"})
    EXPECT_EQ(x(line), " ") << line;
  for (const char *line : {"watch read 0x600", "watch write 500", "watch write 0xFFFFFFFF"})
    EXPECT_EQ(x(line).find("Error"), std::string::npos) << line;
  EXPECT_EQ(scan_breakpoint_list(x("info break")).size(), 6u);
  EXPECT_EQ(scan_watch_list(x("watch")).size(), 3u);
}

// u /N decodes N instructions in the code segment's size: 16-bit in real
// mode, 32-bit with CS's D bit set; the same bytes read differently.
TEST_F(EmulatorTest, DisassemblyFollowsTheCodeSegment) {
  start();
  run_to(0x7C20);  // real mode
  std::vector<Disassembled> real = disassembly(x("u /4 0x7c20"));
  ASSERT_EQ(real.size(), 4u);
  const char *const real_text[] = {"call .+45  (0x00007c50)", "loop .-5  (0x00007c20)", "mov si, 0x7d00",
                                   "mov di, 0x0600"};
  const char *const real_bytes[] = {"e82d00", "e2fb", "be007d", "bf0006"};
  uint32_t address = 0x7C20;
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(real[i].address, address);
    EXPECT_EQ(real[i].symbol, "");
    EXPECT_EQ(real[i].text, real_text[i]);
    EXPECT_EQ(real[i].bytes, real_bytes[i]);
    address += uint32_t(real[i].bytes.size() / 2);
  }
  // The far call and rep prefix in the old words, as on the current line.
  std::vector<Disassembled> words = disassembly(x("u /2 0x7c2f"));
  ASSERT_EQ(words.size(), 2u);
  EXPECT_EQ(words[0].text.substr(0, 10), "rep: movsb");
  EXPECT_EQ(words[1].text, "call far 0x0000:7c58");

  run_to(demo_pm_loop);  // 32-bit code
  std::vector<Disassembled> pm = disassembly(x("u /3 0x7ca0"));
  ASSERT_EQ(pm.size(), 3u);
  EXPECT_EQ(pm[0].text, "inc eax");
  EXPECT_EQ(pm[1].text, "call .+26  (0x00007cc0)");
  EXPECT_EQ(pm[1].bytes, "e81a000000");
  EXPECT_EQ(pm[2].text, "mov dword ptr ds:0x00000500, eax");
  // Each line's text the same as the current-instruction line's.
  Location at = step();
  EXPECT_EQ(at.text, pm[1].text);
  EXPECT_EQ(disassembly(x("u /64 0x7c00")).size(), 64u);
  for (const char *bad : {"u /0 0x7c00", "u /65 0x7c00", "u 0x7c00", "u /4"}) expect_one_error_line(x(bad), bad);
}

// With the demo's symbols loaded (Bochs's own ldsym), u names them, and the
// current-instruction line still reads under the old grammar.
TEST_F(EmulatorTest, DisassemblyNamesTheDemosSymbols) {
  start();
  std::string symbols = std::string(VUM_BUILD_DIR) + "/demo/demo.sym";
  EXPECT_EQ(x("ldsym \"" + symbols + "\""), " ");
  run_to(demo_pm_loop);
  std::vector<Disassembled> d = disassembly(x("u /2 0x7ca0"));
  ASSERT_EQ(d.size(), 2u);
  EXPECT_EQ(d[0].symbol, "pm_loop+0");
  EXPECT_EQ(d[1].symbol, "pm_loop+1");
  Location at = step();
  EXPECT_EQ(at.physical, 0x7CA1u);
  EXPECT_EQ(at.text.substr(0, 9), "call .+26");
  EXPECT_EQ(at.length, 5u);
}

// Paging on: x goes through the page tables; a range that touches a page
// that is not present gives one error line and no values; u likewise.
TEST_F(EmulatorTest, LinearReadsGoThroughThePageTables) {
  start();
  run_to(demo_pm_loop);
  uint32_t v[63];
  registers(v);
  EXPECT_NE(v[kCr0] & 0x80000000u, 0u) << "paging is on";
  // The page mapped elsewhere shows physical 0x7000's bytes: the boot sector.
  std::vector<DumpRow> linear = read_dump(x("x /8bx " + hex(demo_elsewhere + 0xC00)));
  std::vector<DumpRow> physical = read_dump(x("xp /8bx 0x7C00"));
  ASSERT_EQ(linear.size(), 1u);
  ASSERT_EQ(physical.size(), 1u);
  EXPECT_EQ(linear[0].values, physical[0].values);
  const struct {
    std::string command, error;
  } absent[] = {
      {"x /2wx " + hex(demo_absent), "Error: reading linear 0x00401000: page not present"},
      {"x /4wx " + hex(demo_absent - 8), "Error: reading linear 0x00401000: page not present"},
      {"x /1bx 0x00800010", "Error: reading linear 0x00800010: page not present"},
      {"u /2 " + hex(demo_absent), "Error: reading linear 0x00401000: page not present"},
  };
  for (const auto &a : absent) {
    std::string reply = x(a.command);
    EXPECT_EQ(reply, " " + a.error + "\n") << a.command;
    uint32_t value = 0;
    EXPECT_FALSE(scan_stack_element(reply, &value)) << "no value in " << reply;
  }
}

// set: the registers Bochs 2.7 can set, each read back in the register
// dump; eflags and the rest get an error line and change nothing.
TEST_F(EmulatorTest, SetChangesTheRegistersBochsCanSet) {
  start();
  run_to(demo_pm_loop);
  const struct {
    const char *name;
    int slot;
    uint32_t value;
  } regs[] = {{"eax", 0, 0x12345678}, {"ebx", 1, 0x1}, {"ecx", 2, 0x2}, {"edx", 3, 0x3}, {"ebp", 4, 0x4},
              {"esi", 5, 0x5},        {"edi", 6, 0x6}, {"esp", 7, 0x8fff0}, {"eip", 9, 0x7cab}};
  for (const auto &r : regs) EXPECT_EQ(x(std::string("set ") + r.name + " = " + hex(r.value)), " ") << r.name;
  uint32_t v[63];
  registers(v);
  for (const auto &r : regs) EXPECT_EQ(v[r.slot], r.value) << r.name;
  uint32_t flags = v[kEflags];
  for (const char *bad : {"set eflags = 0x202", "set cs = 0x10", "set ax = 0x1", "set eax = 0x100000000",
                          "set eax = 5+1", "set eax 0x1"})
    expect_one_error_line(x(bad), bad);
  registers(v);
  EXPECT_EQ(v[kEflags], flags);
  EXPECT_EQ(v[0], 0x12345678u);
  EXPECT_EQ(step().physical, 0x7CB1u) << "the step went on from the eip that was set";
}

// setpmem writes 1, 2 or 4 bytes of physical memory, little-endian.
TEST_F(EmulatorTest, SetpmemWritesPhysicalMemory) {
  start();
  EXPECT_EQ(x("setpmem 0x500 4 0x11223344"), " ");
  EXPECT_EQ(x("setpmem 0x504 2 0xabcd"), " ");
  EXPECT_EQ(x("setpmem 0x506 1 0x99"), " ");
  std::vector<DumpRow> rows = read_dump(x("xp /7bx 0x500"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].values, "0x44 0x33 0x22 0x11 0xcd 0xab 0x99");
  for (const char *bad : {"setpmem 0x500 3 0x1", "setpmem 0x500 1 0x100", "setpmem 0x500 4 0x123456789",
                          "setpmem 0x500 4", "setpmem 0x1ffffffff 1 0x1"})
    expect_one_error_line(x(bad), bad);
  // Beyond memory: Bochs's own error line.
  expect_one_error_line(x("setpmem 0x2000000 4 0x1"), "beyond memory");
  rows = read_dump(x("xp /7bx 0x500"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].values, "0x44 0x33 0x22 0x11 0xcd 0xab 0x99");
}

// Commands typed in VUM's console go to Bochs as they are, one at a time,
// and their whole reply comes back without the echo.
TEST_F(EmulatorTest, ConsoleCommandsPassThrough) {
  start();
  run_to(demo_pm_loop);
  std::string tables = x("info tab");
  EXPECT_EQ(tables,
            " cr3: 0x000000010000\n"
            "0x0000000000000000-0x00000000003fffff -> 0x000000000000-0x0000003fffff\n"
            "0x0000000000400000-0x0000000000400fff -> 0x000000007000-0x000000007fff\n");
  std::string gdt = x("info gdt");
  EXPECT_NE(gdt.find("GDT[0x0018]=Data segment, base=0x00080000, limit=0x0000ffff"), std::string::npos) << gdt;
  EXPECT_NE(gdt.find("GDT[0x0020]=32-Bit TSS (Busy) at 0x00007f40"), std::string::npos) << gdt;
  EXPECT_EQ(gdt.rfind(" Global Descriptor Table (base=0x0000000000007f00, limit=39):\n", 0), 0u) << "no echo";
  std::string idt = x("info idt 3");
  EXPECT_NE(idt.find("Trap Gate target=0x0008:0x00007ea0"), std::string::npos) << idt;
  EXPECT_EQ(x("  "), " ") << "a blank line does nothing";
  std::string unknown = x("frobnicate");
  EXPECT_NE(unknown.find("syntax error"), std::string::npos) << unknown;
  EXPECT_EQ(step().physical, 0x7CA1u);
}
