// Byte-exact exchanges with the simulated PC running the built-in demo: for
// every command, the exact reply text and the prompt that follows it.
#include "sim_process.hpp"

using simtest::Sim;

namespace {

const char kStartup[] =
    "vum-sim: simulated PC; the debugger talks on standard error\n"
    "========================================================================\n"
    "                 vum-sim: the simulated PC of VUM\n"
    "========================================================================\n"
    "Memory: 16 MiB. Processor: x86 subset, one CPU.\n"
    "Boot image at 0x7c00: built-in demo\n"
    "Next at t=0\n"
    "(0) [0x000ffff0] f000:fff0 (unk. ctxt): jmp far 0x0000:0x7c00    ; ea007c0000\n"
    "<bochs:1> ";

TEST(Startup, TextThenTheResetLocationThenTheFirstPrompt) {
  Sim sim;
  EXPECT_EQ(sim.until_prompt(), kStartup);
  sim.close_input();
  EXPECT_EQ(sim.wait(), 0);
  // Standard output is the guest's alone: the banner is start-up text.
  EXPECT_EQ(sim.out(), "");
}

struct Exchange {
  std::vector<std::string> before;  // commands whose replies are not checked
  std::string command;
  std::string reply;                // reply and prompt, byte for byte
};

// Runs each exchange in a fresh process and checks the reply exactly.
void check(const std::vector<Exchange> &cases) {
  for (const Exchange &x : cases) {
    Sim sim;
    sim.until_prompt();
    for (const std::string &c : x.before) sim.send(c);
    EXPECT_EQ(sim.send(x.command), x.reply) << "command: " << x.command;
  }
}

TEST(Exchange, StepReportsTheTickCountAndTheNextInstruction) {
  check({
      {{}, "s", "Next at t=1\n(0) [0x00007c00] 0000:7c00 (unk. ctxt): cli                      ; fa\n<bochs:2> "},
      {{"s"}, "s",
       "Next at t=2\n(0) [0x00007c01] 0000:7c01 (unk. ctxt): xor ax, ax               ; 31c0\n<bochs:3> "},
      {{}, "s 8",
       "Next at t=8\n(0) [0x00007c0d] 0000:7c0d (unk. ctxt): call 0x7c4b              ; e83b00\n<bochs:2> "},
      {{"s 9"}, "step",
       "Next at t=10\n(0) [0x00007c4c] 0000:7c4c (unk. ctxt): push di                  ; 57\n<bochs:3> "},
      // Each iteration of rep stosb is a step of its own; EIP stays on it.
      {{"s 14"}, "s",
       "Next at t=15\n(0) [0x00007c55] 0000:7c55 (unk. ctxt): rep: stosb               ; f3aa\n<bochs:3> "},
      {{"s 14"}, "s 16",
       "Next at t=30\n(0) [0x00007c57] 0000:7c57 (unk. ctxt): pop di                   ; 5f\n<bochs:3> "},
  });
}

TEST(Exchange, EmptyAndBlankLinesGiveJustTheNextPrompt) {
  check({
      {{}, "", "<bochs:2> "},
      {{}, " \t ", "<bochs:2> "},
      {{"", ""}, "", "<bochs:4> "},
  });
}

TEST(Exchange, BreakpointCommandsAnswerWithThePromptAlone) {
  check({
      {{}, "pb 0x7c3d", "<bochs:2> "},
      {{}, "pb 7c3d", "<bochs:2> "},
      {{}, "lb 0x00007C4B", "<bochs:2> "},
      {{}, "vb 0x0000:0x7c13", "<bochs:2> "},
      {{}, "vb 7c0:13", "<bochs:2> "},
      {{"pb 500"}, "d 1", "<bochs:3> "},
  });
}

TEST(Exchange, InfoBreakListsEveryKindInNumberOrder) {
  check({
      {{}, "info break", "Num Type           Disp Enb Address\n<bochs:2> "},
      {{"pb 0x7c3d", "vb 0x0008:0x0100", "lb 7c20"},
       "info break",
       "Num Type           Disp Enb Address\n"
       "  1 pbreakpoint    keep y   0x00007c3d\n"
       "  2 vbreakpoint    keep y   0x0008:0x00000100\n"
       "  3 lbreakpoint    keep y   0x00007c20\n"
       "<bochs:5> "},
      // Numbers are never reused after a delete.
      {{"pb 1", "pb 2", "d 1", "pb 3", "d 2"},
       "info break",
       "Num Type           Disp Enb Address\n"
       "  3 pbreakpoint    keep y   0x00000003\n"
       "<bochs:7> "},
      {{"pb 1"}, "d 5", "Error: no breakpoint numbered 5\n<bochs:3> "},
      {{"pb 1", "d 1"}, "d 1", "Error: no breakpoint numbered 1\n<bochs:4> "},
  });
}

TEST(Exchange, WatchListsReadsThenWritesWithTheValueAtTheAddress) {
  check({
      {{}, "watch", "<bochs:2> "},
      {{}, "watch read 0x500", "<bochs:2> "},
      {{"watch write 0x7c01", "watch read 0x7c00", "watch read 500"},
       "watch",
       "read 0x00007c00 (8ec031fa)\n"
       "read 0x00000500 (00000000)\n"
       "write 0x00007c01 (c031)\n"
       "<bochs:5> "},
      // Adding the same watchpoint again changes nothing.
      {{"watch write 7c02", "watch write 0x7c02"}, "watch", "write 0x00007c02 (8ec0)\n<bochs:4> "},
      {{"watch read 0x500", "watch write 0x500", "unwatch read 0x500"},
       "watch",
       "write 0x00000500 (00000000)\n<bochs:5> "},
      {{"watch read 0x500", "watch write 0x600"}, "unwatch", "<bochs:4> "},
      {{"watch read 0x500", "watch write 0x600", "unwatch"}, "watch", "<bochs:5> "},
      {{"watch read 0x500"}, "unwatch write 0x500", "Error: no write watchpoint at 0x00000500\n<bochs:3> "},
  });
}

TEST(Exchange, ListsHoldMoreThanFortyEntries) {
  Sim sim;
  sim.until_prompt();
  std::string watches, breaks = "Num Type           Disp Enb Address\n";
  for (unsigned i = 0; i < 45; ++i) {
    char cmd[64], line[64];
    snprintf(cmd, sizeof cmd, "watch write 0x%x", 0x1000 + 4 * i);
    ASSERT_EQ(sim.send(cmd).substr(0, 7), "<bochs:");
    snprintf(line, sizeof line, "write 0x%08x (00000000)\n", 0x1000 + 4 * i);
    watches += line;
    snprintf(cmd, sizeof cmd, "pb 0x%x", 0x2000 + i);
    ASSERT_EQ(sim.send(cmd).substr(0, 7), "<bochs:");
    snprintf(line, sizeof line, "%3u pbreakpoint    keep y   0x%08x\n", i + 1, 0x2000 + i);
    breaks += line;
  }
  EXPECT_EQ(sim.send("watch"), watches + "<bochs:92> ");
  EXPECT_EQ(sim.send("info break"), breaks + "<bochs:93> ");
}

TEST(Exchange, TracingSwitchesAnswerWithANote) {
  check({
      {{}, "trace-on", "Tracing enabled for CPU 0\n<bochs:2> "},
      {{"trace-on"}, "trace-off", "Tracing disabled for CPU 0\n<bochs:3> "},
  });
}

TEST(Exchange, DumpCpuAtReset) {
  check({{{},
          "dump_cpu",
          "eax:0x00000000\n"
          "ebx:0x00000000\n"
          "ecx:0x00000000\n"
          "edx:0x00000000\n"
          "ebp:0x00000000\n"
          "esi:0x00000000\n"
          "edi:0x00000000\n"
          "esp:0x00000000\n"
          "eflags:0x00000002\n"
          "eip:0x0000fff0\n"
          "cs:s=0xf000, dl=0x0000ffff, dh=0x00009b0f, valid=1\n"
          "ss:s=0x0000, dl=0x0000ffff, dh=0x00009300, valid=1\n"
          "ds:s=0x0000, dl=0x0000ffff, dh=0x00009300, valid=1\n"
          "es:s=0x0000, dl=0x0000ffff, dh=0x00009300, valid=1\n"
          "fs:s=0x0000, dl=0x0000ffff, dh=0x00009300, valid=1\n"
          "gs:s=0x0000, dl=0x0000ffff, dh=0x00009300, valid=1\n"
          "ldtr:s=0x0000, dl=0x0000ffff, dh=0x00008200, valid=1\n"
          "tr:s=0x0000, dl=0x0000ffff, dh=0x00008b00, valid=1\n"
          "gdtr:base=0x00000000, limit=0xffff\n"
          "idtr:base=0x00000000, limit=0x3ff\n"
          "dr0:0x00000000\n"
          "dr1:0x00000000\n"
          "dr2:0x00000000\n"
          "dr3:0x00000000\n"
          "dr6:0x00000000\n"
          "dr7:0x00000000\n"
          "tr3:0x00000000\n"
          "tr4:0x00000000\n"
          "tr5:0x00000000\n"
          "tr6:0x00000000\n"
          "tr7:0x00000000\n"
          "cr0:0x00000010\n"
          "cr1:0x00000000\n"
          "cr2:0x00000000\n"
          "cr3:0x00000000\n"
          "cr4:0x00000000\n"
          "inhibit_mask:0\n"
          "done\n"
          "<bochs:2> "}});
}

TEST(Exchange, DumpCpuAfterTheDemoSetUpItsStack) {
  // After "call clear" and "push cx": the return address 7c10 and cx are on
  // the stack, interrupts are on, the flags of "xor ax, ax" are set.
  Sim sim;
  sim.until_prompt();
  sim.send("s 10");
  std::string dump = sim.send("dump_cpu");
  EXPECT_EQ(dump.substr(0, dump.find("cs:")),
            "eax:0x00000000\nebx:0x00000000\necx:0x00000000\nedx:0x00000000\nebp:0x00000000\n"
            "esi:0x00000000\nedi:0x00000000\nesp:0x00007bfc\neflags:0x00000246\neip:0x00007c4c\n");
  EXPECT_EQ(sim.send("x /2hx 0x7bfc"), "0x00007bfc <bogus+0>:\t0x0000\t0x7c10\n<bochs:4> ");
}

TEST(Exchange, ExamineInEverySizeAndFormat) {
  // The demo's first bytes: fa 31 c0 8e d8 8e c0 8e d0 bc 00 7c fb e8 3b 00
  check({
      {{}, "x /1wx 0x7c00", "0x00007c00 <bogus+0>:\t0x8ec031fa\n<bochs:2> "},
      {{}, "xp /1wx 0x7c00", "0x00007c00 <bogus+0>:\t0x8ec031fa\n<bochs:2> "},
      {{}, "x 0x7c00", "0x00007c00 <bogus+0>:\t0x8ec031fa\n<bochs:2> "},
      {{}, "x/2bx 0x7c00", "0x00007c00 <bogus+0>:\t0xfa\t0x31\n<bochs:2> "},
      {{}, "xp/2bx 7c00", "0x00007c00 <bogus+0>:\t0xfa\t0x31\n<bochs:2> "},
      {{}, "xp /16bx 0x7c00",
       "0x00007c00 <bogus+0>:\t0xfa\t0x31\t0xc0\t0x8e\t0xd8\t0x8e\t0xc0\t0x8e\n"
       "0x00007c08 <bogus+8>:\t0xd0\t0xbc\t0x00\t0x7c\t0xfb\t0xe8\t0x3b\t0x00\n<bochs:2> "},
      {{}, "x /9hx 0x7c00",
       "0x00007c00 <bogus+0>:\t0x31fa\t0x8ec0\t0x8ed8\t0x8ec0\t0xbcd0\t0x7c00\t0xe8fb\t0x003b\n"
       "0x00007c10 <bogus+16>:\t0x05b9\n<bochs:2> "},
      {{}, "x /5wx 0x7c00",
       "0x00007c00 <bogus+0>:\t0x8ec031fa\t0x8ec08ed8\t0x7c00bcd0\t0x003be8fb\n"
       "0x00007c10 <bogus+16>:\t0xe80005b9\n<bochs:2> "},
      {{}, "x /3gx 0x7c00",
       "0x00007c00 <bogus+0>:\t0x8ec08ed88ec031fa\t0x003be8fb7c00bcd0\n"
       "0x00007c10 <bogus+16>:\t0xfbe20027e80005b9\n<bochs:2> "},
      {{}, "x /4bd 0x7c00", "0x00007c00 <bogus+0>:\t-6\t49\t-64\t-114\n<bochs:2> "},
      {{}, "x /4bu 0x7c00", "0x00007c00 <bogus+0>:\t250\t49\t192\t142\n<bochs:2> "},
      {{}, "x /2bt 0x7c00", "0x00007c00 <bogus+0>:\t11111010\t00110001\n<bochs:2> "},
      {{}, "x /2bo 0x7c00", "0x00007c00 <bogus+0>:\t0372\t061\n<bochs:2> "},
      {{}, "x /1hd 0x7c02", "0x00007c02 <bogus+0>:\t-28992\n<bochs:2> "},
      {{}, "x /1hu 0x7c02", "0x00007c02 <bogus+0>:\t36544\n<bochs:2> "},
      {{}, "x /1ht 0x7c02", "0x00007c02 <bogus+0>:\t1000111011000000\n<bochs:2> "},
      {{}, "x /1ho 0x7c02", "0x00007c02 <bogus+0>:\t0107300\n<bochs:2> "},
      {{}, "x /1wd 0x7c00", "0x00007c00 <bogus+0>:\t-1900006918\n<bochs:2> "},
      {{}, "x /1wo 0x7c00", "0x00007c00 <bogus+0>:\t021660030772\n<bochs:2> "},
      {{}, "x /1gd 0x7c00", "0x00007c00 <bogus+0>:\t-8160365464036298246\n<bochs:2> "},
      {{}, "x /1gu 0x7c00", "0x00007c00 <bogus+0>:\t10286378609673253370\n<bochs:2> "},
      {{}, "x /1bx 0", "0x00000000 <bogus+0>:\t0x53\n<bochs:2> "},
      {{}, "x /0bx 0x7c00", "<bochs:2> "},
      {{}, "x /4xb 0x7c00", "0x00007c00 <bogus+0>:\t0xfa\t0x31\t0xc0\t0x8e\n<bochs:2> "},
      {{}, "x /b 0x7c00", "0x00007c00 <bogus+0>:\t0xfa\n<bochs:2> "},
      {{}, "x /d 0x7c00", "0x00007c00 <bogus+0>:\t-1900006918\n<bochs:2> "},
      {{}, "xp /2bx 0xfffffe", "0x00fffffe <bogus+0>:\t0x00\t0x00\n<bochs:2> "},
      {{}, "xp /4bx 0xfffffe", "Error: read past the end of memory (0x01000000): 4 bytes at 0x00fffffe\n<bochs:2> "},
      {{}, "x /1wx 0xffffffff", "Error: read past the end of memory (0x01000000): 4 bytes at 0xffffffff\n<bochs:2> "},
      {{}, "x /1bx 0x1000000", "Error: read past the end of memory (0x01000000): 1 byte at 0x01000000\n<bochs:2> "},
  });
}

TEST(Exchange, AnythingElseGivesAOneLineError) {
  check({
      {{}, "foo", "Error: unknown command 'foo' (try help)\n<bochs:2> "},
      {{}, "S", "Error: unknown command 'S' (try help)\n<bochs:2> "},
      {{}, "<bochs:1>", "Error: unknown command '?bochs:1>' (try help)\n<bochs:2> "},
  });
}

TEST(Exchange, HelpListsTheCommandsWithoutAnAngleBracket) {
  Sim sim;
  sim.until_prompt();
  std::string help = sim.send("help");
  EXPECT_EQ(help.find('<'), help.rfind("<bochs:2> "));
  for (const char *word : {"s [N]", "c ", "pb ", "lb ", "vb ", "d N", "info break", "watch read", "watch write",
                           "unwatch", "trace-on", "dump_cpu", "x /NUF", "xp /NUF", "u /N", "set REG = VALUE",
                           "setpmem ADDR SIZE VALUE", "q "})
    EXPECT_NE(help.find(word), std::string::npos) << word;
}

TEST(Exchange, QuitEndsTheProcessAtOnce) {
  Sim sim;
  sim.until_prompt();
  sim.write_raw("q\ns\n");
  EXPECT_EQ(sim.rest(), "");
  EXPECT_EQ(sim.wait(), 0);
}

TEST(Exchange, EndOfInputEndsTheProcessWithStatusZero) {
  Sim sim;
  sim.until_prompt();
  sim.write_raw("s\n");
  sim.close_input();
  EXPECT_EQ(sim.rest(), "Next at t=1\n(0) [0x00007c00] 0000:7c00 (unk. ctxt): cli                      ; fa\n<bochs:2> ");
  EXPECT_EQ(sim.wait(), 0);
}

}  // namespace
