// The test hooks of the simulated PC, each by its environment variable and
// its option: transcript, boot image, initial state, the exits and the
// delay; the usage text; and that the same input gives the same bytes.
#include "sim_process.hpp"

using simtest::read_file;
using simtest::Sim;
using simtest::SimConfig;
using simtest::TempDir;

namespace {

const char kStep1[] = "Next at t=1\n(0) [0x00007c00] 0000:7c00 (unk. ctxt): cli                      ; fa\n";

TEST(Transcript, RecordsEveryLineAsReceivedAppendingToTheFile) {
  TempDir dir;
  std::string path = dir.write("transcript", "earlier run\n");
  Sim sim(SimConfig{{{"VUM_SIM_TRANSCRIPT", path}}, {"-q"}});
  sim.until_prompt();
  static const char lines[] = "s\n\n  x  \t\nfoo\r\n\x01\xff<\nq\n";
  sim.write_raw(std::string(lines, sizeof lines - 1));
  sim.rest();
  EXPECT_EQ(sim.wait(), 0);
  EXPECT_EQ(read_file(path), "earlier run\n" + std::string(lines, sizeof lines - 1));
}

TEST(Transcript, TheOptionDoesTheSame) {
  TempDir dir;
  std::string path = dir.file("t");
  Sim sim(SimConfig{{}, {"-q", "--transcript", path}});
  sim.until_prompt();
  sim.send("s");
  sim.send("dump_cpu");
  EXPECT_EQ(simtest::wait_for_lines(path, 2), (std::vector<std::string>{"s", "dump_cpu"}));
}

TEST(Transcript, ALastLineWithoutNewlineIsRecordedAndAnswered) {
  TempDir dir;
  std::string path = dir.file("t");
  Sim sim(SimConfig{{{"VUM_SIM_TRANSCRIPT", path}}, {"-q"}});
  sim.until_prompt();
  sim.write_raw("s");
  sim.close_input();
  EXPECT_EQ(sim.rest(), std::string(kStep1) + "<bochs:2> ");
  EXPECT_EQ(sim.wait(), 0);
  EXPECT_EQ(read_file(path), "s\n");
}

TEST(ExitBeforePrompt, StartUpTextThenStatusOne) {
  for (const SimConfig &config : {SimConfig{{{"VUM_SIM_EXIT_BEFORE_PROMPT", "1"}}, {"-q"}},
                                  SimConfig{{}, {"-q", "--exit-before-prompt"}}}) {
    Sim sim(config);
    std::string text = sim.rest();
    EXPECT_EQ(sim.wait(), 1);
    EXPECT_EQ(text.find('<'), std::string::npos) << text;
    EXPECT_NE(text.find("vum-sim"), std::string::npos) << text;
  }
  // "0" leaves the hook off.
  Sim sim(SimConfig{{{"VUM_SIM_EXIT_BEFORE_PROMPT", "0"}}, {"-q"}});
  EXPECT_EQ(sim.until_prompt().substr(0, 70),
            "vum-sim: simulated PC; the debugger talks on standard error\n==========");
}

TEST(ExitAfter, EndsRightAfterTheNthLineWithoutAReply) {
  for (const SimConfig &config :
       {SimConfig{{{"VUM_SIM_EXIT_AFTER", "2"}}, {"-q"}}, SimConfig{{}, {"-q", "--exit-after", "2"}}}) {
    Sim sim(config);
    sim.until_prompt();
    EXPECT_EQ(sim.send("s"), std::string(kStep1) + "<bochs:2> ");
    sim.write_raw("s\ns\n");
    EXPECT_EQ(sim.rest(), "");
    EXPECT_EQ(sim.wait(), 0);
  }
}

TEST(ExitMidReply, EndsAfterTheFirstLineOfThatReply) {
  struct Case {
    std::string command;  // the second command line; the first is "pb 7c3d"
    std::string written;  // all that is written of its reply
  } cases[] = {
      {"s", "Next at t=1\n"},
      {"c", "(0) Breakpoint 1, 0x7c3d in ?? ()\n"},
      {"dump_cpu", "eax:0x00000000\n"},
      {"info break", "Num Type           Disp Enb Address\n"},
      {"xp /12bx 0x7c00", "0x00007c00 <bogus+0>:\t0xfa\t0x31\t0xc0\t0x8e\t0xd8\t0x8e\t0xc0\t0x8e\n"},
      {"pb 7c00", ""},  // a reply without lines: the prompt is not written
      {"", ""},
      {"nonsense", "Error: unknown command 'nonsense' (try help)\n"},
  };
  for (const Case &c : cases) {
    for (const SimConfig &config :
         {SimConfig{{{"VUM_SIM_EXIT_MID_REPLY", "2"}}, {"-q"}}, SimConfig{{}, {"-q", "--exit-mid-reply", "2"}}}) {
      Sim sim(config);
      sim.until_prompt();
      EXPECT_EQ(sim.send("pb 7c3d"), "<bochs:2> ");
      sim.write_raw(c.command + "\n");
      EXPECT_EQ(sim.rest(), c.written) << c.command;
      EXPECT_EQ(sim.wait(), 1) << c.command;
    }
  }
}

TEST(Delay, RepliesAreUnchangedAndComeNoSoonerThanTheDelay) {
  // A lower bound only: the delay must be there; nothing here depends on how
  // fast the machine is.
  for (const SimConfig &config :
       {SimConfig{{{"VUM_SIM_DELAY_MS", "150"}}, {"-q"}}, SimConfig{{}, {"-q", "--delay-ms", "150"}}}) {
    Sim sim(config);
    sim.until_prompt();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sim.send("s"), std::string(kStep1) + "<bochs:2> ");
    EXPECT_EQ(sim.send(""), "<bochs:3> ");
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 300);
  }
}

