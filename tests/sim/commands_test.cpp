// The commands added to the old dialect (u, set, setpmem) and the failed
// start hook, byte for byte through real pipes, on the built-in demo.
#include "sim_process.hpp"

using simtest::Sim;
using simtest::SimConfig;

namespace {

std::string prompt(unsigned n) { return "<bochs:" + std::to_string(n) + "> "; }

struct Exchange {
  std::vector<std::string> before;  // commands whose replies are not checked
  std::string command;
  std::string reply;  // the reply without its prompt
};

// Runs each exchange in a fresh process and checks the reply exactly.
void check(const std::vector<Exchange> &cases) {
  for (const Exchange &x : cases) {
    Sim sim;
    sim.until_prompt();
    for (const std::string &c : x.before) sim.send(c);
    EXPECT_EQ(sim.send(x.command), x.reply + prompt(unsigned(x.before.size()) + 2)) << "command: " << x.command;
  }
}

const char kUsageU[] = "Error: usage: u /N ADDR (N from 1 to 64)\n";

TEST(Disassemble, LinesOfAddressBlankSymbolTextAndBytes) {
  check({
      {{},
       "u /3 0x7c00",
       "00007c00: (                    ): cli                      ; fa\n"
       "00007c01: (                    ): xor ax, ax               ; 31c0\n"
       "00007c03: (                    ): mov ds, ax               ; 8ed8\n"},
      {{}, "u 0x7c0d", "00007c0d: (                    ): call 0x7c4b              ; e83b00\n"},
      {{"s"}, "u/2 7c2a",
       "00007c2a: (                    ): rep: movsb               ; f3a4\n"
       "00007c2c: (                    ): cmp byte ptr ds:[0x600], 0x56 ; 803e000656\n"},
      // The far call and the message's bytes read as code.
      {{}, "u /2 0x7c36",
       "00007c36: (                    ): call far 0x0000:0x7c5a   ; 9a5a7c0000\n"
       "00007c3b: (                    ): jmp 0x7c3b               ; ebfe\n"},
      // The end of memory ends the listing with one line.
      {{}, "u /3 0xfffffe",
       "00fffffe: (                    ): add byte ptr ds:[bx+si], al ; 0000\n"
       "Error: reading linear 0x01000000: past the end of memory\n"},
      {{}, "u /1 0xfffffff0", "Error: reading linear 0xfffffff0: past the end of memory\n"},
  });
}

TEST(Disassemble, CountsFromOneToSixtyFour) {
  Sim sim;
  sim.until_prompt();
  std::vector<std::string> lines = simtest::lines_of(sim.send("u /64 0x7c00"));
  ASSERT_EQ(lines.size(), 65u);
  EXPECT_EQ(lines[0], "00007c00: (                    ): cli                      ; fa");
  EXPECT_EQ(lines.back(), prompt(2));
  for (size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i].substr(8, 26), ": (                    ): ") << i;
  check({
      {{}, "u /0 0x7c00", kUsageU},
      {{}, "u /65 0x7c00", kUsageU},
      {{}, "u /x 0x7c00", kUsageU},
      {{}, "u /1x 0x7c00", kUsageU},
      {{}, "u", kUsageU},
      {{}, "u /2", kUsageU},
      {{}, "u 0x7c00 2", kUsageU},
      {{}, "u /2 zz", "Error: not a valid number: 'zz'\n"},
      {{}, "u /2 0x100000000", "Error: not a valid number: '0x100000000'\n"},
  });
}

TEST(SetRegister, EachRegisterTakesItsValue) {
  struct Case {
    const char *name;
    const char *dump_line;
  } cases[] = {
      {"eax", "eax:0x1234567a\n"}, {"ebx", "ebx:0x1234567a\n"}, {"ecx", "ecx:0x1234567a\n"},
      {"edx", "edx:0x1234567a\n"}, {"esi", "esi:0x1234567a\n"}, {"edi", "edi:0x1234567a\n"},
      {"ebp", "ebp:0x1234567a\n"}, {"esp", "esp:0x1234567a\n"}, {"eip", "eip:0x1234567a\n"},
      {"eflags", "eflags:0x1234567a\n"},
  };
  for (const Case &c : cases) {
    Sim sim;
    sim.until_prompt();
    EXPECT_EQ(sim.send(std::string("set ") + c.name + " = 0x1234567a"), prompt(2)) << c.name;
    std::string dump = sim.send("dump_cpu");
    EXPECT_NE(dump.find(c.dump_line), std::string::npos) << c.name << dump;
    // No other register moved.
    size_t changed = 0;
    for (const std::string &line : simtest::lines_of(dump)) changed += line.find("0x1234567a") != std::string::npos;
    EXPECT_EQ(changed, 1u) << c.name;
  }
}

