// Malformed commands and garbage input: every line gets at most one error
// line and exactly one prompt, nothing echoes a '<', and the program neither
// crashes nor hangs nor loses its state.
#include <random>

#include "sim_process.hpp"

using simtest::Sim;
using simtest::SimConfig;
using simtest::TempDir;

namespace {

const char kStep1[] = "Next at t=1\n(0) [0x00007c00] 0000:7c00 (unk. ctxt): cli                      ; fa\n";

TEST(Malformed, EachCommandGetsItsOneLineError) {
  struct Case {
    const char *command;
    const char *error;
  } cases[] = {
      {"pb", "Error: usage: pb ADDR\n"},
      {"pb zz", "Error: not a valid number: 'zz'\n"},
      {"pb 0x", "Error: not a valid number: '0x'\n"},
      {"pb -1", "Error: not a valid number: '-1'\n"},
      {"pb 1 2", "Error: usage: pb ADDR\n"},
      {"pb 100000000", "Error: not a valid number: '100000000'\n"},
      {"lb", "Error: usage: lb ADDR\n"},
      {"vb", "Error: usage: vb SEG:OFF\n"},
      {"vb 12", "Error: not a valid number: '12'\n"},
      {"vb 1:zz", "Error: not a valid number: '1:zz'\n"},
      {"vb :10", "Error: not a valid number: ':10'\n"},
      {"vb 10000:0", "Error: not a valid number: '10000:0'\n"},
      {"d", "Error: usage: d N\n"},
      {"d x", "Error: no breakpoint numbered x\n"},
      {"d 99999999999999", "Error: no breakpoint numbered 99999999999999\n"},
      {"d 1 2", "Error: usage: d N\n"},
      {"watch foo 1", "Error: usage: watch [read|write ADDR]\n"},
      {"watch read", "Error: usage: watch [read|write ADDR]\n"},
      {"watch read zz", "Error: not a valid number: 'zz'\n"},
      {"unwatch foo", "Error: usage: unwatch [read|write ADDR]\n"},
      {"unwatch read zz", "Error: not a valid number: 'zz'\n"},
      {"x /4q 0", "Error: usage: x /NUF ADDR\n"},
      {"x /4bx", "Error: usage: x /NUF ADDR\n"},
      {"x /bx zz", "Error: not a valid number: 'zz'\n"},
      {"x /99999999bx 0", "Error: usage: x /NUF ADDR\n"},
      {"x 1 2", "Error: usage: x /NUF ADDR\n"},
      {"xp", "Error: usage: xp /NUF ADDR\n"},
      {"info", "Error: usage: info break\n"},
      {"info foo", "Error: usage: info break\n"},
      {"s x", "Error: usage: s [count]\n"},
      {"s 100000001", "Error: usage: s [count]\n"},
      {"s 1 2", "Error: usage: s [count]\n"},
      {"c 1", "Error: usage: c\n"},
      {"trace-on now", "Error: usage: trace-on\n"},
      {"dump_cpu 1", "Error: usage: dump_cpu\n"},
      {"pb <7c00>", "Error: not a valid number: '?7c00>'\n"},
  };
  Sim sim;
  sim.until_prompt();
  unsigned prompt = 2;
  for (const Case &c : cases) {
    EXPECT_EQ(sim.send(c.command), std::string(c.error) + "<bochs:" + std::to_string(prompt++) + "> ")
        << c.command;
  }
  // Nothing of that changed the machine or the lists.
  EXPECT_EQ(sim.send("info break"), "Num Type           Disp Enb Address\n<bochs:" + std::to_string(prompt++) + "> ");
  EXPECT_EQ(sim.send("watch"), "<bochs:" + std::to_string(prompt++) + "> ");
  EXPECT_EQ(sim.send("s"), kStep1 + ("<bochs:" + std::to_string(prompt++) + "> "));
}

TEST(Garbage, CarriageReturnsAndTabsAreBlanks) {
  Sim sim;
  sim.until_prompt();
  EXPECT_EQ(sim.send("s\r"), std::string(kStep1) + "<bochs:2> ");
  EXPECT_EQ(sim.send("\tpb\t0x7c3d\r"), "<bochs:3> ");
  EXPECT_EQ(sim.send("info\vbreak\f"),
            "Num Type           Disp Enb Address\n  1 pbreakpoint    keep y   0x00007c3d\n<bochs:4> ");
}

TEST(Garbage, EveryByteValueInALineGivesOneSafeErrorLine) {
  std::string line;
  for (int b = 1; b < 256; ++b)
    if (b != '\n') line += char(b);
  Sim sim;
  sim.until_prompt();
  std::string reply = sim.send(std::string("\x01", 1) + line);
  // The command word ends at the first blank, the tab (byte 9).
  EXPECT_EQ(reply, "Error: unknown command '" + std::string(9, '?') + "' (try help)\n<bochs:2> ");
  std::string solid;
  for (int b = 128; b < 256; ++b) solid += char(b);
  EXPECT_EQ(sim.send(solid),
            "Error: unknown command '????????????????????????????????????????...' (try help)\n<bochs:3> ");
  std::string with_nul("s\0x", 3);
  EXPECT_EQ(sim.send(with_nul), "Error: unknown command 's?x' (try help)\n<bochs:4> ");
  EXPECT_EQ(sim.send("s"), std::string(kStep1) + "<bochs:5> ");
}

TEST(Garbage, AVeryLongLineIsOneErrorAndTheNextLineIsReadAsUsual) {
  Sim sim;
  sim.until_prompt();
  sim.write_raw(std::string(3 << 20, 'a') + "\n");
  EXPECT_EQ(sim.until_prompt(), "Error: command line too long\n<bochs:2> ");
  EXPECT_EQ(sim.send(std::string(100000, 'b')),
            "Error: unknown command 'bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb...' (try help)\n<bochs:3> ");
  EXPECT_EQ(sim.send("s"), std::string(kStep1) + "<bochs:4> ");
}

TEST(Garbage, ManyEmptyLinesGiveOnePromptEach) {
  Sim sim;
  sim.until_prompt();
  sim.write_raw(std::string(20000, '\n'));
  for (unsigned n = 2; n <= 20001; ++n) ASSERT_EQ(sim.until_prompt(), "<bochs:" + std::to_string(n) + "> ");
}

// The reply text contains no '<' except in the prompt that ends it and in
// memory-dump labels.
void expect_safe_reply(const std::string &reply, const std::string &line) {
  ASSERT_TRUE(simtest::ends_with_prompt(reply)) << line;
  size_t prompt = reply.rfind("<bochs:");
  for (size_t lt = reply.find('<'); lt < prompt; lt = reply.find('<', lt + 1)) {
    ASSERT_EQ(reply.compare(lt, 7, "<bogus+"), 0) << line;
  }
  size_t lines = 0;
  for (size_t i = 0; i < prompt; ++i) lines += reply[i] == '\n';
  if (reply.compare(0, 6, "Error:") == 0) {
    EXPECT_EQ(lines, 1u) << line;
  }
}

TEST(Garbage, RandomCommandLinesNeverBreakTheDialogue) {
  // Words from the command set, numbers, and junk, in random order. Lines
  // led by "c", "s" or "q" are left out: they would run, step long or quit.
  const std::vector<std::string> words = {
      "pb", "lb", "vb", "d", "watch", "unwatch", "x", "xp", "info", "break", "read", "write", "trace-on",
      "trace-off", "dump_cpu", "/4bx", "/0wx", "/999hd", "/2gt", "/8bo", "0x500", "7c00", "0", "ffffffff",
      "0x1000000", "zz", "-1", "0:7c00", "ffff:ffff", "8:100", "<", "<bochs:9>", ">", "\xff\xfe", "\t", "s",
      "c", "q", "1", "99999999999999999999", "x/3bu", "xp/2wd", ""};
  std::mt19937 rng(20240531);
  Sim sim;
  sim.until_prompt();
  for (int i = 0; i < 1500; ++i) {
    std::string line;
    size_t n = rng() % 5;
    for (size_t k = 0; k < n; ++k) line += words[rng() % words.size()] + (rng() % 4 ? " " : "");
    size_t first = line.find_first_not_of(" \t");
    if (first != std::string::npos && (line[first] == 'c' || line[first] == 's' || line[first] == 'q') &&
        (first + 1 == line.size() || strchr(" \t", line[first + 1])))
      continue;
    std::string reply = sim.send(line);
    expect_safe_reply(reply, line);
    if (HasFatalFailure()) return;
  }
  EXPECT_EQ(sim.send("dump_cpu").substr(0, 15), "eax:0x00000000\n");
  sim.write_raw("q\n");
  EXPECT_EQ(sim.wait(), 0);
}

TEST(Garbage, RandomBytesNeverBreakTheDialogue) {
  std::mt19937 rng(7);
  Sim sim;
  sim.until_prompt();
  for (int i = 0; i < 500; ++i) {
    std::string line = "\x01";  // never a command word
    size_t n = rng() % 300;
    for (size_t k = 0; k < n; ++k) {
      char b = char(rng() % 256);
      line += b == '\n' ? ' ' : b;
    }
    std::string reply = sim.send(line);
    expect_safe_reply(reply, line);
    if (HasFatalFailure()) return;
  }
  EXPECT_EQ(sim.send("s"), std::string(kStep1) + "<bochs:502> ");
}

TEST(Garbage, ClosedReplyPipeDoesNotKillItAndCommandsAreStillRead) {
  TempDir dir;
  std::string transcript = dir.file("t");
  Sim sim(SimConfig{{{"VUM_SIM_TRANSCRIPT", transcript}}, {"-q"}});
  sim.until_prompt();
  sim.close_replies();
  sim.write_raw("dump_cpu\ns 5\nxp /64bx 0\nq\n");
  EXPECT_EQ(sim.wait(), 0);
  EXPECT_EQ(simtest::read_file(transcript), "dump_cpu\ns 5\nxp /64bx 0\nq\n");
}

}  // namespace