TEST(Environment, ValuesThatDoNotParseAreIgnoredWithANote) {
  Sim sim(SimConfig{{{"VUM_SIM_EXIT_AFTER", "abc"}, {"VUM_SIM_DELAY_MS", "-5"}, {"VUM_SIM_EXIT_MID_REPLY", "1x"}},
                    {"-q", "--frobnicate"}});
  std::string start = sim.until_prompt();
  EXPECT_NE(start.find("Ignored VUM_SIM_EXIT_AFTER: not a count\n"), std::string::npos) << start;
  EXPECT_NE(start.find("Ignored VUM_SIM_DELAY_MS: not a count\n"), std::string::npos) << start;
  EXPECT_NE(start.find("Ignored VUM_SIM_EXIT_MID_REPLY: not a count\n"), std::string::npos) << start;
  EXPECT_NE(start.find("Ignored unknown option --frobnicate\n"), std::string::npos) << start;
  EXPECT_EQ(sim.send("s"), std::string(kStep1) + "<bochs:2> ");
  EXPECT_EQ(sim.send("s"),
            "Next at t=2\n(0) [0x00007c01] 0000:7c01 (unk. ctxt): xor ax, ax               ; 31c0\n<bochs:3> ");
}

TEST(Image, IsLoadedAt7c00InPlaceOfTheDemo) {
  TempDir dir;
  // mov ax, 0x1234; inc ax; jmp $
  std::string image = dir.write("boot.img", std::string("\xb8\x34\x12\x40\xeb\xfe", 6));
  for (const SimConfig &config :
       {SimConfig{{{"VUM_SIM_IMAGE", image}}, {"-q"}}, SimConfig{{}, {"-q", "--image", image}}}) {
    Sim sim(config);
    std::string start = sim.until_prompt();
    EXPECT_NE(start.find("Boot image at 0x7c00: " + image + "\n"), std::string::npos) << start;
    EXPECT_EQ(sim.send("xp /8bx 0x7c00"),
              "0x00007c00 <bogus+0>:\t0xb8\t0x34\t0x12\t0x40\t0xeb\t0xfe\t0x00\t0x00\n<bochs:2> ");
    EXPECT_EQ(sim.send("s 2"),
              "Next at t=2\n(0) [0x00007c03] 0000:7c03 (unk. ctxt): inc ax                   ; 40\n<bochs:3> ");
    EXPECT_EQ(sim.send("s"),
              "Next at t=3\n(0) [0x00007c04] 0000:7c04 (unk. ctxt): jmp 0x7c04               ; ebfe\n<bochs:4> ");
    std::string dump = sim.send("dump_cpu");
    EXPECT_EQ(dump.substr(0, 15), "eax:0x00001235\n");
  }
}