TEST(SetRegister, FormsAndWhatTheyDo) {
  Sim sim;
  sim.until_prompt();
  sim.send("s");
  EXPECT_EQ(sim.send("set eip = 0x7c10"), prompt(3));
  EXPECT_EQ(sim.send("s"),
            "Next at t=2\n(0) [0x00007c13] 0000:7c13 (unk. ctxt): call 0x7c3d              ; e82700\n" + prompt(4));
  EXPECT_EQ(sim.send("set ecx=5"), prompt(5));
  EXPECT_EQ(sim.send("set edx =0xa"), prompt(6));
  EXPECT_EQ(sim.send("set esi= 0X1f"), prompt(7));
  EXPECT_EQ(sim.send("set eflags = 0x245"), prompt(8));  // bit 1 stays set
  std::string dump = sim.send("dump_cpu");
  const std::string registers =
      "eax:0x00000000\nebx:0x00000000\necx:0x00000005\nedx:0x0000000a\nebp:0x00000000\nesi:0x0000001f\n"
      "edi:0x00000000\nesp:0x00000000\neflags:0x00000247\n";
  EXPECT_EQ(dump.substr(0, registers.size()), registers);
  check({
      {{}, "set", "Error: usage: set REG = VALUE\n"},
      {{}, "set eax", "Error: usage: set REG = VALUE\n"},
      {{}, "set eax =", "Error: usage: set REG = VALUE\n"},
      {{}, "set = 5", "Error: usage: set REG = VALUE\n"},
      {{}, "set eax = 5 = 6", "Error: usage: set REG = VALUE\n"},
      {{}, "set EAX = 1", "Error: not a register: 'EAX'\n"},
      {{}, "set ax = 1", "Error: not a register: 'ax'\n"},
      {{}, "set cr0 = 1", "Error: not a register: 'cr0'\n"},
      {{}, "set eax = zz", "Error: not a valid number: 'zz'\n"},
      {{}, "set eax = 0x100000000", "Error: not a valid number: '0x100000000'\n"},
      {{}, "set <eax = 1", "Error: not a register: '?eax'\n"},
  });
}

TEST(SetPhysicalMemory, WritesLittleEndianOfEachSize) {
  Sim sim;
  sim.until_prompt();
  EXPECT_EQ(sim.send("setpmem 0x500 4 0xdeadbeef"), prompt(2));
  EXPECT_EQ(sim.send("setpmem 0x504 2 0x1234"), prompt(3));
  EXPECT_EQ(sim.send("setpmem 506 1 7f"), prompt(4));
  EXPECT_EQ(sim.send("setpmem 0xffffff 1 0xff"), prompt(5));
  EXPECT_EQ(sim.send("xp /8bx 0x500"),
            "0x00000500 <bogus+0>:\t0xef\t0xbe\t0xad\t0xde\t0x34\t0x12\t0x7f\t0x00\n" + prompt(6));
  EXPECT_EQ(sim.send("xp /1bx 0xffffff"), "0x00ffffff <bogus+0>:\t0xff\n" + prompt(7));
  // The code the processor runs changes with it.
  EXPECT_EQ(sim.send("setpmem 0x7c00 1 0x90"), prompt(8));
  EXPECT_EQ(sim.send("s 2"),
            "Next at t=2\n(0) [0x00007c01] 0000:7c01 (unk. ctxt): xor ax, ax               ; 31c0\n" + prompt(9));
  check({
      {{}, "setpmem 0x500 1", "Error: usage: setpmem ADDR SIZE VALUE\n"},
      {{}, "setpmem 0x500 1 2 3", "Error: usage: setpmem ADDR SIZE VALUE\n"},
      {{}, "setpmem zz 1 0", "Error: not a valid number: 'zz'\n"},
      {{}, "setpmem 0x500 3 0", "Error: size must be 1, 2 or 4: '3'\n"},
      {{}, "setpmem 0x500 0 0", "Error: size must be 1, 2 or 4: '0'\n"},
      {{}, "setpmem 0x500 8 0", "Error: size must be 1, 2 or 4: '8'\n"},
      {{}, "setpmem 0x500 0x2 0", "Error: size must be 1, 2 or 4: '0x2'\n"},
      {{}, "setpmem 0x500 1 0x100", "Error: value 0x100 does not fit in 1 byte\n"},
      {{}, "setpmem 0x500 2 0x10000", "Error: value 0x10000 does not fit in 2 bytes\n"},
      {{}, "setpmem 0x500 4 0x100000000", "Error: not a valid number: '0x100000000'\n"},
      {{}, "setpmem 0xffffff 2 0x1", "Error: write past the end of memory (0x01000000): 2 bytes at 0x00ffffff\n"},
      {{}, "setpmem 0x1000000 1 0x1", "Error: write past the end of memory (0x01000000): 1 byte at 0x01000000\n"},
  });
}

const char kStartText[] =
    "vum-sim: simulated PC; the debugger talks on standard error\n"
    "========================================================================\n"
    "                 vum-sim: the simulated PC of VUM\n"
    "========================================================================\n"
    "Memory: 16 MiB. Processor: x86 subset, one CPU.\n"
    "Boot image at 0x7c00: built-in demo\n";

TEST(FailStart, WritesTheTextLastAndExitsWithOneBeforeAnyPrompt) {
  struct Case {
    SimConfig config;
    std::string last_lines;
  } cases[] = {
      {SimConfig{{{"VUM_SIM_FAIL_START", "ROM: couldn't open ROM image file"}}, {"-q"}},
       "ROM: couldn't open ROM image file\n"},
      {SimConfig{{}, {"-q", "--fail-start", "bochsrc.txt:3: syntax error"}}, "bochsrc.txt:3: syntax error\n"},
      // Lines of their own, each made printable.
      {SimConfig{{{"VUM_SIM_FAIL_START", "first line\n<bochs:1> \t"}}, {"-q"}}, "first line\n?bochs:1> ?\n"},
      // The option wins.
      {SimConfig{{{"VUM_SIM_FAIL_START", "from the variable"}}, {"-q", "--fail-start", "from the option"}},
       "from the option\n"},
  };
  for (const Case &c : cases) {
    Sim sim(c.config);
    EXPECT_EQ(sim.rest(), kStartText + c.last_lines);
    EXPECT_EQ(sim.wait(), 1);
    EXPECT_EQ(sim.out(), "");
  }
  // Empty, the variable leaves the hook off.
  Sim sim(SimConfig{{{"VUM_SIM_FAIL_START", ""}}, {"-q"}});
  std::string start = sim.until_prompt();
  EXPECT_EQ(start.substr(0, sizeof kStartText - 1), kStartText);
  EXPECT_EQ(start.substr(start.size() - 10), prompt(1));
}

}  // namespace