TEST(Guest, IsChosenByNameAndAnImageWins) {
  TempDir dir;
  std::string image = dir.write("boot.img", std::string("\x90\xf4", 2));
  struct Case {
    SimConfig config;
    std::string boot_line;  // the start-up line naming the boot image
    std::string note;       // a note that must be there, or ""
    std::string first;      // the first byte at 0x7c00
  } cases[] = {
      {SimConfig{{{"VUM_SIM_GUEST", "hlt"}}, {"-q"}}, "built-in guest hlt", "", "0xfa"},
      {SimConfig{{}, {"-q", "--guest", "paging"}}, "built-in guest paging", "", "0xfa"},
      {SimConfig{{{"VUM_SIM_GUEST", "hlt"}}, {"-q", "--guest", "magic"}}, "built-in guest magic", "", "0xfa"},
      {SimConfig{{{"VUM_SIM_GUEST", "nosuch"}}, {"-q"}}, "built-in demo",
       "Ignored the guest 'nosuch': the guests are e9|magic|triple|hlt|paging\n", "0xfa"},
      {SimConfig{{{"VUM_SIM_GUEST", "e9"}, {"VUM_SIM_IMAGE", image}}, {"-q"}}, image,
       "Ignored the guest 'e9': a boot image is given\n", "0x90"},
  };
  for (const Case &c : cases) {
    Sim sim(c.config);
    std::string start = sim.until_prompt();
    EXPECT_NE(start.find("Boot image at 0x7c00: " + c.boot_line + "\n"), std::string::npos) << start;
    if (!c.note.empty()) {
      EXPECT_NE(start.find(c.note), std::string::npos) << start;
    }
    EXPECT_EQ(sim.send("xp /1bx 0x7c00"), "0x00007c00 <bogus+0>:\t" + c.first + "\n<bochs:2> ");
  }
  // The guests differ from each other and from the demo.
  std::string first_lines;
  for (const char *name : {"e9", "magic", "triple", "hlt", "paging"}) {
    Sim sim(SimConfig{{{"VUM_SIM_GUEST", name}}, {"-q"}});
    sim.until_prompt();
    std::string bytes = sim.send("xp /16bx 0x7c10");
    EXPECT_EQ(first_lines.find(bytes), std::string::npos) << name;
    first_lines += bytes;
  }
}

TEST(Image, AMissingFileEndsTheStartWithStatusOne) {
  Sim sim(SimConfig{{{"VUM_SIM_IMAGE", "/nonexistent/boot.img"}}, {"-q"}});
  EXPECT_EQ(sim.rest(), "vum-sim: cannot read the boot image\n");
  EXPECT_EQ(sim.wait(), 1);
}

TEST(State, SetsRegistersSegmentsAndMemory) {
  TempDir dir;
  std::string state = dir.write("state",
                                "# registers\n"
                                "eax 0x11223344\nebx 55\necx 0X66\nedx 77\n"
                                "esi 1\nedi 2\nebp 0x7bf0\nesp 7bf0\n"
                                "eflags 0x203\n"
                                "cs.selector 0x07c0\neip 0\n"
                                "ds.selector 0x1234\n"
                                "\n"
                                "mem 0x7c00 90 90\n"
                                "mem 0x500 deadbeef\n"
                                "cr2 0x42\ndr7 0x400\ntr6 0x9\n"
                                "idtr.base 0x10\nidtr.limit 0x1f\n");
  for (const SimConfig &config :
       {SimConfig{{{"VUM_SIM_STATE", state}}, {"-q"}}, SimConfig{{}, {"-q", "--state", state}}}) {
    Sim sim(config);
    std::string start = sim.until_prompt();
    EXPECT_NE(start.find("Next at t=0\n(0) [0x00007c00] 07c0:0000 (unk. ctxt): nop                      ; 90\n"
                         "<bochs:1> "),
              std::string::npos)
        << start;
    std::string dump = sim.send("dump_cpu");
    for (const char *line :
         {"eax:0x11223344\nebx:0x00000055\necx:0x00000066\nedx:0x00000077\nebp:0x00007bf0\nesi:0x00000001\n"
          "edi:0x00000002\nesp:0x00007bf0\neflags:0x00000203\neip:0x00000000\n"
          "cs:s=0x07c0, dl=0x7c00ffff, dh=0x00009b00, valid=1\n",
          "ds:s=0x1234, dl=0x2340ffff, dh=0x00009301, valid=1\n", "idtr:base=0x00000010, limit=0x1f\n",
          "dr7:0x00000400\n", "tr6:0x00000009\n", "cr2:0x00000042\n"})
      EXPECT_NE(dump.find(line), std::string::npos) << line;
    EXPECT_EQ(sim.send("xp /4bx 0x500"), "0x00000500 <bogus+0>:\t0xde\t0xad\t0xbe\t0xef\n<bochs:3> ");
  }
}

TEST(State, AMissingFileEndsTheStartWithStatusOne) {
  Sim sim(SimConfig{{{"VUM_SIM_STATE", "/nonexistent/state"}}, {"-q"}});
  EXPECT_EQ(sim.rest(), "vum-sim: cannot read the state file\n");
  EXPECT_EQ(sim.wait(), 1);
}

TEST(State, UnusableLinesAreReportedAndSkipped) {
  TempDir dir;
  std::string state = dir.write("state",
                                "eax 0x10\n"
                                "bogus 1\n"
                                "ebx zz\n"
                                "cs.db 2\n"
                                "mem 0x500 abc\n"
                                "mem 0xffffff 0102\n"
                                "ecx <1>\n"
                                "edx 0x20\n");
  Sim sim(SimConfig{{{"VUM_SIM_STATE", state}}, {"-q"}});
  std::string start = sim.until_prompt();
  for (const char *note : {"State file line 2 ignored: bogus 1\n", "State file line 3 ignored: ebx zz\n",
                           "State file line 4 ignored: cs.db 2\n", "State file line 5 ignored: mem 0x500 abc\n",
                           "State file line 6 ignored: mem 0xffffff 0102\n",
                           "State file line 7 ignored: ecx ?1>\n"})
    EXPECT_NE(start.find(note), std::string::npos) << note;
  EXPECT_EQ(start.find('<'), start.rfind("<bochs:1> "));
  std::string dump = sim.send("dump_cpu");
  EXPECT_EQ(dump.substr(0, 60), "eax:0x00000010\nebx:0x00000000\necx:0x00000000\nedx:0x00000020\n");
}

TEST(Usage, ListsEveryOptionAndEnvironmentVariable) {
  Sim sim(SimConfig{{}, {"--help"}});
  std::string err = sim.rest();
  std::string out = sim.out();
  EXPECT_EQ(sim.wait(), 0);
  EXPECT_EQ(err, "");
  for (const char *word : {"-q", "--help", "--transcript", "VUM_SIM_TRANSCRIPT", "--state", "VUM_SIM_STATE",
                           "--image", "VUM_SIM_IMAGE", "--exit-before-prompt", "VUM_SIM_EXIT_BEFORE_PROMPT",
                           "--exit-after", "VUM_SIM_EXIT_AFTER", "--exit-mid-reply", "VUM_SIM_EXIT_MID_REPLY",
                           "--delay-ms", "VUM_SIM_DELAY_MS", "--silent-after", "VUM_SIM_SILENT_AFTER",
                           "--silent-mid-reply", "VUM_SIM_SILENT_MID_REPLY", "--close-replies-after",
                           "VUM_SIM_CLOSE_REPLIES_AFTER", "--ignore-sigint", "VUM_SIM_IGNORE_SIGINT",
                           "--ignore-quit", "VUM_SIM_IGNORE_QUIT", "--ignore-sigterm", "VUM_SIM_IGNORE_SIGTERM",
                           "#SIGINT", "mem ADDR BYTES", "7c3b spin", "7c3d bump", "--guest", "VUM_SIM_GUEST",
                           "--magic-break", "VUM_SIM_MAGIC_BREAK", "--reset-on-triple-fault",
                           "VUM_SIM_RESET_ON_TRIPLE_FAULT", "--fail-start", "VUM_SIM_FAIL_START", "(0) Magic breakpoint",
                           "(0) Reset after a triple fault", "port 0xe9", "e9 ", "magic ", "triple ", "hlt ",
                           "paging ", "bytes dropped"})
    EXPECT_NE(out.find(word), std::string::npos) << word;
}

TEST(Determinism, TheSameInputGivesTheSameBytes) {
  const std::string script =
      "s 20\npb 7c3d\nvb 0:7c5a\nlb 7c34\nc\nwatch write 0x500\nwatch read 0x600\nc\nc\nunwatch\n"
      "trace-on\nc\nc\ntrace-off\nc\ndump_cpu\ninfo break\nwatch\nxp /64bx 0x500\nx /8hd 0x7bf0\n"
      "d 1\nd 2\nd 3\nbad command\ns 1000\nq\n";
  std::string first_err, first_out, first_transcript;
  for (int run = 0; run < 2; ++run) {
    TempDir dir;
    std::string transcript = dir.file("t");
    Sim sim(SimConfig{{{"VUM_SIM_TRANSCRIPT", transcript}}, {"-q"}});
    sim.write_raw(script);
    std::string err = sim.rest();
    std::string out = sim.out();
    EXPECT_EQ(sim.wait(), 0);
    if (run == 0) {
      first_err = err;
      first_out = out;
      first_transcript = read_file(transcript);
      EXPECT_NE(err.find("<bochs:26> "), std::string::npos);
      EXPECT_EQ(err.find("<bochs:27>"), std::string::npos);
    } else {
      EXPECT_EQ(err, first_err);
      EXPECT_EQ(out, first_out);
      EXPECT_EQ(read_file(transcript), first_transcript);
    }
  }
  EXPECT_EQ(first_transcript, script);
}

}  // namespace

// VUM names Bochs's configuration file as Bochs takes it; the simulated PC
// has none to read and starts all the same.
TEST(Options, AConfigurationFileIsAcceptedAndNoted) {
  Sim sim(SimConfig{{}, {"-q", "-f", "my bochsrc"}});
  std::string start = sim.until_prompt();
  EXPECT_NE(start.find("No configuration file is read: my bochsrc\n"), std::string::npos) << start;
  EXPECT_EQ(start.find("Ignored unknown option"), std::string::npos) << start;
  sim.write_raw("q\n");
  EXPECT_EQ(sim.wait(), 0);
}
